#include "http_front.h"

#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <stdexcept>

#include "form_fields.h"
#include "log_text.h"
#include "member_desk.h"
#include "registration_page.h"
#include "tag_reply.h"
#include "tls_material.h"
#include "upload_receiver.h"

namespace skiv::server {

namespace {

constexpr std::size_t kMaxFormBody = 16 * 1024;
constexpr const char* kTagType = "text/plain; charset=utf-8";
constexpr const char* kLoginPath = R"(/skivaddon/actskivaddonlogin\.aspx)";
constexpr const char* kUploadPath = R"(/skivaddon/upload\.aspx)";
constexpr const char* kDownloadPath = R"(/skivaddon/dl/([0-9a-f]{64})/([A-Za-z0-9_-]{1,64})\.cab)";
constexpr const char* kRegisterPath = R"(/Member/Common/frmMemberRegist\.aspx)";

// Per request, on the worker thread that serves it: when it started and a
// note for the log line. The library calls the pre-routing hook and the
// logger on the same thread as the handler.
thread_local std::optional<std::chrono::steady_clock::time_point> t_started;
thread_local std::string t_note;

// Reads a small form body, refusing anything longer than kMaxFormBody.
std::optional<std::string> ReadSmallBody(const httplib::Request& req,
                                         const httplib::ContentReader& reader) {
    if (req.is_multipart_form_data())
        return std::nullopt;
    std::string body;
    bool ok = reader([&](const char* data, std::size_t n) {
        if (body.size() + n > kMaxFormBody)
            return false;
        body.append(data, n);
        return true;
    });
    if (!ok)
        return std::nullopt;
    return body;
}

void TagReply(httplib::Response& res, const std::string& text) {
    res.status = 200;
    res.set_content(text, kTagType);
}

// The request line for the log: the capability in a download path is a
// secret and is left out; query strings are never logged.
std::string LoggedPath(const std::string& path) {
    static const std::string prefix = "/skivaddon/dl/";
    if (path.compare(0, prefix.size(), prefix) == 0) {
        std::size_t slash = path.find('/', prefix.size());
        return prefix + "*" + (slash == std::string::npos ? "" : path.substr(slash));
    }
    return path;
}

void SetPageHeaders(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                   "frame-ancestors 'none'");
}

void SendPage(httplib::Response& res, const RegistrationPage::Reply& page) {
    res.status = page.status;
    SetPageHeaders(res);
    if (!page.setCookie.empty())
        res.set_header("Set-Cookie", page.setCookie);
    res.set_content(page.html, "text/html; charset=utf-8");
}

std::optional<std::string> RegistrationCookie(const httplib::Request& req) {
    if (!req.has_header("Cookie"))
        return std::nullopt;
    return CookieValue(req.get_header_value("Cookie"), RegistrationPage::kCookie);
}

void LogRequest(const httplib::Request& req, const httplib::Response& res) {
    long long ms = 0;
    if (t_started) {
        ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - *t_started)
                 .count();
    }
    unsigned long long bytes = res.body.size();
    if (bytes == 0 && res.has_header("Content-Length"))
        bytes = std::strtoull(res.get_header_value("Content-Length").c_str(), nullptr, 10);
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(stderr, "%s %s %s %s %d %lluB %lldms%s%s\n", stamp, req.remote_addr.c_str(),
                 EscapeForLog(req.method).c_str(), EscapeForLog(LoggedPath(req.path)).c_str(),
                 res.status, bytes, ms, t_note.empty() ? "" : " ", EscapeForLog(t_note).c_str());
    std::fflush(stderr);
    t_started.reset();
    t_note.clear();
}

}  // namespace

struct HttpFront::Impl {
    Impl(MemberDesk& d, RegistrationPage& p, FrontConfig c)
        : desk(d),
          page(p),
          config(std::move(c)),
          server(config.certFile.c_str(), config.keyFile.c_str()) {}

    void Routes();
    void Login(const httplib::Request& req, httplib::Response& res,
               const httplib::ContentReader& reader);
    void Upload(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader);
    void Download(const httplib::Request& req, httplib::Response& res);

    MemberDesk& desk;
    RegistrationPage& page;
    FrontConfig config;
    httplib::SSLServer server;
};

void HttpFront::Impl::Login(const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader) {
    std::optional<std::string> body = ReadSmallBody(req, reader);
    if (!body) {
        res.set_header("Connection", "close");
        t_note = "login error 1";
        return TagReply(res,
                        ErrorReply(static_cast<int>(LoginError::Malformed), text::kLoginMalformed));
    }
    auto fields = ParseForm(*body);
    auto get = [&](const char* name) -> std::optional<std::string> {
        auto it = fields.find(name);
        if (it == fields.end())
            return std::nullopt;
        return it->second;
    };
    std::string reply = desk.Login(get("avsMemberID"), get("avsPassword"), req.remote_addr);
    // The error number is the reply's first tag; note it for the log.
    std::size_t open = reply.find("<error>"), close = reply.find("</error>");
    if (open != std::string::npos && close != std::string::npos)
        t_note = "login error " + reply.substr(open + 7, close - open - 7);
    TagReply(res, reply);
}

void HttpFront::Impl::Upload(const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& reader) {
    UploadReceiver receiver(desk);
    bool complete = false;
    if (req.is_multipart_form_data()) {
        complete = reader(
            [&](const httplib::MultipartFormData& part) {
                return receiver.BeginPart(part.name, part.filename);
            },
            [&](const char* data, std::size_t n) { return receiver.Data(data, n); });
    }
    std::string reply = receiver.Finish(complete);
    if (!complete)
        res.set_header("Connection", "close");
    t_note = "upload error " + std::to_string(static_cast<int>(receiver.outcome()));
    if (receiver.outcome() != UploadError::Ok)
        t_note += " (" + receiver.detail() + ")";
    TagReply(res, reply);
}

void HttpFront::Impl::Download(const httplib::Request& req, httplib::Response& res) {
    const std::string capability = req.matches[1];
    const std::string id = req.matches[2];
    std::optional<StoredPackage> package;
    MemberDesk::Download result;
    try {
        result = desk.OpenDownload(id, capability, package);
    } catch (const std::exception& e) {
        t_note = std::string("download fault: ") + e.what();
        res.status = 500;
        res.set_content("service fault\n", "text/plain");
        return;
    }
    if (result == MemberDesk::Download::Forbidden) {
        res.status = 403;
        res.set_content("forbidden\n", "text/plain");
        return;
    }
    if (result == MemberDesk::Download::NothingStored) {
        res.status = 404;
        res.set_content("nothing stored\n", "text/plain");
        return;
    }
    auto file = std::make_shared<StoredPackage>(std::move(*package));
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    if (file->size == 0) {
        res.set_content("", "application/octet-stream");
        return;
    }
    res.set_content_provider(
        static_cast<std::size_t>(file->size), "application/octet-stream",
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            char buf[64 * 1024];
            std::size_t want = std::min(length, sizeof buf);
            ssize_t n = ::pread(file->file.fd(), buf, want, static_cast<off_t>(offset));
            if (n <= 0)
                return false;  // the file shrank: end the connection
            sink.write(buf, static_cast<std::size_t>(n));
            return true;
        });
}

void HttpFront::Impl::Routes() {
    server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_started = std::chrono::steady_clock::now();
        t_note.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_logger(LogRequest);
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            try {
                if (ep)
                    std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                t_note = std::string("exception: ") + e.what();
            } catch (...) {
                t_note = "exception";
            }
            res.status = 500;
            res.set_content("service fault\n", "text/plain");
        });

    server.Post(kLoginPath,
                [this](const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) { Login(req, res, reader); });
    server.Post(kUploadPath,
                [this](const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) { Upload(req, res, reader); });
    server.Get(kDownloadPath,
               [this](const httplib::Request& req, httplib::Response& res) { Download(req, res); });
    server.Get(kRegisterPath, [this](const httplib::Request& req, httplib::Response& res) {
        SendPage(res, page.Show(RegistrationCookie(req)));
    });
    server.Post(kRegisterPath, [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& reader) {
        std::optional<std::string> body = ReadSmallBody(req, reader);
        if (!body) {
            res.set_header("Connection", "close");
            res.status = 400;
            res.set_content("bad form\n", "text/plain");
            return;
        }
        SendPage(res, page.Submit(*body, RegistrationCookie(req), req.remote_addr));
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        SetPageHeaders(res);
        res.set_content(
            "<!DOCTYPE html><html lang=\"ko\"><head><meta charset=\"utf-8\">"
            "<title>Kelbo Skiv Addon</title></head><body><p>Kelbo Skiv Addon 회원 서비스</p>"
            "<p><a href=\"/Member/Common/frmMemberRegist.aspx\">회원가입</a></p></body></html>\n",
            "text/html; charset=utf-8");
    });
}

HttpFront::HttpFront(MemberDesk& desk, RegistrationPage& page, FrontConfig config)
    : m_impl(std::make_unique<Impl>(desk, page, std::move(config))) {
    if (!m_impl->server.is_valid())
        throw std::runtime_error("cannot use certificate " + m_impl->config.certFile +
                                 " with key " + m_impl->config.keyFile);
    auto& s = m_impl->server;
    ApplyTlsPolicy(s.ssl_context());
    const int threads = m_impl->config.threads;
    s.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    s.set_read_timeout(30);
    s.set_write_timeout(30);
    s.set_keep_alive_timeout(5);
    // Uploads above the limit are read and dropped (so the client can read
    // the "too large" answer) up to about twice the limit; past that the
    // library refuses the request outright.
    s.set_payload_max_length(static_cast<std::size_t>(2 * m_impl->config.maxPackageBytes) +
                             (2u << 20));
    m_impl->Routes();
}

HttpFront::~HttpFront() = default;

int HttpFront::Bind() {
    auto& s = m_impl->server;
    const auto& c = m_impl->config;
    int port = c.port;
    if (port == 0) {
        port = s.bind_to_any_port(c.host);
        if (port < 0)
            throw std::runtime_error("cannot listen on " + c.host);
    } else if (!s.bind_to_port(c.host, port)) {
        throw std::runtime_error("cannot listen on " + c.host + ":" + std::to_string(port));
    }
    return port;
}

bool HttpFront::Run() {
    return m_impl->server.listen_after_bind();
}

void HttpFront::Stop() {
    m_impl->server.stop();
}

}  // namespace skiv::server
