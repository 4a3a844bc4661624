#include "support/cut_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace skiv::test {

namespace {

// Sends all bytes; false when the peer is gone.
bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

CutProxy::CutProxy() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 64) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0) {
        throw std::runtime_error("cut proxy: cannot listen");
    }
    m_port = ntohs(addr.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

CutProxy::~CutProxy() {
    m_stop = true;
    char c = 0;
    ssize_t n = ::write(m_wake[1], &c, 1);
    (void)n;
    m_acceptor.join();
    for (auto& t : m_relays)
        t.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

void CutProxy::AcceptLoop() {
    while (!m_stop) {
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0)
            continue;
        if (p[1].revents)
            break;
        int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard g(m_lock);
        m_relays.emplace_back([this, client] { Relay(client); });
    }
}

void CutProxy::Relay(int client) {
    int service = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(m_target.load()));
    if (service < 0 || ::connect(service, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (service >= 0)
            ::close(service);
        ::close(client);
        return;
    }
    // [0]: client -> service (up), [1]: service -> client (down).
    const int from[2] = {client, service}, to[2] = {service, client};
    std::uint64_t carried[2] = {0, 0};
    bool open[2] = {true, true};
    char buf[16 * 1024];
    bool cut = false;
    while (!m_stop && !cut && (open[0] || open[1])) {
        pollfd p[3] = {{open[0] ? from[0] : -1, POLLIN, 0},
                       {open[1] ? from[1] : -1, POLLIN, 0},
                       {m_wake[0], POLLIN, 0}};
        if (::poll(p, 3, -1) < 0)
            continue;
        if (p[2].revents)
            break;
        for (int d = 0; d < 2 && !cut; ++d) {
            if (!p[d].revents)
                continue;
            ssize_t n = ::recv(from[d], buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // One side finished sending: pass the half-close on.
                ::shutdown(to[d], SHUT_WR);
                open[d] = false;
                continue;
            }
            const std::uint64_t limit = d == 0 ? m_upLimit.load() : m_downLimit.load();
            std::size_t pass = static_cast<std::size_t>(n);
            if (limit > 0 && carried[d] + pass >= limit) {
                pass = static_cast<std::size_t>(limit - std::min(limit, carried[d]));
                cut = true;
            }
            if (!SendAll(to[d], buf, pass))
                open[d] = false;
            carried[d] += pass;
        }
    }
    if (cut)
        ++m_cuts;
    ::close(client);
    ::close(service);
}

}  // namespace skiv::test
