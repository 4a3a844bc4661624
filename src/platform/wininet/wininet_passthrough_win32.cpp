// The WinINet calls on Windows handed to wininet.dll unchanged: what the
// Windows build links until the full client (the extra CA file among its
// duties) takes this file's place.
#include "platform/wininet/wininet.h"

// After the header above: windows.h defines TRUE and FALSE as macros.
#include <windows.h>

#include <wininet.h>

namespace skiv::wininet {

namespace {
// The header's DWORD is 32 bits everywhere; Windows' is an unsigned long.
struct Dword {
    ::DWORD value;
    explicit Dword(const DWORD* from) : value(from ? *from : 0) {}
    void CopyTo(DWORD* to) const {
        if (to)
            *to = static_cast<DWORD>(value);
    }
};

::INTERNET_BUFFERSA ToSystem(const INTERNET_BUFFERSA* in) {
    ::INTERNET_BUFFERSA out{};
    out.dwStructSize = sizeof out;
    if (in) {
        out.lpcszHeader = in->lpcszHeader;
        out.dwHeadersLength = in->dwHeadersLength;
        out.dwHeadersTotal = in->dwHeadersTotal;
        out.lpvBuffer = in->lpvBuffer;
        out.dwBufferLength = in->dwBufferLength;
        out.dwBufferTotal = in->dwBufferTotal;
        out.dwOffsetLow = in->dwOffsetLow;
        out.dwOffsetHigh = in->dwOffsetHigh;
    }
    return out;
}
}  // namespace

DWORD GetLastError() {
    return static_cast<DWORD>(::GetLastError());
}

HINTERNET InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                        LPCSTR lpszProxyBypass, DWORD dwFlags) {
    return ::InternetOpenA(lpszAgent, dwAccessType, lpszProxy, lpszProxyBypass, dwFlags);
}

DWORD InternetAttemptConnect(DWORD dwReserved) {
    return static_cast<DWORD>(::InternetAttemptConnect(dwReserved));
}

HINTERNET InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName, INTERNET_PORT nServerPort,
                           LPCSTR lpszUserName, LPCSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                           DWORD_PTR dwContext) {
    return ::InternetConnectA(hInternet, lpszServerName, nServerPort, lpszUserName, lpszPassword,
                              dwService, dwFlags, dwContext);
}

HINTERNET HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                           LPCSTR lpszVersion, LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                           DWORD dwFlags, DWORD_PTR dwContext) {
    return ::HttpOpenRequestA(hConnect, lpszVerb, lpszObjectName, lpszVersion, lpszReferrer,
                              lplpszAcceptTypes, dwFlags, dwContext);
}

BOOL HttpAddRequestHeadersA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                            DWORD dwModifiers) {
    return ::HttpAddRequestHeadersA(hRequest, lpszHeaders, dwHeadersLength, dwModifiers);
}

BOOL HttpSendRequestA(HINTERNET hRequest, LPCSTR lpszHeaders, DWORD dwHeadersLength,
                      LPVOID lpOptional, DWORD dwOptionalLength) {
    return ::HttpSendRequestA(hRequest, lpszHeaders, dwHeadersLength, lpOptional, dwOptionalLength);
}

BOOL HttpSendRequestExA(HINTERNET hRequest, INTERNET_BUFFERSA* lpBuffersIn,
                        INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD dwFlags, DWORD_PTR dwContext) {
    ::INTERNET_BUFFERSA in = ToSystem(lpBuffersIn);
    return ::HttpSendRequestExA(hRequest, lpBuffersIn ? &in : nullptr, nullptr, dwFlags, dwContext);
}

BOOL InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                       LPDWORD lpdwNumberOfBytesWritten) {
    Dword written(lpdwNumberOfBytesWritten);
    const BOOL ok = ::InternetWriteFile(hFile, lpBuffer, dwNumberOfBytesToWrite, &written.value);
    written.CopyTo(lpdwNumberOfBytesWritten);
    return ok;
}

BOOL HttpEndRequestA(HINTERNET hRequest, INTERNET_BUFFERSA* /*lpBuffersOut*/, DWORD dwFlags,
                     DWORD_PTR dwContext) {
    return ::HttpEndRequestA(hRequest, nullptr, dwFlags, dwContext);
}

BOOL InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                      LPDWORD lpdwNumberOfBytesRead) {
    Dword read(lpdwNumberOfBytesRead);
    const BOOL ok = ::InternetReadFile(hFile, lpBuffer, dwNumberOfBytesToRead, &read.value);
    read.CopyTo(lpdwNumberOfBytesRead);
    return ok;
}

BOOL HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                    LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
    Dword length(lpdwBufferLength), index(lpdwIndex);
    const BOOL ok = ::HttpQueryInfoA(hRequest, dwInfoLevel, lpBuffer, &length.value,
                                     lpdwIndex ? &index.value : nullptr);
    length.CopyTo(lpdwBufferLength);
    index.CopyTo(lpdwIndex);
    return ok;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    return ::InternetCloseHandle(hInternet);
}

}  // namespace skiv::wininet
