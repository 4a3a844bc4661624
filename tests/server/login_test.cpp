// Login over real HTTPS against the real service binary.

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

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
    // The reply holds the member key and the download capability.
    EXPECT_EQ(r.http.Header("Cache-Control"), "no-store");
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

// Clients send code page 949; the password was set as UTF-8 on the
// registration page. The bytes are iconv -t CP949 of the same text.
TEST_F(LoginTest, CodePage949PasswordMatchesTheUtf8OneSetAtRegistration) {
    svc.AddMember("hana", "비밀번호한글");
    const std::string cp949 = "%BA%F1%B9%D0%B9%F8%C8%A3%C7%D1%B1%DB";
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=hana&avsPassword=" + cp949).error, "0");
    EXPECT_EQ(LoginRaw(svc, "avsMemberID=hana&avsPassword=" + cp949.substr(0, 33)).error, "3");
}

TEST_F(LoginTest, SuspendedMemberGetsFourForAnyPasswordUntilResumed) {
    svc.Suspend("alice");
    LoginReply right = Login(svc, "alice", "correct horse");
    EXPECT_EQ(right.error, "4");
    EXPECT_FALSE(right.errormsg.empty());
    // A wrong password must not answer otherwise: that would confirm the
    // right one to a guesser.
    EXPECT_EQ(Login(svc, "alice", "guess").http.body, right.http.body);
    svc.Resume("alice");
    EXPECT_EQ(Login(svc, "alice", "correct horse").error, "0");
}

// The login throttle, driven from several loopback addresses. Its limits:
// 5 failures per ID and address, 30 per address, 20 per ID (which then
// slows only addresses with failures of their own).
TEST_F(LoginTest, FailuresBackOffPerAddressWithoutLockingTheMemberOut) {
    const std::string guesser = "127.0.0.2";
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Login(svc, "alice", "guess", guesser).error, "3") << i;
    LoginReply refused = Login(svc, "alice", "guess", guesser);
    EXPECT_EQ(refused.error, "4");
    EXPECT_EQ(Login(svc, "alice", "correct horse", guesser).http.body, refused.http.body);
    // The member, from their own address, is not locked out.
    EXPECT_EQ(Login(svc, "alice", "correct horse", "127.0.0.1").error, "0");
    // An unknown ID backs off the same way, so a refusal tells nothing.
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Login(svc, "ghost", "guess", guesser).error, "3");
    EXPECT_EQ(Login(svc, "ghost", "guess", guesser).http.body, refused.http.body);

    // Guesses at bob spread over addresses (4 each, under the per-address
    // limit) slow the ID down, but only for addresses that failed.
    svc.AddMember("bob", "password2");
    for (int a = 10; a < 15; ++a) {
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(Login(svc, "bob", "guess", "127.0.0." + std::to_string(a)).error, "3");
    }
    EXPECT_EQ(Login(svc, "bob", "password2", "127.0.0.10").error, "4");
    EXPECT_EQ(Login(svc, "bob", "password2", "127.0.0.1").error, "0");
}

// Runs `count` logins at once from `from`; the i-th uses credentials(i).
template <typename Credentials>
std::vector<std::string> LoginBurst(const ServiceLauncher& svc, int count, const std::string& from,
                                    Credentials credentials) {
    std::vector<std::string> errors(count);
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            const auto [id, password] = credentials(i);
            start.arrive_and_wait();
            errors[i] = Login(svc, id, password, from).error;
        });
    }
    for (auto& t : threads)
        t.join();
    return errors;
}

// Answers "0" and "3" mean the password was verified; "4" that the attempt
// was refused before.
long Count(const std::vector<std::string>& errors, const char* error) {
    return std::count(errors.begin(), errors.end(), error);
}

TEST_F(LoginTest, ParallelGuessesAreCountedBeforeTheyAreVerified) {
    auto one = LoginBurst(svc, 16, "127.0.0.3", [](int i) {
        return std::pair<std::string, std::string>("alice", i == 7 ? "correct horse" : "guess");
    });
    EXPECT_LE(Count(one, "3"), 5);
    EXPECT_LE(Count(one, "0"), 1);
    EXPECT_EQ(Count(one, "3") + Count(one, "0") + Count(one, "4"), 16);

    // Spraying unknown IDs from one address is capped per address.
    auto spray = LoginBurst(svc, 64, "127.0.0.4", [](int i) {
        return std::pair<std::string, std::string>("nobody" + std::to_string(i), "guess");
    });
    EXPECT_LE(Count(spray, "3"), 30);
    EXPECT_EQ(Count(spray, "3") + Count(spray, "4"), 64);
    EXPECT_EQ(Login(svc, "alice", "correct horse", "127.0.0.1").error, "0");
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
