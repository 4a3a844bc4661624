#pragma once
// The one exception type of the HTTP clients: a code from a fixed table,
// the message the exchanges log, and the system's error number at the
// failing call (0 when none applies). The numbers and texts are part of
// what the exchanges write to the log and must not change.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace skiv::http {

enum class Errc : int {
    Usage = 0,  // a call the client refuses in its current state; the text says which
    Unexpected = 100,
    OutOfMemory = 102,
    InvalidUrl = 103,
    UploadNotStarted = 104,
    ShortFileRead = 105,
    InvalidPort = 107,
    Overflow = 112,
    QueryInfo = 400,
    ReadResponse = 401,
    OpenSession = 402,
    Connect = 403,
    OpenRequest = 404,
    AddHeader = 405,
    SendRequest = 406,
    StartUpload = 407,
    WriteBody = 408,
    EndRequest = 409,
    ToCodePage = 600,
    ToWide = 601,
    ReadFile = 602,
    Rewind = 604,
    FileSize = 605,
};

// The table text of a code.
std::string_view Describe(Errc code);

class HttpError : public std::runtime_error {
public:
    // The table text of code.
    explicit HttpError(Errc code, std::uint32_t systemError = 0);
    HttpError(Errc code, const std::string& message, std::uint32_t systemError = 0);

    Errc code() const noexcept { return m_code; }
    std::uint32_t systemError() const noexcept { return m_systemError; }

private:
    Errc m_code;
    std::uint32_t m_systemError;
};

}  // namespace skiv::http
