// The delta routes under /skivaddon/delta/<capability>/: the member is the
// one whose live session holds the capability. Bodies go through the same
// deadlines, slow-body floor, upload budget and free-space floor as the
// classic upload; the work behind each route runs on the disk pool.

#include "delta_desk.h"
#include "http_front_impl.h"

namespace skiv::server {

namespace {

// "name/<value>" → value, or nullopt.
std::optional<std::string> After(const std::string& rest, const char* name) {
    const std::string prefix = std::string(name) + "/";
    if (rest.compare(0, prefix.size(), prefix) != 0 || rest.size() == prefix.size())
        return std::nullopt;
    std::string value = rest.substr(prefix.size());
    if (value.find('/') != std::string::npos)
        return std::nullopt;
    return value;
}

bool TokenShaped(const std::string& token) {
    if (token.size() != 32)
        return false;
    for (char c : token)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

net::awaitable<bool> HttpFront::Impl::Delta(Stream& s, beast::flat_buffer& buf,
                                            http::request_parser<http::empty_body>& head,
                                            Exchange& x, const std::string& capability,
                                            const std::string& rest, const std::string& query) {
    const Request& req = head.get();
    const bool hasBody = !head.is_done();
    const bool get = req.method() == http::verb::get;
    const bool post = req.method() == http::verb::post;
    const bool put = req.method() == http::verb::put;
    DeltaDesk& d = *delta;
    Reply r = TextReply(http::status::not_found, "not found\n", "text/plain");

    std::function<std::shared_ptr<std::optional<std::string>>()> who = [&d, capability] {
        return std::make_shared<std::optional<std::string>>(d.Member(capability));
    };
    std::optional<std::shared_ptr<std::optional<std::string>>> found;
    try {
        found = co_await Offload<std::shared_ptr<std::optional<std::string>>>(diskPool, who);
        if (!found)
            x.note = "delta busy";
    } catch (const std::exception& e) {
        x.note = std::string("delta fault: ") + e.what();
    }
    if (!found) {
        r = TextReply(http::status::service_unavailable, "service busy\n", "text/plain");
        co_return co_await Send(s, x, r, !hasBody);
    }
    if (!**found) {
        r = TextReply(http::status::forbidden, "forbidden\n", "text/plain");
        co_return co_await Send(s, x, r, !hasBody);
    }
    const std::string member = ***found;

    if (post && rest == "missing") {
        std::optional<std::string> body = co_await ReadBody(s, buf, head, kMaxManifestBytes);
        if (!body) {
            x.note = "manifest too large or cut";
            r = TextReply(http::status::payload_too_large, "manifest too large or cut\n",
                          "text/plain");
            co_return co_await Send(s, x, r, false);
        }
        std::function<DeltaAnswer()> job = [&d, member, text = std::move(*body)] {
            return d.Missing(member, text);
        };
        r = co_await DeltaReply(x, job);
        co_return co_await Send(s, x, r, true);
    }
    if (std::optional<std::string> sha = After(rest, "piece"); put && sha)
        co_return co_await DeltaPiecePut(s, buf, head, x, member, *sha, query);

    if (std::optional<std::string> token = After(rest, "commit"); post && token) {
        // The commit carries nothing but the token; a small body is read
        // and ignored.
        std::optional<std::string> body = co_await ReadBody(s, buf, head, kMaxFormBody);
        int fileType = 0;
        if (std::optional<std::string> type = QueryValue(query, "type"))
            fileType = *type == "1" ? 1 : *type == "2" ? 2 : -1;
        if (!body || fileType < 0 || !TokenShaped(*token)) {
            x.note = "commit error 1 (malformed)";
            r = TagReply(
                ErrorReply(static_cast<int>(UploadError::Malformed), text::kUploadMalformed));
            co_return co_await Send(s, x, r, body.has_value());
        }
        const SetOrigin origin = MakeSetOrigin(QueryValue(query, "flavor").value_or(""),
                                               QueryValue(query, "gameversion").value_or(""));
        std::function<DeltaAnswer()> job = [&d, member, t = *token, fileType, origin] {
            return d.Commit(member, t, fileType, origin);
        };
        r = co_await DeltaReply(x, job);
        r.set(http::field::content_type, kTagType);
        co_return co_await Send(s, x, r, true);
    }

    // The rest take no body.
    const bool keep = !hasBody;
    if (get && rest == "versions") {
        std::function<DeltaAnswer()> job = [&d, member] { return d.Versions(member); };
        r = co_await DeltaReply(x, job);
    } else if (std::optional<std::string> n = After(rest, "manifest"); get && n) {
        std::function<DeltaAnswer()> job = [&d, member, n = *n] { return d.ManifestOf(member, n); };
        r = co_await DeltaReply(x, job);
    } else if (std::optional<std::string> sha = After(rest, "piece"); get && sha) {
        std::function<std::shared_ptr<std::optional<StoredPackage>>()> job = [&d, member,
                                                                              sha = *sha] {
            return std::make_shared<std::optional<StoredPackage>>(d.Piece(member, sha));
        };
        std::optional<std::shared_ptr<std::optional<StoredPackage>>> piece;
        try {
            piece = co_await Offload<std::shared_ptr<std::optional<StoredPackage>>>(diskPool, job);
        } catch (const std::exception& e) {
            x.note = std::string("delta fault: ") + e.what();
        }
        if (piece && **piece) {
            std::vector<Outgoing> out;
            const std::int64_t size = (**piece)->size;
            out.push_back({*sha, size, std::move(**piece)});
            const bool sent = co_await SendPieces(s, x, out);
            co_return sent&& keep;
        }
        if (!piece)
            r = TextReply(http::status::service_unavailable, "service busy\n", "text/plain");
    }
    co_return co_await Send(s, x, r, keep);
}

net::awaitable<Reply> HttpFront::Impl::DeltaReply(Exchange& x, std::function<DeltaAnswer()>& job) {
    std::optional<DeltaAnswer> a;
    try {
        a = co_await Offload<DeltaAnswer>(diskPool, job);
        if (!a)
            x.note = "delta busy";
    } catch (const std::exception& e) {
        x.note = std::string("delta fault: ") + e.what();
    }
    if (!a)
        co_return TextReply(http::status::service_unavailable, "service busy\n", "text/plain");
    if (!a->note.empty())
        x.note = a->note;
    co_return TextReply(static_cast<http::status>(a->status), std::move(a->body),
                        "text/plain; charset=utf-8");
}

net::awaitable<bool> HttpFront::Impl::DeltaPiecePut(Stream& s, beast::flat_buffer& buf,
                                                    http::request_parser<http::empty_body>& head,
                                                    Exchange& x, const std::string& member,
                                                    const std::string& sha,
                                                    const std::string& query) {
    const Request& req = head.get();
    DeltaDesk& d = *delta;
    auto reply = [&](http::status status, const char* body, const char* note) {
        x.note = note;
        return TextReply(status, body, "text/plain");
    };
    std::optional<std::string> token = QueryValue(query, "upload");
    std::optional<VersionStore::PieceRef> expected;
    if (token && IsSha256Hex(sha)) {
        std::function<std::shared_ptr<std::optional<VersionStore::PieceRef>>()> job =
            [&d, member, sha, t = *token] {
                return std::make_shared<std::optional<VersionStore::PieceRef>>(
                    d.ExpectPiece(member, t, sha));
            };
        try {
            auto found = co_await Offload<std::shared_ptr<std::optional<VersionStore::PieceRef>>>(
                diskPool, job);
            if (found)
                expected = **found;
        } catch (const std::exception& e) {
            x.note = std::string("delta fault: ") + e.what();
        }
    }
    // Refusals before the body: the connection ends after the answer (an
    // unread body is not drained).
    std::optional<Reply> refusal;
    UploadGate::Reservation reservation;
    if (!expected) {
        refusal = reply(http::status::not_found, "no such piece in this upload\n",
                        "piece refused: not in the upload");
    } else if (head.content_length() &&
               *head.content_length() != static_cast<std::uint64_t>(expected->bytes)) {
        refusal = reply(http::status::unprocessable_entity,
                        "piece size differs from the manifest\n", "piece refused: size");
    } else if (UploadGate::Refusal why = gate.Admit(expected->bytes, reservation);
               why != UploadGate::Refusal::None) {
        refusal = reply(http::status::insufficient_storage, "no room to store the piece\n",
                        UploadGate::Describe(why));
    }
    if (refusal)
        co_return co_await Send(s, x, *refusal, false);

    if (!co_await SendContinue(s, req))
        co_return false;
    auto file = std::make_shared<IncomingFile>(d.shelf().Begin());
    bool tooLong = false, writeFailed = false;
    const std::int64_t limit = expected->bytes;
    std::int64_t received = 0;
    std::function<bool(const char*, std::size_t)> sink = [&](const char* data, std::size_t n) {
        received += static_cast<std::int64_t>(n);
        if (received > limit) {
            tooLong = true;
            return false;
        }
        if (writeFailed)
            return true;  // dropped: the client gets to read the answer
        if (!file->Write(data, n)) {
            writeFailed = true;
            file.reset();  // the partial piece goes at once
        }
        return true;
    };
    const BodyEnd end =
        co_await StreamBody(s, buf, head, static_cast<std::uint64_t>(limit) + 1, sink);
    Reply r;
    if (tooLong) {
        r = reply(http::status::unprocessable_entity, "piece size differs from the manifest\n",
                  "piece refused: size");
    } else if (writeFailed) {
        r = reply(http::status::insufficient_storage, "cannot store the piece\n",
                  "piece write failed");
        co_return co_await Send(s, x, r, end == BodyEnd::Whole);
    } else if (end != BodyEnd::Whole) {
        r = reply(http::status::bad_request, "piece cut\n", "piece cut");
    } else {
        std::function<DeltaAnswer()> job = [&d, file, sha, ref = *expected] {
            return d.StorePiece(ref, sha, std::move(*file));
        };
        std::optional<DeltaAnswer> a;
        bool fault = false;
        try {
            a = co_await Offload<DeltaAnswer>(diskPool, job);
        } catch (const std::exception& e) {
            fault = true;
            x.note = std::string("piece fault: ") + e.what();
        }
        if (fault)
            r = TextReply(http::status::insufficient_storage, "cannot store the piece\n",
                          "text/plain");
        else if (!a)
            r = TextReply(http::status::service_unavailable, "service busy\n", "text/plain");
        else {
            if (!a->note.empty())
                x.note = a->note;
            r = TextReply(static_cast<http::status>(a->status), std::move(a->body), "text/plain");
        }
        co_return co_await Send(s, x, r, a.has_value());
    }
    co_return co_await Send(s, x, r, false);
}

}  // namespace skiv::server
