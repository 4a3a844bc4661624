#include "support/wire_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace skiv::test {

namespace {

// One accepted connection, plain or TLS; closes itself.
class Line {
public:
    Line(int fd, SSL* ssl, std::atomic<std::size_t>* reads)
        : m_fd(fd), m_ssl(ssl), m_reads(reads) {}
    ~Line() {
        if (m_ssl != nullptr) {
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
        }
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Appends what arrives; false at the end of the stream or on an error.
    bool ReadMore(std::string* into) {
        char chunk[16384];
        const long n = m_ssl != nullptr ? SSL_read(m_ssl, chunk, sizeof chunk)
                                        : ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        ++*m_reads;
        into->append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    bool WriteAll(const char* data, std::size_t size) {
        while (size > 0) {
            const long n = m_ssl != nullptr ? SSL_write(m_ssl, data, static_cast<int>(size))
                                            : ::send(m_fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int m_fd;
    SSL* m_ssl;
    std::atomic<std::size_t>* m_reads;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// The value of a header in a request head (first occurrence), or "".
std::string HeaderValue(const std::string& head, const std::string& name) {
    const std::string lower = Lower(head);
    const std::string key = "\r\n" + Lower(name) + ":";
    const auto at = lower.find(key);
    if (at == std::string::npos) {
        return {};
    }
    auto begin = at + key.size();
    auto end = head.find("\r\n", begin);
    while (begin < end && (head[begin] == ' ' || head[begin] == '\t')) {
        ++begin;
    }
    return head.substr(begin, end - begin);
}

// Length of a complete chunked body starting at start, or npos.
std::size_t ChunkedLength(const std::string& buf, std::size_t start) {
    std::size_t pos = start;
    for (;;) {
        const auto eol = buf.find("\r\n", pos);
        if (eol == std::string::npos) {
            return std::string::npos;
        }
        const unsigned long size = std::strtoul(buf.substr(pos, eol - pos).c_str(), nullptr, 16);
        pos = eol + 2;
        if (size == 0) {
            const auto end = buf.find("\r\n", pos);
            if (end == std::string::npos) {
                return std::string::npos;
            }
            if (end == pos) {
                return end + 2 - start;
            }
            const auto trailers = buf.find("\r\n\r\n", pos);
            return trailers == std::string::npos ? std::string::npos : trailers + 4 - start;
        }
        if (buf.size() < pos + size + 2) {
            return std::string::npos;
        }
        pos += size + 2;
    }
}

}  // namespace

struct WireServer::Impl {
    int listen_fd = -1;
    SSL_CTX* ctx = nullptr;
    std::thread acceptor;
    mutable std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;
    std::deque<Script> scripts;
    std::vector<std::string> requests;
    std::size_t connections = 0;
    std::atomic<std::size_t> reads{0};
    std::vector<int> open_fds;
    std::vector<std::thread> workers;

    Script NextScript() {
        std::lock_guard guard(lock);
        if (scripts.empty()) {
            return Script{.reply = Reply(500, "No script", "")};
        }
        Script s = std::move(scripts.front());
        scripts.pop_front();
        return s;
    }
    void Record(std::string request) {
        {
            std::lock_guard guard(lock);
            requests.push_back(std::move(request));
        }
        changed.notify_all();
    }
    // Waits for the stop or the time, whichever comes first; true if stopping.
    bool Pause(std::chrono::milliseconds wait) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, wait, [this] { return stopping; });
    }
    void WaitForStop() {
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return stopping; });
    }
};

WireServer::WireServer() : m_impl(std::make_unique<Impl>()) {
    Start();
}

WireServer::WireServer(const std::string& cert_file, const std::string& key_file)
    : m_impl(std::make_unique<Impl>()), m_tls(true) {
    m_impl->ctx = SSL_CTX_new(TLS_server_method());
    if (m_impl->ctx == nullptr ||
        SSL_CTX_use_certificate_chain_file(m_impl->ctx, cert_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_impl->ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        if (m_impl->ctx != nullptr) {
            SSL_CTX_free(m_impl->ctx);
        }
        throw std::runtime_error("WireServer: cannot load " + cert_file + " / " + key_file);
    }
    Start();
}

void WireServer::Start() {
    std::signal(SIGPIPE, SIG_IGN);
    m_impl->listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (m_impl->listen_fd < 0 ||
        ::bind(m_impl->listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_impl->listen_fd, 16) != 0 ||
        ::getsockname(m_impl->listen_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("WireServer: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(addr.sin_port);
    m_impl->acceptor = std::thread([this] { AcceptLoop(); });
}

WireServer::~WireServer() {
    {
        std::lock_guard guard(m_impl->lock);
        m_impl->stopping = true;
        for (int fd : m_impl->open_fds) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    m_impl->changed.notify_all();
    ::shutdown(m_impl->listen_fd, SHUT_RDWR);
    m_impl->acceptor.join();
    ::close(m_impl->listen_fd);
    std::vector<std::thread> workers;
    {
        std::lock_guard guard(m_impl->lock);
        workers.swap(m_impl->workers);
    }
    for (auto& worker : workers) {
        worker.join();
    }
    if (m_impl->ctx != nullptr) {
        SSL_CTX_free(m_impl->ctx);
    }
}

void WireServer::AcceptLoop() {
    for (;;) {
        const int fd = ::accept4(m_impl->listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard guard(m_impl->lock);
        if (m_impl->stopping) {
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        if (fd < 0) {
            continue;
        }
        m_impl->open_fds.push_back(fd);
        m_impl->workers.emplace_back([this, fd] { Serve(fd); });
    }
}

void WireServer::Serve(int fd) {
    SSL* ssl = nullptr;
    bool ok = true;
    if (m_tls) {
        ssl = SSL_new(m_impl->ctx);
        ok = ssl != nullptr && SSL_set_fd(ssl, fd) == 1 && SSL_accept(ssl) == 1;
    }
    if (ok) {
        std::lock_guard guard(m_impl->lock);
        ++m_impl->connections;
    }
    {
        Line line(fd, ok ? ssl : nullptr, &m_impl->reads);
        if (!ok && ssl != nullptr) {
            SSL_free(ssl);
        }
        std::string buf;
        while (ok) {
            std::size_t head_end;
            while ((head_end = buf.find("\r\n\r\n")) == std::string::npos) {
                if (!line.ReadMore(&buf)) {
                    if (!buf.empty()) {
                        m_impl->Record(buf);
                    }
                    ok = false;
                    break;
                }
            }
            if (!ok) {
                break;
            }
            const std::size_t body_start = head_end + 4;
            const std::string head = buf.substr(0, body_start);
            const bool chunked = Lower(HeaderValue(head, "Transfer-Encoding")) == "chunked";
            const std::size_t length =
                std::strtoull(HeaderValue(head, "Content-Length").c_str(), nullptr, 10);
            Script script = m_impl->NextScript();
            auto send_reply = [&] {
                if (m_impl->Pause(script.delay)) {
                    return false;
                }
                const std::size_t n = std::min(script.send_bytes, script.reply.size());
                return line.WriteAll(script.reply.data(), n);
            };
            if (script.answer_after_head && !send_reply()) {
                break;
            }
            std::size_t total = 0;
            for (;;) {
                total = chunked ? ChunkedLength(buf, body_start) : length;
                if (total != std::string::npos && buf.size() >= body_start + total) {
                    break;
                }
                if (!line.ReadMore(&buf)) {
                    ok = false;
                    break;
                }
            }
            if (!ok) {
                m_impl->Record(buf);
                break;
            }
            m_impl->Record(buf.substr(0, body_start + total));
            buf.erase(0, body_start + total);
            if (script.never_answer) {
                m_impl->WaitForStop();
                break;
            }
            if (script.answer_after_head) {
                break;
            }
            if (!send_reply() || script.close_after || script.send_bytes != kAll) {
                break;
            }
        }
        std::lock_guard guard(m_impl->lock);
        std::erase(m_impl->open_fds, fd);
    }
    ::close(fd);
}

std::string WireServer::Url(const std::string& path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

void WireServer::Push(Script script) {
    std::lock_guard guard(m_impl->lock);
    m_impl->scripts.push_back(std::move(script));
}

std::string WireServer::WaitRequest(std::size_t index, std::chrono::milliseconds timeout) {
    std::unique_lock guard(m_impl->lock);
    if (!m_impl->changed.wait_for(guard, timeout,
                                  [&] { return m_impl->requests.size() > index; })) {
        throw std::runtime_error("WireServer: request " + std::to_string(index) +
                                 " did not arrive");
    }
    return m_impl->requests[index];
}

std::vector<std::string> WireServer::Requests() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->requests;
}

std::size_t WireServer::Connections() const {
    std::lock_guard guard(m_impl->lock);
    return m_impl->connections;
}

std::size_t WireServer::Reads() const {
    return m_impl->reads.load();
}

std::string WireServer::Reply(int status, const std::string& reason, const std::string& body,
                              const std::string& extra_headers) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
           "Connection: close\r\n\r\n" + body;
}

std::string WireServer::ShortReply(const std::string& body, std::size_t declared) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(declared) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string WireServer::HeadOf(const std::string& request) {
    const auto end = request.find("\r\n\r\n");
    return end == std::string::npos ? request : request.substr(0, end + 4);
}

std::string WireServer::BodyOf(const std::string& request) {
    const auto end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
}

TestPki MakeTestPki(const std::string& folder, const std::string& name,
                    const std::string& alt_names) {
    TestPki pki{folder + name + "-ca.pem", folder + name + "-server.pem",
                folder + name + "-server.key"};
    const std::string ca_key = folder + name + "-ca.key";
    const std::string csr = folder + name + "-server.csr";
    const std::string ext = folder + name + "-server.ext";
    const std::string log = folder + name + "-openssl.log";
    {
        std::ofstream out(ext);
        out << "subjectAltName=" << alt_names
            << "\n"
               "basicConstraints=CA:FALSE\n"
               "extendedKeyUsage=serverAuth\n";
    }
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands[] = {
        "openssl req -x509" + ec + " -keyout '" + ca_key + "' -out '" + pki.ca_cert +
            "' -days 2 -subj '/CN=" + name +
            " Test CA' -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign,cRLSign",
        "openssl req -new" + ec + " -keyout '" + pki.server_key + "' -out '" + csr +
            "' -subj '/CN=127.0.0.1'",
        "openssl x509 -req -in '" + csr + "' -CA '" + pki.ca_cert + "' -CAkey '" + ca_key +
            "' -CAcreateserial -out '" + pki.server_cert + "' -days 2 -extfile '" + ext + "'",
    };
    for (const auto& command : commands) {
        if (std::system((command + " >>'" + log + "' 2>&1").c_str()) != 0) {
            throw std::runtime_error("MakeTestPki: failed: " + command);
        }
    }
    return pki;
}

}  // namespace skiv::test
