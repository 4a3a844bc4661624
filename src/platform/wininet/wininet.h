#pragma once
// The WinINet calls the HTTP clients use, with WinINet's names, shapes,
// constants and error numbers, implemented over libcurl's multi interface.
//
// Contracts that matter off Windows:
// - What the caller gives reaches the wire and nothing else: verb, object
//   name, "HTTP/1.0" or "HTTP/1.1", every header. libcurl's own additions
//   that WinINet would not send (Expect: 100-continue first among them) are
//   suppressed. "Accept: */*" comes from the accept-type list.
// - INTERNET_FLAG_SECURE means TLS; INTERNET_FLAG_PRAGMA_NOCACHE sends
//   "Pragma: no-cache"; no cache is ever used. GET follows redirects.
// - TLS verifies against the system store plus the CA file named by the
//   environment variable SKIVADDON_CA_FILE. Access type 0 (preconfig)
//   honours https_proxy, http_proxy and no_proxy; 1 (direct) never uses a
//   proxy.
// - Bodies are never held whole: HttpSendRequestEx + InternetWriteFile push
//   the request body piece by piece while libcurl sends it, and
//   InternetReadFile reads the response incrementally (0 bytes at the end).
// - Every failing call returns FALSE or NULL and sets the per-thread last
//   error (GetLastError) to a WinINet error number.
//
// Handles are opaque; each is closed with InternetCloseHandle. A connection
// handle must outlive its request handles, a session its connections.

#include <cstddef>
#include <cstdint>

namespace skiv::wininet {

using BOOL = int;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using HINTERNET = void*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Access types.
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;

// Services and ports.
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Request flags. Only SECURE and PRAGMA_NOCACHE change what happens; the
// others are accepted for the Windows build, where they steer the cache.
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
inline constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100;
inline constexpr DWORD INTERNET_FLAG_NO_UI = 0x00000200;
inline constexpr DWORD INTERNET_FLAG_HYPERLINK = 0x00000400;
inline constexpr DWORD INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
inline constexpr DWORD INTERNET_FLAG_FORMS_SUBMIT = 0x00000040;

// HttpAddRequestHeaders modifiers.
inline constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000;
inline constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

// HttpQueryInfo levels and modifiers: the status line is all that is kept
// of a response head.
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Error numbers (GetLastError).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr DWORD ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
inline constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;

struct INTERNET_BUFFERSA {
    DWORD dwStructSize;  // 40 on 32-bit Windows
    INTERNET_BUFFERSA* Next;
    LPCSTR lpcszHeader;
    DWORD dwHeadersLength;
    DWORD dwHeadersTotal;
    LPVOID lpvBuffer;
    DWORD dwBufferLength;
    DWORD dwBufferTotal;  // total request body length
    DWORD dwOffsetLow;
    DWORD dwOffsetHigh;
};

DWORD GetLastError();

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags);
DWORD InternetAttemptConnect(DWORD dwReserved);
HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext);
HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext);
// dwHeadersLength may be (DWORD)-1 for a NUL-terminated text; the text may
// hold several "Name: value\r\n" lines.
BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers);
// Sends the request with the whole body given; blocks until the response
// head has arrived.
BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength);
// Starts a request whose body (lpBuffersIn->dwBufferTotal bytes) follows
// through InternetWriteFile; HttpEndRequestA then waits for the response
// head. Only dwBufferTotal is read from the record.
BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten);
BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersOut, DWORD dwFlags,
                     DWORD_PTR dwContext);
// Reads up to dwNumberOfBytesToRead bytes of the response body; TRUE with
// *lpdwNumberOfBytesRead == 0 at the end. FALSE when the transfer failed
// (a connection cut before the announced length arrived included).
BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead);
// HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER fills a DWORD; text
// queries fill a NUL-terminated text and, when the buffer is short (or
// null), fail with ERROR_INSUFFICIENT_BUFFER and the needed size in bytes.
BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
BOOL InternetCloseHandle(HINTERNET hInternet);

}  // namespace skiv::wininet
