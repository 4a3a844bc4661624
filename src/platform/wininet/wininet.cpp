// The WinINet entry points: argument checks, handle bookkeeping and the
// translation of a request handle's state into a Transfer.

#include "platform/wininet/wininet.h"

#include <curl/curl.h>

#include <algorithm>
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

std::string_view Text(LPCSTR text, DWORD length = static_cast<DWORD>(-1)) {
    if (text == nullptr) {
        return {};
    }
    if (length == static_cast<DWORD>(-1)) {
        return std::string_view(text);
    }
    std::string_view view(text, length);
    return view.substr(0, view.find('\0'));
}

bool ValidHost(std::string_view host) {
    return !host.empty() && host.find_first_of("/?#@\\") == std::string_view::npos &&
           std::none_of(host.begin(), host.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u <= 0x20 || u == 0x7F;
           });
}

// The live handle of T's kind; else null, with the last error set.
template <class T>
std::shared_ptr<T> Find(HINTERNET handle) {
    return LookupAs<T>(handle, &t_last_error);
}
std::shared_ptr<Request> FindRequest(HINTERNET handle) {
    return Find<Request>(handle);
}

// Starts the request's exchange; the caller holds the request's lock.
DWORD StartTransfer(Request& request, std::optional<std::uint64_t> body_size) {
    request.transfer = std::make_unique<Transfer>(MakePlan(request), request.connection->links);
    const DWORD error = request.transfer->Begin(body_size);
    if (error != ERROR_SUCCESS) {
        request.transfer.reset();
    }
    return error;
}

// A request with a verb other than GET always declares a body, if only an
// empty one.
std::optional<std::uint64_t> BodySize(const Request& request, DWORD length) {
    if (length > 0 || request.verb != "GET") {
        return length;
    }
    return std::nullopt;
}

BOOL Result(DWORD error) {
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

// The checks InternetWriteFile and InternetReadFile share; io moves the
// bytes through the request's transfer, under the request's lock.
template <class Io>
BOOL MoveBytes(HINTERNET handle, const void* buffer, DWORD size, LPDWORD moved, Io io) {
    auto request = FindRequest(handle);
    if (!request) {
        return FALSE;
    }
    if (moved == nullptr || (buffer == nullptr && size > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *moved = 0;
    std::lock_guard guard(request->lock);
    if (!request->transfer) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    if (size == 0) {
        return Succeed();
    }
    std::size_t done = 0;
    const DWORD error = io(*request->transfer, &done);
    *moved = static_cast<DWORD>(done);
    return Result(error);
}

}  // namespace

DWORD GetLastError() {
    return t_last_error;
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR /*lpszProxy*/,
                        LPCSTR /*lpszProxyBypass*/, DWORD /*dwFlags*/) {
    const std::string_view agent = Text(lpszAgent);
    if ((dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG &&
         dwAccessType != INTERNET_OPEN_TYPE_DIRECT) ||
        agent.find_first_of("\r\n") != std::string_view::npos) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    InitCurlOnce();
    auto session = std::make_shared<Session>();
    session->agent.assign(agent);
    session->direct = dwAccessType == INTERNET_OPEN_TYPE_DIRECT;
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
    auto session = Find<Session>(hInternet);
    if (!session) {
        return nullptr;
    }
    const std::string_view host = Text(lpszServerName);
    if (dwService != INTERNET_SERVICE_HTTP || host.empty()) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    if (!ValidHost(host)) {
        return FailNull(ERROR_INTERNET_INVALID_URL);
    }
    auto conn = std::make_shared<Connection>();
    conn->session = std::move(session);
    conn->host.assign(host);
    conn->port = nServerPort;
    conn->user = Text(lpszUserName);
    conn->password = Text(lpszPassword);
    HINTERNET handle = Register(std::move(conn));
    Succeed();
    return handle;
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR /*dwContext*/) {
    auto conn = Find<Connection>(hConnect);
    if (!conn) {
        return nullptr;
    }
    auto request = std::make_shared<Request>();
    request->verb = lpszVerb != nullptr && *lpszVerb != '\0' ? lpszVerb : "GET";
    request->object = lpszObjectName != nullptr ? lpszObjectName : "/";
    const std::string_view version = Text(lpszVersion);
    request->http10 = HeaderList::EqualNames(version, "HTTP/1.0");
    if (!HeaderList::IsToken(request->verb) ||
        !(request->http10 || version.empty() || HeaderList::EqualNames(version, "HTTP/1.1"))) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    request->flags = dwFlags;
    std::string accept;
    for (LPCSTR* type = lplpszAcceptTypes; type != nullptr && *type != nullptr; ++type) {
        if (**type != '\0') {
            accept += (accept.empty() ? "" : ", ") + std::string(*type);
        }
    }
    if ((!accept.empty() &&
         request->headers.ApplyOne("Accept", accept, HTTP_ADDREQ_FLAG_ADD) != ERROR_SUCCESS) ||
        (!Text(lpszReferrer).empty() &&
         request->headers.ApplyOne("Referer", lpszReferrer, HTTP_ADDREQ_FLAG_ADD) !=
             ERROR_SUCCESS)) {
        return FailNull(ERROR_INVALID_PARAMETER);
    }
    request->connection = std::move(conn);
    HINTERNET handle = Register(std::move(request));
    Succeed();
    return handle;
}

BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) {
    auto request = FindRequest(hRequest);
    if (!request) {
        return FALSE;
    }
    if (lpszHeaders == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    return Result(request->headers.Apply(Text(lpszHeaders, dwHeadersLength), dwModifiers));
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    auto request = FindRequest(hRequest);
    if (!request) {
        return FALSE;
    }
    if (lpOptional == nullptr && dwOptionalLength != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    DWORD error = request->headers.Apply(Text(lpszHeaders, dwHeadersLength),
                                         HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    if (error == ERROR_SUCCESS) {
        error = StartTransfer(*request, BodySize(*request, dwOptionalLength));
    }
    if (error == ERROR_SUCCESS && dwOptionalLength > 0) {
        error = request->transfer->Write(lpOptional, dwOptionalLength);
    }
    if (error == ERROR_SUCCESS) {
        error = request->transfer->EndBody();
    }
    return Result(error);
}

BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD /*dwFlags*/,
                        DWORD_PTR /*dwContext*/) {
    auto request = FindRequest(hRequest);
    if (!request) {
        return FALSE;
    }
    std::lock_guard guard(request->lock);
    return Result(
        StartTransfer(*request, BodySize(*request, lpBuffersIn ? lpBuffersIn->dwBufferTotal : 0)));
}

BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten) {
    return MoveBytes(hFile, lpBuffer, dwNumberOfBytesToWrite, lpdwNumberOfBytesWritten,
                     [&](Transfer& transfer, std::size_t* moved) {
                         const DWORD error = transfer.Write(lpBuffer, dwNumberOfBytesToWrite);
                         *moved = error == ERROR_SUCCESS ? dwNumberOfBytesToWrite : 0;
                         return error;
                     });
}

BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD /*dwFlags*/,
                     DWORD_PTR /*dwContext*/) {
    auto request = FindRequest(hRequest);
    if (!request) {
        return FALSE;
    }
    std::lock_guard guard(request->lock);
    return Result(request->transfer ? request->transfer->EndBody()
                                    : ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
    return MoveBytes(hFile, lpBuffer, dwNumberOfBytesToRead, lpdwNumberOfBytesRead,
                     [&](Transfer& transfer, std::size_t* moved) {
                         return transfer.Read(lpBuffer, dwNumberOfBytesToRead, moved);
                     });
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD /*lpdwIndex*/) {
    auto request = FindRequest(hRequest);
    if (!request) {
        return FALSE;
    }
    if (lpdwBufferLength == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(request->lock);
    if (!request->transfer || !request->transfer->HeadArrived()) {
        return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    }
    const Transfer& t = *request->transfer;
    if (dwInfoLevel == (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER)) {
        if (lpBuffer == nullptr || *lpdwBufferLength < sizeof(DWORD)) {
            *lpdwBufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const auto status = static_cast<DWORD>(t.Status());
        std::memcpy(lpBuffer, &status, sizeof status);
        *lpdwBufferLength = sizeof(DWORD);
        return Succeed();
    }
    std::string text;
    if (dwInfoLevel == HTTP_QUERY_STATUS_CODE) {
        text = std::to_string(t.Status());
    } else if (dwInfoLevel == HTTP_QUERY_STATUS_TEXT) {
        text = t.StatusText();
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Text comes NUL-terminated; a short buffer learns the size it needs.
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(lpBuffer, text.c_str(), needed);
    *lpdwBufferLength = needed - 1;
    return Succeed();
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    return Unregister(hInternet) ? Succeed() : Fail(ERROR_INVALID_HANDLE);
}

}  // namespace skiv::wininet
