#pragma once
// The front's internals shared by its source files (http_front.cpp: the
// connection loop and the classic routes; http_delta.cpp: the delta routes).
// Only those files include it: it is the part that sees Asio and Beast.

#include "http_front.h"

// Boost 1.74's awaitable uses std::exchange without including <utility>.
#include <utility>

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "client_address.h"
#include "form_fields.h"
#include "log_text.h"
#include "member_desk.h"
#include "multipart_reader.h"
#include "registration_page.h"
#include "tag_reply.h"
#include "tls_material.h"
#include "upload_gate.h"
#include "upload_receiver.h"

namespace skiv::server {

class DeltaDesk;
struct DeltaAnswer;

namespace front_internal {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Stream = beast::ssl_stream<beast::tcp_stream>;
using Clock = std::chrono::steady_clock;
using Request = http::request<http::empty_body>;
using Reply = http::response<http::string_body>;

constexpr std::size_t kMaxFormBody = 16 * 1024;
constexpr std::size_t kPiece = 64 * 1024;  // download and upload pieces
constexpr const char* kTagType = "text/plain; charset=utf-8";
constexpr const char* kLoginPath = "/skivaddon/actskivaddonlogin.aspx";
constexpr const char* kUploadPath = "/skivaddon/upload.aspx";

inline auto Caught(beast::error_code& ec) {
    return net::redirect_error(net::use_awaitable, ec);
}

inline std::int64_t UnixNow() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// A fixed set of threads and a bounded queue. TryPost() refuses instead of
// letting the queue grow, so a burst of logins costs an answer of "busy",
// never unbounded memory or latency.
class WorkPool {
public:
    WorkPool(int threads, std::size_t queueLimit) : m_limit(queueLimit) {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { Work(); });
    }
    ~WorkPool() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (auto& t : m_threads)
            t.join();
    }
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    bool TryPost(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop || m_jobs.size() >= m_limit)
                return false;
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_one();
        return true;
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    const std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

// Runs `fn` on `pool` and resumes the calling coroutine on its own
// executor with the result; nullopt when the pool's queue is full. An
// exception thrown by `fn` is rethrown in the coroutine.
template <class T>
net::awaitable<std::optional<T>> Offload(WorkPool& pool, std::function<T()>& fn) {
    auto ex = co_await net::this_coro::executor;
    auto initiation = [&pool, ex](auto handler, std::function<T()> work) {
        auto h = std::make_shared<decltype(handler)>(std::move(handler));
        bool queued = pool.TryPost([h, ex, work = std::move(work)]() mutable {
            std::exception_ptr error;
            std::optional<T> result;
            try {
                result.emplace(work());
            } catch (...) {
                error = std::current_exception();
            }
            net::post(ex, [h, error, result = std::move(result)]() mutable {
                (*h)(error, std::move(result));
            });
        });
        if (!queued)
            net::post(ex, [h]() mutable { (*h)(nullptr, std::nullopt); });
    };
    co_return co_await net::async_initiate<decltype(net::use_awaitable),
                                           void(std::exception_ptr, std::optional<T>)>(
        initiation, net::use_awaitable, std::move(fn));
}

// Open connections, in all and per client address, under two caps.
class ConnectionCount {
public:
    ConnectionCount(int total, int perAddress) : m_maxTotal(total), m_maxPerAddress(perAddress) {}

    class Slot {
    public:
        Slot() = default;
        Slot(ConnectionCount* owner, std::string address)
            : m_owner(owner), m_address(std::move(address)) {}
        Slot(Slot&& o) noexcept
            : m_owner(std::exchange(o.m_owner, nullptr)), m_address(std::move(o.m_address)) {}
        Slot& operator=(Slot&&) = delete;
        Slot(const Slot&) = delete;
        ~Slot() {
            if (m_owner)
                m_owner->Release(m_address);
        }
        explicit operator bool() const { return m_owner != nullptr; }

    private:
        ConnectionCount* m_owner = nullptr;
        std::string m_address;
    };

    Slot TryTake(const std::string& address, bool capAddress = true) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_total >= m_maxTotal)
            return {};
        int& n = m_perAddress[address];
        if (capAddress && n >= m_maxPerAddress) {
            if (n == 0)
                m_perAddress.erase(address);
            return {};
        }
        ++n;
        ++m_total;
        return Slot(this, address);
    }
    int Total() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_total;
    }

private:
    void Release(const std::string& address) {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_total;
        auto it = m_perAddress.find(address);
        if (it != m_perAddress.end() && --it->second <= 0)
            m_perAddress.erase(it);
    }

    const int m_maxTotal, m_maxPerAddress;
    std::mutex m_mutex;
    int m_total = 0;
    std::unordered_map<std::string, int> m_perAddress;
};

// One request as the log sees it.
struct Exchange {
    std::string remote;
    std::string method;
    std::string path;  // percent-decoded, without the query
    Clock::time_point started = Clock::now();
    std::string note;
    unsigned version = 11;
    bool keepAlive = false;
    int status = 0;
    unsigned long long bytes = 0;
    bool replied = false;
};

// The value of `name` in a query string, undecoded.
inline std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name)
            return std::string(eq == std::string_view::npos ? std::string_view()
                                                            : pair.substr(eq + 1));
    }
    return std::nullopt;
}

inline bool IEquals(std::string_view a, std::string_view b) {
    return beast::iequals(a, b);
}

// The request line for the log: the capability in a download or delta path
// is a secret and is left out; query strings are never logged.
inline std::string LoggedPath(const std::string& path) {
    for (const std::string prefix : {"/skivaddon/dl/", "/skivaddon/delta/"}) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            std::size_t slash = path.find('/', prefix.size());
            std::string rest = slash == std::string::npos ? "" : path.substr(slash);
            // A delta upload's token is left out too.
            if (rest.compare(0, 8, "/commit/") == 0)
                rest = "/commit/*";
            return prefix + "*" + rest;
        }
    }
    return path;
}

inline void LogRequest(const Exchange& x) {
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - x.started).count();
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(stderr, "%s %s %s %s %d %lluB %lldms%s%s\n", stamp, x.remote.c_str(),
                 EscapeForLog(x.method).c_str(), EscapeForLog(LoggedPath(x.path)).c_str(), x.status,
                 x.bytes, ms, x.note.empty() ? "" : " ", EscapeForLog(x.note).c_str());
    std::fflush(stderr);
}

inline Reply TextReply(http::status status, std::string body, const char* type) {
    Reply r{status, 11};
    r.set(http::field::content_type, type);
    r.body() = std::move(body);
    return r;
}

inline Reply TagReply(const std::string& text) {
    return TextReply(http::status::ok, text, kTagType);
}

inline void SetPageHeaders(Reply& r) {
    r.set(http::field::cache_control, "no-store");
    r.set("X-Frame-Options", "DENY");
    r.set("X-Content-Type-Options", "nosniff");
    r.set("Referrer-Policy", "no-referrer");
    r.set("Content-Security-Policy",
          "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
          "frame-ancestors 'none'");
}

inline Reply PageReply(const RegistrationPage::Reply& page) {
    Reply r =
        TextReply(static_cast<http::status>(page.status), page.html, "text/html; charset=utf-8");
    SetPageHeaders(r);
    if (!page.setCookie.empty())
        r.set(http::field::set_cookie, page.setCookie);
    return r;
}

inline std::string LoginNote(const std::string& reply) {
    // The error number is the reply's first tag; note it for the log.
    std::size_t open = reply.find("<error>"), close = reply.find("</error>");
    if (open != std::string::npos && close != std::string::npos)
        return "login error " + reply.substr(open + 7, close - open - 7);
    return {};
}

enum class BodyEnd { Whole, Stopped, Cut };

// "/skivaddon/dl/<64 lower-case hex>/<ID of 1-64 [A-Za-z0-9_-]>.cab":
// the capability and the ID, or false.
inline bool MatchDownload(const std::string& path, std::string& capability, std::string& id) {
    static const std::string prefix = "/skivaddon/dl/", suffix = ".cab";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string_view rest = std::string_view(path).substr(prefix.size());
    if (rest.size() < 64 + 1 + 1 + suffix.size() || rest[64] != '/')
        return false;
    for (char c : rest.substr(0, 64))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    std::string_view name = rest.substr(65);
    if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix)
        return false;
    name.remove_suffix(suffix.size());
    if (name.size() > 64)
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-'))
            return false;
    capability = std::string(rest.substr(0, 64));
    id = std::string(name);
    return true;
}

}  // namespace front_internal
using namespace front_internal;

// Threading: one io_context per core, each run by one thread; connections
// are dealt to them in turn and stay on theirs. The alternative, one
// io_context run by N threads with a strand per connection, balances load
// better, but any completion of a connection's read or write may then
// resume on the other thread, and on a loaded machine each such hand-over
// waits for that thread to be scheduled. Downloads complete an operation
// per TLS record: measured side by side with the previous front, they were
// about 40% slower on the shared context and level on per-core loops. A
// connection never changes threads except to reach a worker pool and back.
struct HttpFront::Impl {
    Impl(MemberDesk& d, RegistrationPage& p, UploadGate& g, FrontConfig c);

    net::awaitable<void> Accept();
    net::awaitable<void> Serve(tcp::socket socket, std::string remote, ConnectionCount::Slot slot);
    net::awaitable<bool> Handle(Stream& s, beast::flat_buffer& buf,
                                http::request_parser<http::empty_body>& head, Exchange& x);
    // Arguments of the coroutines are named objects, never temporaries:
    // GCC 12 can destroy a temporary in a co_await expression twice.
    net::awaitable<bool> Send(Stream& s, Exchange& x, Reply& reply, bool keep);
    net::awaitable<bool> SendContinue(Stream& s, const Request& req);
    net::awaitable<std::optional<std::string>> ReadSmallBody(
        Stream& s, beast::flat_buffer& buf, http::request_parser<http::empty_body>& head);
    net::awaitable<BodyEnd> StreamBody(Stream& s, beast::flat_buffer& buf,
                                       http::request_parser<http::empty_body>& head,
                                       std::uint64_t limit,
                                       const std::function<bool(const char*, std::size_t)>& sink);
    net::awaitable<bool> Login(Stream& s, beast::flat_buffer& buf,
                               http::request_parser<http::empty_body>& head, Exchange& x);
    net::awaitable<bool> Upload(Stream& s, beast::flat_buffer& buf,
                                http::request_parser<http::empty_body>& head, Exchange& x,
                                const std::string& query);
    net::awaitable<bool> Download(Stream& s, Exchange& x, const std::string& capability,
                                  const std::string& id);
    net::awaitable<bool> Register(Stream& s, beast::flat_buffer& buf,
                                  http::request_parser<http::empty_body>& head, Exchange& x);
    net::awaitable<void> Close(Stream& s);
    // A body of at most `limit` bytes read whole; nullopt when longer, cut
    // or multipart.
    net::awaitable<std::optional<std::string>> ReadBody(
        Stream& s, beast::flat_buffer& buf, http::request_parser<http::empty_body>& head,
        std::size_t limit);
    // One piece of a 200 reply streamed from the shelf: its name, its size
    // and, when opened already, its file.
    struct Outgoing {
        std::string name;
        std::int64_t bytes = 0;
        std::optional<StoredPackage> file;
    };
    // Streams the pieces in order as one body; false when the connection
    // is to end.
    net::awaitable<bool> SendPieces(Stream& s, Exchange& x, std::vector<Outgoing>& pieces);
    // The delta routes (http_delta.cpp): `rest` is the path after the
    // capability's slash.
    net::awaitable<bool> Delta(Stream& s, beast::flat_buffer& buf,
                               http::request_parser<http::empty_body>& head, Exchange& x,
                               const std::string& capability, const std::string& rest,
                               const std::string& query);
    // Runs one desk call on the disk pool and turns its answer into a reply.
    net::awaitable<Reply> DeltaReply(Exchange& x, std::function<DeltaAnswer()>& job);
    net::awaitable<bool> DeltaPiecePut(Stream& s, beast::flat_buffer& buf,
                                       http::request_parser<http::empty_body>& head, Exchange& x,
                                       const std::string& member, const std::string& sha,
                                       const std::string& query);
    void ConnectionEnded();

    MemberDesk& desk;
    RegistrationPage& page;
    UploadGate& gate;
    DeltaDesk* delta = nullptr;  // set before Run(); null: no delta routes
    const FrontConfig config;
    const int threads;
    // Declared before the io_context: coroutine frames still suspended when
    // it goes are destroyed with it, and their streams and slots use these.
    ConnectionCount connections;
    net::ssl::context ssl{net::ssl::context::tls_server};

    std::vector<std::unique_ptr<net::io_context>> loops;  // [0] also accepts
    net::io_context& ioc;                                 // loops[0]
    std::vector<net::executor_work_guard<net::io_context::executor_type>> keepRunning;
    std::size_t nextLoop = 0;
    tcp::acceptor acceptor{ioc};
    net::steady_timer grace{ioc};
    std::atomic<bool> stopping{false};
    std::atomic<bool> listenerFailed{false};
    // Declared after the io_context so that they are joined before it goes:
    // their jobs post completions to it.
    WorkPool hashPool;  // password hashing: logins, registrations
    WorkPool diskPool;  // database look-ups and fsync of stored packages
};

}  // namespace skiv::server
