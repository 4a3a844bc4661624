#pragma once
// UTF-8 and URL encoding of code-page text, and the matching length
// functions the client sizes its buffers with. The length functions walk
// the text and convert characters exactly as the encoders do, so for every
// input the computed length equals the encoder's output length, byte for
// byte (failures included: both throw on the same character).
//
// Characters: a lead byte of the code page with its trail bytes is one
// character (skiv::CharLength); a lead byte cut by the end of the text
// stands alone.
//
// URL encoding of one byte: A-Z, a-z and 0-9 stay, a space becomes '+',
// every other byte becomes '%' and two upper-case hexadecimal digits.

#include "http/form/http_error.h"

namespace Vutra {

using BOOL = int;

class CHttpEncoderA {
public:
    // Converts one character (NUL-terminated, from szAnsiChar) to UTF-8 in
    // szUtf8Char, which has room for at least 7 bytes. Returns the bytes
    // written, the terminating NUL included. 601 or 600 when the character
    // does not convert.
    static int _AnsiCharToUtf8Char(char* szUtf8Char, const char* szAnsiChar, unsigned nCodePage);

    // Writes the UTF-8 form of szAnsi into szBuff, which the caller sizes
    // with _Utf8EncodeLen + 1. Null or empty szAnsi gives "". Returns szBuff.
    static char* Utf8Encode(char* szBuff, const char* szAnsi, unsigned nCodePage);

    // Writes the URL-encoded form of szAnsi (of its UTF-8 form when bUtf8)
    // into szBuff, sized with _UrlEncodeLenEx + 1. Returns szBuff.
    static char* UrlEncodeA(char* szBuff, const char* szAnsi, BOOL bUtf8, unsigned nCodePage);
};

// Length of the URL-encoded form of the bytes of szStr (not null). 112 on
// overflow.
DWORD _UrlEncodeLen(const char* szStr);
// Length of UrlEncodeA's output; 0 for null or empty text.
DWORD _UrlEncodeLenEx(const char* szStr, BOOL bUtf8, unsigned nCodePage);
// Length of Utf8Encode's output without the NUL; 0 for null or empty text.
DWORD _Utf8EncodeLen(const char* szStr, unsigned nCodePage);

}  // namespace Vutra
