#include "http/form/http_tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "http/form/safe_int.h"
#include "platform/codepage.h"
#include "platform/guid.h"
#include "platform/mime.h"

namespace Vutra {

namespace wi = skiv::wininet;

namespace {

bool IsUtfCodePage(unsigned nCodePage) {
    return nCodePage == skiv::CP_UTF8 || nCodePage == skiv::CP_UTF7;
}

DWORD NetError() {
    return wi::GetLastError();
}

// Size, allocate, convert; the A and W tools differ only in what they throw.
template <bool kWideErrors>
OwnedTextA WideToAnsi(const wchar_t* szStr, unsigned nCodePage) {
    auto fail = [](int code, DWORD err) {
        if constexpr (kWideErrors) {
            ThrowExceptionW(GetErrorMessageA(code), code, err);
        } else {
            ThrowSystemError(code, err);
        }
    };
    const int cb = skiv::WideCharToMultiByte(nCodePage, szStr, -1, nullptr, 0);
    if (cb == 0)
        fail(kErrToAnsi, skiv::CodePageLastError());
    char* p = new (std::nothrow) char[static_cast<std::size_t>(cb)];
    if (!p)
        fail(kErrOutOfMemory, 0);
    OwnedTextA text(p);
    if (skiv::WideCharToMultiByte(nCodePage, szStr, -1, p, cb) == 0) {
        fail(kErrToAnsi, skiv::CodePageLastError());
    }
    return text;
}

}  // namespace

// ---- CHttpToolA ----

OwnedTextA CHttpToolA::Unicode2Ansi(const wchar_t* szStr, unsigned nCodePage) {
    if (IsUtfCodePage(nCodePage)) {
        ThrowException(
            "CHttpToolA::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    if (!szStr)
        return nullptr;
    return WideToAnsi<false>(szStr, nCodePage);
}

HINTERNET CHttpToolA::OpenInternet(const char* szUserAgent, DWORD dwAccessType,
                                   const char* szProxyName, const char* szProxyBypass,
                                   DWORD dwFlags) {
    HINTERNET h = wi::InternetOpenA(szUserAgent, dwAccessType, szProxyName, szProxyBypass, dwFlags);
    if (!h)
        ThrowSystemError(kErrInternetOpen, NetError());
    return h;
}

HINTERNET CHttpToolA::OpenConnection(HINTERNET hInternet, const char* szServerAddr,
                                     std::uint16_t nPort, const char* szUserName,
                                     const char* szPassword) {
    if (!hInternet)
        ThrowException("CHttpToolA::OpenConnection: hInternet can not be NULL.");
    if (!szServerAddr)
        ThrowException("CHttpToolA::OpenConnection: szServerAddr can not be NULL.");
    if (!*szServerAddr) {
        ThrowException("CHttpToolA::OpenConnection: szServerAddr can not be an empty string.");
    }
    HINTERNET h = wi::InternetConnectA(hInternet, szServerAddr, nPort, szUserName, szPassword,
                                       wi::INTERNET_SERVICE_HTTP, 0, 0);
    if (!h)
        ThrowSystemError(kErrInternetConnect, NetError());
    return h;
}

void CHttpToolA::CloseInternetHandle(HINTERNET& hInternet) noexcept {
    if (hInternet) {
        wi::InternetCloseHandle(hInternet);
        hInternet = nullptr;
    }
}

HINTERNET CHttpToolA::OpenRequest(HINTERNET hConnection, const char* szVerb,
                                  const char* szObjectName, DWORD dwFlags, const char* szReferer) {
    if (!hConnection)
        ThrowException("CHttpToolA::OpenRequest: hConnection can not be NULL.");
    if (!szObjectName)
        ThrowException("CHttpToolA::OpenRequest: szObjectName can not be NULL.");
    if (!*szObjectName) {
        ThrowException("CHttpToolA::OpenRequest: szObjectName can not be an empty string.");
    }
    const char* acceptTypes[] = {"*/*", nullptr};
    HINTERNET h = wi::HttpOpenRequestA(hConnection, szVerb, szObjectName, "HTTP/1.1", szReferer,
                                       acceptTypes, dwFlags, 0);
    if (!h)
        ThrowSystemError(kErrOpenRequest, NetError());
    return h;
}

void CHttpToolA::AddHeader(HINTERNET hRequest, const char* szName, const char* szValue) {
    if (!hRequest)
        ThrowException("CHttpToolA::AddHeader: hRequest can not be NULL.");
    if (!szName)
        ThrowException("CHttpToolA::AddHeader: szName can not be NULL.");
    if (!szValue)
        szValue = "";
    const std::size_t cchName = std::strlen(szName);
    const std::size_t cchValue = std::strlen(szValue);
    if (cchName > 0xFFFFFFFFu || cchValue > 0xFFFFFFFFu)
        ThrowArithmetic(kArithmeticOverflowCode);
    // name ": " value "\r\n"
    const DWORD cchLine = CheckedAdd<DWORD>(
        CheckedAdd<DWORD>(static_cast<DWORD>(cchName), static_cast<DWORD>(cchValue)), 4);
    OwnedTextA line = AllocText<char>(CheckedAdd<DWORD>(cchLine, 1));
    char* p = line.get();
    std::memcpy(p, szName, cchName);
    p += cchName;
    std::memcpy(p, ": ", 2);
    p += 2;
    std::memcpy(p, szValue, cchValue);
    p += cchValue;
    std::memcpy(p, "\r\n", 3);
    if (!wi::HttpAddRequestHeadersA(hRequest, line.get(), cchLine, wi::HTTP_ADDREQ_FLAG_ADD)) {
        ThrowSystemError(kErrAddHeaders, NetError());
    }
}

void CHttpToolA::SendRequest(HINTERNET hRequest, const char* szPostArg) {
    if (!hRequest)
        ThrowException("CHttpToolA::SendRequest: hRequest can not be NULL.");
    const std::size_t cb = szPostArg ? std::strlen(szPostArg) : 0;
    if (cb > 0xFFFFFFFFu)
        ThrowArithmetic(kArithmeticOverflowCode);
    if (!wi::HttpSendRequestA(hRequest, nullptr, 0, const_cast<char*>(szPostArg),
                              static_cast<DWORD>(cb))) {
        ThrowSystemError(kErrSendRequest, NetError());
    }
}

void CHttpToolA::SendRequestEx(HINTERNET hRequest, DWORD dwPostedSize) {
    if (!hRequest)
        ThrowException("CHttpToolA::SendRequestEx: hRequest can not be NULL.");
    wi::INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = dwPostedSize;
    if (!wi::HttpSendRequestExA(hRequest, &buffers, nullptr, 0, 0)) {
        ThrowSystemError(kErrSendRequestEx, NetError());
    }
}

void CHttpToolA::InternetWriteFile(HINTERNET hRequest, const BYTE* pbyBuff, DWORD cbyBuff) {
    if (!hRequest)
        ThrowException("CHttpToolA::InternetWriteFile: hRequest can not be NULL.");
    if (!pbyBuff)
        ThrowException("CHttpToolA::InternetWriteFile: pbyBuff can not be NULL.");
    if (cbyBuff == 0)
        ThrowException("CHttpToolA::InternetWriteFile: cbyBuff can not be zero.");
    DWORD done = 0;
    while (done < cbyBuff) {
        DWORD written = 0;
        if (!wi::InternetWriteFile(hRequest, pbyBuff + done, cbyBuff - done, &written)) {
            ThrowSystemError(kErrInternetWriteFile, NetError());
        }
        // A write that accepts nothing would spin forever; treat it as failed.
        if (written == 0 || written > cbyBuff - done) {
            ThrowSystemError(kErrInternetWriteFile, NetError());
        }
        done += written;
    }
}

void CHttpToolA::EndRequest(HINTERNET hRequest) {
    if (!hRequest)
        ThrowException("CHttpToolA::EndRequest: hRequest can not be NULL.");
    if (!wi::HttpEndRequestA(hRequest, nullptr, 0, 0)) {
        ThrowSystemError(kErrEndRequest, NetError());
    }
}

std::uint64_t CHttpToolA::GetFileSize(HANDLE hFile, const char* szFilePath) {
    if (!hFile)
        ThrowException("CHttpToolA::GetFileSize: hFile can not be NULL.");
    if (!szFilePath)
        ThrowException("CHttpToolA::GetFileSize: szFilePath can not be NULL.");
    std::uint64_t size = 0;
    if (!FileHandleSize(hFile, &size)) {
        ThrowException(kErrGetFileSize, static_cast<DWORD>(errno), szFilePath);
    }
    return size;
}

OwnedTextA CHttpToolA::GetStatusText(HINTERNET hRequest) {
    if (!hRequest)
        ThrowException("CHttpToolA::GetStatusText: hRequest can not be NULL.");
    DWORD cb = 0;
    if (!wi::HttpQueryInfoA(hRequest, wi::HTTP_QUERY_STATUS_TEXT, nullptr, &cb, nullptr)) {
        const DWORD err = NetError();
        if (err != wi::ERROR_INSUFFICIENT_BUFFER)
            ThrowSystemError(kErrQueryInfo, err);
    }
    // Room for the NUL whether or not the reported size counts it.
    DWORD cbBuff = CheckedAdd<DWORD>(cb, 1);
    OwnedTextA text = AllocText<char>(cbBuff);
    if (!wi::HttpQueryInfoA(hRequest, wi::HTTP_QUERY_STATUS_TEXT, text.get(), &cbBuff, nullptr)) {
        ThrowSystemError(kErrQueryInfo, NetError());
    }
    return text;
}

OwnedTextA CHttpToolA::GetMimeType(HANDLE hFile, unsigned nCodePage) {
    if (!hFile)
        ThrowException("CHttpToolA::GetMimeType: hFile can not be NULL.");
    try {
        return CHttpToolW::GetMimeType(hFile, nCodePage);
    } catch (const httpclientexceptionW& e) {
        ThrowNarrowFromWide(e);
    }
}

void CHttpToolA::SetOption(HINTERNET hInternet, DWORD dwOption, void* lpBuffer,
                           DWORD dwBufferLength) {
    if (!wi::InternetSetOptionA(hInternet, dwOption, lpBuffer, dwBufferLength)) {
        ThrowSystemError(kErrSetOption, NetError());
    }
}

OwnedTextA CHttpToolA::GenerateBoundary() noexcept {
    skiv::GUID guid;
    if (!skiv::CreateGuid(guid))
        return nullptr;
    char* p = new (std::nothrow) char[44];
    if (!p)
        return nullptr;
    std::snprintf(p, 44, "----VUTRA-%.08x%.04x%.04x%.02x%.02x%.02x%.02x%.02x%.02x%.02x%.02x-",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return OwnedTextA(p);
}

// ---- CHttpToolW ----

OwnedTextW CHttpToolW::Ansi2Unicode(const char* szStr, unsigned nCodePage) {
    if (IsUtfCodePage(nCodePage)) {
        ThrowExceptionW(
            "CHttpToolW::Ansi2Unicode: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.",
            0, 0);
    }
    if (!szStr)
        return nullptr;
    const int cch = skiv::MultiByteToWideChar(nCodePage, szStr, -1, nullptr, 0);
    if (cch == 0) {
        ThrowExceptionW(GetErrorMessageA(kErrToWide), kErrToWide, skiv::CodePageLastError());
    }
    wchar_t* p = new (std::nothrow) wchar_t[static_cast<std::size_t>(cch)];
    if (!p)
        ThrowExceptionW(kErrOutOfMemory);
    OwnedTextW text(p);
    if (skiv::MultiByteToWideChar(nCodePage, szStr, -1, p, cch) == 0) {
        ThrowExceptionW(GetErrorMessageA(kErrToWide), kErrToWide, skiv::CodePageLastError());
    }
    return text;
}

OwnedTextA CHttpToolW::Unicode2Ansi(const wchar_t* szStr, unsigned nCodePage) {
    if (IsUtfCodePage(nCodePage)) {
        ThrowExceptionW(
            "CHttpToolW::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.",
            0, 0);
    }
    if (!szStr)
        return nullptr;
    return WideToAnsi<true>(szStr, nCodePage);
}

OwnedTextA CHttpToolW::GetMimeType(HANDLE hFile, unsigned nCodePage) {
    if (!hFile)
        ThrowExceptionW("CHttpToolW::GetMimeType: hFile can not be NULL.", 0, 0);
    if (IsUtfCodePage(nCodePage)) {
        ThrowExceptionW(
            "CHttpToolW::GetMimeType: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.",
            0, 0);
    }
    auto fallback = []() {
        char* p = new (std::nothrow) char[sizeof kDefaultMimeType];
        if (!p)
            ThrowExceptionW(kErrOutOfMemory);
        std::memcpy(p, kDefaultMimeType, sizeof kDefaultMimeType);
        return OwnedTextA(p);
    };
    if (hFile == INVALID_HANDLE_VALUE)
        return fallback();

    BYTE head[kMimeSniffBytes];
    DWORD cbHead = 0;
    while (cbHead < kMimeSniffBytes) {
        DWORD got = 0;
        if (!ReadFileHandle(hFile, head + cbHead, kMimeSniffBytes - cbHead, &got)) {
            ThrowExceptionW(GetErrorMessageA(kErrReadFile), kErrReadFile,
                            static_cast<DWORD>(errno));
        }
        if (got == 0)
            break;
        cbHead += got;
    }
    if (!RewindFileHandle(hFile)) {
        ThrowExceptionW(GetErrorMessageA(kErrSetFilePointer), kErrSetFilePointer,
                        static_cast<DWORD>(errno));
    }
    std::optional<std::wstring> mime = skiv::SniffMimeType(head, cbHead);
    if (!mime || mime->empty())
        return fallback();
    return Unicode2Ansi(mime->c_str(), nCodePage);
}

}  // namespace Vutra
