#pragma once
// The WinINet calls the HTTP clients make, in namespace skiv::wininet. On
// Windows they are the system's own (<wininet.h>, wininet.dll): proxies,
// cookies, the certificate store and the TLS stack are the system's. On
// other systems the stand-in over libcurl supplies the same names, shapes,
// constants and error numbers.
//
// Trust on Windows is the system certificate store and nothing else: no
// SECURITY_FLAG_IGNORE_* flag is ever set. WinINet decides a chain before it
// returns from HttpSendRequest, so a private service's CA (what
// SKIVADDON_CA_FILE names for the stand-in) cannot be added per process
// without waiving the check; on Windows that CA is imported into the
// Trusted Root store instead (certutil -addstore Root ca.pem), and
// SKIVADDON_CA_FILE is not read.

#if defined(_WIN32)

// clang-format off
#include <windows.h>
#include <wininet.h>
// clang-format on

namespace skiv::wininet {

using ::BOOL;
using ::DWORD;
using ::DWORD_PTR;
using ::HINTERNET;
using ::INTERNET_BUFFERSA;
using ::INTERNET_PORT;
using ::LPCSTR;
using ::LPCVOID;
using ::LPDWORD;
using ::LPVOID;

using ::GetLastError;
using ::HttpAddRequestHeadersA;
using ::HttpEndRequestA;
using ::HttpOpenRequestA;
using ::HttpQueryInfoA;
using ::HttpSendRequestA;
using ::HttpSendRequestExA;
using ::InternetAttemptConnect;
using ::InternetCloseHandle;
using ::InternetConnectA;
using ::InternetOpenA;
using ::InternetReadFile;
using ::InternetWriteFile;

}  // namespace skiv::wininet

#else

#include "platform/wininet/wininet.h"

#endif
