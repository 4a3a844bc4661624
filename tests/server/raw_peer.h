#pragma once
// A peer that drives the service's socket by hand: from a chosen loopback
// address, with or without TLS, as slowly or as badly as a test wants.
// Blocking calls; every wait has a bound.

#include <openssl/ssl.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace skiv::test {

class RawPeer {
public:
    // Connects from `source` (any 127.x.y.z) to 127.0.0.1:port; throws
    // std::runtime_error when it cannot.
    explicit RawPeer(int port, const std::string& source = "127.0.0.1");
    ~RawPeer();
    RawPeer(RawPeer&& other) noexcept;
    RawPeer& operator=(RawPeer&&) = delete;
    RawPeer(const RawPeer&) = delete;

    // Plain bytes on the socket; false once the service closed or reset it.
    bool SendRaw(std::string_view bytes);
    // A whole TLS handshake (the certificate is not checked); false on failure.
    bool StartTls();
    // Bytes over TLS; false once the connection is gone.
    bool Send(std::string_view bytes);
    // Reads over TLS until the service closes or `seconds` pass.
    std::string ReadUntilClosed(double seconds);
    // Reads over TLS until `marker` has arrived, the service closes, or
    // `seconds` pass; returns what arrived.
    std::string ReadUntil(std::string_view marker, double seconds);

    int fd() const { return m_fd; }
    std::chrono::steady_clock::time_point opened() const { return m_opened; }

private:
    int m_fd = -1;
    SSL* m_ssl = nullptr;
    std::chrono::steady_clock::time_point m_opened;
};

// Waits until the service has closed every peer (end of stream or reset),
// reading and dropping whatever arrives. Returns, for each peer, the
// seconds from its opening to the close seen, or a negative number when
// it was still open after `seconds`.
std::vector<double> WaitForCloses(std::vector<RawPeer>& peers, double seconds);

// Raises this process's open-file limit to its hard limit.
void RaiseFileLimit();

// A figure of the running service from /proc/PID/status ("VmRSS",
// "VmHWM"), in bytes.
long long ProcessBytes(int pid, const std::string& field);

}  // namespace skiv::test
