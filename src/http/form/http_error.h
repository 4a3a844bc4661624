#pragma once
// The form client's error model: every failure of the Vutra classes is an
// exception carrying an error code, the system's last-error value and a
// message. Codes come from a fixed table (GetErrorMessageA/W); argument
// checks use code 0 with a text naming class, operation and argument.
//
// Messages are owned heap copies. Building an exception never throws: a
// message that cannot be allocated is simply absent, and errmsg() then
// reads "NULL".

#include <cstdint>
#include <exception>

namespace Vutra {

using DWORD = std::uint32_t;

// Error codes, grouped by hundreds.
enum ErrorCode : int {
    kErrNotSpecified = 0,
    kErrUnexpected = 100,
    kErrOutOfRange = 101,
    kErrOutOfMemory = 102,
    kErrInvalidUrl = 103,
    kErrPostNotStarted = 104,
    kErrShortFileRead = 105,
    kErrPostNotFinished = 106,
    kErrInvalidPort = 107,
    kErrStdException = 108,
    kErrBadEncodedUrl = 109,
    kErrBadUtf8 = 110,
    kErrArithmetic = 111,
    kErrOverflow = 112,
    kErrDivideByZero = 113,
    kErrFileExists = 114,
    kErrEmpty = 200,
    kErrQueryInfo = 400,
    kErrInternetReadFile = 401,
    kErrInternetOpen = 402,
    kErrInternetConnect = 403,
    kErrOpenRequest = 404,
    kErrAddHeaders = 405,
    kErrSendRequest = 406,
    kErrSendRequestEx = 407,
    kErrInternetWriteFile = 408,
    kErrEndRequest = 409,
    kErrSetOption = 410,
    kErrToAnsi = 600,
    kErrToWide = 601,
    kErrReadFile = 602,
    kErrOpenFile = 603,
    kErrSetFilePointer = 604,
    kErrGetFileSize = 605,
    kErrWriteFile = 606,
    kErrUserDefined = 1000,
};

// Failure codes carried by SafeIntException.
inline constexpr unsigned kArithmeticOverflowCode = 534;           // ERROR_ARITHMETIC_OVERFLOW
inline constexpr unsigned kIntegerDivideByZeroCode = 0xC0000094u;  // STATUS_INTEGER_DIVIDE_BY_ZERO

class errmsg_exceptionA : public std::exception {
public:
    errmsg_exceptionA() noexcept = default;
    explicit errmsg_exceptionA(const char* szErrMsg) noexcept;
    errmsg_exceptionA(const errmsg_exceptionA& other) noexcept;
    errmsg_exceptionA& operator=(const errmsg_exceptionA& other) noexcept;
    ~errmsg_exceptionA() override;

    // errmsg().
    const char* what() const noexcept override;
    // The message, or "NULL" when there is none. Owned by the exception.
    virtual const char* errmsg() const noexcept;
    // Replaces the message with a copy of szErrMsg (null: no message).
    virtual void seterrmsg(const char* szErrMsg) noexcept;

private:
    char* m_szErrMsg = nullptr;
};

class errmsg_exceptionW : public std::exception {
public:
    errmsg_exceptionW() noexcept = default;
    explicit errmsg_exceptionW(const wchar_t* szErrMsg) noexcept;
    errmsg_exceptionW(const errmsg_exceptionW& other) noexcept;
    errmsg_exceptionW& operator=(const errmsg_exceptionW& other) noexcept;
    ~errmsg_exceptionW() override;

    // The class name, "errmsg_exceptionW".
    const char* what() const noexcept override;
    // The message, or L"NULL" when there is none. Owned by the exception.
    virtual const wchar_t* errmsg() const noexcept;
    virtual void seterrmsg(const wchar_t* szErrMsg) noexcept;

private:
    wchar_t* m_szErrMsg = nullptr;
};

class httpclientexceptionA : public errmsg_exceptionA {
public:
    httpclientexceptionA() noexcept = default;
    explicit httpclientexceptionA(const char* szErrMsg, int nErrorCode = 0,
                                  DWORD dwLastError = 0) noexcept;

    int ErrorCode() const noexcept { return m_nErrorCode; }
    // The system's error number at the failing call (0 when none applies).
    DWORD SystemLastError() const noexcept { return m_dwLastError; }

private:
    int m_nErrorCode = 0;
    DWORD m_dwLastError = 0;
};

class httpclientexceptionW : public errmsg_exceptionW {
public:
    httpclientexceptionW() noexcept = default;
    explicit httpclientexceptionW(const wchar_t* szErrMsg, int nErrorCode = 0,
                                  DWORD dwLastError = 0) noexcept;

    // The class name, "httpclientexceptionW".
    const char* what() const noexcept override;
    int ErrorCode() const noexcept { return m_nErrorCode; }
    DWORD SystemLastError() const noexcept { return m_dwLastError; }

private:
    int m_nErrorCode = 0;
    DWORD m_dwLastError = 0;
};

// The table text of a code: "user-defined error message" from 1000 up,
// null for a code the table does not list.
const char* GetErrorMessageA(int nErrorCode) noexcept;
const wchar_t* GetErrorMessageW(int nErrorCode) noexcept;

// The throw operations. All of them throw; none returns.

// httpclientexceptionA with the table text, last error 0.
[[noreturn]] void ThrowException(int nErrorCode);
// Argument checks: httpclientexceptionA with the given text, code 0.
[[noreturn]] void ThrowException(const char* szErrMsg);
// The table text formatted with szFilePath for its "%s" (cut at 511
// characters); the bare text when szFilePath is null.
[[noreturn]] void ThrowException(int nErrorCode, DWORD dwLastError, const char* szFilePath);
// A failed system call: the table text and the error number the caller
// read right after the call.
[[noreturn]] void ThrowSystemError(int nErrorCode, DWORD dwLastError);
// httpclientexceptionW with the wide table text, last error 0.
[[noreturn]] void ThrowExceptionW(int nErrorCode);
// httpclientexceptionW whose message is szErrMsg converted from the system
// code page (no message when that fails).
[[noreturn]] void ThrowExceptionW(const char* szErrMsg, int nErrorCode, DWORD dwLastError);
// httpclientexceptionA built from a wide one: message converted to the
// system code page (none when that fails), same code and last error.
[[noreturn]] void ThrowNarrowFromWide(const httpclientexceptionW& e);
// Turns a SafeIntException failure code into 113, 112 or 111.
[[noreturn]] void ThrowArithmetic(unsigned nFailureCode);

}  // namespace Vutra
