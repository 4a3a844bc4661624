#include "service/tag_reply.h"

#include <cctype>
#include <climits>
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

ResultCode ValidateLoginResponse(const char* reply, LoginFields out, LogSink& log) {
    if (!reply) {
        log.Write("[ValidateLoginResponse]ValidateLoginResponse Invalid Param");
        return ResultCode::NoReply;
    }
    auto invalid = [&log] {
        log.Write("[ValidateLoginResponse]ValidateLoginResponse Invalid Resp");
        return ResultCode::BadReply;
    };
    auto error = FindTag(reply, "<error>", "</error>");
    if (!error || error->value.size() >= kWorkBuffer)
        return invalid();
    const std::int32_t number = TagInteger(error->value);
    if (number != 0) {
        auto msg = FindTag(error->closeAt, "<errormsg>", "</errormsg>");
        if (!msg)
            return invalid();
        std::string text = msg->value.substr(0, kWorkBuffer - 1);
        log.Write("[ValidateLoginResponse]ValidateLoginResponse Get Error:(%d)(%s)", number,
                  text.c_str());
        return (number >= 1 && number <= 5)
                   ? static_cast<ResultCode>(Number(ResultCode::LoginRefused1) + number - 1)
                   : ResultCode::LoginRefusedOther;
    }
    const char* at = error->closeAt;
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
        return invalid();
    }
    return ResultCode::Ok;
}

ResultCode ValidateUploadResponse(const char* reply, LogSink& log) {
    if (!reply) {
        log.Write("[ValidateUploadResponse]ValidateUploadResponse Invalid Param");
        return ResultCode::NoReply;
    }
    auto invalid = [&log] {
        log.Write("[ValidateUploadResponse]ValidateUploadResponse Invalid Resp");
        return ResultCode::BadReply;
    };
    auto error = FindTag(reply, "<error>", "</error>");
    if (!error || error->value.size() >= kWorkBuffer)
        return invalid();
    const std::int32_t number = TagInteger(error->value);
    if (number == 0)
        return ResultCode::Ok;
    auto msg = FindTag(error->closeAt, "<errormsg>", "</errormsg>");
    if (!msg)
        return invalid();
    std::string text = msg->value.substr(0, kWorkBuffer - 1);
    log.Write("[ValidateUploadResponse]ValidateUploadResponse Get Error:(%d)(%s)", number,
              text.c_str());
    return (number >= 1 && number <= 4)
               ? static_cast<ResultCode>(Number(ResultCode::UploadRefused1) + number - 1)
               : ResultCode::UploadRefusedOther;
}

}  // namespace skiv
