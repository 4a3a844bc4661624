#pragma once
// A loopback TCP relay that cuts connections: it forwards bytes between a
// client and a service as they come and closes both sides of a connection
// once it has carried a set number of bytes in one direction, as a dropped
// line would. It knows nothing of TLS; the bytes pass through untouched.
//
//   CutProxy proxy;                        // listening at once
//   ServiceLauncher svc({"--public-url", "https://127.0.0.1:" + port(proxy)});
//   proxy.SetTarget(svc.Port());
//   proxy.CutUpstreamAfter(200000);        // every connection sending more is cut
//
// Limits apply per connection, so short exchanges (a login) pass while a
// long upload or download is cut. Thread-safe; the destructor closes every
// connection and joins its threads.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace skiv::test {

class CutProxy {
public:
    CutProxy();
    ~CutProxy();
    CutProxy(const CutProxy&) = delete;
    CutProxy& operator=(const CutProxy&) = delete;

    int Port() const { return m_port; }
    // Where new connections go (a port on 127.0.0.1).
    void SetTarget(int port) { m_target = port; }
    // 0 lifts the limit. Connections already open use the new limit from
    // their next read.
    void CutUpstreamAfter(std::uint64_t bytes) { m_upLimit = bytes; }
    void CutDownstreamAfter(std::uint64_t bytes) { m_downLimit = bytes; }
    // Connections cut so far because of a limit.
    int Cuts() const { return m_cuts; }

private:
    void AcceptLoop();
    void Relay(int client);

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::atomic<int> m_target{0};
    std::atomic<std::uint64_t> m_upLimit{0}, m_downLimit{0};
    std::atomic<int> m_cuts{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::thread> m_relays;
    std::thread m_acceptor;
};

}  // namespace skiv::test
