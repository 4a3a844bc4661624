#include "http/url_text.h"

#include <vector>

#include "http/http_error.h"

namespace skiv::http {

UrlParts SplitUrl(const std::string& url, unsigned codePage) {
    const char* const s = url.c_str();
    auto view = [s](std::size_t from, std::size_t to) {
        return std::string_view(s + from, to - from);
    };
    auto step = [&](std::size_t i) { return skiv::CharLength(codePage, s + i); };
    UrlParts parts;
    parts.scheme = view(0, 0);

    // Scheme: everything before the first "://".
    std::size_t i = 0;
    while (s[i] && !(s[i] == ':' && s[i + 1] == '/' && s[i + 2] == '/'))
        i += step(i);
    std::size_t hostStart = 0;
    if (s[i]) {
        parts.scheme = view(0, i);
        hostStart = i + 3;
    }

    // Host, then port after the first ':'.
    i = hostStart;
    std::size_t hostEnd = std::string::npos;
    while (s[i] && s[i] != '/' && s[i] != '?' && s[i] != '#') {
        if (hostEnd == std::string::npos && s[i] == ':') {
            hostEnd = i++;
            continue;
        }
        i += step(i);
    }
    if (hostEnd == std::string::npos) {
        parts.host = view(hostStart, i);
        parts.port = view(i, i);
    } else {
        parts.host = view(hostStart, hostEnd);
        parts.port = view(hostEnd + 1, i);
    }

    // Path, then query from the first '?', then the fragment from '#'.
    const std::size_t pathStart = i;
    std::size_t queryStart = std::string::npos;
    while (s[i] && s[i] != '#') {
        if (queryStart == std::string::npos && s[i] == '?')
            queryStart = i;
        i += step(i);
    }
    if (queryStart == std::string::npos)
        queryStart = i;
    parts.path = view(pathStart, queryStart);
    parts.query = view(queryStart, i);
    parts.fragment = view(i, url.size());
    return parts;
}

std::string Utf8Encode(const std::string& text, unsigned codePage) {
    if (text.empty())
        return {};
    const int wideCount = skiv::MultiByteToWideChar(codePage, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideCount > 0 ? wideCount : 1));
    if (wideCount == 0 || skiv::MultiByteToWideChar(codePage, text.c_str(), -1, wide.data(),
                                                    wideCount) != wideCount) {
        throw HttpError(Errc::ToWide, skiv::CodePageLastError());
    }
    const int size = skiv::WideCharToMultiByte(CP_UTF8, wide.data(), -1, nullptr, 0);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    if (size == 0 || skiv::WideCharToMultiByte(CP_UTF8, wide.data(), -1, out.data(), size) != size)
        throw HttpError(Errc::ToCodePage, skiv::CodePageLastError());
    out.pop_back();  // the converted NUL
    return out;
}

std::string UrlEncode(const std::string& text, bool viaUtf8, unsigned codePage) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string bytes = viaUtf8 ? Utf8Encode(text, codePage) : text;
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
            out += c;
        } else if (u == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0x0F];
        }
    }
    return out;
}

std::string RequestObject(const std::string& url, std::string_view extraQuery) {
    const UrlParts parts = SplitUrl(url);
    std::string object = parts.path.empty() ? "/" : "";
    object.append(parts.path).append(parts.query);
    if (!extraQuery.empty())
        object.append(parts.query.empty() ? "?" : "&").append(extraQuery);
    return object.append(parts.fragment);
}

}  // namespace skiv::http
