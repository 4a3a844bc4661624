#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "http/form/http_encoder.h"
#include "platform/codepage.h"

namespace Vutra {
namespace {

constexpr unsigned kCp949 = 949;
const char kHanCp949[] = "\xC7\xD1";     // U+D55C in CP949
const char kHanUtf8[] = "\xED\x95\x9C";  // the same in UTF-8

std::string UrlEncode(const std::string& s, BOOL utf8, unsigned cp) {
    std::vector<char> buf(_UrlEncodeLenEx(s.c_str(), utf8, cp) + 1, 'Z');
    return CHttpEncoderA::UrlEncodeA(buf.data(), s.c_str(), utf8, cp);
}

std::string Utf8(const std::string& s, unsigned cp) {
    std::vector<char> buf(_Utf8EncodeLen(s.c_str(), cp) + 1, 'Z');
    return CHttpEncoderA::Utf8Encode(buf.data(), s.c_str(), cp);
}

TEST(Encoder, UrlEncodeBytes) {
    EXPECT_EQ(UrlEncode("a b&c", 0, 0), "a+b%26c");
    EXPECT_EQ(UrlEncode("AZaz09", 0, 0), "AZaz09");
    EXPECT_EQ(UrlEncode("-_.~/?=%", 0, 0), "%2D%5F%2E%7E%2F%3F%3D%25");
    EXPECT_EQ(UrlEncode("\xFF\x80", 0, 0), "%FF%80");  // bytes as they are without UTF-8
    EXPECT_EQ(UrlEncode("", 0, 0), "");
    char buf[4] = "xyz";
    EXPECT_STREQ(CHttpEncoderA::UrlEncodeA(buf, nullptr, 1, 0), "");
    EXPECT_EQ(_UrlEncodeLen("a b&"), 6u);
    EXPECT_EQ(_UrlEncodeLen(""), 0u);
    EXPECT_EQ(_UrlEncodeLenEx(nullptr, 1, 0), 0u);
}

TEST(Encoder, UrlEncodeThroughUtf8) {
    // System code page (UTF-8 here): characters pass through unchanged.
    EXPECT_EQ(UrlEncode(std::string("x") + kHanUtf8, 1, 0), "x%ED%95%9C");
    // CP949 text is converted to UTF-8 first.
    EXPECT_EQ(UrlEncode(std::string(kHanCp949) + " 1", 1, kCp949), "%ED%95%9C+1");
    EXPECT_EQ(UrlEncode(kHanCp949, 0, kCp949), "%C7%D1");
    EXPECT_EQ(Utf8(std::string("a") + kHanCp949 + "b", kCp949), std::string("a") + kHanUtf8 + "b");
    EXPECT_EQ(_Utf8EncodeLen(kHanCp949, kCp949), 3u);
    EXPECT_EQ(Utf8("", kCp949), "");
}

TEST(Encoder, ArgumentChecksAndBadCharacters) {
    try {
        CHttpEncoderA::UrlEncodeA(nullptr, "a", 0, 0);
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpEncoderA::UrlEncodeA: szBuff can not be NULL.");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
    try {
        CHttpEncoderA::Utf8Encode(nullptr, "a", 0);
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpEncoderA::Utf8Encode: szBuff can not be NULL.");
    }
    try {
        char out[7];
        CHttpEncoderA::_AnsiCharToUtf8Char(out, nullptr, 0);
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(),
                     "CHttpEncoderA::_AnsiCharToUtf8Char: szUtf8Char and szAnsiChar can not be "
                     "NULL.");
    }
    try {
        _UrlEncodeLen(nullptr);
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "_UrlEncodeLen: szStr can not be NULL.");
    }
    // A stray continuation byte, or a CP949 lead byte cut by the end, does
    // not convert: a clear error instead of a guessed character.
    for (auto [text, cp] : {std::pair<const char*, unsigned>{"a\x80", 0}, {"a\xC7", kCp949}}) {
        try {
            _Utf8EncodeLen(text, cp);
            FAIL() << text;
        } catch (const httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), 601);
            EXPECT_STREQ(e.errmsg(), "::MultiByteToWideChar failed.");
        }
    }
}

TEST(Encoder, AnsiCharToUtf8CharCountsTheNul) {
    char out[7];
    EXPECT_EQ(CHttpEncoderA::_AnsiCharToUtf8Char(out, "A", 0), 2);
    EXPECT_STREQ(out, "A");
    EXPECT_EQ(CHttpEncoderA::_AnsiCharToUtf8Char(out, kHanCp949, kCp949), 4);
    EXPECT_STREQ(out, kHanUtf8);
    EXPECT_EQ(CHttpEncoderA::_AnsiCharToUtf8Char(out, "\xF0\x9F\x98\x80", 0), 5);
    EXPECT_STREQ(out, "\xF0\x9F\x98\x80");
}

// A text mixing ASCII, valid multi-byte characters of the code page and,
// sometimes, raw bytes that may not convert.
std::string RandomText(std::mt19937& gen, unsigned cp, bool allowJunk) {
    std::uniform_int_distribution<int> len(0, 24), kind(0, 9), byte(1, 255), ascii(1, 127);
    std::string s;
    for (int n = len(gen); n > 0; --n) {
        const int k = kind(gen);
        if (k < 5) {
            s += static_cast<char>(ascii(gen));
        } else if (k < 9 && cp == kCp949) {
            s += static_cast<char>(0xB0 + gen() % 0x17);  // Hangul rows
            s += static_cast<char>(0xA1 + gen() % 0x5E);
        } else if (k < 9) {
            const char* samples[] = {"\xC3\xA9", "\xED\x95\x9C", "\xF0\x9F\x98\x80",
                                     "\xE2\x82\xAC"};
            s += samples[gen() % 4];
        } else if (allowJunk) {
            s += static_cast<char>(byte(gen));
        }
    }
    return s;
}

// The client sizes its buffers with the length functions; an encoder that
// writes one byte more than computed overruns them. Every input must give
// output exactly as long as computed, and an input that cannot be encoded
// must fail in the length function the same way as in the encoder.
TEST(Encoder, LengthsAgreeWithOutputForRandomInputs) {
    std::mt19937 gen(20240611);
    int encoded = 0;
    int refused = 0;
    for (int round = 0; round < 6000; ++round) {
        const unsigned cp = round % 2 ? kCp949 : 0;
        const BOOL utf8 = (round / 2) % 2;
        const std::string text = RandomText(gen, cp, round % 5 == 0);

        int lenError = -1;
        DWORD urlLen = 0;
        DWORD utf8Len = 0;
        try {
            urlLen = _UrlEncodeLenEx(text.c_str(), utf8, cp);
            utf8Len = _Utf8EncodeLen(text.c_str(), cp);
        } catch (const httpclientexceptionA& e) {
            lenError = e.ErrorCode();
        }
        if (lenError >= 0) {
            ++refused;
            int encError = -1;
            try {
                std::vector<char> big(text.size() * 12 + 8);
                CHttpEncoderA::Utf8Encode(big.data(), text.c_str(), cp);
                CHttpEncoderA::UrlEncodeA(big.data(), text.c_str(), utf8, cp);
            } catch (const httpclientexceptionA& e) {
                encError = e.ErrorCode();
            }
            ASSERT_EQ(encError, lenError) << "round " << round;
            continue;
        }
        ++encoded;
        std::vector<char> url(urlLen + 8, '\x7F');
        CHttpEncoderA::UrlEncodeA(url.data(), text.c_str(), utf8, cp);
        ASSERT_EQ(std::strlen(url.data()), urlLen) << "round " << round;
        ASSERT_EQ(url[urlLen + 1], '\x7F');

        std::vector<char> u8(utf8Len + 8, '\x7F');
        CHttpEncoderA::Utf8Encode(u8.data(), text.c_str(), cp);
        ASSERT_EQ(std::strlen(u8.data()), utf8Len) << "round " << round;
        ASSERT_EQ(u8[utf8Len + 1], '\x7F');
        if (cp == 0) {
            ASSERT_EQ(std::string(u8.data()), text);  // UTF-8 passes through
        }

        if (!utf8) {
            ASSERT_EQ(urlLen, _UrlEncodeLen(text.c_str()));
        }
    }
    // Both paths were exercised.
    EXPECT_GT(encoded, 4000);
    EXPECT_GT(refused, 50);
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
}  // namespace Vutra
