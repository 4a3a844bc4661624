#pragma once
// The tag replies the client reads: plain text searched for fixed tags, no
// entity decoding. Values placed here must not contain '<' (the client
// would cut them there); every value this service sends is generated
// (numbers, dates, hex, URLs checked at start) or one of its own messages.

#include <cstdint>
#include <string>
#include <string_view>

namespace skiv::server {

// Error numbers of the login reply.
enum class LoginError {
    Ok = 0,
    Malformed = 1,
    ServiceFault = 2,
    BadCredentials = 3,
    Refused = 4,  // suspended or locked for a while
};

// Error numbers of the upload reply.
enum class UploadError {
    Ok = 0,
    Malformed = 1,
    StorageFault = 2,
    TooLarge = 3,
    NotAuthorised = 4,
};

struct LoginValues {
    std::int64_t fileSize = 0;
    std::string saveDate;  // "YYYY-MM-DD HH:MM", empty when nothing stored
    int fileType = 0;
    std::string memberKey;
    std::string uploadUrl;
    std::string downloadUrl;
    // Newer clients only: the delta exchanges' base address, sent after the
    // six values (older clients stop reading before it). Empty: not sent.
    std::string deltaUrl;
};

// "<error>N</error>" followed by "<errormsg>message</errormsg>".
std::string ErrorReply(int number, std::string_view message);
// "<error>0</error>" and the six values in the order the client reads them,
// then the extra tags of newer clients.
std::string LoginSuccessReply(const LoginValues& values);
// "<error>0</error>" alone.
std::string UploadSuccessReply();

// Unix time as local "YYYY-MM-DD HH:MM".
std::string FormatSaveDate(std::int64_t unixSeconds);

}  // namespace skiv::server
