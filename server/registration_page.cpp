#include "registration_page.h"

#include <ctime>
#include <exception>

#include "form_fields.h"
#include "secrets.h"

namespace skiv::server {

namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

bool IsNonce(const std::string& s) {
    if (s.size() != 32)
        return false;
    for (char c : s) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

constexpr const char* kStyle =
    "body{font-family:'NanumGothic','Malgun Gothic',sans-serif;background:#f4f1ea;margin:0}"
    "main{max-width:26rem;margin:3rem auto;background:#fff;padding:2rem;border-radius:8px;"
    "box-shadow:0 1px 4px rgba(0,0,0,.15)}"
    "h1{font-size:1.4rem;margin-top:0}label{display:block;margin:.8rem 0 .2rem}"
    "input[type=text],input[type=password]{width:100%;box-sizing:border-box;padding:.45rem}"
    "button{margin-top:1.2rem;padding:.5rem 1.4rem}"
    ".error{color:#a40000}.ok{color:#1a6b1a}.hint{color:#666;font-size:.85rem}";

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

RegistrationPage::RegistrationPage(MemberDesk& desk, std::string secret)
    : m_desk(desk), m_secret(std::move(secret)) {}

std::string RegistrationPage::Mac(const std::string& nonce, const std::string& stamp,
                                  const std::string& salt) const {
    return MacHex(m_secret, "register|" + nonce + "|" + stamp + "|" + salt);
}

std::string RegistrationPage::MakeToken(const std::string& nonce, std::int64_t now) const {
    const std::string stamp = std::to_string(now);
    const std::string salt = RandomHex(8);
    return stamp + "." + salt + "." + Mac(nonce, stamp, salt);
}

std::optional<std::int64_t> RegistrationPage::TokenIssued(const std::string& token,
                                                          const std::string& nonce,
                                                          std::int64_t now) const {
    if (!IsNonce(nonce))
        return std::nullopt;
    const std::size_t dot = token.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 12)
        return std::nullopt;
    const std::size_t dot2 = token.find('.', dot + 1);
    if (dot2 != dot + 17)
        return std::nullopt;
    const std::string stamp = token.substr(0, dot);
    for (char c : stamp) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    const std::int64_t issued = std::stoll(stamp);
    if (issued > now + 60 || now - issued > kTokenSeconds)
        return std::nullopt;
    const std::string salt = token.substr(dot + 1, 16);
    if (!ConstantTimeEqual(token.substr(dot2 + 1), Mac(nonce, stamp, salt)))
        return std::nullopt;
    return issued;
}

bool RegistrationPage::TokenValid(const std::string& token, const std::string& nonce,
                                  std::int64_t now) const {
    return TokenIssued(token, nonce, now).has_value();
}

RegistrationPage::Reply RegistrationPage::Show(const std::optional<std::string>& cookie) const {
    return Form(200, "", false, "", cookie);
}

RegistrationPage::Reply RegistrationPage::Form(int status, const std::string& message, bool isError,
                                               const std::string& id,
                                               const std::optional<std::string>& cookie) const {
    Reply r;
    r.status = status;
    std::string nonce = cookie && IsNonce(*cookie) ? *cookie : RandomHex(16);
    if (!cookie || *cookie != nonce) {
        r.setCookie = std::string(kCookie) + "=" + nonce +
                      "; Path=/Member/Common/; Secure; HttpOnly; SameSite=Strict";
    }
    std::string& h = r.html;
    h += "<!DOCTYPE html>\n<html lang=\"ko\"><head><meta charset=\"utf-8\">";
    h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    h += "<title>Kelbo 회원가입</title><style>";
    h += kStyle;
    h += "</style></head><body><main>\n<h1>Kelbo 회원가입</h1>\n";
    if (!message.empty()) {
        h += isError ? "<p class=\"error\" role=\"alert\">" : "<p class=\"ok\" role=\"status\">";
        h += HtmlEscape(message);
        h += "</p>\n";
    }
    h += "<form method=\"post\" action=\"";
    h += kPath;
    h += "\" autocomplete=\"off\">\n";
    h += "<input type=\"hidden\" name=\"csrfToken\" value=\"" + MakeToken(nonce, Now()) + "\">\n";
    h += "<label for=\"memberId\">아이디</label>";
    h += "<input type=\"text\" id=\"memberId\" name=\"memberId\" required minlength=\"3\" "
         "maxlength=\"32\" pattern=\"[A-Za-z0-9_\\-]{3,32}\" value=\"" +
         HtmlEscape(id) + "\">\n";
    h += "<p class=\"hint\">영문자, 숫자, _ 또는 - 로 3~32자</p>\n";
    h += "<label for=\"password\">비밀번호</label>";
    h += "<input type=\"password\" id=\"password\" name=\"password\" required minlength=\"8\">\n";
    h += "<label for=\"passwordConfirm\">비밀번호 확인</label>";
    h += "<input type=\"password\" id=\"passwordConfirm\" name=\"passwordConfirm\" required "
         "minlength=\"8\">\n";
    h += "<p class=\"hint\">비밀번호는 8자 이상</p>\n";
    h += "<button type=\"submit\">가입하기</button>\n</form>\n</main></body></html>\n";
    return r;
}

RegistrationPage::Reply RegistrationPage::Submit(std::string_view body,
                                                 const std::optional<std::string>& cookie,
                                                 std::string_view clientAddress) const {
    auto fields = ParseForm(body);
    auto field = [&](const char* name) {
        auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    const std::string id = field("memberId");
    const std::string token = field("csrfToken");
    std::optional<std::int64_t> issued;
    if (cookie)
        issued = TokenIssued(token, *cookie, Now());
    const char* refusal = "보안 확인에 실패했습니다. 이 페이지를 새로 연 뒤 다시 가입해 주세요.";
    if (!issued)
        return Form(403, refusal, true, id, cookie);
    const std::string password = field("password");
    MemberDesk::Registration result;
    try {
        // A replayed token is refused as a forged one is.
        if (!m_desk.SpendOnce(token, *issued + kTokenSeconds + 1))
            return Form(403, refusal, true, id, cookie);
        if (password != field("passwordConfirm"))
            return Form(400, "두 비밀번호가 서로 다릅니다.", true, id, cookie);
        result = m_desk.Register(id, password, clientAddress);
    } catch (const std::exception&) {
        return Form(500, "서비스에 문제가 있어 가입하지 못했습니다. 잠시 후 다시 시도하세요.", true,
                    id, cookie);
    }
    switch (result) {
        case MemberDesk::Registration::Added:
            return Form(
                200,
                "회원가입이 완료되었습니다. 프로그램에서 아이디 " + id + "(으)로 로그인하세요.",
                false, "", cookie);
        case MemberDesk::Registration::InvalidId:
            return Form(400, "아이디는 영문자, 숫자, _ 또는 - 로 3~32자여야 합니다.", true, id,
                        cookie);
        case MemberDesk::Registration::PasswordTooShort:
            return Form(400, "비밀번호는 8자(8바이트) 이상이어야 합니다.", true, id, cookie);
        case MemberDesk::Registration::PasswordTooLong:
            return Form(400, "비밀번호가 너무 깁니다.", true, id, cookie);
        case MemberDesk::Registration::Taken:
            return Form(409, "이미 사용 중인 아이디입니다. 다른 아이디를 고르세요.", true, id,
                        cookie);
        case MemberDesk::Registration::TooMany:
            return Form(429, "가입 요청이 너무 많습니다. 잠시 후 다시 시도하세요.", true, id,
                        cookie);
    }
    return Form(500, "알 수 없는 오류입니다.", true, id, cookie);
}

}  // namespace skiv::server
