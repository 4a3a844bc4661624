#include "http/form/http_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/codepage.h"

namespace Vutra {
namespace {

// The texts of each group, indexed by code modulo 100. The wide table is
// generated from the same literals so the two can never drift apart.
#define VUTRA_GROUP1(X)                                          \
    X("Unexpected error occurred.")                              \
    X("The index is out of range.")                              \
    X("Out of memory.")                                          \
    X("The requested URL is not a valid URL.")                   \
    X("The post context is not started yet.")                    \
    X("Couldn't read expected bytes from a file.")               \
    X("The post context has not been finished yet.")             \
    X("The port number is not valid.")                           \
    X("std::exception occurred.")                                \
    X("The encoded URL is not valid.")                           \
    X("The UTF8 string contains an invalid character.")          \
    X("An unexpected arithmetic error has been occurred.")       \
    X("An arithmetic overflow error has been occurred.")         \
    X("An interger divide by zero exception has been occurred.") \
    X("The file (%s) aleady exists.")

#define VUTRA_GROUP4(X)                  \
    X("::HttpQueryInfo failed.")         \
    X("::InternetReadFile failed.")      \
    X("::InternetOpen failed.")          \
    X("::InternetConnect failed.")       \
    X("::HttpOpenRequest failed.")       \
    X("::HttpAddRequestHeaders failed.") \
    X("::HttpSendRequest failed.")       \
    X("::HttpSendRequestEx failed.")     \
    X("::InternetWriteFile failed.")     \
    X("::HttpEndRequest failed.")        \
    X("::InternetSetOption failed.")

#define VUTRA_GROUP6(X)                           \
    X("::WideCharToMultiByte failed.")            \
    X("::MultiByteToWideChar failed.")            \
    X("::ReadFile failed.")                       \
    X("OpenFile (::CreateFile) failed (\"%s\").") \
    X("::SetFilePointer failed.")                 \
    X("::GetFileSize failed (\"%s\").")           \
    X("::WriteFile failed (\"%s\").")

#define VUTRA_NARROW(s) s,
#define VUTRA_WIDE(s) L"" s,

const char* const kGroup1A[] = {VUTRA_GROUP1(VUTRA_NARROW)};
const char* const kGroup4A[] = {VUTRA_GROUP4(VUTRA_NARROW)};
const char* const kGroup6A[] = {VUTRA_GROUP6(VUTRA_NARROW)};
const wchar_t* const kGroup1W[] = {VUTRA_GROUP1(VUTRA_WIDE)};
const wchar_t* const kGroup4W[] = {VUTRA_GROUP4(VUTRA_WIDE)};
const wchar_t* const kGroup6W[] = {VUTRA_GROUP6(VUTRA_WIDE)};

template <typename CharT, std::size_t N1, std::size_t N4, std::size_t N6>
const CharT* Lookup(int code, const CharT* notSpecified, const CharT* empty, const CharT* user,
                    const CharT* const (&g1)[N1], const CharT* const (&g4)[N4],
                    const CharT* const (&g6)[N6]) {
    if (code >= 1000)
        return user;
    if (code < 0)
        return nullptr;
    const auto idx = static_cast<std::size_t>(code % 100);
    if (code < 100)
        return idx == 0 ? notSpecified : nullptr;
    if (code < 200)
        return idx < N1 ? g1[idx] : nullptr;
    if (code < 400)
        return code == 200 ? empty : nullptr;
    if (code < 600)
        return idx < N4 ? g4[idx] : nullptr;
    return idx < N6 && code < 700 ? g6[idx] : nullptr;
}

char* CopyA(const char* s) noexcept {
    if (!s)
        return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    char* p = new (std::nothrow) char[n];
    if (p)
        std::memcpy(p, s, n);
    return p;
}

wchar_t* CopyW(const wchar_t* s) noexcept {
    if (!s)
        return nullptr;
    const std::size_t n = std::wcslen(s) + 1;
    wchar_t* p = new (std::nothrow) wchar_t[n];
    if (p)
        std::wmemcpy(p, s, n);
    return p;
}

}  // namespace

// ---- errmsg_exceptionA ----

errmsg_exceptionA::errmsg_exceptionA(const char* szErrMsg) noexcept {
    seterrmsg(szErrMsg);
}

errmsg_exceptionA::errmsg_exceptionA(const errmsg_exceptionA& other) noexcept
    : std::exception(other), m_szErrMsg(CopyA(other.m_szErrMsg)) {}

errmsg_exceptionA& errmsg_exceptionA::operator=(const errmsg_exceptionA& other) noexcept {
    if (this != &other)
        seterrmsg(other.m_szErrMsg);
    return *this;
}

errmsg_exceptionA::~errmsg_exceptionA() {
    delete[] m_szErrMsg;
}

const char* errmsg_exceptionA::what() const noexcept {
    return errmsg();
}

const char* errmsg_exceptionA::errmsg() const noexcept {
    return m_szErrMsg ? m_szErrMsg : "NULL";
}

void errmsg_exceptionA::seterrmsg(const char* szErrMsg) noexcept {
    delete[] m_szErrMsg;
    m_szErrMsg = CopyA(szErrMsg);
}

// ---- errmsg_exceptionW ----

errmsg_exceptionW::errmsg_exceptionW(const wchar_t* szErrMsg) noexcept {
    seterrmsg(szErrMsg);
}

errmsg_exceptionW::errmsg_exceptionW(const errmsg_exceptionW& other) noexcept
    : std::exception(other), m_szErrMsg(CopyW(other.m_szErrMsg)) {}

errmsg_exceptionW& errmsg_exceptionW::operator=(const errmsg_exceptionW& other) noexcept {
    if (this != &other)
        seterrmsg(other.m_szErrMsg);
    return *this;
}

errmsg_exceptionW::~errmsg_exceptionW() {
    delete[] m_szErrMsg;
}

const char* errmsg_exceptionW::what() const noexcept {
    return "errmsg_exceptionW";
}

const wchar_t* errmsg_exceptionW::errmsg() const noexcept {
    return m_szErrMsg ? m_szErrMsg : L"NULL";
}

void errmsg_exceptionW::seterrmsg(const wchar_t* szErrMsg) noexcept {
    delete[] m_szErrMsg;
    m_szErrMsg = CopyW(szErrMsg);
}

// ---- httpclientexceptionA/W ----

httpclientexceptionA::httpclientexceptionA(const char* szErrMsg, int nErrorCode,
                                           DWORD dwLastError) noexcept
    : errmsg_exceptionA(szErrMsg), m_nErrorCode(nErrorCode), m_dwLastError(dwLastError) {}

httpclientexceptionW::httpclientexceptionW(const wchar_t* szErrMsg, int nErrorCode,
                                           DWORD dwLastError) noexcept
    : errmsg_exceptionW(szErrMsg), m_nErrorCode(nErrorCode), m_dwLastError(dwLastError) {}

const char* httpclientexceptionW::what() const noexcept {
    return "httpclientexceptionW";
}

// ---- table and throw operations ----

const char* GetErrorMessageA(int nErrorCode) noexcept {
    return Lookup<char>(nErrorCode, "Not specified", "", "user-defined error message", kGroup1A,
                        kGroup4A, kGroup6A);
}

const wchar_t* GetErrorMessageW(int nErrorCode) noexcept {
    return Lookup<wchar_t>(nErrorCode, L"Not specified", L"", L"user-defined error message",
                           kGroup1W, kGroup4W, kGroup6W);
}

void ThrowException(int nErrorCode) {
    throw httpclientexceptionA(GetErrorMessageA(nErrorCode), nErrorCode, 0);
}

void ThrowException(const char* szErrMsg) {
    throw httpclientexceptionA(szErrMsg, 0, 0);
}

void ThrowException(int nErrorCode, DWORD dwLastError, const char* szFilePath) {
    const char* text = GetErrorMessageA(nErrorCode);
    if (!szFilePath || !text)
        throw httpclientexceptionA(text, nErrorCode, dwLastError);
    // Only the fixed table texts are ever used as the format; the file name
    // goes in as an argument, so a '%' inside it is harmless.
    char buff[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wformat-truncation"
#endif
    std::snprintf(buff, sizeof buff, text, szFilePath);
#pragma GCC diagnostic pop
    throw httpclientexceptionA(buff, nErrorCode, dwLastError);
}

void ThrowSystemError(int nErrorCode, DWORD dwLastError) {
    throw httpclientexceptionA(GetErrorMessageA(nErrorCode), nErrorCode, dwLastError);
}

void ThrowExceptionW(int nErrorCode) {
    throw httpclientexceptionW(GetErrorMessageW(nErrorCode), nErrorCode, 0);
}

void ThrowExceptionW(const char* szErrMsg, int nErrorCode, DWORD dwLastError) {
    httpclientexceptionW e(nullptr, nErrorCode, dwLastError);
    if (szErrMsg) {
        const int n = skiv::MultiByteToWideChar(skiv::CP_ACP, szErrMsg, -1, nullptr, 0);
        if (n > 0) {
            wchar_t* wide = new (std::nothrow) wchar_t[static_cast<std::size_t>(n)];
            if (wide && skiv::MultiByteToWideChar(skiv::CP_ACP, szErrMsg, -1, wide, n) == n) {
                e.seterrmsg(wide);
            }
            delete[] wide;
        }
    }
    throw e;
}

void ThrowNarrowFromWide(const httpclientexceptionW& ew) {
    httpclientexceptionA e(nullptr, ew.ErrorCode(), ew.SystemLastError());
    const wchar_t* msg = ew.errmsg();
    const int n = skiv::WideCharToMultiByte(skiv::CP_ACP, msg, -1, nullptr, 0);
    if (n > 0) {
        char* narrow = new (std::nothrow) char[static_cast<std::size_t>(n)];
        if (narrow && skiv::WideCharToMultiByte(skiv::CP_ACP, msg, -1, narrow, n) == n) {
            e.seterrmsg(narrow);
        }
        delete[] narrow;
    }
    throw e;
}

void ThrowArithmetic(unsigned nFailureCode) {
    if (nFailureCode == kIntegerDivideByZeroCode)
        ThrowException(kErrDivideByZero);
    if (nFailureCode == kArithmeticOverflowCode)
        ThrowException(kErrOverflow);
    ThrowException(kErrArithmetic);
}

}  // namespace Vutra
