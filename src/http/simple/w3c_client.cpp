#include "http/simple/w3c_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace skiv {

using namespace wininet;

namespace {

constexpr DWORD kGetFlags = INTERNET_FLAG_NO_CACHE_WRITE;
// The form POST carries the password: unlike the other requests of old it
// does not waive the certificate's name and date checks.
constexpr DWORD kPostFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
constexpr DWORD kMultiPartFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_FORMS_SUBMIT;
constexpr std::size_t kPiece = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// One part of a multipart body: framing text, then (for a file that
// opened) the file's bytes and a closing line break.
struct Part {
    std::string head;
    File file;
    std::uint64_t size = 0;
    std::string tail;
};

bool WriteAll(HINTERNET request, const char* data, std::size_t size) {
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min(size, kPiece));
        DWORD written = 0;
        if (!InternetWriteFile(request, data, piece, &written) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Streams exactly size bytes of file; a file that shrank or grew since its
// size was taken fails, as the declared length would no longer hold.
bool WriteFileContent(HINTERNET request, std::FILE* file, std::uint64_t size) {
    std::vector<char> buffer(kPiece);
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, kPiece));
        const std::size_t got = std::fread(buffer.data(), 1, want, file);
        if (got != want || !WriteAll(request, buffer.data(), got)) {
            return false;
        }
        size -= got;
    }
    return std::fgetc(file) == EOF && !std::ferror(file);
}

}  // namespace

W3CClient::~W3CClient() {
    Close();
    m_arguments.clear();
}

bool W3CClient::ParseUrl(const char* url, UrlParts* parts) {
    *parts = UrlParts{};
    if (url == nullptr) {
        return false;
    }
    const std::string text(url);
    std::string rest = text;
    parts->scheme = "http";
    const auto colon = text.find(':');
    if (colon != std::string::npos && colon + 1 < text.size() && text[colon + 1] == '/') {
        parts->scheme = text.substr(0, colon);
        rest = colon + 3 <= text.size() ? text.substr(colon + 3) : std::string();
    }
    // The authority runs to the first '/'; user information only counts
    // inside it, so an '@' further on (in the path) is left alone.
    std::string authority = rest.substr(0, rest.find('/'));
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string info = authority.substr(0, at);
        const auto sep = info.find(':');
        parts->user = info.substr(0, sep);
        if (sep != std::string::npos) {
            parts->password = info.substr(sep + 1);
        }
        authority.erase(0, at + 1);
    }
    std::string port_text;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            return false;
        }
        parts->host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':') {
            port_text = authority.substr(close + 2);
        }
    } else {
        const auto sep = authority.find(':');
        parts->host = authority.substr(0, sep);
        if (sep != std::string::npos) {
            port_text = authority.substr(sep + 1);
        }
    }
    if (!port_text.empty() || authority.find(':') != std::string::npos) {
        parts->port = std::atol(port_text.c_str());
    } else if (parts->scheme == "https") {
        parts->port = 443;
    } else if (parts->scheme == "ftp") {
        parts->port = 21;
    } else {
        parts->port = 80;
    }
    for (const std::string* part :
         {&parts->scheme, &parts->user, &parts->password, &parts->host, &port_text}) {
        if (part->size() > kUrlPartMax) {
            return false;
        }
    }
    return parts->port >= 0 && parts->port <= 65535;
}

std::string W3CClient::FormEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
            out.push_back(c);
        } else if (u == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0x0F]);
        }
    }
    return out;
}

std::string W3CClient::FormBody(const std::vector<PostArgument>& arguments) {
    std::string body;
    for (const auto& argument : arguments) {
        if (!body.empty() || &argument != &arguments.front()) {
            body.push_back('&');
        }
        body += FormEncode(argument.name);
        body.push_back('=');
        body += FormEncode(argument.value);
    }
    return body;
}

bool W3CClient::Failed(const char* text) {
    m_failure = text;
    return false;
}

bool W3CClient::Connect(const char* url, const char* user, const char* password,
                        const char* agent) {
    UrlParts parts;
    if (!ParseUrl(url, &parts)) {
        return Failed("connect failed");
    }
    Protocol protocol;
    if (parts.scheme.starts_with("https")) {
        protocol = Https;
    } else if (parts.scheme.starts_with("http")) {
        protocol = Http;
    } else if (parts.scheme.starts_with("ftp")) {
        protocol = Ftp;
    } else {
        return Failed("connect failed");
    }
    if (user == nullptr && !parts.user.empty()) {
        user = parts.user.c_str();
    }
    if (password == nullptr && !parts.password.empty()) {
        password = parts.password.c_str();
    }
    return ConnectServer(parts.host.c_str(), parts.port, user, password, protocol, agent);
}

bool W3CClient::ConnectServer(const char* host, long port, const char* user, const char* password,
                              Protocol protocol, const char* agent) {
    Close();
    m_failure.clear();
    m_hInternet = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (m_hInternet == nullptr) {
        return Failed("open internet failed");
    }
    INTERNET_PORT use_port = static_cast<INTERNET_PORT>(port);
    DWORD service = INTERNET_SERVICE_HTTP;
    DWORD flags = 0;
    switch (protocol) {
        case Ftp:
            use_port = port != 0 ? use_port : INTERNET_DEFAULT_FTP_PORT;
            service = INTERNET_SERVICE_FTP;
            flags = INTERNET_FLAG_PASSIVE;
            break;
        case Http:
            use_port = port != 0 ? use_port : INTERNET_DEFAULT_HTTP_PORT;
            break;
        case Https:
            use_port = port != 0 ? use_port : INTERNET_DEFAULT_HTTPS_PORT;
            break;
    }
    m_hConnection =
        InternetConnectA(m_hInternet, host, use_port, user, password, service, flags, 0);
    if (m_hConnection == nullptr || InternetAttemptConnect(0) != ERROR_SUCCESS) {
        Close();
        return Failed("connect failed");
    }
    m_protocol = protocol;
    m_arguments.clear();
    return true;
}

void W3CClient::AddPostArgument(const char* name, const char* value, bool isFile) {
    m_arguments.push_back(
        PostArgument{name != nullptr ? name : "", value != nullptr ? value : "", isFile});
}

void W3CClient::CloseRequest() {
    if (m_hRequest != nullptr) {
        InternetCloseHandle(m_hRequest);
        m_hRequest = nullptr;
    }
}

bool W3CClient::Request(const char* path, Method method, const char* referrer) {
    CloseRequest();
    m_responseFailed = false;
    bool sent = false;
    switch (method) {
        case Get:
            sent = SendGet(path, referrer);
            break;
        case Post:
            sent = SendPost(path, referrer);
            break;
        case PostMultiPart:
            sent = SendPostMultiPart(path, referrer);
            break;
        default:
            Failed("request failed...");
            break;
    }
    if (!sent) {
        CloseRequest();
    }
    return sent;
}

bool W3CClient::OpenRequest(const char* verb, const char* path, const char* referrer, DWORD flags) {
    if (m_hConnection == nullptr) {
        return Failed("handle not opened...");
    }
    if (m_protocol == Https) {
        flags |= INTERNET_FLAG_SECURE;
    }
    LPCSTR accept[] = {"*/*", nullptr};
    m_hRequest =
        HttpOpenRequestA(m_hConnection, verb, path, "HTTP/1.0", referrer, accept, flags, 0);
    if (m_hRequest == nullptr) {
        return Failed("request failed...");
    }
    if (!HttpAddRequestHeadersA(m_hRequest, "Accept: */*\r\n", 13, HTTP_ADDREQ_FLAG_REPLACE)) {
        return Failed("additional header failed...");
    }
    return true;
}

bool W3CClient::SendGet(const char* path, const char* referrer) {
    if (!OpenRequest("GET", path, referrer, kGetFlags)) {
        return false;
    }
    if (!HttpSendRequestA(m_hRequest, nullptr, 0, nullptr, 0)) {
        return Failed("request failed...");
    }
    return true;
}

bool W3CClient::SendPost(const char* path, const char* referrer) {
    if (!OpenRequest("POST", path, referrer, kPostFlags)) {
        return false;
    }
    std::string body = FormBody(m_arguments);
    static constexpr char kType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    // Any send failure is a failure: a certificate the client does not trust
    // means nothing was sent, so it must not pass for a sent request.
    if (!HttpSendRequestA(m_hRequest, kType, sizeof kType - 1, body.data(),
                          static_cast<DWORD>(body.size()))) {
        return Failed("request failed...");
    }
    return true;
}

bool W3CClient::SendPostMultiPart(const char* path, const char* referrer) {
    if (!OpenRequest("POST", path, referrer, kMultiPartFlags)) {
        return false;
    }
    const std::string type =
        std::string("Content-Type: multipart/form-data; boundary=") + kBoundary + "\r\n";
    if (!HttpAddRequestHeadersA(m_hRequest, type.c_str(), static_cast<DWORD>(type.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
        return Failed("additional header failed...");
    }

    // The body is laid out first (text and file sizes) so its length is known,
    // then streamed: files are read piece by piece, never held whole.
    std::vector<Part> parts;
    std::uint64_t length = 0;
    for (const auto& argument : m_arguments) {
        Part part;
        part.head = std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" +
                    argument.name + "\"";
        if (!argument.isFile) {
            part.head += "\r\n\r\n" + argument.value + "\r\n";
        } else {
            part.head += "; filename=\"" + argument.value + "\"\r\n\r\n";
            part.file.reset(std::fopen(argument.value.c_str(), "rb"));
            if (part.file) {
                if (std::fseek(part.file.get(), 0, SEEK_END) != 0) {
                    return Failed("request failed");
                }
                const auto end = ftello(part.file.get());
                if (end < 0 || std::fseek(part.file.get(), 0, SEEK_SET) != 0) {
                    return Failed("request failed");
                }
                part.size = static_cast<std::uint64_t>(end);
                part.tail = "\r\n";
            }
        }
        length += part.head.size() + part.size + part.tail.size();
        parts.push_back(std::move(part));
    }
    const std::string trailer = std::string("--") + kBoundary + "--\r\n";
    length += trailer.size();
    if (length > 0xFFFFFFFFull) {
        return Failed("request failed");
    }
    const std::string declared = "Content-Length: " + std::to_string(length) + "\r\n";
    if (!HttpAddRequestHeadersA(m_hRequest, declared.c_str(), static_cast<DWORD>(declared.size()),
                                HTTP_ADDREQ_FLAG_ADD_IF_NEW)) {
        return Failed("additional header failed...");
    }

    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    if (!HttpSendRequestExA(m_hRequest, &buffers, nullptr, HSR_INITIATE, 0)) {
        return Failed("request failed");
    }
    for (const Part& part : parts) {
        if (!WriteAll(m_hRequest, part.head.data(), part.head.size()) ||
            (part.file && !WriteFileContent(m_hRequest, part.file.get(), part.size)) ||
            !WriteAll(m_hRequest, part.tail.data(), part.tail.size())) {
            return Failed("request failed");
        }
    }
    if (!WriteAll(m_hRequest, trailer.data(), trailer.size()) ||
        !HttpEndRequestA(m_hRequest, nullptr, HSR_INITIATE, 0)) {
        return Failed("request failed");
    }
    return true;
}

std::size_t W3CClient::Response(unsigned char* buffer, std::size_t size) {
    if (m_hRequest == nullptr) {
        m_responseFailed = true;
        Failed("connection failed...");
        return 0;
    }
    DWORD got = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(size, 0xFFFFFFFFu));
    if (!InternetReadFile(m_hRequest, buffer, want, &got)) {
        m_responseFailed = true;
        Failed("response failed...");
        CloseRequest();
        return 0;
    }
    m_responseFailed = false;
    return got;
}

void W3CClient::Close() {
    CloseRequest();
    if (m_hConnection != nullptr) {
        InternetCloseHandle(m_hConnection);
        m_hConnection = nullptr;
    }
    if (m_hInternet != nullptr) {
        InternetCloseHandle(m_hInternet);
        m_hInternet = nullptr;
    }
}

}  // namespace skiv
