#pragma once
// The HTTPS face of the service: routes, limits, the request log. This is
// the only part that sees the HTTP library; everything it serves comes
// from MemberDesk and RegistrationPage.
//
// Routes:
//   POST /skivaddon/actskivaddonlogin.aspx     login (form), tag reply
//   POST /skivaddon/upload.aspx                package upload (multipart), tag reply
//   GET  /skivaddon/dl/<capability>/<ID>.cab   the stored package
//   GET/POST /Member/Common/frmMemberRegist.aspx  registration page
//
// Threads: requests run on a pool of worker threads; Stop() may be called
// from any thread (a signal watcher) and makes Run() return after the
// requests in flight have ended.

#include <cstdint>
#include <memory>
#include <string>

namespace skiv::server {

class MemberDesk;
class RegistrationPage;

struct FrontConfig {
    std::string host = "127.0.0.1";
    int port = 8443;  // 0 picks a free port
    std::string certFile;
    std::string keyFile;
    std::int64_t maxPackageBytes = 64ll << 20;
    int threads = 8;
};

class HttpFront {
public:
    // Throws std::runtime_error when the certificate or key cannot be used.
    HttpFront(MemberDesk& desk, RegistrationPage& page, FrontConfig config);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Binds and listens; returns the port. Throws std::runtime_error.
    int Bind();
    // Serves until Stop(). Returns false when the listener failed.
    bool Run();
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace skiv::server
