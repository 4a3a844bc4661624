#include "http_front.h"

#include "http_front_impl.h"

namespace skiv::server {

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
        const auto& proxies = config.trustedProxies;
        const bool proxy = !proxies.empty() && std::find(proxies.begin(), proxies.end(),
                                                         CanonicalAddress(remote)) != proxies.end();
        ConnectionCount::Slot slot = connections.TryTake(remote, !proxy);
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
    x.remote = ClientAddress(x.remote, req["X-Forwarded-For"], config.trustedProxies);
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

    static const std::string deltaPrefix = "/skivaddon/delta/";
    if (delta && x.path.compare(0, deltaPrefix.size(), deltaPrefix) == 0) {
        // "<64 hex capability>/<rest>"
        const std::string tail = x.path.substr(deltaPrefix.size());
        if (tail.size() > 65 && tail[64] == '/')
            co_return co_await Delta(s, buf, head, x, tail.substr(0, 64), tail.substr(65), query);
    }

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
        std::optional<VersionStore::Stream> package;
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
    else if ((*opened)->result == MemberDesk::Download::Damaged) {
        r = TextReply(http::status::internal_server_error, "stored package damaged\n",
                      "text/plain");
        x.note = "download fault: a piece file is missing";
    }
    if (!opened || (*opened)->result != MemberDesk::Download::Ok)
        co_return co_await Send(s, x, r, true);

    // The current version's pieces go out in order, each straight from its
    // file; the pins keep them from collection until the last byte is sent.
    // A Range header is not honoured (the whole package, 200).
    std::shared_ptr<Opened> held = *opened;
    std::vector<Outgoing> pieces;
    for (const auto& p : held->package->pieces)
        pieces.push_back({p.name, p.bytes, std::nullopt});
    co_return co_await SendPieces(s, x, pieces);
}

net::awaitable<bool> HttpFront::Impl::SendPieces(Stream& s, Exchange& x,
                                                 std::vector<Outgoing>& pieces) {
    std::int64_t total = 0;
    for (const auto& p : pieces)
        total += p.bytes;
    http::response<http::empty_body> header{http::status::ok, x.version};
    header.set(http::field::cache_control, "no-store");
    header.set(http::field::content_type, "application/octet-stream");
    header.content_length(static_cast<std::uint64_t>(total));
    const bool keep = x.keepAlive && !stopping;
    header.keep_alive(keep);
    x.status = 200;
    x.bytes = static_cast<unsigned long long>(total);
    x.replied = true;
    auto& tcpStream = beast::get_lowest_layer(s);
    tcpStream.expires_after(std::chrono::seconds(config.writeSeconds));
    beast::error_code ec;
    http::response_serializer<http::empty_body> serializer(header);
    co_await http::async_write_header(s, serializer, Caught(ec));
    std::vector<char> chunk(kPiece);
    std::int64_t sent = 0;
    // Reads that may wait on the object store run on the disk pool, never
    // on this loop; a fault or a damaged piece ends the connection, so the
    // client sees a short body and keeps what it had.
    const bool remote = desk.shelf().objects() != nullptr;
    for (auto& piece : pieces) {
        if (ec)
            break;
        try {
            if (!piece.file && remote) {
                PackageShelf& shelf = desk.shelf();
                std::function<std::shared_ptr<std::optional<StoredPackage>>()> open =
                    [&shelf, name = piece.name] {
                        return std::make_shared<std::optional<StoredPackage>>(shelf.Open(name));
                    };
                auto opened =
                    co_await Offload<std::shared_ptr<std::optional<StoredPackage>>>(diskPool, open);
                if (opened)
                    piece.file = std::move(**opened);
            } else if (!piece.file) {
                piece.file = desk.shelf().Open(piece.name);
            }
        } catch (const PieceError& e) {
            x.note = std::string("piece unavailable: ") + e.what();
            break;
        }
        if (!piece.file || piece.file->size != piece.bytes) {
            if (x.note.empty())
                x.note = "piece missing while sent";
            break;  // end the connection: the client sees a short body
        }
        PieceReader& reader = *piece.file->reader;
        std::int64_t at = 0;
        while (!ec && at < piece.bytes) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::int64_t>(piece.bytes - at, kPiece));
            std::size_t n = 0;
            try {
                if (reader.Remote()) {
                    char* into = chunk.data();
                    std::function<std::size_t()> read = [&reader, into, want] {
                        return reader.Read(into, want);
                    };
                    std::optional<std::size_t> got = co_await Offload<std::size_t>(diskPool, read);
                    if (!got)
                        x.note = "piece read: busy";
                    n = got.value_or(0);
                } else {
                    n = reader.Read(chunk.data(), want);
                }
            } catch (const PieceError& e) {
                x.note =
                    std::string(e.kind() == PieceError::Kind::Damaged ? "piece damaged: "
                                                                      : "piece unavailable: ") +
                    e.what();
                break;
            }
            if (n == 0) {
                if (x.note.empty())
                    x.note = "piece shrank while sent";
                break;
            }
            tcpStream.expires_after(std::chrono::seconds(config.writeSeconds));
            const auto out = net::buffer(chunk.data(), n);
            co_await net::async_write(s, out, Caught(ec));
            at += static_cast<std::int64_t>(n);
            sent += static_cast<std::int64_t>(n);
        }
        piece.file.reset();
        if (at != piece.bytes)
            break;
    }
    LogRequest(x);
    co_return !ec && sent == total && keep;
}

net::awaitable<std::optional<std::string>> HttpFront::Impl::ReadBody(
    Stream& s, beast::flat_buffer& buf, http::request_parser<http::empty_body>& head,
    std::size_t limit) {
    std::string body;
    std::function<bool(const char*, std::size_t)> sink = [&body, limit](const char* data,
                                                                        std::size_t n) {
        if (body.size() + n > limit)
            return false;
        body.append(data, n);
        return true;
    };
    if (head.content_length() && *head.content_length() > limit)
        co_return std::nullopt;  // refused before a byte of it is read
    if (!co_await SendContinue(s, head.get()))
        co_return std::nullopt;
    const BodyEnd end = co_await StreamBody(s, buf, head, limit + 1, sink);
    if (end != BodyEnd::Whole)
        co_return std::nullopt;
    co_return body;
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

void HttpFront::SetDelta(DeltaDesk* delta) {
    m_impl->delta = delta;
}

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
