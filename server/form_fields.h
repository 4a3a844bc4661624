#pragma once
// Decoding of application/x-www-form-urlencoded bodies and Cookie headers.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace skiv::server {

// Percent-decodes one form component: "%XY" becomes the byte 0xXY and '+'
// a space. A '%' not followed by two hex digits is kept as it is, so a
// sender that did not encode a literal '%' still gets its bytes through.
std::string DecodeFormComponent(std::string_view text);
// The same for a request path, where '+' stays a '+'.
std::string DecodePathComponent(std::string_view text);
// Drops spaces and tabs at both ends (header and cookie values).
std::string_view TrimBlanks(std::string_view text);

// Splits a form body on '&' and decodes names and values. A pair without
// '=' is a name with an empty value; empty pairs are skipped. When a name
// repeats, the first value counts.
std::map<std::string, std::string> ParseForm(std::string_view body);

// The client's login form is code page 949 (what Korean Windows writes, and
// what every client sends); the members' passwords were set as UTF-8 on the
// registration page. Returns the text as UTF-8; bytes that are not code page
// 949 come back as they are, so an ASCII text is always unchanged.
std::string ExchangeTextToUtf8(std::string_view cp949);

// The value of `name` in a Cookie header ("a=1; b=2"), or nullopt.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

}  // namespace skiv::server
