// The registration form's token checks, which the wire tests can only
// reach for a fresh token.

#include <gtest/gtest.h>

#include "member_desk.h"
#include "registration_page.h"
#include "secrets.h"
#include "support/temp_dir.h"

namespace skiv::server {
namespace {

class RegistrationTokenTest : public ::testing::Test {
protected:
    void SetUp() override { InitCrypto(); }
    skiv::test::TempDir dir;
    MemberStore store{dir / "m.sqlite"};
    PackageShelf shelf{dir / "p"};
    PasswordHasher hasher{HashCost{1, 8192 * 1024}};
    MemberDesk desk{store, shelf, hasher, DeskPolicy{}};
    RegistrationPage page{desk, "secret one"};
    const std::string nonce = std::string(32, 'a');
};

TEST_F(RegistrationTokenTest, TokenHoldsForHalfAnHourForItsNonceOnly) {
    std::string token = page.MakeToken(nonce, 1000000);
    // Two forms opened in the same second get different (single-use) tokens.
    EXPECT_NE(page.MakeToken(nonce, 1000000), token);
    EXPECT_TRUE(page.TokenValid(token, nonce, 1000000));
    EXPECT_TRUE(page.TokenValid(token, nonce, 1000000 + RegistrationPage::kTokenSeconds));
    EXPECT_FALSE(page.TokenValid(token, nonce, 1000001 + RegistrationPage::kTokenSeconds));
    EXPECT_FALSE(page.TokenValid(token, nonce, 1000000 - 61));  // issued in the future
    EXPECT_FALSE(page.TokenValid(token, std::string(32, 'b'), 1000000));
    EXPECT_FALSE(page.TokenValid(token, "short", 1000000));

    // The time stamp cannot be moved without the MAC noticing.
    std::string moved = "1000500" + token.substr(token.find('.'));
    EXPECT_FALSE(page.TokenValid(moved, nonce, 1000600));
    // Another service secret makes other tokens.
    RegistrationPage other(desk, "secret two");
    EXPECT_FALSE(other.TokenValid(token, nonce, 1000000));
    for (const char* junk : {"", ".", "x.y", "1000000", "1000000.", "-5.abc"})
        EXPECT_FALSE(page.TokenValid(junk, nonce, 1000000)) << junk;
}

TEST_F(RegistrationTokenTest, EscapesMarkup) {
    EXPECT_EQ(HtmlEscape("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

}  // namespace
}  // namespace skiv::server
