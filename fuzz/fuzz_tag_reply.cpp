// The login and upload reply parsers on arbitrary replies. Results must be
// one of the documented codes, a successful login must have taken every
// value from between its own tags, and the integer reading must agree with
// the C library's reading clamped to 32 bits.

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_util.h"
#include "platform/result_codes.h"
#include "service/tag_reply.h"

namespace {

using skiv::fuzz::Check;

// Formats every line as the operation log would, so that the arguments the
// parsers pass are used for real.
class FormattingSink final : public skiv::LogSink {
public:
    bool VWrite(const char* fmt, va_list args) override {
        char line[2048];
        int n = std::vsnprintf(line, sizeof line, fmt, args);
        Check(n >= 0, "a log line does not format");
        ++lines;
        return true;
    }
    int lines = 0;
};

std::int32_t ReferenceInteger(const std::string& text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<std::int32_t>(v);
}

bool Between(const std::string& reply, const char* tag, const std::string& value) {
    const std::string open = std::string("<") + tag + ">";
    const std::string close = std::string("</") + tag + ">";
    return reply.find(open + value + close) != std::string::npos &&
           value.find(close) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The parsers take C text: the reply ends at its first NUL.
    const auto* text = reinterpret_cast<const char*>(data);
    const std::string reply(text, std::find(text, text + size, '\0'));
    // A fresh heap copy, so that a read past the terminator is caught.
    const std::string copy = reply;

    Check(skiv::TagInteger(reply) == ReferenceInteger(reply), "TagInteger disagrees with strtoll",
          reply.substr(0, 64));

    FormattingSink log;
    std::int32_t fileSize = -7, fileType = -7;
    std::string saveDate = "-", memberKey = "-", uploadUrl = "-", downloadUrl = "-";
    using skiv::ResultCode;
    int r = Number(skiv::ValidateLoginResponse(
        copy.c_str(),
        skiv::LoginFields{fileSize, saveDate, fileType, memberKey, uploadUrl, downloadUrl}, log));
    const bool known =
        r == 0 || r == Number(ResultCode::BadReply) ||
        (r >= Number(ResultCode::LoginRefused1) && r <= Number(ResultCode::LoginRefusedOther));
    Check(known, "login reply gave an unknown code", std::to_string(r));
    Check((r == 0) == (log.lines == 0), "a login failure was not logged, or a success was");
    if (r == 0) {
        Check(reply.find("<error>") != std::string::npos, "login success without an error tag");
        Check(Between(reply, "savedate", saveDate) && Between(reply, "memberkey", memberKey) &&
                  Between(reply, "uploadURL", uploadUrl) &&
                  Between(reply, "downloadURL", downloadUrl),
              "a login value was not taken from between its tags");
    }

    // The extra flavor tag: flavor and version are the tag's value split at
    // its first blank, never anything from outside the tag.
    std::string flavor = "-", gameVersion = "-";
    skiv::ReadSavedFlavor(copy, flavor, gameVersion);
    if (flavor.empty()) {
        Check(gameVersion.empty(), "a game version without a flavor");
    } else {
        // A flavor is one word; the version is the rest of the tag's value.
        Check(flavor.find(' ') == std::string::npos &&
                  reply.find(gameVersion.empty() ? flavor : flavor + ' ' + gameVersion) !=
                      std::string::npos,
              "the flavor was not taken from the reply");
    }

    FormattingSink uploadLog;
    r = Number(skiv::ValidateUploadResponse(copy.c_str(), uploadLog));
    Check(r == 0 || r == Number(ResultCode::BadReply) ||
              (r >= Number(ResultCode::UploadRefused1) &&
               r <= Number(ResultCode::UploadRefusedOther)),
          "upload reply gave an unknown code", std::to_string(r));
    Check((r == 0) == (uploadLog.lines == 0), "an upload failure was not logged, or a success was");
    if (r == 0)
        Check(reply.find("</error>") != std::string::npos, "upload success without an error tag");

    FormattingSink nullLog;
    Check(skiv::ValidateUploadResponse(nullptr, nullLog) == ResultCode::NoReply,
          "null upload reply");
    return 0;
}
