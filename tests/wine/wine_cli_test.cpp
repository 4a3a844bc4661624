// skivaddon-cli.exe under Wine against the Linux skivaddon-service over
// HTTPS on loopback: the Windows client's whole cycle through Wine's WinINet,
// and sets crossing between the Linux and the Windows client byte for byte.
//
// The prefix is set up as a Korean Windows: its code page is 949 (the host
// gets a ko_KR.UTF-8 locale of its own through LOCPATH), and the service's
// private CA is trusted the Windows way, as a certificate in the machine's
// Trusted Root store in the registry.
//
// Runs when SKIV_WINDOWS_CLI names the built skivaddon-cli.exe and wine and
// localedef are there; otherwise it says why it skips.

#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/codepage.h"
#include "support/faults.h"
#include "support/process.h"
#include "support/service_launcher.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace skiv::test {
namespace {

// Holds every byte a form body must escape, and a Korean letter.
constexpr const char* kPassword = "p&ss=w+rd%20 한";

std::string Cp949(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(ConvertCodePage(CP_UTF8, kExchangeCodePage, utf8, out)) << utf8;
    return out;
}

// A console line of the Windows client: in its system code page (949), or
// as UTF-8 should its texts stay UTF-8.
bool Says(const std::string& output, const std::string& utf8) {
    return output.find(utf8) != std::string::npos || output.find(Cp949(utf8)) != std::string::npos;
}

// Wine shows the host's root folder as drive Z:.
std::string WinPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

bool OnPath(const std::string& tool) {
    return RunCommand("command -v " + tool).status == 0;
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
        port = ntohs(a.sin_port);
    }
    ::close(s);
    return port;
}

// The registry value Windows keeps a trusted root in: the certificate as a
// serialized property (id 32, the encoded certificate), named by its SHA-1.
struct RootEntry {
    std::string thumbprint, blobHex;
};

RootEntry RootEntryFor(const std::string& pemFile) {
    RootEntry entry;
    std::FILE* f = std::fopen(pemFile.c_str(), "r");
    if (!f)
        return entry;
    std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_X509(f, nullptr, nullptr, nullptr),
                                                     X509_free);
    std::fclose(f);
    unsigned char* der = nullptr;
    const int derLen = cert ? i2d_X509(cert.get(), &der) : -1;
    if (derLen <= 0)
        return entry;
    unsigned char sha1[EVP_MAX_MD_SIZE];
    unsigned int shaLen = 0;
    EVP_Digest(der, static_cast<std::size_t>(derLen), sha1, &shaLen, EVP_sha1(), nullptr);
    char hex[3];
    for (unsigned i = 0; i < shaLen; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", sha1[i]);
        entry.thumbprint += hex;
    }
    auto putLe = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i, v >>= 8) {
            std::snprintf(hex, sizeof hex, "%02x", v & 0xFF);
            entry.blobHex += hex;
        }
    };
    putLe(32);  // CERT_CERT_PROP_ID
    putLe(1);   // X509_ASN_ENCODING
    putLe(static_cast<std::uint32_t>(derLen));
    for (int i = 0; i < derLen; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", der[i]);
        entry.blobHex += hex;
    }
    OPENSSL_free(der);
    return entry;
}

// A set with Korean folder names, nested folders, a dot file and a dot folder.
void MakeSet(const std::string& game, unsigned seed) {
    WriteFile(game + "Launcher.exe", "MZ");
    WriteFile(game + "Interface/AddOns/가방/가방.lua", RandomBytes(40000, seed));
    WriteFile(game + "Interface/AddOns/가방/.pkgmeta", "meta");
    WriteFile(game + "Interface/AddOns/.git/HEAD", "ref");
    WriteFile(game + "WTF/Config.wtf", "SET uiScale \"0.9\"\n");
    WriteFile(game + "WTF/Account/NAME/서버/캐릭터/SavedVariables/x.lua",
              RandomBytes(9000, seed + 1));
    WriteFile(game + "Cache/WDB/data.wdb", RandomBytes(3000, seed + 2));
    WriteFile(game + "Fonts/ARIALN.TTF", RandomBytes(2000, seed + 3));
}

// What an install of `game`'s saved set leaves: its four folders without
// dot folders.
TreeSnapshot SetOf(const std::string& game) {
    TreeSnapshot t = SnapshotTree(game);
    std::erase_if(t, [](const auto& kv) {
        const std::string& p = kv.first;
        return p.find(".git/") != std::string::npos || p.rfind("Backup/", 0) == 0 ||
               p == "Launcher.exe";
    });
    return t;
}

TEST(WindowsClientUnderWine, LogsInSavesInstallsRollsBackAndResetsAcrossPlatforms) {
    const char* built = std::getenv("SKIV_WINDOWS_CLI");
    if (!built || ::access(built, R_OK) != 0)
        GTEST_SKIP() << "SKIV_WINDOWS_CLI does not name a built skivaddon-cli.exe; skipped";
    if (!OnPath("wine") || !OnPath("localedef"))
        GTEST_SKIP() << "wine or localedef missing; skipped";

    TempDir work;
    // A copy of its own, so that its log (the Log folder beside the program)
    // lands here.
    const std::string exe = work / "bin/skivaddon-cli.exe";
    WriteFile(exe, ReadFile(built));
    const std::string locales = work / "locale", prefix = work / "prefix";
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(locales) + " && localedef -i ko_KR -f UTF-8 " +
                         ShellQuote(locales + "/ko_KR.UTF-8"))
                  .status,
              0);
    const int port = FreePort();
    ASSERT_GT(port, 0);
    const std::string p = std::to_string(port);
    // Wine's certificate check matches host names only, not IP addresses:
    // the client talks to "localhost", which the service's certificate names.
    const std::string url = "https://localhost:" + p;
    ServiceLauncher svc({"--listen", "127.0.0.1:" + p, "--public-url", url});
    svc.AddMember("alice", kPassword);

    const std::string env =
        "WINEPREFIX=" + ShellQuote(prefix) +
        " WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES=mscoree,mshtml= LOCPATH=" +
        ShellQuote(locales) + " LC_ALL=ko_KR.UTF-8 SKIVADDON_SERVICE_URL=" + url + " ";
    ASSERT_EQ(RunCommand(env + "wineboot -i").status, 0);
    // Until the CA is a trusted root, WinINet refuses the service.
    const std::string g0 = work / "g0/";
    MakeSet(g0, 30);
    auto untrusted =
        RunCommand(env + "wine " + ShellQuote(exe) + " --id alice --password-stdin --game-folder " +
                       ShellQuote(WinPath(g0)) + " save",
                   std::string(kPassword) + "\n");
    EXPECT_EQ(untrusted.status, 1) << untrusted.output;
    EXPECT_EQ(untrusted.output.find("logged in"), std::string::npos) << untrusted.output;

    const RootEntry root = RootEntryFor(svc.CaFile());
    ASSERT_FALSE(root.thumbprint.empty());
    auto reg = RunCommand(env +
                          "wine reg add 'HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\"
                          "Certificates\\" +
                          root.thumbprint + "' /v Blob /t REG_BINARY /d " + root.blobHex + " /f");
    ASSERT_EQ(reg.status, 0) << reg.output;

    auto onWindows = [&](const std::string& game, const std::string& commands,
                         const std::string& extraEnv = {}) {
        return RunCommand(env + extraEnv + "wine " + ShellQuote(exe) +
                              " --id alice --password-stdin --yes --with-cache-fonts "
                              "--game-folder " +
                              ShellQuote(WinPath(game)) + " " + commands,
                          std::string(kPassword) + "\n");
    };
    auto onLinux = [&](const std::string& game, const std::string& commands) {
        return RunCommand("SKIVADDON_SERVICE_URL=" + svc.BaseUrl() +
                              " SKIVADDON_CA_FILE=" + ShellQuote(svc.CaFile()) + " " + CliPath() +
                              " --id alice --password-stdin --yes --with-cache-fonts "
                              "--game-folder " +
                              ShellQuote(game) + " " + commands,
                          std::string(kPassword) + "\n");
    };

    // The Windows client saves, installs into another game folder (and
    // into a third, rolling that back in the same run), and resets.
    const std::string a = work / "게임 A/", b = work / "game b/", b2 = work / "game b2/";
    MakeSet(a, 31);
    MakeSet(b, 32);
    MakeSet(b2, 36);
    const TreeSnapshot beforeB2 = SetOf(b2);
    auto save = onWindows(a, "save");
    ASSERT_EQ(save.status, 0) << save.output;
    EXPECT_TRUE(Says(save.output, "애드온이 모두 저장되었습니다")) << save.output;
    // Saved again, the unchanged pieces come from the piece cache (its
    // files replaced, the Korean names stamped, the Windows way): after one
    // change only the table and the changed piece are made anew, and with
    // no change only the table.
    auto piecesMade = [&](const std::string& what) -> std::pair<int, int> {
        auto run = onWindows(a, "save");
        EXPECT_EQ(run.status, 0) << what << ": " << run.output;
        int compressed = -1, reused = -1;
        const std::size_t at = run.output.rfind("save: ", run.output.find(" pieces compressed"));
        if (at == std::string::npos ||
            std::sscanf(run.output.c_str() + at, "save: %d pieces compressed, %d reused",
                        &compressed, &reused) != 2) {
            ADD_FAILURE() << what << ": " << run.output;
        }
        return {compressed, reused};
    };
    WriteFile(a + "WTF/Account/NAME/서버/캐릭터/SavedVariables/x.lua", RandomBytes(9000, 99));
    EXPECT_EQ(piecesMade("after a change"), std::make_pair(2, 1));
    EXPECT_EQ(piecesMade("unchanged"), std::make_pair(1, 2));
    auto install = onWindows(b, "install");
    ASSERT_EQ(install.status, 0) << install.output;
    EXPECT_EQ(SetOf(b), SetOf(a));
    auto rollback = onWindows(b2, "install rollback");
    ASSERT_EQ(rollback.status, 0) << rollback.output;
    EXPECT_TRUE(Says(rollback.output, "되돌리기가 완료되었습니다.")) << rollback.output;
    EXPECT_EQ(SetOf(b2), beforeB2);
    auto reset = onWindows(b, "reset");
    ASSERT_EQ(reset.status, 0) << reset.output;
    EXPECT_TRUE(SetOf(b).empty());

    // Killed halfway through swapping the set into a Korean-named game
    // folder, the next login finds the swap's marker and finishes it.
    const std::string f = work / "게임 F/";
    MakeSet(f, 37);
    auto killed = onWindows(f, "install", "SKIVADDON_CRASH_AT=swap.folder ");
    ASSERT_EQ(killed.status, 137) << killed.output;
    EXPECT_NE(SetOf(f), SetOf(a));
    auto recovered = onWindows(f, "versions");
    ASSERT_EQ(recovered.status, 0) << recovered.output;
    EXPECT_TRUE(Says(recovered.output, "교체를 마저 끝냈습니다")) << recovered.output;
    EXPECT_EQ(SetOf(f), SetOf(a));

    // The set the Windows client saved installs through the Linux client.
    const std::string c = work / "linux c/";
    MakeSet(c, 33);
    auto linuxInstall = onLinux(c, "install");
    ASSERT_EQ(linuxInstall.status, 0) << linuxInstall.output;
    EXPECT_EQ(SetOf(c), SetOf(a));

    // And the reverse.
    const std::string d = work / "리눅스 D/", e = work / "windows e/";
    MakeSet(d, 34);
    MakeSet(e, 35);
    auto linuxSave = onLinux(d, "save");
    ASSERT_EQ(linuxSave.status, 0) << linuxSave.output;
    auto windowsInstall = onWindows(e, "install");
    ASSERT_EQ(windowsInstall.status, 0) << windowsInstall.output;
    EXPECT_EQ(SetOf(e), SetOf(d));

    // The log is in the system code page: the service's UTF-8 answer to a
    // wrong password is logged as code page 949.
    auto wrong = RunCommand(env + "wine " + ShellQuote(exe) + " --id alice --password-stdin " +
                                "--game-folder " + ShellQuote(WinPath(e)) + " save",
                            "wrong\n");
    EXPECT_EQ(wrong.status, 1) << wrong.output;
    std::string logText;
    for (const auto& [name, text] : SnapshotTree(work / "bin/Log/"))
        logText += text;
    const std::string refused = "아이디 또는 비밀번호가 올바르지 않습니다.";
    EXPECT_NE(logText.find(Cp949(refused)), std::string::npos) << logText;
    EXPECT_EQ(logText.find(refused), std::string::npos);
    RunCommand(env + "wineserver -k");
}

}  // namespace
}  // namespace skiv::test
