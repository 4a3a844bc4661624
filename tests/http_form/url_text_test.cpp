// URL splitting, the encodings and the request object of the form client,
// and the code-page conversions under them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/http_error.h"
#include "http/url_text.h"
#include "platform/codepage.h"

namespace skiv::http {
namespace {

constexpr unsigned kCp949 = 949;
const char kHanCp949[] = "\xC7\xD1";     // U+D55C in CP949
const char kHanUtf8[] = "\xED\x95\x9C";  // the same in UTF-8

// scheme, host, port, path, query, fragment
std::vector<std::string> Parts(const std::string& url, unsigned cp = 0) {
    const UrlParts p = SplitUrl(url, cp);
    return {std::string(p.scheme), std::string(p.host),  std::string(p.port),
            std::string(p.path),   std::string(p.query), std::string(p.fragment)};
}

TEST(SplitUrl, SplitsEveryPart) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Parts("http://h:80/p?q#f"), (V{"http", "h", "80", "/p", "?q", "#f"}));
    EXPECT_EQ(Parts("h/p"), (V{"", "h", "", "/p", "", ""}));
    EXPECT_EQ(Parts("http://h?q=1"), (V{"http", "h", "", "", "?q=1", ""}));
    EXPECT_EQ(Parts("://h/x"), (V{"", "h", "", "/x", "", ""}));
    // Everything before the first "://" is the scheme, wherever it is.
    EXPECT_EQ(Parts("h/x?u=http://y")[0], "h/x?u=http");
    // Later colons belong to the port; a host may be empty.
    EXPECT_EQ(Parts("http://h:1:2/")[2], "1:2");
    EXPECT_EQ(Parts("http:///p"), (V{"http", "", "", "/p", "", ""}));
    // A '?' after '#' belongs to the fragment.
    EXPECT_EQ(Parts("http://h/a#b?c"), (V{"http", "h", "", "/a", "", "#b?c"}));
    EXPECT_EQ(Parts(""), V(6));
    // 0x81 0x3A: a CP949 character whose trail byte is ':'; not a port.
    EXPECT_EQ(Parts("http://\x81:h/\x81\x41?x", kCp949),
              (V{"http", "\x81:h", "", "/\x81\x41", "?x", ""}));
    EXPECT_EQ(Parts("http://h/\x81", kCp949)[3], "/\x81");  // a lead byte at the end stands alone
}

TEST(RequestObject, PathQueryAndFragmentWithTheParametersJoined) {
    EXPECT_EQ(RequestObject("http://h/p?x=1#f"), "/p?x=1#f");
    EXPECT_EQ(RequestObject("http://h"), "/");
    EXPECT_EQ(RequestObject("http://h?q=1"), "/?q=1");
    EXPECT_EQ(RequestObject("http://h/p?x=1#f", "a=1&b=x+y"), "/p?x=1&a=1&b=x+y#f");
    EXPECT_EQ(RequestObject("http://h/p", "a=1"), "/p?a=1");
    EXPECT_EQ(RequestObject("http://h#f", "a=1"), "/?a=1#f");
    EXPECT_EQ(RequestObject("http://h:81", "a=1"), "/?a=1");
}

TEST(Encoding, UrlFormOfBytesAndOfUtf8) {
    EXPECT_EQ(UrlEncode("a b&c", false), "a+b%26c");
    EXPECT_EQ(UrlEncode("AZaz09", false), "AZaz09");
    EXPECT_EQ(UrlEncode("-_.~/?=%", false), "%2D%5F%2E%7E%2F%3F%3D%25");
    EXPECT_EQ(UrlEncode("\xFF\x80", false), "%FF%80");  // bytes as they are without UTF-8
    EXPECT_EQ(UrlEncode(std::string("x") + kHanUtf8, true), "x%ED%95%9C");
    // CP949 text is converted to UTF-8 first.
    EXPECT_EQ(UrlEncode(std::string(kHanCp949) + " 1", true, kCp949), "%ED%95%9C+1");
    EXPECT_EQ(UrlEncode(kHanCp949, false, kCp949), "%C7%D1");
    EXPECT_EQ(Utf8Encode(std::string("a") + kHanCp949 + "b", kCp949),
              std::string("a") + kHanUtf8 + "b");
    EXPECT_EQ(Utf8Encode("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8Encode(""), "");
    // A stray continuation byte, or a CP949 lead byte cut by the end, does
    // not convert: a clear error instead of a guessed character.
    for (auto [text, cp] : {std::pair<const char*, unsigned>{"a\x80", 0}, {"a\xC7", kCp949}}) {
        try {
            UrlEncode(text, true, cp);
            ADD_FAILURE() << text;
        } catch (const HttpError& e) {
            EXPECT_EQ(e.code(), Errc::ToWide);
            EXPECT_STREQ(e.what(), "::MultiByteToWideChar failed.");
        }
    }
}

TEST(CodePage, SizeThenConvert) {
    const char* text = "a\xC7\xD1";
    ASSERT_EQ(skiv::MultiByteToWideChar(kCp949, text, -1, nullptr, 0), 3);
    wchar_t wide[3];
    ASSERT_EQ(skiv::MultiByteToWideChar(kCp949, text, -1, wide, 3), 3);
    EXPECT_EQ(wide[0], L'a');
    EXPECT_EQ(wide[1], 0xD55C);
    EXPECT_EQ(wide[2], 0);
    // Too small a buffer fails instead of writing past it.
    wchar_t small[2];
    EXPECT_EQ(skiv::MultiByteToWideChar(kCp949, text, -1, small, 2), 0);
    EXPECT_EQ(skiv::CodePageLastError(), skiv::kErrorInsufficientBuffer);

    EXPECT_EQ(skiv::WideCharToMultiByte(kCp949, wide, -1, nullptr, 0), 4);
    char back[4];
    ASSERT_EQ(skiv::WideCharToMultiByte(kCp949, wide, -1, back, 4), 4);
    EXPECT_STREQ(back, text);
    // The system code page is UTF-8.
    EXPECT_EQ(skiv::WideCharToMultiByte(skiv::CP_ACP, wide, 2, back, 4), 4);
    EXPECT_EQ(std::string(back, 4), std::string("a") + kHanUtf8);

    // A character CP949 cannot hold, and an unknown code page.
    const wchar_t euro[] = {0x20AC, 0};
    EXPECT_NE(skiv::WideCharToMultiByte(kCp949, euro, -1, back, 4), 0);  // CP949 has the euro
    const wchar_t thai[] = {0x0E01, 0};
    EXPECT_EQ(skiv::WideCharToMultiByte(kCp949, thai, -1, back, 4), 0);
    EXPECT_EQ(skiv::CodePageLastError(), skiv::kErrorNoUnicodeTranslation);
    EXPECT_EQ(skiv::MultiByteToWideChar(4242, "a", -1, wide, 3), 0);
    EXPECT_EQ(skiv::CodePageLastError(), skiv::kErrorInvalidParameter);
}

TEST(CodePage, CharacterWalk) {
    EXPECT_EQ(skiv::CharLength(kCp949, "\xC7\xD1x"), 2u);
    EXPECT_EQ(skiv::CharLength(kCp949, "\xC7"), 1u);  // lead byte as last byte
    EXPECT_EQ(skiv::CharLength(kCp949, "a"), 1u);
    EXPECT_EQ(skiv::CharLength(0, "\xF0\x9F\x98\x80"), 4u);
    EXPECT_EQ(skiv::CharLength(0, "\xED\x95\x9C"), 3u);
    EXPECT_EQ(skiv::CharLength(0,
                               "\xED\x95"
                               "a"),
              2u);  // cut sequence stops at a non-trail byte
    EXPECT_EQ(skiv::CharLength(0, "\x80"), 1u);
    EXPECT_TRUE(skiv::IsLeadByte(kCp949, 0x81));
    EXPECT_FALSE(skiv::IsLeadByte(kCp949, 0x80));
    EXPECT_FALSE(skiv::IsLeadByte(0, 0xC1));  // never starts a valid UTF-8 sequence
}

}  // namespace
}  // namespace skiv::http
