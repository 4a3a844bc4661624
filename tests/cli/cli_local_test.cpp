// skivaddon-cli's archive commands as a user runs them: a real process on
// real files.

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/temp_dir.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using test::ProcessResult;

ProcessResult Cli(const std::string& args) {
    return test::RunCommand(test::CliPath() + " " + args);
}

std::string Q(const std::string& s) {
    return test::ShellQuote(s);
}

TEST(CliLocal, PackListCompressDecompressUnpackRoundTrip) {
    TempDir dir;
    // A game folder whose path holds a space and Korean characters.
    const std::string game = dir / "월드 오브 워크래프트/";
    WriteFile(game + "Interface/AddOns/한글/a.lua", test::RandomBytes(5000, 1));
    WriteFile(game + "WTF/Config.wtf", "SET x 1\n");
    WriteFile(game + "Cache/c.bin", "cache");
    WriteFile(game + "Fonts/f.ttf", "font");

    ProcessResult pack = Cli("pack " + Q(game) + " " + Q(dir / "a.kso"));
    ASSERT_EQ(pack.status, 0) << pack.output;
    ProcessResult list = Cli("list " + Q(dir / "a.kso"));
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("Interface\\AddOns\\한글\\\ta.lua\t5000\t"), std::string::npos)
        << list.output;
    EXPECT_EQ(list.output.find("Cache"), std::string::npos);

    ASSERT_EQ(Cli("pack " + Q(game) + " " + Q(dir / "full.kso") + " --with-cache-fonts").status, 0);
    EXPECT_NE(Cli("list " + Q(dir / "full.kso")).output.find("Fonts\\\tf.ttf\t4\t"),
              std::string::npos);

    ASSERT_EQ(Cli("compress " + Q(dir / "full.kso") + " " + Q(dir / "p.ksp")).status, 0);
    ASSERT_EQ(Cli("decompress " + Q(dir / "p.ksp") + " " + Q(dir / "b.kso")).status, 0);
    EXPECT_EQ(ReadFile(dir / "b.kso"), ReadFile(dir / "full.kso"));
    ProcessResult unpack = Cli("unpack " + Q(dir / "b.kso") + " " + Q(dir / "out"));
    ASSERT_EQ(unpack.status, 0) << unpack.output;
    EXPECT_EQ(ReadFile(dir / "out/Interface/AddOns/한글/a.lua"),
              ReadFile(game + "Interface/AddOns/한글/a.lua"));
    EXPECT_EQ(ReadFile(dir / "out/Fonts/f.ttf"), "font");
}

TEST(CliLocal, FailuresExitNonZeroWithTheCode) {
    TempDir dir;
    ProcessResult r = Cli("list " + Q(dir / "missing.kso"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("애드온 세팅 실패:(1)\nskivaddon-cli: list failed: (1)"),
              std::string::npos)
        << r.output;
    r = Cli("decompress " + Q(dir / "missing") + " " + Q(dir / "x"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("(1006)"), std::string::npos) << r.output;
    // Usage errors say what was wrong, then the usage.
    for (const char* line : {"pack", "--bogus list a", "save", "--id", "list a b"}) {
        r = Cli(line);
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_NE(r.output.find("skivaddon-cli: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("\nUsage:\n"), std::string::npos) << r.output;
    }
    EXPECT_NE(Cli("pack").output.find("GAMEFOLDER is required"), std::string::npos);
    EXPECT_EQ(Cli("--help").status, 0);
    EXPECT_EQ(Cli("--version").output.rfind("skivaddon-cli 1.", 0), 0u);
}

}  // namespace
}  // namespace skiv
