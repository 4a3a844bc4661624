// The WinINet entry points: argument checks, handle bookkeeping and the
// translation of a request handle's state into a Transfer.

#include "platform/wininet/wininet.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/wininet/handles.h"
#include "platform/wininet/request_plan.h"
#include "platform/wininet/tls_trust.h"
#include "platform/wininet/transfer.h"

namespace skiv::wininet {

using namespace detail;

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

// Sets the last error and returns the failure value of the caller's type.
BOOL Fail(DWORD error) {
    t_last_error = error;
    return FALSE;
}
HINTERNET FailNull(DWORD error) {
    t_last_error = error;
    return nullptr;
}
BOOL Succeed() {
    t_last_error = ERROR_SUCCESS;
    return TRUE;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string_view Text(LPCSTR text, DWORD length) {
    if (text == nullptr) {
        return {};
    }
    if (length == static_cast<DWORD>(-1)) {
        return std::string_view(text);
    }
    std::string_view view(text, length);
    return view.substr(0, view.find('\0'));
}

bool HasControlOrBlank(std::string_view text) {
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F) {
            return true;
        }
    }
    return false;
}

bool ValidHost(std::string_view host) {
    return !host.empty() && !HasControlOrBlank(host) &&
           host.find_first_of("/?#@\\") == std::string_view::npos;
}

std::optional<std::uint64_t> ParseLength(const std::string* text) {
    if (text == nullptr || text->empty() || text->size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// Starts the request's exchange; the caller holds the request's lock.
DWORD StartTransfer(Request& request, std::optional<std::uint64_t> body_size) {
    if (request.transfer && request.transfer->HeadArrived() == false) {
        // A send that never completed leaves nothing worth keeping.
        request.transfer.reset();
    }
    request.transfer = std::make_unique<Transfer>(MakePlan(request));
    const DWORD error = request.transfer->Begin(body_size);
    if (error != ERROR_SUCCESS) {
        request.transfer.reset();
    }
    return error;
}

BOOL CopyText(const std::string& text, LPVOID buffer, LPDWORD length) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), needed);
    *length = needed - 1;
    return Succeed();
}

const char* HeaderNameOf(DWORD level) {
    switch (level) {
        case HTTP_QUERY_CONTENT_TYPE:
            return "Content-Type";
        case HTTP_QUERY_CONTENT_LENGTH:
            return "Content-Length";
        case HTTP_QUERY_LOCATION:
            return "Location";
        default:
            return nullptr;
    }
}

}  // namespace

DWORD GetLastError() {
    return t_last_error;
}
void SetLastError(DWORD error) {
    t_last_error = error;
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    constexpr DWORD kPreconfigNoAutoproxy = 4;
    if (dwAccessType == kPreconfigNoAutoproxy) {
        dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    }
    if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
        dwAccessType != INTERNET_OPEN_TYPE_PROXY) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY && (lpszProxy == nullptr || *lpszProxy == '\0')) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    std::string_view agent = Text(lpszAgent, static_cast<DWORD>(-1));
    if (agent.find_first_of("\r\n") != std::string_view::npos) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    InitCurlOnce();
    auto session = std::make_shared<Session>();
    session->agent.assign(agent);
    session->proxy.access_type = dwAccessType;
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY) {
        session->proxy.proxy = lpszProxy;
        session->proxy.bypass = lpszProxyBypass != nullptr ? lpszProxyBypass : "";
    }
    session->flags = dwFlags;
    session->ca_bundle = TrustBundleFromEnvironment();
    HINTERNET handle = Register(std::move(session));
    Succeed();
    return handle;
}

DWORD InternetAttemptConnect(DWORD /*dwReserved*/) {
    return ERROR_SUCCESS;
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService,
                           DWORD /*dwFlags*/, DWORD_PTR /*dwContext*/) {
    auto session = LookupAs<Session>(hInternet, HandleKind::Session);
    if (!session) {
        return FailNull(Lookup(hInternet) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                          : ERROR_INVALID_HANDLE);
    }
    if (dwService != INTERNET_SERVICE_HTTP) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    std::string_view host = Text(lpszServerName, static_cast<DWORD>(-1));
    if (!ValidHost(host)) {
        return FailNull(host.empty() ? ERROR_INVALID_PARAMETER : ERROR_INTERNET_INVALID_URL);
    }
    auto conn = std::make_shared<Connection>();
    conn->session = std::move(session);
    conn->host.assign(host);
    conn->port = nServerPort;
    conn->user = lpszUserName != nullptr ? lpszUserName : "";
    conn->password = lpszPassword != nullptr ? lpszPassword : "";
    HINTERNET handle = Register(std::move(conn));
    Succeed();
    return handle;
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR /*dwContext*/) {
    auto conn = LookupAs<Connection>(hConnect, HandleKind::Connection);
    if (!conn) {
        return FailNull(Lookup(hConnect) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE
                                         : ERROR_INVALID_HANDLE);
    }
    auto request = std::make_shared<Request>();
    request->verb = lpszVerb != nullptr && *lpszVerb != '\0' ? lpszVerb : "GET";
    if (!HeaderList::IsToken(request->verb)) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    request->object = lpszObjectName != nullptr ? lpszObjectName : "/";
    const std::string_view version = Text(lpszVersion, static_cast<DWORD>(-1));
    if (version.empty() || HeaderList::EqualNames(version, "HTTP/1.1")) {
        request->http10 = false;
    } else if (HeaderList::EqualNames(version, "HTTP/1.0")) {
        request->http10 = true;
    } else {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    request->flags = dwFlags;
    if (lplpszAcceptTypes != nullptr) {
        std::string accept;
        for (LPCSTR* type = lplpszAcceptTypes; *type != nullptr; ++type) {
            if (**type == '\0') {
                continue;
            }
            if (!accept.empty()) {
                accept += ", ";
            }
            accept += *type;
        }
        if (!accept.empty() &&
            request->headers.ApplyOne("Accept", accept, HTTP_ADDREQ_FLAG_ADD) != ERROR_SUCCESS) {
            return FailNull(ERROR_INVALID_PARAMETER);
        }
    }
    if (lpszReferrer != nullptr && *lpszReferrer != '\0' &&
        request->headers.ApplyOne("Referer", lpszReferrer, HTTP_ADDREQ_FLAG_ADD) != ERROR_SUCCESS) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    request->connection = std::move(conn);
    HINTERNET handle = Register(std::move(request));
    Succeed();
    return handle;
}

BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) {
    auto request = LookupAs<Request>(hRequest, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hRequest) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    if (lpszHeaders == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    const DWORD error = request->headers.Apply(Text(lpszHeaders, dwHeadersLength), dwModifiers);
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    auto request = LookupAs<Request>(hRequest, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hRequest) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    if (lpOptional == nullptr && dwOptionalLength != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    if (lpszHeaders != nullptr) {
        const DWORD error = request->headers.Apply(Text(lpszHeaders, dwHeadersLength),
                                                   HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
        if (error != ERROR_SUCCESS) {
            return Fail(error);
        }
    }
    std::optional<std::uint64_t> body;
    if (dwOptionalLength > 0 || (request->verb != "GET" && request->verb != "HEAD")) {
        body = dwOptionalLength;
    }
    DWORD error = StartTransfer(*request, body);
    if (error == ERROR_SUCCESS && dwOptionalLength > 0) {
        error = request->transfer->Write(lpOptional, dwOptionalLength);
    }
    if (error == ERROR_SUCCESS) {
        error = request->transfer->EndBody();
    }
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD /*dwFlags*/,
                        DWORD_PTR /*dwContext*/) {
    auto request = LookupAs<Request>(hRequest, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hRequest) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    std::lock_guard guard(request->lock);
    DWORD declared = 0;
    const void* first = nullptr;
    DWORD first_length = 0;
    if (lpBuffersIn != nullptr) {
        if (lpBuffersIn->lpcszHeader != nullptr) {
            const DWORD error =
                request->headers.Apply(Text(lpBuffersIn->lpcszHeader, lpBuffersIn->dwHeadersLength),
                                       HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
            if (error != ERROR_SUCCESS) {
                return Fail(error);
            }
        }
        declared = lpBuffersIn->dwBufferTotal;
        if (lpBuffersIn->lpvBuffer != nullptr && lpBuffersIn->dwBufferLength > 0) {
            first = lpBuffersIn->lpvBuffer;
            first_length = lpBuffersIn->dwBufferLength;
        }
    }
    // The body's length comes from the buffers record or, when that leaves
    // it open, from a Content-Length header the caller added; the two must
    // agree, or the request on the wire would contradict itself.
    const std::string* header = request->headers.Find("Content-Length");
    std::optional<std::uint64_t> body;
    if (header != nullptr) {
        body = ParseLength(header);
        if (!body || (declared != 0 && *body != declared)) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
    } else if (declared != 0) {
        body = declared;
    } else if (first_length != 0 || (request->verb != "GET" && request->verb != "HEAD")) {
        body = first_length;
    }
    DWORD error = StartTransfer(*request, body);
    if (error == ERROR_SUCCESS && first != nullptr) {
        error = request->transfer->Write(first, first_length);
    }
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten) {
    auto request = LookupAs<Request>(hFile, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hFile) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    if (lpdwNumberOfBytesWritten == nullptr ||
        (lpBuffer == nullptr && dwNumberOfBytesToWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpdwNumberOfBytesWritten = 0;
    std::lock_guard guard(request->lock);
    if (!request->transfer) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    if (dwNumberOfBytesToWrite == 0) {
        return Succeed();
    }
    const DWORD error = request->transfer->Write(lpBuffer, dwNumberOfBytesToWrite);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    *lpdwNumberOfBytesWritten = dwNumberOfBytesToWrite;
    return Succeed();
}

BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD /*dwFlags*/,
                     DWORD_PTR /*dwContext*/) {
    auto request = LookupAs<Request>(hRequest, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hRequest) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    std::lock_guard guard(request->lock);
    if (!request->transfer) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    const DWORD error = request->transfer->EndBody();
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
    auto request = LookupAs<Request>(hFile, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hFile) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpdwNumberOfBytesRead = 0;
    std::lock_guard guard(request->lock);
    if (!request->transfer) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    if (dwNumberOfBytesToRead == 0) {
        return Succeed();
    }
    std::size_t got = 0;
    const DWORD error = request->transfer->Read(lpBuffer, dwNumberOfBytesToRead, &got);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    *lpdwNumberOfBytesRead = static_cast<DWORD>(got);
    return Succeed();
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    auto request = LookupAs<Request>(hRequest, HandleKind::Request);
    if (!request) {
        return Fail(Lookup(hRequest) ? ERROR_INTERNET_INCORRECT_HANDLE_TYPE : ERROR_INVALID_HANDLE);
    }
    if (lpdwBufferLength == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    if (!request->transfer || !request->transfer->HeadArrived()) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    const Transfer& t = *request->transfer;
    constexpr DWORD kRequestHeadersFlag = 0x80000000;  // querying what was sent: not kept
    if ((dwInfoLevel & kRequestHeadersFlag) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD level = dwInfoLevel & 0x0000FFFF;
    const bool number = (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
    const DWORD wanted_index = lpdwIndex != nullptr ? *lpdwIndex : 0;

    std::string value;
    bool found = false;
    if (level == HTTP_QUERY_STATUS_CODE) {
        value = std::to_string(t.Status());
        found = wanted_index == 0;
    } else if (level == HTTP_QUERY_STATUS_TEXT) {
        value = t.StatusText();
        found = wanted_index == 0;
    } else if (level == HTTP_QUERY_VERSION) {
        const std::string& head = t.RawHead();
        value = head.substr(0, head.find(' '));
        found = wanted_index == 0;
    } else if (level == HTTP_QUERY_RAW_HEADERS_CRLF) {
        value = t.RawHead();
        found = wanted_index == 0;
    } else {
        std::string name;
        if (level == HTTP_QUERY_CUSTOM) {
            if (lpBuffer == nullptr) {
                return Fail(ERROR_INVALID_PARAMETER);
            }
            name.assign(static_cast<const char*>(lpBuffer),
                        strnlen(static_cast<const char*>(lpBuffer), *lpdwBufferLength));
        } else if (const char* known = HeaderNameOf(level)) {
            name = known;
        } else {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        DWORD seen = 0;
        for (const auto& [n, v] : t.ResponseHeaders()) {
            if (HeaderList::EqualNames(n, name) && seen++ == wanted_index) {
                value = v;
                found = true;
                break;
            }
        }
    }
    if (!found) {
        return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    }
    if (number) {
        char* end = nullptr;
        const unsigned long parsed = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') {
            return Fail(ERROR_HTTP_INVALID_HEADER);
        }
        if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
            *lpdwBufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const auto out = static_cast<DWORD>(parsed);
        std::memcpy(lpBuffer, &out, sizeof out);
        *lpdwBufferLength = sizeof(DWORD);
    } else if (!CopyText(value, lpBuffer, lpdwBufferLength)) {
        return FALSE;
    }
    if (lpdwIndex != nullptr) {
        ++*lpdwIndex;
    }
    return Succeed();
}

BOOL InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                        DWORD dwBufferLength) {
    auto handle = Lookup(hInternet);
    if (!handle) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpBuffer == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(handle->lock);
    switch (dwOption) {
        case INTERNET_OPTION_PROXY_USERNAME:
        case INTERNET_OPTION_PROXY_PASSWORD: {
            const auto* text = static_cast<LPCSTR>(lpBuffer);
            std::string value(
                Text(text, dwBufferLength == 0 ? static_cast<DWORD>(-1) : dwBufferLength));
            (dwOption == INTERNET_OPTION_PROXY_USERNAME ? handle->options.proxy_user
                                                        : handle->options.proxy_password) =
                std::move(value);
            return Succeed();
        }
        case INTERNET_OPTION_CONNECT_TIMEOUT:
        case INTERNET_OPTION_SEND_TIMEOUT:
        case INTERNET_OPTION_RECEIVE_TIMEOUT: {
            if (dwBufferLength < sizeof(DWORD)) {
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            DWORD ms = 0;
            std::memcpy(&ms, lpBuffer, sizeof ms);
            const std::chrono::milliseconds value(ms == 0 ? 1 : ms);
            (dwOption == INTERNET_OPTION_CONNECT_TIMEOUT ? handle->options.connect_timeout
                                                         : handle->options.receive_timeout) = value;
            return Succeed();
        }
        default:
            return Fail(ERROR_INTERNET_INVALID_OPTION);
    }
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    return Unregister(hInternet) ? Succeed() : Fail(ERROR_INVALID_HANDLE);
}

}  // namespace skiv::wininet
