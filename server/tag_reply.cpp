#include "tag_reply.h"

#include <ctime>

namespace skiv::server {

namespace {

void AddTag(std::string& out, std::string_view tag, std::string_view value) {
    out += '<';
    out += tag;
    out += '>';
    out += value;
    out += "</";
    out += tag;
    out += ">\r\n";
}

}  // namespace

std::string ErrorReply(int number, std::string_view message) {
    std::string out;
    AddTag(out, "error", std::to_string(number));
    AddTag(out, "errormsg", message);
    return out;
}

std::string LoginSuccessReply(const LoginValues& v) {
    std::string out;
    AddTag(out, "error", "0");
    AddTag(out, "filesize", std::to_string(v.fileSize));
    AddTag(out, "savedate", v.saveDate);
    AddTag(out, "filetype", std::to_string(v.fileType));
    AddTag(out, "memberkey", v.memberKey);
    AddTag(out, "uploadURL", v.uploadUrl);
    AddTag(out, "downloadURL", v.downloadUrl);
    if (!v.deltaUrl.empty())
        AddTag(out, "delta", v.deltaUrl);
    return out;
}

std::string UploadSuccessReply() {
    std::string out;
    AddTag(out, "error", "0");
    return out;
}

std::string FormatSaveDate(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!::localtime_r(&t, &tm))
        return std::string();
    char buf[32];
    std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return std::string(buf, n);
}

}  // namespace skiv::server
