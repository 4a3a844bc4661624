#pragma once
// One HTTP exchange driven through libcurl's multi interface on the
// caller's thread, shaped for WinINet's blocking calls:
//   Begin (request line and headers go out) -> Write... -> EndBody (waits for
//   the response head) -> Read... (0 bytes at the end).
// The request body is pushed piece by piece: small writes are gathered up
// to kStageBytes and handed to libcurl's read callback, which is paused
// whenever nothing is waiting; each hand-over returns once libcurl took the
// bytes. The response body flows through a queue bounded by kQueueBytes:
// the write callback pauses the transfer when the queue is full and Read
// resumes it. Neither body is ever held whole.
//
// Every call returns ERROR_SUCCESS or a WinINet error number. A Transfer is
// used by one thread at a time and is neither copied nor moved (libcurl
// holds pointers to it).

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/wininet/curl_handles.h"
#include "platform/wininet/wininet.h"

namespace skiv::wininet::detail {

struct TransferPlan {
    std::string origin;  // "http://host:port" or "https://host:port"
    std::string path;    // origin-form object name, as the URL carries it
    std::string target;  // request-target as it goes on the request line
    std::string verb;    // "GET", "POST", ...; a GET without a body follows redirects
    bool http10 = false;
    std::vector<std::string> header_lines;          // in libcurl's list syntax, see MakePlan
    std::string agent;                              // empty: no User-Agent
    std::string user, password;                     // empty user: no credentials
    std::string proxy;                              // exactly this proxy; "" = none
    std::shared_ptr<const std::string> ca_bundle;   // PEM; null: libcurl's default store
    std::chrono::milliseconds idle_timeout{60000};  // no byte moved for this long: timeout
};

// The libcurl handles one connection handle keeps between its exchanges:
// a multi handle holds the open connections (its connection cache) and an
// easy handle the TLS session to resume, so consecutive requests to the
// same server go over the same TCP+TLS connection, as WinINet keeps its
// connections alive per server. Each link serves one exchange at a time;
// requests open at once on one connection handle take a link each.
class LinkPool {
public:
    static constexpr std::size_t kMaxIdle = 4;
    struct Link {
        CurlMulti multi;  // declared first: goes last, after its easy handle
        CurlEasy easy;
    };
    // An idle link, else a new one (null members when libcurl has no memory).
    Link Take();
    // Keeps the link for the next exchange (at most kMaxIdle are kept); its
    // easy handle must be detached from the multi handle and reset.
    void Give(Link link);

private:
    std::mutex m_lock;
    std::vector<Link> m_idle;
};

class Transfer {
public:
    static constexpr std::size_t kStageBytes = 64 * 1024;
    static constexpr std::size_t kQueueBytes = 64 * 1024;
    static constexpr int kMaxRedirects = 10;
    static constexpr long kConnectTimeoutMs = 60000;

    // links: where the handles come from and go back to; null gives the
    // exchange handles (and a connection) of its own.
    explicit Transfer(TransferPlan plan, std::shared_ptr<LinkPool> links = nullptr);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Starts the exchange. body_size: nullopt sends no body (and no
    // Content-Length); a value declares that many bytes, which Write must
    // deliver in full before EndBody.
    DWORD Begin(std::optional<std::uint64_t> body_size);
    DWORD Write(const void* data, std::size_t size);
    // Sends what is gathered, checks the body is complete and waits for the
    // final response head (following the redirects of a bodiless GET).
    DWORD EndBody();
    // Up to size bytes of the response body; *got == 0 at its end.
    DWORD Read(void* data, std::size_t size, std::size_t* got);

    bool HeadArrived() const { return m_head_done; }
    long Status() const { return m_status; }
    const std::string& StatusText() const { return m_status_text; }

private:
    static CURLcode OnSslContext(CURL* easy, void* ssl_ctx, void* self);
    static std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* self);
    static std::size_t OnWrite(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);

    DWORD StartHop(const std::string& url, bool use_target);
    DWORD Configure(const std::string& url, bool use_target);
    template <class Done>
    DWORD DriveUntil(Done done);
    void Reap();
    void ApplyPause();
    void Abort(DWORD error);
    DWORD Push(const char* data, std::size_t size);
    DWORD FlushStage();
    DWORD FailureError() const;
    bool RedirectWanted(std::string* location) const;

    TransferPlan m_plan;
    std::shared_ptr<LinkPool> m_links;
    CurlMulti m_multi;
    CurlEasy m_easy;
    bool m_attached = false;
    struct curl_slist* m_headers = nullptr;

    std::optional<std::uint64_t> m_body_size;
    std::uint64_t m_body_written = 0;
    bool m_body_closed = false;  // EndBody ran: no more body will come
    std::string m_stage;
    const char* m_span = nullptr;  // bytes offered to the read callback
    std::size_t m_span_left = 0;

    std::string m_queue;  // response body bytes not yet read
    std::size_t m_queue_pos = 0;

    bool m_send_paused = false;
    bool m_recv_paused = false;
    bool m_finished = false;
    CURLcode m_result = CURLE_OK;
    char m_curl_error[CURL_ERROR_SIZE] = {};
    DWORD m_error = ERROR_SUCCESS;  // set by Abort; wins over m_result
    std::uint64_t m_progress = 0;   // every byte moved either way

    bool m_head_done = false;
    long m_status = 0;
    std::string m_status_text;
    int m_redirects = 0;
};

}  // namespace skiv::wininet::detail
