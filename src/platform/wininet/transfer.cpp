#include "platform/wininet/transfer.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <openssl/ssl.h>

#include "platform/wininet/header_list.h"
#include "platform/wininet/tls_trust.h"

namespace skiv::wininet::detail {

namespace {

// X.509 verification results (OpenSSL's numbering) that name the cause.
constexpr long kCertNotYetValid = 9;
constexpr long kCertHasExpired = 10;
constexpr long kSelfSignedLeaf = 18;
constexpr long kSelfSignedInChain = 19;
constexpr long kUnknownIssuerLocal = 20;
constexpr long kUnableToVerifyLeaf = 21;
constexpr long kUnknownIssuer = 2;
constexpr long kHostnameMismatch = 62;
constexpr long kIpAddressMismatch = 64;

// Maps a failed libcurl result to WinINet's error number; ssl_verify is the
// X.509 verification result libcurl reports for certificate failures (0 when
// the chain was good and the host name did not match).
DWORD ErrorFromCurl(CURLcode code, long ssl_verify) {
    switch (code) {
        case CURLE_OK:
            return ERROR_SUCCESS;
        case CURLE_OUT_OF_MEMORY:
            return ERROR_NOT_ENOUGH_MEMORY;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return ERROR_INTERNET_INVALID_URL;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return ERROR_INTERNET_NAME_NOT_RESOLVED;
        case CURLE_COULDNT_CONNECT:
            return ERROR_INTERNET_CANNOT_CONNECT;
        case CURLE_OPERATION_TIMEDOUT:
            return ERROR_INTERNET_TIMEOUT;
        case CURLE_PEER_FAILED_VERIFICATION:
            switch (ssl_verify) {
                case 0:  // the chain was fine: libcurl's host name check failed
                case kHostnameMismatch:
                case kIpAddressMismatch:
                    return ERROR_INTERNET_SEC_CERT_CN_INVALID;
                case kCertNotYetValid:
                case kCertHasExpired:
                    return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
                case kUnknownIssuer:
                case kSelfSignedLeaf:
                case kSelfSignedInChain:
                case kUnknownIssuerLocal:
                case kUnableToVerifyLeaf:
                    return ERROR_INTERNET_INVALID_CA;
                default:
                    return ERROR_INTERNET_SEC_CERT_ERRORS;
            }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return ERROR_INTERNET_CONNECTION_RESET;
        case CURLE_PARTIAL_FILE:
        case CURLE_READ_ERROR:
            return ERROR_INTERNET_CONNECTION_ABORTED;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP2:
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_WRITE_ERROR:
            return ERROR_INTERNET_OPERATION_CANCELLED;
        default:
            return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

}  // namespace

LinkPool::Link LinkPool::Take() {
    {
        std::lock_guard guard(m_lock);
        if (!m_idle.empty()) {
            Link link = std::move(m_idle.back());
            m_idle.pop_back();
            return link;
        }
    }
    return Link{CurlMulti(curl_multi_init()), CurlEasy(curl_easy_init())};
}

void LinkPool::Give(Link link) {
    if (!link.multi || !link.easy) {
        return;
    }
    std::lock_guard guard(m_lock);
    if (m_idle.size() < kMaxIdle) {
        m_idle.push_back(std::move(link));
    }
    // else the link goes here, its connection closed
}

Transfer::Transfer(TransferPlan plan, std::shared_ptr<LinkPool> links)
    : m_plan(std::move(plan)), m_links(std::move(links)) {
    if (m_links) {
        LinkPool::Link link = m_links->Take();
        m_multi = std::move(link.multi);
        m_easy = std::move(link.easy);
    } else {
        m_multi.reset(curl_multi_init());
    }
}

Transfer::~Transfer() {
    if (m_attached) {
        // An exchange left unfinished: libcurl closes its connection rather
        // than keep one in an unknown state.
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
    }
    if (m_links && m_easy) {
        // No option of this exchange (its callbacks point here) may outlive it.
        curl_easy_reset(m_easy.get());
        m_links->Give({std::move(m_multi), std::move(m_easy)});
    }
    curl_slist_free_all(m_headers);
}

DWORD Transfer::Begin(std::optional<std::uint64_t> body_size) {
    if (!m_multi) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    m_body_size = body_size;
    for (const auto& line : m_plan.header_lines) {
        struct curl_slist* grown = curl_slist_append(m_headers, line.c_str());
        if (grown == nullptr) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        m_headers = grown;
    }
    m_stage.reserve(kStageBytes);
    return StartHop(m_plan.origin + m_plan.path, true);
}

DWORD Transfer::StartHop(const std::string& url, bool use_target) {
    if (m_attached) {
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_attached = false;
    }
    if (m_easy) {
        // A handle from an earlier exchange or hop: its options go, its
        // connections and TLS sessions stay for reuse.
        curl_easy_reset(m_easy.get());
    } else {
        m_easy.reset(curl_easy_init());
    }
    if (!m_easy) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    m_finished = false;
    m_result = CURLE_OK;
    m_head_done = false;
    m_status = 0;
    m_status_text.clear();
    m_send_paused = m_recv_paused = false;
    m_queue.clear();
    m_queue_pos = 0;

    if (const DWORD error = Configure(url, use_target); error != ERROR_SUCCESS) {
        return error;
    }
    if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK) {
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
    m_attached = true;
    // Let libcurl connect and send the head right away, as WinINet does when
    // the request starts; body bytes follow as the caller writes them.
    return DriveUntil([] { return true; });
}

DWORD Transfer::Configure(const std::string& url, bool use_target) {
    CURL* h = m_easy.get();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK;
    };
    m_curl_error[0] = '\0';
    set(CURLOPT_ERRORBUFFER, m_curl_error);
    set(CURLOPT_URL, url.c_str());
    if (use_target) {
        // The object name goes on the request line exactly as given.
        set(CURLOPT_REQUEST_TARGET, m_plan.target.c_str());
    }
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTP_VERSION, m_plan.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
    set(CURLOPT_HTTPHEADER, m_headers);
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    if (!m_plan.agent.empty()) {
        set(CURLOPT_USERAGENT, m_plan.agent.c_str());
    }
    if (!m_plan.user.empty()) {
        set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        set(CURLOPT_USERNAME, m_plan.user.c_str());
        set(CURLOPT_PASSWORD, m_plan.password.c_str());
    }
    // The proxy decision was made already: libcurl must not second-guess it
    // from the environment.
    set(CURLOPT_PROXY, m_plan.proxy.c_str());
    set(CURLOPT_NOPROXY, "");
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (m_plan.ca_bundle) {
        // The bundle goes in already parsed (see OnSslContext); a libcurl
        // without that hook parses it for each new connection.
        if (curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &Transfer::OnSslContext) == CURLE_OK) {
            set(CURLOPT_SSL_CTX_DATA, this);
            set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
            set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        } else {
            curl_blob blob{const_cast<char*>(m_plan.ca_bundle->data()), m_plan.ca_bundle->size(),
                           CURL_BLOB_NOCOPY};
            set(CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    if (m_body_size) {
        // Upload mode streams from the read callback with a declared length
        // and, unlike libcurl's POST mode, adds no Content-Type of its own.
        set(CURLOPT_UPLOAD, 1L);
        set(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(*m_body_size));
        set(CURLOPT_CUSTOMREQUEST, m_plan.verb.c_str());
        set(CURLOPT_READFUNCTION, &Transfer::OnRead);
        set(CURLOPT_READDATA, this);
    } else {
        set(CURLOPT_HTTPGET, 1L);
    }
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    set(CURLOPT_WRITEDATA, this);
    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, this);
    return ok ? ERROR_SUCCESS : ERROR_INTERNET_INTERNAL_ERROR;
}

CURLcode Transfer::OnSslContext(CURL* /*easy*/, void* ssl_ctx, void* self) {
    auto* t = static_cast<Transfer*>(self);
    X509_STORE* store = SharedTrustStore(*t->m_plan.ca_bundle);
    if (store == nullptr) {
        return CURLE_SSL_CACERT_BADFILE;
    }
    // The context takes the reference; its own (empty) store goes.
    SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store);
    return CURLE_OK;
}

std::size_t Transfer::OnRead(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    if (t->m_span_left == 0) {
        if (t->m_body_closed) {
            return 0;
        }
        t->m_send_paused = true;
        return CURL_READFUNC_PAUSE;
    }
    const std::size_t n = std::min(size * count, t->m_span_left);
    std::memcpy(buffer, t->m_span, n);
    t->m_span += n;
    t->m_span_left -= n;
    t->m_progress += n;
    return n;
}

std::size_t Transfer::OnWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    const std::size_t queued = t->m_queue.size() - t->m_queue_pos;
    if (queued > 0 && queued + n > kQueueBytes) {
        t->m_recv_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (t->m_queue_pos > 0) {
        t->m_queue.erase(0, t->m_queue_pos);
        t->m_queue_pos = 0;
    }
    t->m_queue.append(data, n);
    t->m_progress += n;
    return n;
}

std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    t->m_progress += n;
    std::string_view line(data, n);
    while (line.ends_with('\n') || line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        // A new response head (after a 1xx, or the first one): only its
        // status line is kept.
        const auto sp = line.find(' ');
        std::string_view rest = sp == line.npos ? std::string_view{} : line.substr(sp + 1);
        long code = 0;
        std::size_t i = 0;
        while (i < rest.size() && i < 3 && rest[i] >= '0' && rest[i] <= '9') {
            code = code * 10 + (rest[i] - '0');
            ++i;
        }
        t->m_status = code;
        t->m_status_text.assign(HeaderList::TrimBlanks(rest.substr(i)));
    } else if (line.empty()) {
        t->m_head_done = t->m_status >= 200 || t->m_status < 100;
    }
    return n;
}

void Transfer::ApplyPause() {
    int mask = CURLPAUSE_CONT;
    if (m_recv_paused) {
        mask |= CURLPAUSE_RECV;
    }
    if (m_send_paused) {
        mask |= CURLPAUSE_SEND;
    }
    curl_easy_pause(m_easy.get(), mask);
}

void Transfer::Reap() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy.get()) {
            m_finished = true;
            m_result = msg->data.result;
        }
    }
}

void Transfer::Abort(DWORD error) {
    if (m_attached) {
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_attached = false;
    }
    m_finished = true;
    if (m_error == ERROR_SUCCESS) {
        m_error = error;
    }
}

DWORD Transfer::FailureError() const {
    if (m_error != ERROR_SUCCESS) {
        return m_error;
    }
    long verify = 0;
    if (m_easy) {
        curl_easy_getinfo(m_easy.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
    }
    // libcurl checks the name itself and says so only in its message.
    const bool name_mismatch =
        std::string_view(m_curl_error).find("host name") != std::string_view::npos;
    return ErrorFromCurl(m_result, name_mismatch ? 0 : verify);
}

template <class Done>
DWORD Transfer::DriveUntil(Done done) {
    using Clock = std::chrono::steady_clock;
    auto last_move = Clock::now();
    std::uint64_t seen = m_progress;
    while (!m_finished) {
        int running = 0;
        if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK) {
            Abort(ERROR_INTERNET_INTERNAL_ERROR);
            break;
        }
        Reap();
        if (done() || m_finished) {
            break;
        }
        const auto now = Clock::now();
        if (m_progress != seen) {
            seen = m_progress;
            last_move = now;
        } else if (now - last_move >= m_plan.idle_timeout) {
            Abort(ERROR_INTERNET_TIMEOUT);
            break;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_plan.idle_timeout - (now - last_move));
        curl_multi_poll(m_multi.get(), nullptr, 0,
                        static_cast<int>(std::clamp<long long>(wait.count(), 1, 1000)), nullptr);
    }
    if (m_finished && m_error != ERROR_SUCCESS) {
        return m_error;
    }
    return ERROR_SUCCESS;
}

DWORD Transfer::Push(const char* data, std::size_t size) {
    if (size > 0 && !m_finished) {
        m_span = data;
        m_span_left = size;
        if (m_send_paused) {
            m_send_paused = false;
            ApplyPause();
        }
        DriveUntil([this] { return m_span_left == 0; });
        size = m_span_left;
        m_span = nullptr;
        m_span_left = 0;
    }
    if (size == 0) {
        return ERROR_SUCCESS;
    }
    // The server answered and ended the exchange before taking the whole
    // body (an early refusal, say). The rest is dropped so that the caller
    // can still read that answer; a failed transfer stays failed.
    if (m_finished && m_error == ERROR_SUCCESS && m_result == CURLE_OK && m_head_done) {
        return ERROR_SUCCESS;
    }
    return m_finished ? FailureError() : ERROR_INTERNET_INTERNAL_ERROR;
}

DWORD Transfer::FlushStage() {
    if (m_stage.empty()) {
        return ERROR_SUCCESS;
    }
    const DWORD error = Push(m_stage.data(), m_stage.size());
    m_stage.clear();
    return error;
}

DWORD Transfer::Write(const void* data, std::size_t size) {
    if (!m_body_size || m_body_closed) {
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    }
    if (size > *m_body_size - m_body_written) {
        // More than the declared length would corrupt the exchange.
        return ERROR_INVALID_PARAMETER;
    }
    const char* bytes = static_cast<const char*>(data);
    m_body_written += size;
    if (m_stage.size() + size <= kStageBytes) {
        m_stage.append(bytes, size);
        return m_stage.size() == kStageBytes ? FlushStage() : ERROR_SUCCESS;
    }
    if (const DWORD error = FlushStage(); error != ERROR_SUCCESS) {
        return error;
    }
    if (size >= kStageBytes) {
        return Push(bytes, size);
    }
    m_stage.append(bytes, size);
    return ERROR_SUCCESS;
}

bool Transfer::RedirectWanted(std::string* location) const {
    if (m_plan.verb != "GET" || m_body_size || m_redirects >= kMaxRedirects) {
        return false;
    }
    if (m_status != 301 && m_status != 302 && m_status != 303 && m_status != 307 &&
        m_status != 308) {
        return false;
    }
    char* next = nullptr;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_REDIRECT_URL, &next) != CURLE_OK ||
        next == nullptr) {
        return false;
    }
    std::string_view to(next);
    const bool to_https = to.size() >= 8 && curl_strnequal(next, "https://", 8);
    const bool to_http = to.size() >= 7 && curl_strnequal(next, "http://", 7);
    // Never leave TLS for plain text on the server's say-so.
    if (!to_https && !(to_http && m_plan.origin.starts_with("http://"))) {
        return false;
    }
    location->assign(to);
    return true;
}

DWORD Transfer::EndBody() {
    if (m_body_closed) {
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    }
    if (const DWORD error = FlushStage(); error != ERROR_SUCCESS) {
        Abort(error);
        return error;
    }
    if (m_body_size && m_body_written != *m_body_size) {
        Abort(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    }
    m_body_closed = true;
    if (m_send_paused) {
        m_send_paused = false;
        ApplyPause();
    }
    for (;;) {
        DriveUntil([this] { return m_head_done; });
        if (!m_head_done) {
            const DWORD error = m_finished ? FailureError() : ERROR_INTERNET_INTERNAL_ERROR;
            return error == ERROR_SUCCESS ? ERROR_HTTP_INVALID_SERVER_RESPONSE : error;
        }
        std::string next;
        if (!RedirectWanted(&next)) {
            return ERROR_SUCCESS;
        }
        ++m_redirects;
        const std::string& origin = m_plan.origin;
        const bool same_origin = next.compare(0, origin.size(), origin) == 0 &&
                                 (next.size() == origin.size() || next[origin.size()] == '/');
        if (!same_origin) {
            // Credentials belong to the host they were given for.
            m_plan.user.clear();
            m_plan.password.clear();
        }
        if (const DWORD error = StartHop(next, false); error != ERROR_SUCCESS) {
            Abort(error);
            return error;
        }
    }
}

DWORD Transfer::Read(void* data, std::size_t size, std::size_t* got) {
    *got = 0;
    if (!m_head_done) {
        return m_finished ? FailureError() : ERROR_INTERNET_INCORRECT_HANDLE_STATE;
    }
    for (;;) {
        const std::size_t queued = m_queue.size() - m_queue_pos;
        if (queued > 0) {
            const std::size_t n = std::min(size, queued);
            std::memcpy(data, m_queue.data() + m_queue_pos, n);
            m_queue_pos += n;
            if (m_queue_pos == m_queue.size()) {
                m_queue.clear();
                m_queue_pos = 0;
            }
            *got = n;
            return ERROR_SUCCESS;
        }
        if (m_finished) {
            const DWORD error = FailureError();
            return error;
        }
        if (m_recv_paused) {
            m_recv_paused = false;
            ApplyPause();  // libcurl hands over what it held back, right here
            continue;
        }
        DriveUntil([this] { return m_queue.size() > m_queue_pos; });
    }
}

}  // namespace skiv::wininet::detail
