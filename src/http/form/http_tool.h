#pragma once
// The form client's only road to the HTTP stack and the platform: stateless
// wrappers that check their arguments (code-0 errors naming class,
// operation and argument) and turn every failure into an exception of
// http_error.h with the system's error number. Texts they return are new
// blocks owned by the caller.
//
// CHttpToolA throws httpclientexceptionA; CHttpToolW throws
// httpclientexceptionW.

#include <cstdint>

#include "http/form/file_handle.h"
#include "http/form/http_error.h"
#include "http/form/owned_text.h"
#include "platform/wininet/wininet.h"

namespace Vutra {

using skiv::wininet::HINTERNET;
using BOOL = int;
using BYTE = unsigned char;

// Sent when the platform cannot tell a file's type.
inline constexpr char kDefaultMimeType[] = "application/octet-stream";
// Bytes of a file's start that decide its MIME type.
inline constexpr DWORD kMimeSniffBytes = 256;

class CHttpToolA {
public:
    // Wide text to the code page (not UTF-8/UTF-7); null for null. 600, 102.
    static OwnedTextA Unicode2Ansi(const wchar_t* szStr, unsigned nCodePage);

    // 402 on failure.
    static HINTERNET OpenInternet(const char* szUserAgent, DWORD dwAccessType,
                                  const char* szProxyName, const char* szProxyBypass,
                                  DWORD dwFlags);
    // HTTP connection to szServerAddr:nPort. 403 on failure.
    static HINTERNET OpenConnection(HINTERNET hInternet, const char* szServerAddr,
                                    std::uint16_t nPort, const char* szUserName,
                                    const char* szPassword);
    // Closes a non-null handle and nulls the variable. Never throws.
    static void CloseInternetHandle(HINTERNET& hInternet) noexcept;

    // An "HTTP/1.1" request accepting "*/*". 404 on failure.
    static HINTERNET OpenRequest(HINTERNET hConnection, const char* szVerb,
                                 const char* szObjectName, DWORD dwFlags, const char* szReferer);
    // Adds "szName: szValue\r\n" (null value: empty). 405 on failure.
    static void AddHeader(HINTERNET hRequest, const char* szName, const char* szValue);
    // Sends the request with szPostArg (may be null) as its whole body. 406.
    static void SendRequest(HINTERNET hRequest, const char* szPostArg);
    // Starts a request whose dwPostedSize body bytes follow through
    // InternetWriteFile. 407.
    static void SendRequestEx(HINTERNET hRequest, DWORD dwPostedSize);
    // Writes all cbyBuff bytes, repeating partial writes. 408.
    static void InternetWriteFile(HINTERNET hRequest, const BYTE* pbyBuff, DWORD cbyBuff);
    // Finishes a SendRequestEx request and waits for the response head. 409.
    static void EndRequest(HINTERNET hRequest);

    // The open file's size; 605 naming szFilePath on failure.
    static std::uint64_t GetFileSize(HANDLE hFile, const char* szFilePath);
    // The response's status text. 400, 102.
    static OwnedTextA GetStatusText(HINTERNET hRequest);
    // The wide form's result, its failures rethrown narrow.
    static OwnedTextA GetMimeType(HANDLE hFile, unsigned nCodePage);
    // 410 on failure.
    static void SetOption(HINTERNET hInternet, DWORD dwOption, void* lpBuffer,
                          DWORD dwBufferLength);
    // "----VUTRA-<32 hex digits of a new GUID>-" (43 characters), or null
    // when no GUID or no memory could be had. Never throws.
    static OwnedTextA GenerateBoundary() noexcept;
};

class CHttpToolW {
public:
    // ANSI text of the code page (not UTF-8/UTF-7) to wide; null for null.
    // 601, 102.
    static OwnedTextW Ansi2Unicode(const char* szStr, unsigned nCodePage);
    // Wide to the code page (not UTF-8/UTF-7); null for null. 600, 102.
    static OwnedTextA Unicode2Ansi(const wchar_t* szStr, unsigned nCodePage);
    // The MIME type sniffed from up to 256 bytes at the file's current
    // position, as ANSI text; the position is moved back to the start of
    // the file. INVALID_HANDLE_VALUE, or content the platform cannot type,
    // gives "application/octet-stream". 602, 604, 102.
    static OwnedTextA GetMimeType(HANDLE hFile, unsigned nCodePage);
};

}  // namespace Vutra
