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

class RegistrationTest : public ::testing::Test {
protected:
    HttpCall Call(const std::string& cookie = "") {
        HttpCall c;
        c.caFile = svc.CaFile();
        c.cookie = cookie;
        return c;
    }
    OpenedForm Open() {
        OpenedForm f;
        f.page = Get(svc.BaseUrl() + kPath, Call());
        std::string set = f.page.Header("Set-Cookie");
        f.cookie = set.substr(0, set.find(';'));
        std::string marker = "name=\"csrfToken\" value=\"";
        std::size_t at = f.page.body.find(marker);
        if (at != std::string::npos) {
            at += marker.size();
            f.token = f.page.body.substr(at, f.page.body.find('"', at) - at);
        }
        return f;
    }
    HttpReply Submit(const std::string& cookie, const std::string& token, const std::string& id,
                     const std::string& pw, const std::string& pw2) {
        std::string body = "memberId=" + FormEncode(id) + "&password=" + FormEncode(pw) +
                           "&passwordConfirm=" + FormEncode(pw2) +
                           "&csrfToken=" + FormEncode(token);
        return PostForm(svc.BaseUrl() + kPath, body, Call(cookie));
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

    // The same ID in any case is taken now; the form is reusable.
    HttpReply again = Submit(f.cookie, f.token, "NEW_PLAYER-1", "other password", "other password");
    EXPECT_EQ(again.status, 409);
    EXPECT_NE(again.body.find("이미 사용 중인 아이디"), std::string::npos);
    EXPECT_EQ(Login(svc, "new_player-1", "long enough").error, "0");
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
    for (const auto& c : cases) {
        HttpReply r = Submit(f.cookie, f.token, c.id, c.pw, c.pw2);
        EXPECT_EQ(r.status, 400) << c.id;
        EXPECT_NE(r.body.find(c.message), std::string::npos) << c.id;
        EXPECT_EQ(Login(svc, c.id, c.pw).error, std::string(c.id).empty() ? "1" : "3") << c.id;
    }
    // The typed ID is shown again, escaped.
    HttpReply r = Submit(f.cookie, f.token, "<b>x\"", "password1", "password1");
    EXPECT_EQ(r.body.find("<b>x"), std::string::npos);
    EXPECT_NE(r.body.find("&lt;b&gt;x&quot;"), std::string::npos);
}

}  // namespace
}  // namespace skiv::test
