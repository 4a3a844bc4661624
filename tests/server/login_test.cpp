// Login over real HTTPS against the real service binary.

#include <gtest/gtest.h>

#include "service_test_util.h"

namespace skiv::test {
namespace {

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override { svc.AddMember("alice", "correct horse"); }
    ServiceLauncher svc;
};

TEST_F(LoginTest, SuccessGivesTheSixValueTagsInTheClientsOrder) {
    LoginReply r = Login(svc, "alice", "correct horse");
    ASSERT_EQ(r.http.curlCode, 0);
    EXPECT_EQ(r.http.status, 200);
    EXPECT_NE(r.http.Header("Content-Type").find("charset=utf-8"), std::string::npos);
    EXPECT_EQ(r.error, "0");

    // The client searches each tag from where the previous one ended, so
    // the order matters as much as the values.
    const std::string& b = r.http.body;
    std::size_t last = 0;
    for (const char* tag : {"<error>", "<filesize>", "<savedate>", "<filetype>", "<memberkey>",
                            "<uploadURL>", "<downloadURL>"}) {
        std::size_t at = b.find(tag, last);
        ASSERT_NE(at, std::string::npos) << tag << " missing or out of order in " << b;
        last = at;
    }
    EXPECT_EQ(r.filesize, "0");
    EXPECT_EQ(r.filetype, "0");
    EXPECT_EQ(r.savedate, "");
    EXPECT_TRUE(Shaped(r.memberkey, std::string(64, 'x'))) << r.memberkey;
    // The upload address carries the pass that lets the upload reach disk.
    const std::string upload = svc.BaseUrl() + "/skivaddon/upload.aspx?k=alice.";
    EXPECT_EQ(r.uploadUrl.rfind(upload, 0), 0u) << r.uploadUrl;
    EXPECT_TRUE(Shaped(r.uploadUrl.substr(upload.size()), "##########." + std::string(64, 'x')))
        << r.uploadUrl;
    EXPECT_TRUE(
        Shaped(r.downloadUrl, svc.BaseUrl() + "/skivaddon/dl/" + std::string(64, 'x') + "/"))
        << r.downloadUrl;

    // IDs are not case-sensitive; each login hands out fresh secrets.
    LoginReply again = Login(svc, "ALICE", "correct horse");
    EXPECT_EQ(again.error, "0");
    EXPECT_NE(again.memberkey, r.memberkey);
    EXPECT_NE(again.downloadUrl, r.downloadUrl);
}

TEST_F(LoginTest, WrongPasswordAndUnknownIdGetTheSameAnswer) {
    LoginReply wrong = Login(svc, "alice", "incorrect horse");
    LoginReply unknown = Login(svc, "mallory", "incorrect horse");
    EXPECT_EQ(wrong.http.status, 200);
    EXPECT_EQ(wrong.error, "3");
    EXPECT_FALSE(wrong.errormsg.empty());
    EXPECT_EQ(wrong.http.body, unknown.http.body);
    EXPECT_EQ(wrong.memberkey, "");
}

TEST_F(LoginTest, PasswordsArePercentDecodedWithPlusAsSpace) {
    const std::string tricky = "a&b=c+d%e f%2";
    svc.AddMember("bob", tricky);
    EXPECT_EQ(Login(svc, "bob", tricky).error, "0");
    // '+' is a space and "%2B" a plus.
    svc.AddMember("carol", "two words+plus");
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=carol&avsPassword=two+words%2Bplus").error, "0");
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=carol&avsPassword=two+words+plus").error, "3");
    // A '%' not followed by two hex digits stays a '%'.
    svc.AddMember("dave", "100%sure!");
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=dave&avsPassword=100%sure!").error, "0");
}

TEST_F(LoginTest, SuspendedMemberIsRefusedWithFourUntilResumed) {
    svc.Suspend("alice");
    LoginReply r = Login(svc, "alice", "correct horse");
    EXPECT_EQ(r.error, "4");
    EXPECT_FALSE(r.errormsg.empty());
    // A wrong password does not learn that the ID is suspended.
    EXPECT_EQ(Login(svc, "alice", "guess").error, "3");
    svc.Resume("alice");
    EXPECT_EQ(Login(svc, "alice", "correct horse").error, "0");
}

TEST_F(LoginTest, RepeatedFailuresLockTheIdKnownOrNot) {
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(Login(svc, "alice", "guess").error, "3");
    // Four failures do not lock; success resets the count.
    ASSERT_EQ(Login(svc, "alice", "correct horse").error, "0");
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Login(svc, "alice", "guess").error, "3");
    LoginReply locked = Login(svc, "alice", "correct horse");
    EXPECT_EQ(locked.error, "4");
    EXPECT_EQ(locked.memberkey, "");
    // An unknown ID locks the same way, so the lock tells nothing.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Login(svc, "ghost", "guess").error, "3");
    EXPECT_EQ(Login(svc, "ghost", "guess").http.body, locked.http.body);
    // Other members are not affected.
    svc.AddMember("bob", "password2");
    EXPECT_EQ(Login(svc, "bob", "password2").error, "0");
}

TEST_F(LoginTest, MalformedRequestsGetOne) {
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=alice").error, "1");
    EXPECT_EQ(LoginRaw(svc, "avsPassword=x").error, "1");
    EXPECT_EQ(LoginRaw(svc, "").error, "1");
    LoginReply r = LoginRaw(svc, "avsMemberID=&avsPassword=x");
    EXPECT_EQ(r.http.status, 200);
    EXPECT_EQ(r.error, "1");
    EXPECT_FALSE(r.errormsg.empty());
    // An oversized body is refused, not read into memory.
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=alice&avsPassword=" + std::string(40000, 'x')).error, "1");
}

}  // namespace
}  // namespace skiv::test
