#include "http/simple_client.h"

#include <algorithm>
#include <cstdlib>

#include "http/url_text.h"
#include "platform/internet_api.h"

namespace skiv::http {

using namespace wininet;

bool SimpleClient::ParseUrl(std::string_view url, UrlParts& parts) {
    parts = UrlParts{};
    std::string_view rest = url;
    parts.scheme = "http";
    const auto colon = url.find(':');
    if (colon != std::string_view::npos && colon + 1 < url.size() && url[colon + 1] == '/') {
        parts.scheme = url.substr(0, colon);
        rest = colon + 3 <= url.size() ? url.substr(colon + 3) : std::string_view();
    }
    // The authority runs to the first '/'; user information only counts
    // inside it, so an '@' further on (in the path) is left alone.
    std::string_view authority = rest.substr(0, rest.find('/'));
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        const auto sep = info.find(':');
        parts.user = info.substr(0, sep);
        if (sep != std::string_view::npos)
            parts.password = info.substr(sep + 1);
        authority.remove_prefix(at + 1);
    }
    std::string portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        parts.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':')
            portText = authority.substr(close + 2);
    } else {
        const auto sep = authority.find(':');
        parts.host = authority.substr(0, sep);
        if (sep != std::string_view::npos)
            portText = authority.substr(sep + 1);
    }
    if (!portText.empty() || authority.find(':') != std::string_view::npos) {
        parts.port = std::atol(portText.c_str());
    } else {
        parts.port = parts.scheme == "https" ? 443 : 80;
    }
    for (const std::string* part :
         {&parts.scheme, &parts.user, &parts.password, &parts.host, &portText}) {
        if (part->size() > kUrlPartMax)
            return false;
    }
    return parts.port >= 0 && parts.port <= 65535;
}

std::string SimpleClient::FormBody(const std::vector<Field>& fields) {
    std::string body;
    for (const Field& field : fields) {
        if (&field != &fields.front())
            body += '&';
        body += UrlEncode(field.name, false) + '=' + UrlEncode(field.value, false);
    }
    return body;
}

bool SimpleClient::Failed(const char* text) {
    m_failure = text;
    return false;
}

bool SimpleClient::Connect(const std::string& url, const std::string& agent) {
    UrlParts parts;
    if (!ParseUrl(url, parts) || !parts.scheme.starts_with("http"))
        return Failed("connect failed");
    Close();
    m_failure.clear();
    m_https = parts.scheme.starts_with("https");
    m_session.reset(
        InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!m_session)
        return Failed("open internet failed");
    std::uint16_t port = static_cast<std::uint16_t>(parts.port);
    if (port == 0)
        port = m_https ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    auto text = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    m_connection.reset(InternetConnectA(m_session.get(), parts.host.c_str(), port, text(parts.user),
                                        text(parts.password), INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_connection || InternetAttemptConnect(0) != ERROR_SUCCESS) {
        Close();
        return Failed("connect failed");
    }
    m_fields.clear();
    return true;
}

bool SimpleClient::PostForm(const std::string& path) {
    m_request.reset();
    m_readFailed = false;
    if (!m_connection)
        return Failed("handle not opened...");
    // The form carries the password: unlike other requests of old it does
    // not waive the certificate's name and date checks.
    DWORD flags =
        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
    if (m_https)
        flags |= INTERNET_FLAG_SECURE;
    const char* accept[] = {"*/*", nullptr};
    m_request.reset(HttpOpenRequestA(m_connection.get(), "POST", path.c_str(), "HTTP/1.0", nullptr,
                                     accept, flags, 0));
    if (!m_request)
        return Failed("request failed...");
    if (!HttpAddRequestHeadersA(m_request.get(), "Accept: */*\r\n", 13, HTTP_ADDREQ_FLAG_REPLACE)) {
        m_request.reset();
        return Failed("additional header failed...");
    }
    std::string body = FormBody(m_fields);
    static constexpr char kType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    // Any send failure is a failure: a certificate the client does not trust
    // means nothing was sent, so it must not pass for a sent request.
    if (!HttpSendRequestA(m_request.get(), kType, sizeof kType - 1, body.data(),
                          static_cast<DWORD>(body.size()))) {
        m_request.reset();
        return Failed("request failed...");
    }
    return true;
}

std::size_t SimpleClient::Read(unsigned char* buffer, std::size_t size) {
    m_readFailed = true;
    if (!m_request) {
        Failed("connection failed...");
        return 0;
    }
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 0xFFFFFFFFu));
    if (!InternetReadFile(m_request.get(), buffer, want, &got)) {
        Failed("response failed...");
        m_request.reset();
        return 0;
    }
    m_readFailed = false;
    return got;
}

void SimpleClient::Close() {
    m_request.reset();
    m_connection.reset();
    m_session.reset();
}

}  // namespace skiv::http
