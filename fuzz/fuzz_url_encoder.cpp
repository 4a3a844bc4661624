// The form client's URL splitting, request objects and encoders on
// arbitrary text and code pages. The URL's parts must tile it in order with
// their marks ("://", ':', '?', '#') where they belong, and the request
// object must be the URL from its path on. The URL form must use only its
// alphabet and decode back to the text (or to its UTF-8 form, which must
// fail exactly when the UTF-8 encoding fails).

#include <optional>
#include <string>

#include "fuzz_util.h"
#include "http/http_error.h"
#include "http/url_text.h"

namespace {

using skiv::fuzz::Check;

const unsigned kCodePages[] = {0, 949, 65001, 65000, 1252, 932, 936, 1258, 437, 12345};

std::size_t OffsetOf(const std::string& url, std::string_view part) {
    return static_cast<std::size_t>(part.data() - url.data());
}

void CheckSplit(const std::string& url, unsigned codePage) {
    const skiv::http::UrlParts p = skiv::http::SplitUrl(url, codePage);
    const std::size_t host = OffsetOf(url, p.host);
    Check(OffsetOf(url, p.scheme) == 0, "the scheme does not start the URL");
    if (host != 0) {
        Check(host == p.scheme.size() + 3 && url.compare(p.scheme.size(), 3, "://") == 0,
              "the host does not follow \"://\"");
    } else {
        Check(p.scheme.empty(), "a scheme without \"://\"");
    }
    const std::size_t hostEnd = host + p.host.size();
    const std::size_t port = OffsetOf(url, p.port);
    if (!p.port.empty() || port != hostEnd)
        Check(port == hostEnd + 1 && url[port - 1] == ':', "the port does not follow ':'");
    Check(OffsetOf(url, p.path) == port + p.port.size(), "the path does not follow the host");
    Check(OffsetOf(url, p.query) == OffsetOf(url, p.path) + p.path.size(),
          "the query does not follow the path");
    Check(OffsetOf(url, p.fragment) == OffsetOf(url, p.query) + p.query.size(),
          "the fragment does not follow the query");
    Check(OffsetOf(url, p.fragment) + p.fragment.size() == url.size(),
          "the parts do not cover the URL");
    Check(p.query.empty() || p.query.front() == '?', "the query does not start with '?'");
    Check(p.fragment.empty() || p.fragment.front() == '#', "the fragment does not start with '#'");
}

void CheckRequestObject(const std::string& url) {
    const skiv::http::UrlParts p = skiv::http::SplitUrl(url);
    const std::string rest = url.substr(OffsetOf(url, p.path));
    const std::string object = skiv::http::RequestObject(url);
    Check(object == (p.path.empty() ? "/" + rest : rest), "the object is not the URL's rest",
          object);
    const std::string joined = skiv::http::RequestObject(url, "a=1");
    Check(joined.front() == '/' && joined.ends_with(std::string(p.fragment)) &&
              joined.find(p.query.empty() ? "?a=1" : "&a=1") != std::string::npos,
          "the parameters are not joined to the query", joined);
}

std::optional<std::string> Encoded(const std::string& text, bool viaUtf8, unsigned codePage) {
    try {
        return skiv::http::UrlEncode(text, viaUtf8, codePage);
    } catch (const skiv::http::HttpError&) {
        return std::nullopt;
    }
}

std::string UrlDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsUpperHex(char h) {
    return (h >= '0' && h <= '9') || (h >= 'A' && h <= 'F');
}

// Letters, digits, '+' and "%XY" with upper-case hexadecimal digits only.
bool UrlAlphabet(const std::string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+')
            continue;
        if (c != '%' || i + 2 >= s.size() || !IsUpperHex(s[i + 1]) || !IsUpperHex(s[i + 2]))
            return false;
        i += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    skiv::fuzz::ByteReader in(data, size);
    const unsigned codePage = kCodePages[in.Byte() % std::size(kCodePages)];
    // C text: up to the first NUL.
    const std::string text(in.UntilNul());

    CheckSplit(text, codePage);
    CheckRequestObject(text);

    std::optional<std::string> utf8;
    try {
        utf8 = skiv::http::Utf8Encode(text, codePage);
    } catch (const skiv::http::HttpError&) {
    }
    if (utf8 && (codePage == 0 || codePage == 65001))
        Check(*utf8 == text, "UTF-8 text changed");

    const auto bytewise = Encoded(text, false, codePage);
    Check(bool(bytewise), "byte-wise URL encoding failed");
    Check(UrlAlphabet(*bytewise), "byte-wise URL form outside its alphabet", *bytewise);
    Check(UrlDecode(*bytewise) == text, "byte-wise URL form does not decode back");

    const auto viaUtf8 = Encoded(text, true, codePage);
    Check(bool(viaUtf8) == bool(utf8), "UTF-8 URL encoding and UTF-8 encoding fail apart");
    if (viaUtf8) {
        Check(UrlAlphabet(*viaUtf8), "UTF-8 URL form outside its alphabet", *viaUtf8);
        Check(UrlDecode(*viaUtf8) == *utf8, "UTF-8 URL form is not the URL form of the UTF-8 text");
    }
    return 0;
}
