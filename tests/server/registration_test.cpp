// The registration page, driven as a browser without script would.

#include <gtest/gtest.h>

#include "service_test_util.h"

namespace skiv::test {
namespace {

constexpr const char* kPath = "/Member/Common/frmMemberRegist.aspx";

struct OpenedForm {
    HttpReply page;
    std::string cookie;  // "skiv_reg=<nonce>"
    std::string token;
};

// The form token a page carries ("" when none).
std::string TokenIn(const HttpReply& page) {
    const std::string marker = "name=\"csrfToken\" value=\"";
    std::size_t at = page.body.find(marker);
    if (at == std::string::npos)
        return "";
    at += marker.size();
    return page.body.substr(at, page.body.find('"', at) - at);
}

class RegistrationTest : public ::testing::Test {
protected:
    HttpCall Call(const std::string& cookie = "", const std::string& from = "") {
        HttpCall c;
        c.caFile = svc.CaFile();
        c.cookie = cookie;
        c.fromAddress = from;
        return c;
    }
    OpenedForm Open() {
        OpenedForm f;
        f.page = Get(svc.BaseUrl() + kPath, Call());
        std::string set = f.page.Header("Set-Cookie");
        f.cookie = set.substr(0, set.find(';'));
        f.token = TokenIn(f.page);
        return f;
    }
    HttpReply Submit(const std::string& cookie, const std::string& token, const std::string& id,
                     const std::string& pw, const std::string& pw2, const std::string& from = "") {
        std::string body = "memberId=" + FormEncode(id) + "&password=" + FormEncode(pw) +
                           "&passwordConfirm=" + FormEncode(pw2) +
                           "&csrfToken=" + FormEncode(token);
        return PostForm(svc.BaseUrl() + kPath, body, Call(cookie, from));
    }
    ServiceLauncher svc;
};

TEST_F(RegistrationTest, FormHasKoreanLabelsTokenAndProtectiveHeaders) {
    OpenedForm f = Open();
    EXPECT_EQ(f.page.status, 200);
    EXPECT_NE(f.page.Header("Content-Type").find("text/html"), std::string::npos);
    for (const char* label : {"아이디", "비밀번호", "비밀번호 확인", "회원가입"})
        EXPECT_NE(f.page.body.find(label), std::string::npos) << label;
    EXPECT_NE(f.page.body.find("<form method=\"post\""), std::string::npos);
    EXPECT_EQ(f.page.body.find("<script"), std::string::npos);
    EXPECT_EQ(f.cookie.rfind("skiv_reg=", 0), 0u) << f.cookie;
    EXPECT_NE(f.page.Header("Set-Cookie").find("HttpOnly"), std::string::npos);
    EXPECT_NE(f.page.Header("Set-Cookie").find("SameSite=Strict"), std::string::npos);
    EXPECT_FALSE(f.token.empty());
    EXPECT_EQ(f.page.Header("X-Frame-Options"), "DENY");
}

TEST_F(RegistrationTest, PostWithCookieAndTokenRegistersAMemberWhoCanLogIn) {
    OpenedForm f = Open();
    HttpReply r = Submit(f.cookie, f.token, "new_player-1", "long enough", "long enough");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("회원가입이 완료되었습니다"), std::string::npos) << r.body;
    EXPECT_EQ(Login(svc, "new_player-1", "long enough").error, "0");

    // The same ID in any case is taken now; the page answered carries the
    // token for the next post.
    HttpReply again =
        Submit(f.cookie, TokenIn(r), "NEW_PLAYER-1", "other password", "other password");
    EXPECT_EQ(again.status, 409);
    EXPECT_NE(again.body.find("이미 사용 중인 아이디"), std::string::npos);
    EXPECT_EQ(Login(svc, "new_player-1", "long enough").error, "0");
}

TEST_F(RegistrationTest, EachTokenPostsOnceAndEachAddressRegistersAFewAnHour) {
    // One cookie and token register one account, however often replayed.
    OpenedForm f = Open();
    ASSERT_EQ(Submit(f.cookie, f.token, "first1", "password1", "password1").status, 200);
    HttpReply replay = Submit(f.cookie, f.token, "second2", "password1", "password1");
    EXPECT_EQ(replay.status, 403);
    EXPECT_NE(replay.body.find("보안 확인에 실패했습니다"), std::string::npos);
    EXPECT_EQ(Login(svc, "second2", "password1").error, "3");

    // Five accounts an hour from one address; then another address still
    // registers.
    auto post = [&](const std::string& id, const std::string& from) {
        HttpReply r = Submit(f.cookie, TokenIn(replay), id, "password1", "password1", from);
        replay = r;
        return r.status;
    };
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(post("many" + std::to_string(i), "127.0.0.6"), 200) << i;
    EXPECT_EQ(post("many5", "127.0.0.6"), 429);
    EXPECT_NE(replay.body.find("잠시 후 다시 시도하세요"), std::string::npos);
    EXPECT_EQ(Login(svc, "many5", "password1").error, "3");
    EXPECT_EQ(post("many5", "127.0.0.7"), 200);

    // Probing which IDs exist is bounded too: 30 posts an hour per address.
    int taken = 0;
    while (taken < 40 && post("FIRST1", "127.0.0.8") == 409)
        ++taken;
    EXPECT_EQ(taken, 30);
    EXPECT_EQ(replay.status, 429);
}

TEST_F(RegistrationTest, PostsWithoutAMatchingCookieAreRefused) {
    OpenedForm f = Open();
    OpenedForm other = Open();
    ASSERT_NE(f.cookie, other.cookie);
    EXPECT_EQ(Submit("", f.token, "forged", "password1", "password1").status, 403);
    EXPECT_EQ(Submit(other.cookie, f.token, "forged", "password1", "password1").status, 403);
    std::string tampered = f.token;
    tampered.back() = tampered.back() == '0' ? '1' : '0';
    EXPECT_EQ(Submit(f.cookie, tampered, "forged", "password1", "password1").status, 403);
    EXPECT_EQ(Submit(f.cookie, "", "forged", "password1", "password1").status, 403);
    EXPECT_EQ(Login(svc, "forged", "password1").error, "3");
}

TEST_F(RegistrationTest, InvalidInputIsExplainedAndNothingIsCreated) {
    OpenedForm f = Open();
    struct Case {
        const char* id;
        const char* pw;
        const char* pw2;
        const char* message;
    } cases[] = {
        {"ab", "password1", "password1", "3~32자"},
        {std::string(33, 'a').c_str(), "password1", "password1", "3~32자"},
        {"bad id", "password1", "password1", "3~32자"},
        {"한글아이디", "password1", "password1", "3~32자"},
        {"shortpw", "1234567", "1234567", "8자"},
        {"mismatch", "password1", "password2", "서로 다릅니다"},
    };
    std::string longId(33, 'a');
    cases[1].id = longId.c_str();
    std::string token = f.token;
    for (const auto& c : cases) {
        HttpReply r = Submit(f.cookie, token, c.id, c.pw, c.pw2);
        token = TokenIn(r);
        EXPECT_EQ(r.status, 400) << c.id;
        EXPECT_NE(r.body.find(c.message), std::string::npos) << c.id;
        EXPECT_EQ(Login(svc, c.id, c.pw).error, std::string(c.id).empty() ? "1" : "3") << c.id;
    }
    // The typed ID is shown again, escaped.
    HttpReply r = Submit(f.cookie, token, "<b>x\"", "password1", "password1");
    EXPECT_EQ(r.body.find("<b>x"), std::string::npos);
    EXPECT_NE(r.body.find("&lt;b&gt;x&quot;"), std::string::npos);
}

}  // namespace
}  // namespace skiv::test
