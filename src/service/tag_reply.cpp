#include "service/tag_reply.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/result_codes.h"

namespace skiv {

namespace {

// Values pass through a zero-filled work buffer of this size.
constexpr std::size_t kWorkBuffer = 8192;

struct Tag {
    std::string value;
    const char* closeAt;  // where the closing tag begins
};

// Finds open...close in text starting at `from`. nullopt when either tag is
// missing.
std::optional<Tag> FindTag(const char* from, const char* open, const char* close) {
    const char* o = std::strstr(from, open);
    if (!o)
        return std::nullopt;
    const char* start = o + std::strlen(open);
    const char* c = std::strstr(start, close);
    if (!c)
        return std::nullopt;
    return Tag{std::string(start, c), c};
}

}  // namespace

std::int32_t TagInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long v = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        v = v * 10 + (text[i++] - '0');
        if (v > INT_MAX + 1LL)
            v = INT_MAX + 1LL;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX)
        v = INT_MAX;
    return static_cast<std::int32_t>(v);
}

namespace {

ResultCode Invalid(const char* who, LogSink& log) {
    log.Write("[%s]%s Invalid Resp", who, who);
    return ResultCode::BadReply;
}

// The "<error>" part both replies start with, logged under who: NoReply,
// BadReply, or Ok with the error number (its "<errormsg>" logged when not
// 0) and, for 0, where the search for the next tag starts.
struct ErrorPart {
    ResultCode code;
    std::int32_t number = 0;
    const char* next = nullptr;
};

ErrorPart ReadErrorPart(const char* reply, const char* who, LogSink& log) {
    if (!reply) {
        log.Write("[%s]%s Invalid Param", who, who);
        return {ResultCode::NoReply};
    }
    auto error = FindTag(reply, "<error>", "</error>");
    if (!error || error->value.size() >= kWorkBuffer)
        return {Invalid(who, log)};
    const std::int32_t number = TagInteger(error->value);
    if (number == 0)
        return {ResultCode::Ok, 0, error->closeAt};
    auto msg = FindTag(error->closeAt, "<errormsg>", "</errormsg>");
    if (!msg)
        return {Invalid(who, log)};
    std::string text = msg->value.substr(0, kWorkBuffer - 1);
    log.Write("[%s]%s Get Error:(%d)(%s)", who, who, number, text.c_str());
    return {ResultCode::Ok, number};
}

// The code of the service's error number: first + number - 1 for 1..last,
// other beyond.
ResultCode Refused(std::int32_t number, ResultCode first, std::int32_t last, ResultCode other) {
    if (number < 1 || number > last)
        return other;
    return static_cast<ResultCode>(Number(first) + number - 1);
}

}  // namespace

ResultCode ValidateLoginResponse(const char* reply, LoginFields out, LogSink& log) {
    constexpr const char* kWho = "ValidateLoginResponse";
    const ErrorPart error = ReadErrorPart(reply, kWho, log);
    if (error.code != ResultCode::Ok)
        return error.code;
    if (error.number != 0)
        return Refused(error.number, ResultCode::LoginRefused1, 5, ResultCode::LoginRefusedOther);
    const char* at = error.next;
    // Each value is stored as soon as it is read.
    auto next = [&](const char* open, const char* close, auto store) {
        auto tag = FindTag(at, open, close);
        if (!tag || tag->value.size() >= kWorkBuffer)
            return false;
        store(tag->value);
        at = tag->closeAt;
        return true;
    };
    if (!next("<filesize>", "</filesize>",
              [&](const std::string& v) { out.fileSize = TagInteger(v); }) ||
        !next("<savedate>", "</savedate>", [&](const std::string& v) { out.saveDate = v; }) ||
        !next("<filetype>", "</filetype>",
              [&](const std::string& v) { out.fileType = TagInteger(v); }) ||
        !next("<memberkey>", "</memberkey>", [&](const std::string& v) { out.memberKey = v; }) ||
        !next("<uploadURL>", "</uploadURL>", [&](const std::string& v) { out.uploadUrl = v; }) ||
        !next("<downloadURL>", "</downloadURL>",
              [&](const std::string& v) { out.downloadUrl = v; })) {
        return Invalid(kWho, log);
    }
    return ResultCode::Ok;
}

void ReadSavedFlavor(const std::string& reply, std::string& flavor, std::string& gameVersion) {
    flavor.clear();
    gameVersion.clear();
    const char* sixth = std::strstr(reply.c_str(), "</downloadURL>");
    if (!sixth)
        return;
    auto tag = FindTag(sixth, "<flavor>", "</flavor>");
    if (!tag || tag->value.size() >= kWorkBuffer)
        return;
    const std::size_t blank = tag->value.find(' ');
    flavor = tag->value.substr(0, blank);
    // No version without a flavor (a value that starts with a blank).
    if (blank != std::string::npos && !flavor.empty())
        gameVersion = tag->value.substr(blank + 1);
}

std::optional<PackageCheck> ReadPackageCheck(const char* reply) {
    if (!reply)
        return std::nullopt;
    const char* after = std::strstr(reply, "</downloadURL>");
    if (!after)
        return std::nullopt;
    auto tag = FindTag(after, "<packagecheck>", "</packagecheck>");
    if (!tag)
        return std::nullopt;
    PackageCheck check;
    char hex[65] = {};
    long long entries = 0, bytes = 0;
    char end = 0;
    if (std::sscanf(tag->value.c_str(), "%64[0-9a-f] %lld %lld %c", hex, &entries, &bytes, &end) !=
            3 ||
        std::strlen(hex) != 64)
        return std::nullopt;
    check.sha256 = hex;
    check.entries = entries;
    check.bytes = bytes;
    return check;
}

std::string LoginExtraTag(const std::string& reply, const std::string& name) {
    const char* after = std::strstr(reply.c_str(), "</downloadURL>");
    if (!after)
        return {};
    auto tag = FindTag(after, ("<" + name + ">").c_str(), ("</" + name + ">").c_str());
    return tag && tag->value.size() < kWorkBuffer ? tag->value : std::string();
}

ResultCode ValidateUploadResponse(const char* reply, LogSink& log) {
    const ErrorPart error = ReadErrorPart(reply, "ValidateUploadResponse", log);
    if (error.code != ResultCode::Ok || error.number == 0)
        return error.code;
    return Refused(error.number, ResultCode::UploadRefused1, 4, ResultCode::UploadRefusedOther);
}

}  // namespace skiv
