#pragma once
// The member registration page: an HTML form that works without script.
// Cross-site posts are stopped with a double-submit token: the page sets a
// random nonce cookie and puts into the form a token made of a timestamp,
// a random salt and an HMAC (under the service's secret) of the nonce,
// timestamp and salt. A post counts only with a fresh token that matches
// the cookie sent with it, which another site can neither read nor forge.
// Each token is good for one post: the store remembers spent ones until
// they expire, and every page the service answers carries a new token.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "member_desk.h"

namespace skiv::server {

class RegistrationPage {
public:
    static constexpr const char* kPath = "/Member/Common/frmMemberRegist.aspx";
    static constexpr const char* kCookie = "skiv_reg";
    static constexpr std::int64_t kTokenSeconds = 30 * 60;

    struct Reply {
        int status = 200;
        std::string html;
        std::string setCookie;  // value for a Set-Cookie header, or empty
    };

    // `secret` keys the token MACs; it must stay the same across restarts
    // for forms opened before a restart to still post.
    RegistrationPage(MemberDesk& desk, std::string secret);

    // GET: the empty form. `cookie` is the nonce the browser sent, if any.
    Reply Show(const std::optional<std::string>& cookie) const;
    // POST of the form body (application/x-www-form-urlencoded) from
    // `clientAddress` (the peer's IP address), by which registrations are
    // rate-limited.
    Reply Submit(std::string_view body, const std::optional<std::string>& cookie,
                 std::string_view clientAddress) const;

    // Token for a nonce at a time (each call salts anew); exposed for tests
    // of the checks.
    std::string MakeToken(const std::string& nonce, std::int64_t now) const;
    bool TokenValid(const std::string& token, const std::string& nonce, std::int64_t now) const;

private:
    // When the token was issued, if it is fresh and belongs to the nonce.
    std::optional<std::int64_t> TokenIssued(const std::string& token, const std::string& nonce,
                                            std::int64_t now) const;
    std::string Mac(const std::string& nonce, const std::string& stamp,
                    const std::string& salt) const;
    Reply Form(int status, const std::string& message, bool isError, const std::string& id,
               const std::optional<std::string>& cookie) const;

    MemberDesk& m_desk;
    std::string m_secret;
};

// Escapes text for HTML element content and attribute values.
std::string HtmlEscape(std::string_view text);

}  // namespace skiv::server
