// skivaddon-cli's account commands as separate processes against the real
// service.

#include "e2e_fixture.h"
#include "support/process.h"

namespace skiv::test {
namespace {

ProcessResult Cli(const std::string& baseUrl, const std::string& ca, const std::string& args,
                  const std::string& password) {
    return RunCommand("SKIVADDON_SERVICE_URL=" + ShellQuote(baseUrl) +
                          " SKIVADDON_CA_FILE=" + ShellQuote(ca) + " " + CliPath() + " " + args,
                      password + "\n");
}

TEST_F(EndToEnd, CommandLineSavesInstallsAndRollsBack) {
    TempDir a, b;
    const std::string gameA = a / "게임 A/", gameB = b / "game b/";
    MakeAddOnSet(gameA, 21, true);
    MakeAddOnSet(gameB, 22, true);
    WriteFile(gameA + "Launcher.exe", "");
    WriteFile(gameB + "Launcher.exe", "");
    const TreeSnapshot beforeB = SnapshotTree(gameB);

    auto save =
        Cli(svc.BaseUrl(), svc.CaFile(),
            std::string("--id alice --password-stdin --yes --with-cache-fonts --game-folder ") +
                ShellQuote(gameA) + " save",
            kPassword);
    ASSERT_EQ(save.status, 0) << save.output;
    EXPECT_NE(save.output.find("애드온이 모두 저장되었습니다"), std::string::npos) << save.output;

    auto install = Cli(svc.BaseUrl(), svc.CaFile(),
                       "--id alice --password-stdin --yes --game-folder " + ShellQuote(gameB) +
                           " install rollback",
                       kPassword);
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_NE(install.output.find("애드온이 모두 세팅되었습니다"), std::string::npos);
    EXPECT_NE(install.output.find("되돌리기가 완료되었습니다."), std::string::npos);
    TreeSnapshot afterB = SnapshotTree(gameB);
    std::erase_if(afterB, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
    TreeSnapshot expected = beforeB;
    std::erase_if(expected,
                  [](const auto& kv) { return kv.first.find(".git/") != std::string::npos; });
    EXPECT_EQ(afterB, expected);

    // The backup archive restores the set with the archive command too.
    auto unpack =
        RunCommand(CliPath() + " unpack " + ShellQuote(gameB + "Backup/SkivAddonBackup.kso") + " " +
                   ShellQuote(b / "restored"));
    ASSERT_EQ(unpack.status, 0) << unpack.output;
    EXPECT_EQ(SnapshotTree(b / "restored/WTF"), SnapshotTree(gameB + "WTF"));

    // The first roll back kept the installed set as backup 2; after one
    // more install it is backup 3, and --backup takes it back.
    auto older = Cli(svc.BaseUrl(), svc.CaFile(),
                     "--id alice --password-stdin --yes --game-folder " + ShellQuote(gameB) +
                         " --backup 3 install rollback",
                     kPassword);
    ASSERT_EQ(older.status, 0) << older.output;
    EXPECT_NE(older.output.find("backup 3: "), std::string::npos) << older.output;
    EXPECT_EQ(SnapshotTree(gameB + "WTF"), SnapshotTree(gameA + "WTF"));
}

TEST_F(EndToEnd, CommandLineFailuresExitNonZero) {
    TempDir a;
    WriteFile(a / "g/Launcher.exe", "");
    auto bad =
        Cli(svc.BaseUrl(), svc.CaFile(),
            "--id alice --password-stdin --yes --game-folder " + ShellQuote(a / "g") + " save",
            "not the password");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.output.find("아이디 또는 패스워드가 올바르지 않습니다"), std::string::npos);
    // No Interface/WTF: the save command refuses to start.
    auto refused =
        Cli(svc.BaseUrl(), svc.CaFile(),
            "--id alice --password-stdin --yes --game-folder " + ShellQuote(a / "g") + " save",
            kPassword);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("필수 폴더가 존재하지 않습니다"), std::string::npos);
    // Without --yes and without a terminal the confirmation answers No.
    MakeAddOnSet(a / "g/", 1, false);
    auto no = Cli(svc.BaseUrl(), svc.CaFile(),
                  "--id alice --password-stdin --game-folder " + ShellQuote(a / "g") + " save",
                  kPassword);
    EXPECT_EQ(no.status, 1);
    EXPECT_FALSE(fs::Exists(a / "g/Backup"));
}

}  // namespace
}  // namespace skiv::test
