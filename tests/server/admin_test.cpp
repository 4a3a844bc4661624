// The member commands and the service's process behaviour.

#include <gtest/gtest.h>

#include "service_test_util.h"

namespace skiv::test {
namespace {

TEST(AdminTest, MemberCommandsAddListSuspendAndResume) {
    ServiceLauncher svc;
    std::string out;
    ASSERT_EQ(svc.RunAdmin({"member", "add", "alice"}, "password1\n", &out), 0) << out;
    EXPECT_NE(out.find("alice"), std::string::npos);
    ASSERT_EQ(svc.RunAdmin({"member", "add", "bob"}, "password2\r\n", &out), 0) << out;
    // A CR-LF line ending is not part of the password.
    EXPECT_EQ(Login(svc, "bob", "password2").error, "0");

    EXPECT_EQ(svc.RunAdmin({"member", "add", "ALICE"}, "password3\n", &out), 1);
    EXPECT_NE(out.find("exists"), std::string::npos);
    EXPECT_EQ(svc.RunAdmin({"member", "add", "no way"}, "password3\n", &out), 1);
    EXPECT_EQ(svc.RunAdmin({"member", "add", "carol"}, "short\n", &out), 1);
    EXPECT_EQ(svc.RunAdmin({"member", "add", "carol"}, "", &out), 1);
    EXPECT_EQ(svc.RunAdmin({"member", "suspend", "nobody"}, "", &out), 1);
    EXPECT_EQ(svc.RunAdmin({"member", "frobnicate"}, "", &out), 2);

    ASSERT_EQ(svc.RunAdmin({"member", "suspend", "alice"}, "", &out), 0) << out;
    ASSERT_EQ(svc.RunAdmin({"member", "list"}, "", &out), 0);
    EXPECT_NE(out.find("alice\tsuspended\t0\t0\t-"), std::string::npos) << out;
    EXPECT_NE(out.find("bob\tactive"), std::string::npos) << out;
    EXPECT_EQ(out.find("carol"), std::string::npos);
    EXPECT_EQ(Login(svc, "alice", "password1").error, "4");

    ASSERT_EQ(svc.RunAdmin({"member", "resume", "alice"}, "", &out), 0);
    EXPECT_EQ(Login(svc, "alice", "password1").error, "0");
}

TEST(AdminTest, StopsGracefullyAndLogsEachRequestWithoutSecrets) {
    ServiceLauncher svc;
    svc.AddMember("alice", "hunter2-secret");
    LoginReply r = Login(svc, "alice", "hunter2-secret");
    ASSERT_EQ(r.error, "0");
    Fetch(svc, r.downloadUrl + "alice.cab");
    EXPECT_EQ(svc.Stop(), 0);

    std::string log = svc.LogText();
    EXPECT_NE(log.find("POST /skivaddon/actskivaddonlogin.aspx 200"), std::string::npos) << log;
    EXPECT_NE(log.find("GET /skivaddon/dl/*/alice.cab 404"), std::string::npos) << log;
    EXPECT_EQ(log.find("hunter2"), std::string::npos);
    EXPECT_EQ(log.find(r.memberkey), std::string::npos);
    const std::string capability = r.downloadUrl.substr(r.downloadUrl.size() - 65, 64);
    EXPECT_EQ(log.find(capability), std::string::npos);
}

TEST(AdminTest, PrivateCaIsMadeOnceAndKeptAcrossRestarts) {
    ServiceLauncher svc;
    const std::string ca = ReadFile(svc.CaFile());
    EXPECT_NE(ca.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_NE(svc.LogText().find("created private CA: " + svc.CaFile()), std::string::npos);
    // The system's trust store alone does not trust it ...
    HttpCall untrusted;
    untrusted.caFile = "/etc/ssl/certs/ca-certificates.crt";
    EXPECT_NE(Get(svc.BaseUrl() + "/", untrusted).curlCode, 0);
    // ... with it, the certificate is valid for 127.0.0.1 and localhost.
    HttpCall trusted;
    trusted.caFile = svc.CaFile();
    EXPECT_EQ(Get(svc.BaseUrl() + "/", trusted).status, 200);
    EXPECT_EQ(Get("https://localhost:" + std::to_string(svc.Port()) + "/", trusted).status, 200);

    // Members, packages and the CA survive a restart.
    svc.AddMember("alice", "password1");
    LoginReply r = Login(svc, "alice", "password1");
    UploadForm f;
    f.fileBytes = "kept across restarts";
    f.memberId = "alice";
    f.memberKey = r.memberkey;
    ASSERT_EQ(TagValue(Upload(svc, r.uploadUrl, f).body, "error"), "0");
    svc.Restart();
    EXPECT_EQ(ReadFile(svc.CaFile()), ca);
    LoginReply after = Login(svc, "alice", "password1");
    EXPECT_EQ(after.filesize, std::to_string(f.fileBytes.size()));
    EXPECT_EQ(Fetch(svc, after.downloadUrl + "alice.cab").body, f.fileBytes);
}

TEST(AdminTest, PublicUrlNamesTheAddressesAndTheCertificate) {
    ServiceLauncher svc({"--public-url", "https://addons.guild.test:9443/"});
    svc.AddMember("alice", "password1");
    LoginReply r = Login(svc, "alice", "password1");
    ASSERT_EQ(r.error, "0");
    EXPECT_EQ(r.uploadUrl.rfind("https://addons.guild.test:9443/skivaddon/upload.aspx?k=", 0), 0u);
    EXPECT_EQ(r.downloadUrl.rfind("https://addons.guild.test:9443/skivaddon/dl/", 0), 0u);

    // The public name is in the certificate: the download works through it.
    HttpCall call;
    call.caFile = svc.CaFile();
    call.connectTo = "addons.guild.test:9443:127.0.0.1:" + std::to_string(svc.Port());
    HttpReply down = Get(r.downloadUrl + "alice.cab", call);
    EXPECT_EQ(down.curlCode, 0);
    EXPECT_EQ(down.status, 404);  // nothing stored yet, but TLS and the capability held
}

}  // namespace
}  // namespace skiv::test
