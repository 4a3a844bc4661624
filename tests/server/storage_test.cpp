// What the service leaves on disk and in its log, and what its TLS accepts:
// the real binary on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "service_test_util.h"
#include "support/process.h"

namespace skiv::test {
namespace {

unsigned Mode(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        throw std::runtime_error("no " + path);
    return st.st_mode & 07777;
}

TEST(StorageTest, DataFolderIsPrivateAndAFolderOthersCanWriteIsRefused) {
    ServiceLauncher svc;
    svc.AddMember("alice", "password1");
    ASSERT_EQ(Login(svc, "alice", "password1").error, "0");
    const std::string db = svc.DataDir() + "members.sqlite";
    EXPECT_EQ(Mode(db) & 077, 0u);
    EXPECT_EQ(Mode(db + "-wal") & 077, 0u);
    EXPECT_EQ(Mode(svc.DataDir() + "packages") & 077, 0u);

    // A folder others can read: a warning, and files left readable by an
    // earlier version are made private.
    ASSERT_EQ(::chmod(svc.DataDir().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(db.c_str(), 0644), 0);
    svc.Restart();
    EXPECT_NE(svc.LogText().find("can be read by other users"), std::string::npos);
    EXPECT_EQ(Mode(db) & 077, 0u);
    EXPECT_EQ(Login(svc, "alice", "password1").error, "0");

    ASSERT_EQ(::chmod(svc.DataDir().c_str(), 0775), 0);
    EXPECT_THROW(svc.Restart(), std::runtime_error);
    EXPECT_NE(svc.LogText().find("can be written by other users"), std::string::npos);
}

TEST(StorageTest, LoggedRequestLinesCannotForgeLines) {
    ServiceLauncher svc;
    HttpCall call;
    call.caFile = svc.CaFile();
    Get(svc.BaseUrl() + "/x%0d%0a2026-01-01%2000:00:00%20FORGED%1b[2J%5c", call);
    Get(svc.BaseUrl() + "/skivaddon/dl/" + std::string(64, 'a') + "/%0aFORGED.cab", call);
    svc.Stop();
    const std::string log = svc.LogText();
    EXPECT_EQ(log.find('\x1b'), std::string::npos);
    std::string split = log;
    std::replace(split.begin(), split.end(), '\r', '\n');
    std::istringstream lines(split);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_NE(line.rfind("2026-01-01", 0), 0u) << line;
        EXPECT_NE(line.rfind("FORGED", 0), 0u) << line;
    }
    EXPECT_NE(log.find("/x\\x0d\\x0a2026-01-01 00:00:00 FORGED\\x1b[2J\\\\ 404"), std::string::npos)
        << log;
}

// Whether a TLS handshake with exactly these settings succeeds.
bool Handshakes(const ServiceLauncher& svc, const std::string& settings) {
    ProcessResult r =
        RunCommand("timeout 20 openssl s_client -connect 127.0.0.1:" + std::to_string(svc.Port()) +
                   " -CAfile " + ShellQuote(svc.CaFile()) + " " + settings);
    return r.status == 0 && r.output.find("Verify return code: 0 (ok)") != std::string::npos;
}

TEST(TlsWireTest, TlsTwelveTakesOnlyForwardSecretAeadSuites) {
    ServiceLauncher svc;
    for (const char* suite : {"ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-ECDSA-AES256-GCM-SHA384",
                              "ECDHE-ECDSA-CHACHA20-POLY1305"})
        EXPECT_TRUE(Handshakes(svc, std::string("-tls1_2 -cipher ") + suite)) << suite;
    for (const char* suite : {"ECDHE-ECDSA-AES128-SHA", "ECDHE-ECDSA-AES256-SHA",
                              "ECDHE-ECDSA-AES128-SHA256", "ECDHE-ECDSA-AES256-SHA384"})
        EXPECT_FALSE(Handshakes(svc, std::string("-tls1_2 -cipher ") + suite)) << suite;
    EXPECT_TRUE(Handshakes(svc, "-tls1_3"));
    EXPECT_FALSE(Handshakes(svc, "-tls1_1 -cipher DEFAULT@SECLEVEL=0"));
}

}  // namespace
}  // namespace skiv::test
