#pragma once
// URL splitting and the two text encodings of the form client.
//
// Text is in a code page (the system's by default; CP949 on a Korean
// Windows, UTF-8 here) and walked character by character, so a trail byte
// that happens to be ':' or '/' never splits a URL. Conversions are strict:
// text that is not valid in its code page fails with Errc::ToWide.

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace skiv::http {

//   scheme "://" host [":" port] path ["?" query] ["#" fragment]
//
// Views into the URL given (empty parts too), which must outlive them. The
// query keeps its '?', the fragment its '#'. Without "://" the scheme is
// empty and the URL starts with its host. A missing part is empty; the
// parts tile the URL in order (marks "://" and ':' excepted).
struct UrlParts {
    std::string_view scheme, host, port, path, query, fragment;
};
UrlParts SplitUrl(const std::string& url, unsigned codePage = CP_ACP);

// The UTF-8 form of text. Errc::ToWide or Errc::ToCodePage when it does
// not convert.
std::string Utf8Encode(const std::string& text, unsigned codePage = CP_ACP);

// application/x-www-form-urlencoded: A-Z, a-z and 0-9 stay, a space becomes
// '+', every other byte "%XY" in upper-case hexadecimal. With viaUtf8 the
// bytes of Utf8Encode(text) are encoded, otherwise the text's own bytes.
std::string UrlEncode(const std::string& text, bool viaUtf8, unsigned codePage = CP_ACP);

// The object name of a request line for url: path, query and fragment as
// written, "/" in front when the path is missing. A non-empty extraQuery
// (already encoded) joins the query with '&', or starts it with '?'.
std::string RequestObject(const std::string& url, std::string_view extraQuery = {});

}  // namespace skiv::http
