#include "form_fields.h"

#include <iconv.h>

#include <algorithm>

namespace skiv::server {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+' && plusIsSpace) {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string DecodeFormComponent(std::string_view text) {
    return PercentDecode(text, true);
}

std::string DecodePathComponent(std::string_view text) {
    return PercentDecode(text, false);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::map<std::string, std::string> ParseForm(std::string_view body) {
    std::map<std::string, std::string> fields;
    while (!body.empty()) {
        std::size_t amp = body.find('&');
        std::string_view pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        if (pair.empty())
            continue;
        std::size_t eq = pair.find('=');
        std::string name = DecodeFormComponent(pair.substr(0, eq));
        std::string value =
            eq == std::string_view::npos ? std::string() : DecodeFormComponent(pair.substr(eq + 1));
        fields.emplace(std::move(name), std::move(value));
    }
    return fields;
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        std::size_t semi = header.find(';');
        std::string_view item = TrimBlanks(header.substr(0, semi));
        header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos)
            continue;
        if (TrimBlanks(item.substr(0, eq)) == name)
            return std::string(TrimBlanks(item.substr(eq + 1)));
    }
    return std::nullopt;
}

std::string ExchangeTextToUtf8(std::string_view cp949) {
    if (std::all_of(cp949.begin(), cp949.end(), [](char c) { return (c & 0x80) == 0; }))
        return std::string(cp949);
    iconv_t cd = ::iconv_open("UTF-8", "CP949");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(cp949);
    // A code page 949 character is two bytes and at most three in UTF-8.
    std::string out(cp949.size() * 2, '\0');
    char* in = const_cast<char*>(cp949.data());
    std::size_t inLeft = cp949.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const bool ok =
        ::iconv(cd, &in, &inLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    ::iconv_close(cd);
    if (!ok)
        return std::string(cp949);
    out.resize(out.size() - dstLeft);
    return out;
}

}  // namespace skiv::server
