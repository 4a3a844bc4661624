#include "raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace skiv::test {

namespace {

using Clock = std::chrono::steady_clock;

SSL_CTX* ClientContext() {
    static SSL_CTX* ctx = [] {
        SSL_CTX* c = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        return c;
    }();
    return ctx;
}

double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Waits for `fd` to be readable; false when `seconds` pass first.
bool Readable(int fd, double seconds) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(seconds * 1000)) > 0;
}

}  // namespace

RawPeer::RawPeer(int port, const std::string& source) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        const int err = errno;
        ::close(m_fd);
        throw std::runtime_error("connect from " + source + ": " + std::strerror(err));
    }
    m_opened = Clock::now();
    // No blocking call waits longer than this (a handshake the service
    // never answers, a send it never reads).
    timeval limit{20, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

RawPeer::RawPeer(RawPeer&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_ssl(std::exchange(other.m_ssl, nullptr)),
      m_opened(other.m_opened) {}

RawPeer::~RawPeer() {
    if (m_ssl)
        SSL_free(m_ssl);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool RawPeer::SendRaw(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RawPeer::StartTls() {
    m_ssl = SSL_new(ClientContext());
    SSL_set_fd(m_ssl, m_fd);
    return SSL_connect(m_ssl) == 1;
}

bool RawPeer::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        int n = SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()));
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string RawPeer::ReadUntil(std::string_view marker, double seconds) {
    std::string got;
    const Clock::time_point start = Clock::now();
    char buf[16384];
    while (Since(start) < seconds) {
        if (SSL_pending(m_ssl) == 0 && !Readable(m_fd, seconds - Since(start)))
            break;
        int n = SSL_read(m_ssl, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, static_cast<std::size_t>(n));
        if (!marker.empty() && got.find(marker) != std::string::npos)
            break;
    }
    return got;
}

std::string RawPeer::ReadUntilClosed(double seconds) {
    return ReadUntil({}, seconds);
}

std::vector<double> WaitForCloses(std::vector<RawPeer>& peers, double seconds) {
    std::vector<double> closedAfter(peers.size(), -1.0);
    std::vector<pollfd> fds(peers.size());
    for (std::size_t i = 0; i < peers.size(); ++i)
        fds[i] = pollfd{peers[i].fd(), POLLIN, 0};
    std::size_t open = peers.size();
    const Clock::time_point start = Clock::now();
    char buf[16384];
    while (open > 0 && Since(start) < seconds) {
        if (::poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            // Raw reads: TLS records are dropped unread, only the end counts.
            ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                closedAfter[i] = Since(peers[i].opened());
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return closedAfter;
}

void RaiseFileLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

long long ProcessBytes(int pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stoll(line.substr(field.size() + 1)) * 1024;  // kB
    }
    return -1;
}

}  // namespace skiv::test
