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

namespace {

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

auto Caught(beast::error_code& ec) {
    return net::redirect_error(net::use_awaitable, ec);
}

std::int64_t UnixNow() {
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

    Slot TryTake(const std::string& address) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_total >= m_maxTotal)
            return {};
        int& n = m_perAddress[address];
        if (n >= m_maxPerAddress) {
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
std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
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

bool IEquals(std::string_view a, std::string_view b) {
    return beast::iequals(a, b);
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

void LogRequest(const Exchange& x) {
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

Reply TextReply(http::status status, std::string body, const char* type) {
    Reply r{status, 11};
    r.set(http::field::content_type, type);
    r.body() = std::move(body);
    return r;
}

Reply TagReply(const std::string& text) {
    return TextReply(http::status::ok, text, kTagType);
}

void SetPageHeaders(Reply& r) {
    r.set(http::field::cache_control, "no-store");
    r.set("X-Frame-Options", "DENY");
    r.set("X-Content-Type-Options", "nosniff");
    r.set("Referrer-Policy", "no-referrer");
    r.set("Content-Security-Policy",
          "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
          "frame-ancestors 'none'");
}

Reply PageReply(const RegistrationPage::Reply& page) {
    Reply r =
        TextReply(static_cast<http::status>(page.status), page.html, "text/html; charset=utf-8");
    SetPageHeaders(r);
    if (!page.setCookie.empty())
        r.set(http::field::set_cookie, page.setCookie);
    return r;
}

std::string LoginNote(const std::string& reply) {
    // The error number is the reply's first tag; note it for the log.
    std::size_t open = reply.find("<error>"), close = reply.find("</error>");
    if (open != std::string::npos && close != std::string::npos)
        return "login error " + reply.substr(open + 7, close - open - 7);
    return {};
}

enum class BodyEnd { Whole, Stopped, Cut };

// "/skivaddon/dl/<64 lower-case hex>/<ID of 1-64 [A-Za-z0-9_-]>.cab":
// the capability and the ID, or false.
bool MatchDownload(const std::string& path, std::string& capability, std::string& id) {
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

}  // namespace

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
    void ConnectionEnded();

    MemberDesk& desk;
    RegistrationPage& page;
    UploadGate& gate;
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

namespace {

int Cores() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 2 : static_cast<int>(n);
}

std::vector<std::unique_ptr<net::io_context>> MakeLoops(int n) {
    std::vector<std::unique_ptr<net::io_context>> loops;
    for (int i = 0; i < n; ++i)
        loops.push_back(std::make_unique<net::io_context>(1));
    return loops;
}

}  // namespace

HttpFront::Impl::Impl(MemberDesk& d, RegistrationPage& p, UploadGate& g, FrontConfig c)
    : desk(d),
      page(p),
      gate(g),
      config(std::move(c)),
      threads(config.threads > 0 ? config.threads : Cores()),
      connections(config.maxConnections, config.maxConnectionsPerAddress),
      loops(MakeLoops(threads)),
      ioc(*loops[0]),
      hashPool(config.workers > 0 ? config.workers : Cores(),
               static_cast<std::size_t>(std::max(1, config.hashQueue))),
      // Look-ups are quick; the queue is long enough for every connection
      // to have one waiting.
      diskPool(config.workers > 0 ? config.workers : Cores(),
               static_cast<std::size_t>(std::max(1, config.maxConnections))) {}

net::awaitable<void> HttpFront::Impl::Accept() {
    for (;;) {
        tcp::socket socket(*loops[nextLoop]);
        nextLoop = (nextLoop + 1) % loops.size();
        beast::error_code ec;
        co_await acceptor.async_accept(socket, Caught(ec));
        if (stopping)
            co_return;
        if (ec) {
            if (ec == net::error::operation_aborted || ec == net::error::bad_descriptor) {
                listenerFailed = !stopping;
                co_return;
            }
            // Out of descriptors or a connection reset before it was
            // taken: wait a moment rather than spin.
            net::steady_timer pause(ioc, std::chrono::milliseconds(50));
            co_await pause.async_wait(Caught(ec));
            continue;
        }
        std::string remote = socket.remote_endpoint(ec).address().to_string();
        if (ec)
            continue;
        ConnectionCount::Slot slot = connections.TryTake(remote);
        if (!slot) {
            // Over a cap: no TLS, no reply; the reset tells the client.
            socket.set_option(net::socket_base::linger(true, 0), ec);
            socket.close(ec);
            continue;
        }
        auto ex = socket.get_executor();
        net::co_spawn(ex, Serve(std::move(socket), std::move(remote), std::move(slot)),
                      net::detached);
    }
}

void HttpFront::Impl::ConnectionEnded() {
    if (!stopping)
        return;
    net::post(ioc, [this] {
        if (connections.Total() == 0)
            grace.cancel();
    });
}

net::awaitable<void> HttpFront::Impl::Serve(tcp::socket socket, std::string remote,
                                            ConnectionCount::Slot slot) {
    {
        Stream stream(beast::tcp_stream(std::move(socket)), ssl);
        auto& tcpStream = beast::get_lowest_layer(stream);
        // One deadline for the handshake and the first request head.
        tcpStream.expires_after(std::chrono::seconds(config.headSeconds));
        beast::error_code ec;
        co_await stream.async_handshake(net::ssl::stream_base::server, Caught(ec));
        if (!ec) {
            beast::flat_buffer buf;
            for (bool first = true;; first = false) {
                if (!first)
                    tcpStream.expires_after(std::chrono::seconds(config.idleSeconds));
                http::request_parser<http::empty_body> head;
                head.header_limit(static_cast<std::uint32_t>(config.maxHeaderBytes));
                // Each route sets the limit of the body it reads; the head
                // alone must not trip the parser's default of 1 MiB.
                head.body_limit(std::numeric_limits<std::uint64_t>::max());
                co_await http::async_read_header(stream, buf, head, Caught(ec));
                if (ec == http::error::header_limit) {
                    Exchange x;
                    x.remote = remote;
                    Reply tooLarge =
                        TextReply(http::status::request_header_fields_too_large, "", "text/plain");
                    co_await Send(stream, x, tooLarge, false);
                    break;
                }
                if (ec)
                    break;  // closed, timed out or not HTTP: nothing to answer
                Exchange x;
                x.remote = remote;
                bool keep = false;
                try {
                    keep = co_await Handle(stream, buf, head, x);
                } catch (const std::exception& e) {
                    x.note = std::string("exception: ") + e.what();
                } catch (...) {
                    x.note = "exception";
                }
                if (!x.replied) {
                    Reply fault = TextReply(http::status::internal_server_error, "service fault\n",
                                            "text/plain");
                    co_await Send(stream, x, fault, false);
                }
                if (!keep || stopping)
                    break;
            }
            co_await Close(stream);
        }
    }
    { ConnectionCount::Slot done = std::move(slot); }
    ConnectionEnded();
}

net::awaitable<void> HttpFront::Impl::Close(Stream& s) {
    auto& tcpStream = beast::get_lowest_layer(s);
    if (!tcpStream.socket().is_open())
        co_return;
    // A close_notify, then a moment for the peer's.
    tcpStream.expires_after(std::chrono::seconds(1));
    beast::error_code ec;
    co_await s.async_shutdown(Caught(ec));
    if (!tcpStream.socket().is_open())
        co_return;
    // A lingering close: the peer may still be sending a body that was
    // never read, and closing with unread bytes would reset the connection
    // and could throw away the answer before the peer reads it. Drop what
    // still comes, within a bound of bytes and time.
    tcpStream.socket().shutdown(tcp::socket::shutdown_send, ec);
    tcpStream.expires_after(std::chrono::seconds(2));
    std::vector<char> sink(16 * 1024);
    std::size_t drained = 0;
    while (!ec && drained < 256 * 1024) {
        const auto room = net::buffer(sink);
        drained += co_await tcpStream.async_read_some(room, Caught(ec));
    }
    tcpStream.close();
}

net::awaitable<bool> HttpFront::Impl::Send(Stream& s, Exchange& x, Reply& reply, bool keep) {
    reply.version(x.version);
    keep = keep && x.keepAlive && !stopping;
    reply.keep_alive(keep);
    reply.prepare_payload();
    x.status = static_cast<int>(reply.result_int());
    x.bytes = reply.body().size();
    x.replied = true;
    beast::get_lowest_layer(s).expires_after(std::chrono::seconds(config.writeSeconds));
    beast::error_code ec;
    co_await http::async_write(s, reply, Caught(ec));
    if (!x.method.empty())
        LogRequest(x);
    co_return !ec && keep;
}

net::awaitable<bool> HttpFront::Impl::SendContinue(Stream& s, const Request& req) {
    if (!IEquals(req[http::field::expect], "100-continue"))
        co_return true;
    http::response<http::empty_body> cont{http::status::continue_, req.version()};
    beast::error_code ec;
    co_await http::async_write(s, cont, Caught(ec));
    co_return !ec;
}

net::awaitable<std::optional<std::string>> HttpFront::Impl::ReadSmallBody(
    Stream& s, beast::flat_buffer& buf, http::request_parser<http::empty_body>& head) {
    const Request& req = head.get();
    if (MultipartReader::Boundary(req[http::field::content_type]))
        co_return std::nullopt;
    if (head.is_done())
        co_return std::string();
    if (head.content_length() && *head.content_length() > kMaxFormBody)
        co_return std::nullopt;  // refused before a byte of it is read
    if (!co_await SendContinue(s, req))
        co_return std::nullopt;
    http::request_parser<http::string_body> parser(std::move(head));
    parser.body_limit(kMaxFormBody);
    beast::get_lowest_layer(s).expires_after(std::chrono::seconds(config.headSeconds));
    beast::error_code ec;
    co_await http::async_read(s, buf, parser, Caught(ec));
    if (ec)
        co_return std::nullopt;
    co_return std::move(parser.get().body());
}

net::awaitable<BodyEnd> HttpFront::Impl::StreamBody(
    Stream& s, beast::flat_buffer& buf, http::request_parser<http::empty_body>& head,
    std::uint64_t limit, const std::function<bool(const char*, std::size_t)>& sink) {
    if (head.is_done())
        co_return BodyEnd::Whole;
    http::request_parser<http::buffer_body> parser(std::move(head));
    parser.body_limit(limit);
    // Reads take as much as the buffer has room for; grown only to what
    // the head needed, it would hand the body over 512 bytes at a time.
    buf.reserve(kPiece);
    std::vector<char> piece(kPiece);
    auto& tcpStream = beast::get_lowest_layer(s);
    // The slow-body floor: every window must bring floorBytes; a window
    // starts again each time it has.
    const auto window = std::chrono::seconds(config.bodyFloorSeconds);
    Clock::time_point windowStart = Clock::now();
    std::int64_t windowBytes = 0;
    while (!parser.is_done()) {
        parser.get().body().data = piece.data();
        parser.get().body().size = piece.size();
        tcpStream.expires_at(windowStart + window);
        beast::error_code ec;
        co_await http::async_read_some(s, buf, parser, Caught(ec));
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec)
            co_return BodyEnd::Cut;
        const std::size_t n = piece.size() - parser.get().body().size;
        windowBytes += static_cast<std::int64_t>(n);
        if (windowBytes >= config.bodyFloorBytes) {
            windowStart = Clock::now();
            windowBytes = 0;
        }
        if (n > 0 && !sink(piece.data(), n))
            co_return BodyEnd::Stopped;
    }
    co_return BodyEnd::Whole;
}

net::awaitable<bool> HttpFront::Impl::Handle(Stream& s, beast::flat_buffer& buf,
                                             http::request_parser<http::empty_body>& head,
                                             Exchange& x) {
    const Request& req = head.get();
    x.started = Clock::now();
    x.method = std::string(req.method_string());
    x.version = req.version();
    x.keepAlive = req.keep_alive();
    const std::string_view target = req.target();
    const std::size_t q = target.find('?');
    x.path = DecodePathComponent(target.substr(0, q));
    const std::string query =
        q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));

    const bool hasBody = !head.is_done();
    const bool post = req.method() == http::verb::post;
    const bool get = req.method() == http::verb::get;
    const bool isLogin = post && x.path == kLoginPath;
    const bool isUpload = post && x.path == kUploadPath;
    const bool isRegisterPost = post && x.path == RegistrationPage::kPath;

    if (std::distance(req.begin(), req.end()) > config.maxHeaderFields) {
        Reply r = TextReply(http::status::request_header_fields_too_large, "", "text/plain");
        co_return co_await Send(s, x, r, false);
    }
    // Bodies arrive as sent or not at all: an encoded body is refused
    // before a byte of it is read, whatever it would inflate to.
    const auto encoding = req[http::field::content_encoding];
    if (!encoding.empty() && !IEquals(encoding, "identity")) {
        Reply r = TextReply(http::status::unsupported_media_type, "", "text/plain");
        x.note = "content encoding refused";
        if (isLogin) {
            x.note = "login error 1";
            r = TagReply(
                ErrorReply(static_cast<int>(LoginError::Malformed), text::kLoginMalformed));
        } else if (isUpload) {
            x.note = "upload error 1 (content encoding refused)";
            r = TagReply(
                ErrorReply(static_cast<int>(UploadError::Malformed), text::kUploadMalformed));
        }
        co_return co_await Send(s, x, r, false);
    }

    if (isLogin)
        co_return co_await Login(s, buf, head, x);
    if (isUpload)
        co_return co_await Upload(s, buf, head, x, query);
    if (isRegisterPost)
        co_return co_await Register(s, buf, head, x);

    // Every other route takes no body: one that comes anyway is not read,
    // and the connection ends after the reply.
    const bool keep = !hasBody;
    std::string capability, id;
    if (get && MatchDownload(x.path, capability, id)) {
        const bool sent = co_await Download(s, x, capability, id);
        co_return sent&& keep;
    }
    Reply r = TextReply(http::status::not_found, "", "text/plain");
    if (get && x.path == RegistrationPage::kPath) {
        std::optional<std::string> cookie;
        if (auto c = req.find(http::field::cookie); c != req.end())
            cookie = CookieValue(c->value(), RegistrationPage::kCookie);
        r = PageReply(page.Show(cookie));
    } else if (get && x.path == "/") {
        r = TextReply(
            http::status::ok,
            "<!DOCTYPE html><html lang=\"ko\"><head><meta charset=\"utf-8\">"
            "<title>Kelbo Skiv Addon</title></head><body><p>Kelbo Skiv Addon 회원 서비스</p>"
            "<p><a href=\"/Member/Common/frmMemberRegist.aspx\">회원가입</a></p></body></html>\n",
            "text/html; charset=utf-8");
        SetPageHeaders(r);
    }
    co_return co_await Send(s, x, r, keep);
}

net::awaitable<bool> HttpFront::Impl::Login(Stream& s, beast::flat_buffer& buf,
                                            http::request_parser<http::empty_body>& head,
                                            Exchange& x) {
    std::optional<std::string> body = co_await ReadSmallBody(s, buf, head);
    if (!body) {
        x.note = "login error 1";
        Reply r =
            TagReply(ErrorReply(static_cast<int>(LoginError::Malformed), text::kLoginMalformed));
        co_return co_await Send(s, x, r, false);
    }
    auto fields = ParseForm(*body);
    auto field = [&](const char* name) -> std::optional<std::string> {
        auto it = fields.find(name);
        if (it == fields.end())
            return std::nullopt;
        return it->second;
    };
    std::optional<std::string> id = field("avsMemberID"), password = field("avsPassword");
    if (id)
        id = ExchangeTextToUtf8(*id);
    if (password)
        password = ExchangeTextToUtf8(*password);
    MemberDesk& d = desk;
    std::function<std::string()> job = [&d, id, password, from = x.remote] {
        return d.Login(id, password, from);
    };
    std::optional<std::string> reply = co_await Offload<std::string>(hashPool, job);
    const bool busy = !reply;
    if (busy)
        reply = ErrorReply(static_cast<int>(LoginError::ServiceFault), text::kServiceFault);
    x.note = LoginNote(*reply) + (busy ? " (busy)" : "");
    Reply r = TagReply(*reply);
    // The reply carries the member key and the download capability.
    r.set(http::field::cache_control, "no-store");
    co_return co_await Send(s, x, r, true);
}

net::awaitable<bool> HttpFront::Impl::Register(Stream& s, beast::flat_buffer& buf,
                                               http::request_parser<http::empty_body>& head,
                                               Exchange& x) {
    std::optional<std::string> cookie;
    if (auto c = head.get().find(http::field::cookie); c != head.get().end())
        cookie = CookieValue(c->value(), RegistrationPage::kCookie);
    std::optional<std::string> body = co_await ReadSmallBody(s, buf, head);
    if (!body) {
        Reply r = TextReply(http::status::bad_request, "bad form\n", "text/plain");
        co_return co_await Send(s, x, r, false);
    }
    RegistrationPage& p = page;
    std::function<RegistrationPage::Reply()> job = [&p, form = std::move(*body), cookie,
                                                    from = x.remote] {
        return p.Submit(form, cookie, from);
    };
    std::optional<RegistrationPage::Reply> answer =
        co_await Offload<RegistrationPage::Reply>(hashPool, job);
    Reply r = TextReply(http::status::service_unavailable, "service fault\n", "text/plain");
    if (answer)
        r = PageReply(*answer);
    else
        x.note = "registration busy";
    co_return co_await Send(s, x, r, true);
}

net::awaitable<bool> HttpFront::Impl::Upload(Stream& s, beast::flat_buffer& buf,
                                             http::request_parser<http::empty_body>& head,
                                             Exchange& x, const std::string& query) {
    const Request& req = head.get();
    const std::int64_t maxPackage = config.maxPackageBytes;
    // Bytes beyond twice the limit are not worth draining.
    const std::uint64_t bodyLimit = static_cast<std::uint64_t>(2 * maxPackage + (2 << 20));
    auto refuse = [&](UploadError error, const char* message, const std::string& detail) {
        x.note = "upload error " + std::to_string(static_cast<int>(error)) + " (" + detail + ")";
        return TagReply(ErrorReply(static_cast<int>(error), message));
    };

    std::optional<std::string> boundary = MultipartReader::Boundary(req[http::field::content_type]);
    if (!boundary) {
        Reply r =
            refuse(UploadError::Malformed, text::kUploadMalformed, "body incomplete or malformed");
        co_return co_await Send(s, x, r, false);
    }

    // Admission, before a byte of the body is read: a genuine pass, then
    // room for the bytes this upload may write.
    std::optional<std::string> member;
    if (std::optional<std::string> pass = QueryValue(query, "k"))
        member = gate.Check(*pass, UnixNow());
    UploadGate::Reservation reservation;
    std::optional<Reply> refusal;
    if (!member) {
        refusal = refuse(UploadError::NotAuthorised, text::kNotAuthorised, "no valid upload pass");
    } else {
        std::int64_t expected = maxPackage;
        if (head.content_length())
            expected = static_cast<std::int64_t>(std::min<std::uint64_t>(
                *head.content_length(), static_cast<std::uint64_t>(maxPackage)));
        UploadGate::Refusal r = gate.Admit(expected, reservation);
        if (r != UploadGate::Refusal::None)
            refusal =
                refuse(UploadError::StorageFault, text::kStorageFault, UploadGate::Describe(r));
    }
    if (refusal) {
        // A client that waits for "100 Continue" sends nothing more; any
        // other gets its body read and dropped (never written), so that it
        // reads the answer rather than a reset connection.
        if (IEquals(req[http::field::expect], "100-continue"))
            co_return co_await Send(s, x, *refusal, false);
        std::function<bool(const char*, std::size_t)> drop = [](const char*, std::size_t) {
            return true;
        };
        const BodyEnd end = co_await StreamBody(s, buf, head, bodyLimit, drop);
        co_return co_await Send(s, x, *refusal, end == BodyEnd::Whole);
    }

    if (!co_await SendContinue(s, req))
        co_return false;
    auto receiver = std::make_shared<UploadReceiver>(desk, member);
    MultipartReader reader(
        *boundary,
        [receiver](const std::string& name, const std::string& filename) {
            return receiver->BeginPart(name, filename);
        },
        // The file part is written on this thread: a write into the page
        // cache does not wait for the disk; the fsync that does runs on the
        // disk pool when the package is stored.
        [receiver](const char* data, std::size_t n) { return receiver->Data(data, n); });
    std::function<bool(const char*, std::size_t)> feed =
        [&reader](const char* data, std::size_t n) { return reader.Feed(data, n); };
    const BodyEnd end = co_await StreamBody(s, buf, head, bodyLimit, feed);
    const bool complete = end == BodyEnd::Whole && reader.Complete();
    std::function<std::string()> finish = [receiver, complete] {
        return receiver->Finish(complete);
    };
    std::optional<std::string> reply = co_await Offload<std::string>(diskPool, finish);
    Reply r;
    if (!reply) {
        r = refuse(UploadError::StorageFault, text::kStorageFault, "busy");
    } else {
        x.note = "upload error " + std::to_string(static_cast<int>(receiver->outcome()));
        if (receiver->outcome() != UploadError::Ok)
            x.note += " (" + receiver->detail() + ")";
        r = TagReply(*reply);
    }
    co_return co_await Send(s, x, r, complete && reply.has_value());
}

net::awaitable<bool> HttpFront::Impl::Download(Stream& s, Exchange& x,
                                               const std::string& capability,
                                               const std::string& id) {
    struct Opened {
        MemberDesk::Download result;
        std::optional<StoredPackage> package;
    };
    MemberDesk& d = desk;
    std::function<std::shared_ptr<Opened>()> open = [&d, capability, id] {
        auto o = std::make_shared<Opened>();
        o->result = d.OpenDownload(id, capability, o->package);
        return o;
    };
    std::optional<std::shared_ptr<Opened>> opened;
    try {
        opened = co_await Offload<std::shared_ptr<Opened>>(diskPool, open);
        if (!opened)
            x.note = "download fault: busy";
    } catch (const std::exception& e) {
        x.note = std::string("download fault: ") + e.what();
    }
    Reply r;
    if (!opened)
        r = TextReply(http::status::internal_server_error, "service fault\n", "text/plain");
    else if ((*opened)->result == MemberDesk::Download::Forbidden)
        r = TextReply(http::status::forbidden, "forbidden\n", "text/plain");
    else if ((*opened)->result == MemberDesk::Download::NothingStored)
        r = TextReply(http::status::not_found, "nothing stored\n", "text/plain");
    if (!opened || (*opened)->result != MemberDesk::Download::Ok)
        co_return co_await Send(s, x, r, true);

    // The package goes out in pieces straight from the file; a Range header
    // is not honoured (the whole package, 200).
    StoredPackage file = std::move(*(*opened)->package);
    http::response<http::empty_body> header{http::status::ok, x.version};
    header.set(http::field::cache_control, "no-store");
    header.set(http::field::content_type, "application/octet-stream");
    header.content_length(static_cast<std::uint64_t>(file.size));
    const bool keep = x.keepAlive && !stopping;
    header.keep_alive(keep);
    x.status = 200;
    x.bytes = static_cast<unsigned long long>(file.size);
    x.replied = true;
    auto& tcpStream = beast::get_lowest_layer(s);
    tcpStream.expires_after(std::chrono::seconds(config.writeSeconds));
    beast::error_code ec;
    http::response_serializer<http::empty_body> serializer(header);
    co_await http::async_write_header(s, serializer, Caught(ec));
    std::vector<char> piece(kPiece);
    std::int64_t sent = 0;
    while (!ec && sent < file.size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(file.size - sent, kPiece));
        const ssize_t n = ::pread(file.file.fd(), piece.data(), want, static_cast<off_t>(sent));
        if (n <= 0) {
            x.note = "package shrank while sent";
            break;  // the file shrank: end the connection
        }
        tcpStream.expires_after(std::chrono::seconds(config.writeSeconds));
        const auto chunk = net::buffer(piece.data(), static_cast<std::size_t>(n));
        co_await net::async_write(s, chunk, Caught(ec));
        sent += n;
    }
    LogRequest(x);
    co_return !ec && sent == file.size && keep;
}

HttpFront::HttpFront(MemberDesk& desk, RegistrationPage& page, UploadGate& gate, FrontConfig config)
    : m_impl(std::make_unique<Impl>(desk, page, gate, std::move(config))) {
    auto& ssl = m_impl->ssl;
    const auto& c = m_impl->config;
    beast::error_code ec;
    ssl.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_compression, ec);
    ApplyTlsPolicy(ssl.native_handle());
    // Idle connections hold no record buffers.
    SSL_CTX_set_mode(ssl.native_handle(), SSL_MODE_RELEASE_BUFFERS);
    beast::error_code certError, keyError;
    ssl.use_certificate_chain_file(c.certFile, certError);
    ssl.use_private_key_file(c.keyFile, net::ssl::context::pem, keyError);
    if (certError || keyError || SSL_CTX_check_private_key(ssl.native_handle()) != 1)
        throw std::runtime_error("cannot use certificate " + c.certFile + " with key " + c.keyFile);
}

HttpFront::~HttpFront() = default;

int HttpFront::Bind() {
    auto& impl = *m_impl;
    const auto& c = impl.config;
    const std::string where = c.host + ":" + std::to_string(c.port);
    try {
        tcp::resolver resolver(impl.ioc);
        auto results = resolver.resolve(c.host, std::to_string(c.port),
                                        tcp::resolver::passive | tcp::resolver::numeric_service);
        if (results.empty())
            throw std::runtime_error("no address");
        tcp::endpoint endpoint = results.begin()->endpoint();
        impl.acceptor.open(endpoint.protocol());
        impl.acceptor.set_option(net::socket_base::reuse_address(true));
        impl.acceptor.bind(endpoint);
        impl.acceptor.listen(net::socket_base::max_listen_connections);
        return impl.acceptor.local_endpoint().port();
    } catch (const std::exception&) {
        beast::error_code ignored;
        impl.acceptor.close(ignored);
        if (c.port == 0)
            throw std::runtime_error("cannot listen on " + c.host);
        throw std::runtime_error("cannot listen on " + where);
    }
}

bool HttpFront::Run() {
    auto& impl = *m_impl;
    if (!impl.acceptor.is_open())
        return false;
    // Each loop runs until Stop() lets it go and its connections are done.
    for (auto& loop : impl.loops)
        impl.keepRunning.push_back(net::make_work_guard(*loop));
    net::co_spawn(impl.ioc, impl.Accept(), net::detached);
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < impl.loops.size(); ++i)
        helpers.emplace_back([&impl, i] { impl.loops[i]->run(); });
    impl.ioc.run();
    for (auto& t : helpers)
        t.join();
    return !impl.listenerFailed;
}

void HttpFront::Stop() {
    auto& impl = *m_impl;
    net::post(impl.ioc, [&impl] {
        if (impl.stopping.exchange(true))
            return;
        beast::error_code ec;
        impl.acceptor.close(ec);
        // Requests in flight get a grace period; connections waiting for a
        // next request end at their idle deadline.
        impl.grace.expires_after(std::chrono::seconds(10));
        impl.keepRunning.clear();
        impl.grace.async_wait([&impl](beast::error_code e) {
            if (e != net::error::operation_aborted)
                for (auto& loop : impl.loops)
                    loop->stop();
        });
        if (impl.connections.Total() == 0)
            impl.grace.cancel();
    });
}

}  // namespace skiv::server
