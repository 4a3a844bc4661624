#pragma once
// The HTTPS face of the service: routes, limits, the request log. This is
// the only part that sees the HTTP library; everything it serves comes
// from MemberDesk, RegistrationPage and UploadGate.
//
// Routes:
//   POST /skivaddon/actskivaddonlogin.aspx     login (form), tag reply
//   POST /skivaddon/upload.aspx?k=PASS         package upload (multipart), tag reply
//   GET  /skivaddon/dl/<capability>/<ID>.cab   the stored package
//   *    /skivaddon/delta/<capability>/...     the delta exchanges (http_delta.cpp)
//   GET/POST /Member/Common/frmMemberRegist.aspx  registration page
//
// Threads: connections are served by event-loop threads that never block
// on a password hash, an fsync or a database lock; that work goes to two
// bounded worker pools. Stop() may be called from any thread (a signal
// watcher) and makes Run() return once the requests in flight have ended
// (or after a grace period).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skiv::server {

class DeltaDesk;
class MemberDesk;
class RegistrationPage;
class UploadGate;

struct FrontConfig {
    std::string host = "127.0.0.1";
    int port = 8443;  // 0 picks a free port
    std::string certFile;
    std::string keyFile;
    std::int64_t maxPackageBytes = 64ll << 20;
    int threads = 0;      // event-loop threads; 0 = one per core
    int workers = 0;      // threads of each worker pool; 0 = one per core
    int hashQueue = 128;  // password checks waiting at most; more answer "busy"
    int maxConnections = 4096;
    int maxConnectionsPerAddress = 64;
    int headSeconds = 10;   // TLS handshake plus the first request head
    int idleSeconds = 5;    // keep-alive wait plus each later request head
    int writeSeconds = 30;  // a reply piece that cannot be sent for this long
    std::size_t maxHeaderBytes = 16 * 1024;
    int maxHeaderFields = 100;
    // A body that brings less than floorBytes within floorSeconds is cut.
    std::int64_t bodyFloorBytes = 40 * 1024;
    int bodyFloorSeconds = 10;
    // Reverse proxies (canonical address texts) whose requests carry the
    // client's address in X-Forwarded-For; their connections are not held
    // to maxConnectionsPerAddress, which the proxy applies per client.
    std::vector<std::string> trustedProxies;
};

class HttpFront {
public:
    // Throws std::runtime_error when the certificate or key cannot be used.
    HttpFront(MemberDesk& desk, RegistrationPage& page, UploadGate& gate, FrontConfig config);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Serves the delta routes from `delta` (which must outlive the front).
    // Only before Run().
    void SetDelta(DeltaDesk* delta);

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
