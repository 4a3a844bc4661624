#pragma once
// A scripted HTTP listener on 127.0.0.1 for wire tests: it records the exact
// bytes each request brings and answers with scripted bytes, well-behaved or
// not. Plain TCP, or TLS with a certificate made for the test (TestPki).
//
//   skiv::test::WireServer server;                       // listens at once
//   server.Push({.reply = WireServer::Reply(200, "OK", "hello")});
//   ... client talks to server.Url("/path") ...
//   std::string request = server.WaitRequest(0);          // head + body bytes
//
// Each request takes the next pushed Script (in arrival order); without one
// it gets "500 No script". A request is complete when its head has arrived
// and its body as announced by Content-Length (or chunked framing) too;
// what arrived before a connection ended is recorded as it is.
// Connections are served by a thread each; the destructor stops everything,
// including scripts that wait or never answer.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace skiv::test {

// A CA and a server certificate, made with the openssl command in a folder
// of the caller's (which must exist). alt_names is the certificate's
// subjectAltName list.
struct TestPki {
    std::string ca_cert;      // PEM: what SKIVADDON_CA_FILE should name
    std::string server_cert;  // PEM chain served by the listener
    std::string server_key;
};
// Throws std::runtime_error when the openssl command fails.
TestPki MakeTestPki(const std::string& folder, const std::string& name = "test",
                    const std::string& alt_names = "IP:127.0.0.1,DNS:localhost");

class WireServer {
public:
    static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

    struct Script {
        std::string reply;                   // bytes sent back
        std::size_t send_bytes = kAll;       // send only the first N bytes of reply
        bool close_after = true;             // close the connection once replied
        std::chrono::milliseconds delay{0};  // wait this long before replying
        bool never_answer = false;           // take the request, say nothing, hold the line
        bool answer_after_head = false;      // reply once the head is in, then drain the body
    };

    // Plain TCP.
    WireServer();
    // TLS with the given certificate chain and key (PEM files).
    WireServer(const std::string& cert_file, const std::string& key_file);
    ~WireServer();
    WireServer(const WireServer&) = delete;
    WireServer& operator=(const WireServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path (https for a TLS server).
    std::string Url(const std::string& path = "/") const;

    void Push(Script script);

    // The index-th complete request's bytes, waiting up to timeout for it;
    // throws std::runtime_error when it does not come.
    std::string WaitRequest(std::size_t index,
                            std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Requests recorded so far (complete or cut).
    std::vector<std::string> Requests() const;
    // Connections accepted so far (TLS: handshakes completed).
    std::size_t Connections() const;
    // Successful socket (or TLS record) reads so far: how finely a client
    // chopped what it sent.
    std::size_t Reads() const;

    // A reply with a Content-Length that matches the body.
    static std::string Reply(int status, const std::string& reason, const std::string& body,
                             const std::string& extra_headers = "");
    // A reply that announces declared bytes but carries only body.
    static std::string ShortReply(const std::string& body, std::size_t declared);

    // The head (up to and including the blank line) and the body of a
    // recorded request.
    static std::string HeadOf(const std::string& request);
    static std::string BodyOf(const std::string& request);

private:
    struct Impl;
    void Start();
    void AcceptLoop();
    void Serve(int fd);

    std::unique_ptr<Impl> m_impl;
    std::uint16_t m_port = 0;
    bool m_tls = false;
};

}  // namespace skiv::test
