#include "service/delta_exchange.h"

#include <algorithm>
#include <sstream>

#include "http/internet_handle.h"
#include "http/simple_client.h"
#include "platform/crash_point.h"
#include "platform/internet_api.h"
#include "platform/sha256.h"
#include "service/tag_reply.h"

namespace skiv {

using namespace wininet;

namespace {

// Replies other than pieces are short texts: a manifest of 10,240 entries'
// pieces stays far below this.
constexpr std::size_t kMaxTextReply = 16 * 1024 * 1024;

bool ParseInt(const std::string& word, std::int64_t& out) {
    if (word.empty() || word.size() > 18)
        return false;
    std::size_t i = word[0] == '-' ? 1 : 0;
    if (i == word.size())
        return false;
    std::int64_t v = 0;
    for (; i < word.size(); ++i) {
        if (word[i] < '0' || word[i] > '9')
            return false;
        v = v * 10 + (word[i] - '0');
    }
    out = word[0] == '-' ? -v : v;
    return true;
}

// The fields between separators, empty ones (a last one included) kept.
std::vector<std::string> Words(const std::string& line, char sep = ' ') {
    std::vector<std::string> out(1);
    for (char ch : line) {
        if (ch == sep)
            out.emplace_back();
        else
            out.back() += ch;
    }
    return out;
}

}  // namespace

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '~' || c == '-') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || digit(text[i + 1]) < 0 || digit(text[i + 2]) < 0)
            return false;
        out += static_cast<char>(digit(text[i + 1]) << 4 | digit(text[i + 2]));
        i += 2;
    }
    return true;
}

std::string FormatManifest(const Manifest& m) {
    std::ostringstream o;
    o << "skiv-manifest 1\npackage " << m.packageBytes << ' ' << m.packageSha256 << "\nfiles "
      << m.files << ' ' << m.unpackedBytes << "\nchanged " << m.changed << "\ncomputer "
      << PercentEncode(m.computer) << '\n';
    for (const ManifestPiece& p : m.pieces)
        o << "piece " << p.sha256 << ' ' << p.bytes << ' ' << (p.shared ? "shared" : "private")
          << '\n';
    return o.str();
}

bool ParseManifest(const std::string& text, Manifest& out) {
    out = Manifest{};
    std::istringstream in(text);
    std::string line;
    auto next = [&](const char* key, std::size_t words) {
        if (!std::getline(in, line))
            return std::vector<std::string>{};
        auto w = Words(line);
        if (w.size() != words || w[0] != key)
            return std::vector<std::string>{};
        return w;
    };
    if (!std::getline(in, line) || line != "skiv-manifest 1")
        return false;
    auto w = next("package", 3);
    if (w.empty() || !ParseInt(w[1], out.packageBytes) || !IsSha256Hex(w[2]))
        return false;
    out.packageSha256 = w[2];
    w = next("files", 3);
    if (w.empty() || !ParseInt(w[1], out.files) || !ParseInt(w[2], out.unpackedBytes))
        return false;
    w = next("changed", 2);
    if (w.empty() || !ParseInt(w[1], out.changed))
        return false;
    if (!std::getline(in, line) || line.rfind("computer ", 0) != 0 ||
        !PercentDecode(line.substr(9), out.computer)) {
        return false;
    }
    std::int64_t total = 0;
    while (std::getline(in, line)) {
        w = Words(line);
        ManifestPiece p;
        if (w.size() != 4 || w[0] != "piece" || !IsSha256Hex(w[1]) || !ParseInt(w[2], p.bytes) ||
            p.bytes <= 0 || (w[3] != "shared" && w[3] != "private")) {
            return false;
        }
        p.sha256 = w[1];
        p.shared = w[3] == "shared";
        total += p.bytes;
        out.pieces.push_back(std::move(p));
    }
    return !out.pieces.empty() && total == out.packageBytes;
}

// ---- DeltaClient ----------------------------------------------------------

struct DeltaClient::Connection {
    http::InternetHandle session, connection;
    std::string prefix;  // the base's path, ending with '/'
    bool https = false;
};

DeltaClient::DeltaClient(std::string base, LogSink& log) : m_base(std::move(base)), m_log(log) {
    if (m_base.empty() || m_base.back() != '/')
        m_base += '/';
}

DeltaClient::~DeltaClient() = default;

ResultCode DeltaClient::Request(const char* verb, const std::string& path, const void* body,
                                std::size_t size, std::uint32_t& status, std::string& reply,
                                std::size_t maxReply) {
    reply.clear();
    if (!m_conn) {
        http::SimpleClient::UrlParts parts;
        const auto scheme = m_base.find("://");
        const auto slash = scheme == std::string::npos ? scheme : m_base.find('/', scheme + 3);
        if (slash == std::string::npos || !http::SimpleClient::ParseUrl(m_base, parts) ||
            !parts.scheme.starts_with("http")) {
            m_log.Write("[Delta]Invalid Base:(%s)", m_base.c_str());
            return ResultCode::HttpException;
        }
        auto c = std::make_unique<Connection>();
        c->https = parts.scheme == "https";
        c->prefix = m_base.substr(slash);
        c->session.reset(
            InternetOpenA("Skiv Addon Delta", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        std::uint16_t port = static_cast<std::uint16_t>(parts.port);
        if (port == 0)
            port = c->https ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        if (c->session)
            c->connection.reset(InternetConnectA(c->session.get(), parts.host.c_str(), port,
                                                 nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        if (!c->connection) {
            m_log.Write("[Delta]Connect Fail:(%u)", static_cast<unsigned>(GetLastError()));
            return ResultCode::HttpException;
        }
        m_conn = std::move(c);
    }
    std::uint32_t flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                          INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI;
    if (m_conn->https)
        flags |= INTERNET_FLAG_SECURE;
    const char* accept[] = {"*/*", nullptr};
    const std::string object = m_conn->prefix + path;
    http::InternetHandle request(HttpOpenRequestA(m_conn->connection.get(), verb, object.c_str(),
                                                  "HTTP/1.1", nullptr, accept, flags, 0));
    static constexpr char kType[] = "Content-Type: application/octet-stream\r\n";
    if (!request ||
        !HttpSendRequestA(request.get(), body ? kType : nullptr, body ? sizeof kType - 1 : 0,
                          const_cast<void*>(body), static_cast<DWORD>(size))) {
        m_log.Write("[Delta]%s %s Fail:(%u)", verb, path.c_str(),
                    static_cast<unsigned>(GetLastError()));
        return ResultCode::HttpException;
    }
    DWORD code = 0, len = sizeof code;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &len,
                        nullptr)) {
        m_log.Write("[Delta]%s %s Fail:(%u)", verb, path.c_str(),
                    static_cast<unsigned>(GetLastError()));
        return ResultCode::HttpException;
    }
    status = code;
    char chunk[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), chunk, sizeof chunk, &got)) {
            m_log.Write("[Delta]%s %s Read Fail:(%u)", verb, path.c_str(),
                        static_cast<unsigned>(GetLastError()));
            return ResultCode::HttpException;
        }
        if (got == 0)
            break;
        if (got > maxReply - reply.size()) {
            m_log.Write("[Delta]%s %s Reply Too Long", verb, path.c_str());
            return ResultCode::AllocFailed;
        }
        reply.append(chunk, got);
    }
    return ResultCode::Ok;
}

namespace {

// The first line of a refusal, for the log.
std::string Reason(const std::string& reply) {
    std::string line = reply.substr(0, reply.find('\n'));
    return line.substr(0, 200);
}

// A save's refusals by status, as the classic upload reports them.
ResultCode SaveRefusal(std::uint32_t status) {
    if (status == 413)
        return ResultCode::UploadTooLarge;
    if (status == 401 || status == 403)
        return ResultCode::UploadNotAuthenticated;
    return ResultCode::HttpStatus;
}

}  // namespace

ResultCode DeltaClient::PostMissing(const std::string& manifest, std::string& token,
                                    std::vector<std::string>& missing) {
    std::uint32_t status = 0;
    std::string reply;
    ResultCode r =
        Request("POST", "missing", manifest.data(), manifest.size(), status, reply, kMaxTextReply);
    if (r != ResultCode::Ok)
        return r;
    if (status != 200) {
        m_log.Write("[Delta]missing Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return SaveRefusal(status);
    }
    missing.clear();
    std::istringstream in(reply);
    std::string line;
    if (!std::getline(in, line) || line.rfind("upload ", 0) != 0 || line.size() <= 7) {
        m_log.Write("[Delta]missing Invalid Resp");
        return ResultCode::DeltaBadManifest;
    }
    token = line.substr(7);
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (!IsSha256Hex(line)) {
            m_log.Write("[Delta]missing Invalid Resp");
            return ResultCode::DeltaBadManifest;
        }
        missing.push_back(line);
    }
    return ResultCode::Ok;
}

ResultCode DeltaClient::PutPiece(const std::string& token, const std::string& sha256,
                                 const std::vector<std::uint8_t>& bytes) {
    std::uint32_t status = 0;
    std::string reply;
    ResultCode r = Request("PUT", "piece/" + sha256 + "?upload=" + PercentEncode(token),
                           bytes.data(), bytes.size(), status, reply, kMaxTextReply);
    if (r != ResultCode::Ok)
        return r;
    if (status != 201 && status != 200) {
        m_log.Write("[Delta]piece Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return SaveRefusal(status);
    }
    return ResultCode::Ok;
}

ResultCode DeltaClient::Commit(const std::string& token, int fileType, const std::string& flavor,
                               const std::string& gameVersion) {
    std::uint32_t status = 0;
    std::string reply;
    std::string target = "commit/" + PercentEncode(token) + "?type=" + std::to_string(fileType);
    if (!flavor.empty()) {
        target += "&flavor=" + PercentEncode(flavor);
        if (!gameVersion.empty())
            target += "&gameversion=" + PercentEncode(gameVersion);
    }
    ResultCode r = Request("POST", target, nullptr, 0, status, reply, kMaxTextReply);
    if (r != ResultCode::Ok)
        return r;
    if (status != 200) {
        m_log.Write("[Delta]commit Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return SaveRefusal(status);
    }
    return ValidateUploadResponse(reply.empty() ? nullptr : reply.c_str(), m_log);
}

ResultCode DeltaClient::Versions(std::vector<VersionInfo>& out) {
    out.clear();
    std::uint32_t status = 0;
    std::string reply;
    ResultCode r = Request("GET", "versions", nullptr, 0, status, reply, kMaxTextReply);
    if (r != ResultCode::Ok)
        return r;
    if (status != 200) {
        m_log.Write("[Delta]versions Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return ResultCode::HttpStatus;
    }
    std::istringstream in(reply);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        auto w = Words(line, '\t');
        VersionInfo v;
        std::int64_t n = 0;
        if (w.size() != 6 || !ParseInt(w[0], n) || !ParseInt(w[1], v.time) ||
            !ParseInt(w[2], v.packageBytes) || !ParseInt(w[3], v.files) ||
            !ParseInt(w[4], v.changed)) {
            m_log.Write("[Delta]versions Invalid Resp");
            return ResultCode::DeltaBadManifest;
        }
        v.number = static_cast<int>(n);
        // The computer name travels as the manifest carried it.
        if (!PercentDecode(w[5], v.computer))
            v.computer = w[5];
        out.push_back(std::move(v));
    }
    return ResultCode::Ok;
}

ResultCode DeltaClient::GetManifest(int n, Manifest& out) {
    std::uint32_t status = 0;
    std::string reply;
    ResultCode r =
        Request("GET", "manifest/" + std::to_string(n), nullptr, 0, status, reply, kMaxTextReply);
    if (r != ResultCode::Ok)
        return r;
    if (status == 404) {
        m_log.Write("[Delta]manifest No Version:(%d)", n);
        return ResultCode::DeltaNoVersion;
    }
    if (status != 200) {
        m_log.Write("[Delta]manifest Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return ResultCode::HttpStatus;
    }
    if (!ParseManifest(reply, out)) {
        m_log.Write("[Delta]manifest Invalid Resp");
        return ResultCode::DeltaBadManifest;
    }
    return ResultCode::Ok;
}

ResultCode DeltaClient::GetPiece(const ManifestPiece& piece, std::vector<std::uint8_t>& out) {
    std::uint32_t status = 0;
    std::string reply;
    ResultCode r = Request("GET", "piece/" + piece.sha256, nullptr, 0, status, reply,
                           static_cast<std::size_t>(piece.bytes) + 1);
    if (r == ResultCode::AllocFailed)
        r = ResultCode::DeltaPieceMismatch;
    if (r != ResultCode::Ok)
        return r;
    if (status != 200) {
        m_log.Write("[Delta]piece Resp Status Error:(%u:%s)", status, Reason(reply).c_str());
        return ResultCode::HttpStatus;
    }
    if (static_cast<std::int64_t>(reply.size()) != piece.bytes ||
        Sha256::HexOf(reply.data(), reply.size()) != piece.sha256) {
        m_log.Write("[Delta]piece Mismatch:(%s)", piece.sha256.c_str());
        return ResultCode::DeltaPieceMismatch;
    }
    out.assign(reply.begin(), reply.end());
    return ResultCode::Ok;
}

}  // namespace skiv
