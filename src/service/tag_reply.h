#pragma once
// The service's tag replies. A reply is plain text searched for fixed,
// case-sensitive tags: "<error>" first, then "<errormsg>" when the error
// number is not 0, or the six value tags of a login in their fixed order.
// Each opening tag is searched from where the previous closing tag begins;
// a value is the bytes up to the first following closing tag. No trimming,
// no entity decoding.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/log_sink.h"
#include "platform/result_codes.h"

namespace skiv {

// The session fields a successful login reply fills, in reply order. Each
// value is stored as soon as it is read, so a reply cut after some tags
// leaves those stored.
struct LoginFields {
    std::int32_t& fileSize;
    std::string& saveDate;
    std::int32_t& fileType;
    std::string& memberKey;
    std::string& uploadUrl;
    std::string& downloadUrl;
};

// What the service recorded of the stored package when it was uploaded,
// sent after the six values as "<packagecheck>SHA256HEX ENTRIES BYTES
// </packagecheck>": the package's SHA-256 (64 lower-case hex digits), the
// archive's entry count and its size once decompressed. ENTRIES and BYTES
// are -1 when the service could not read the package as an archive.
struct PackageCheck {
    std::string sha256;
    std::int64_t entries = -1;
    std::int64_t bytes = -1;
};

// The package check of a login reply, searched after "</downloadURL>";
// nullopt when the reply has none (an older service) or it is malformed.
std::optional<PackageCheck> ReadPackageCheck(const char* reply);

// Ok; NoReply for no reply (null); BadReply for a missing tag or a value
// too long for the 8,192-byte work buffer; LoginRefused1..LoginWrongPassword2
// for the service's error numbers 1-5 (1021-1025); LoginRefusedOther for any
// other non-zero error number. Logs each failure.
ResultCode ValidateLoginResponse(const char* reply, LoginFields out, LogSink& log);

// The extra "<flavor>FLAVOR[ VERSION]</flavor>" tag after the six values of
// a successful login reply: which game flavor the stored set was saved from
// and the game's version there. Both empty when the tag is absent (older
// services, sets saved by older clients) or not after the six.
void ReadSavedFlavor(const std::string& reply, std::string& flavor, std::string& gameVersion);

// The value of an extra tag <name>...</name> after the six value tags of a
// login reply (newer services append their offers there); "" when absent.
std::string LoginExtraTag(const std::string& reply, const std::string& name);

// Ok; NoReply; BadReply; UploadRefused1..UploadNotAuthenticated for error
// numbers 1-4 (1027-1030); UploadRefusedOther for any other.
ResultCode ValidateUploadResponse(const char* reply, LogSink& log);

// The decimal reading of a tag value: leading blanks, an optional sign,
// digits; no digits gives 0; values beyond 32 bits are clamped.
std::int32_t TagInteger(const std::string& text);

}  // namespace skiv
