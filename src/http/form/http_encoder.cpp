#include "http/form/http_encoder.h"

#include <cstring>

#include "http/form/safe_int.h"
#include "platform/codepage.h"

namespace Vutra {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Bytes the URL encoding of one byte takes.
DWORD EncodedByteLen(unsigned char c) {
    return IsUnreserved(c) || c == ' ' ? 1 : 3;
}

char* EncodeByte(char* out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    if (IsUnreserved(c)) {
        *out++ = static_cast<char>(c);
    } else if (c == ' ') {
        *out++ = '+';
    } else {
        *out++ = '%';
        *out++ = kHex[c >> 4];
        *out++ = kHex[c & 0x0F];
    }
    return out;
}

// Walks szAnsi character by character, handing each one's UTF-8 bytes
// (NUL-terminated) to visit. The encoders and the length functions share
// this walk so they cannot disagree.
template <typename Visit>
void ForEachUtf8Char(const char* szAnsi, unsigned nCodePage, Visit visit) {
    char ansiChar[8];
    char utf8Char[8];
    for (const char* p = szAnsi; *p;) {
        const unsigned n = skiv::CharLength(nCodePage, p);
        std::memcpy(ansiChar, p, n);
        ansiChar[n] = '\0';
        const int cb = CHttpEncoderA::_AnsiCharToUtf8Char(utf8Char, ansiChar, nCodePage);
        visit(utf8Char, static_cast<DWORD>(cb - 1));
        p += n;
    }
}

}  // namespace

int CHttpEncoderA::_AnsiCharToUtf8Char(char* szUtf8Char, const char* szAnsiChar,
                                       unsigned nCodePage) {
    if (!szUtf8Char || !szAnsiChar) {
        ThrowException(
            "CHttpEncoderA::_AnsiCharToUtf8Char: szUtf8Char and szAnsiChar can not be NULL.");
    }
    wchar_t wide[2];
    const int cch = skiv::MultiByteToWideChar(nCodePage, szAnsiChar, -1, wide, 2);
    if (cch == 0)
        ThrowSystemError(kErrToWide, skiv::CodePageLastError());
    const int cb = skiv::WideCharToMultiByte(skiv::CP_UTF8, wide, cch, szUtf8Char, 7);
    if (cb == 0)
        ThrowSystemError(kErrToAnsi, skiv::CodePageLastError());
    return cb;
}

char* CHttpEncoderA::Utf8Encode(char* szBuff, const char* szAnsi, unsigned nCodePage) {
    if (!szBuff)
        ThrowException("CHttpEncoderA::Utf8Encode: szBuff can not be NULL.");
    char* out = szBuff;
    if (szAnsi) {
        ForEachUtf8Char(szAnsi, nCodePage, [&out](const char* utf8, DWORD cb) {
            std::memcpy(out, utf8, cb);
            out += cb;
        });
    }
    *out = '\0';
    return szBuff;
}

char* CHttpEncoderA::UrlEncodeA(char* szBuff, const char* szAnsi, BOOL bUtf8, unsigned nCodePage) {
    if (!szBuff)
        ThrowException("CHttpEncoderA::UrlEncodeA: szBuff can not be NULL.");
    char* out = szBuff;
    if (szAnsi && !bUtf8) {
        for (const char* p = szAnsi; *p; ++p)
            out = EncodeByte(out, static_cast<unsigned char>(*p));
    } else if (szAnsi) {
        ForEachUtf8Char(szAnsi, nCodePage, [&out](const char* utf8, DWORD cb) {
            for (DWORD i = 0; i < cb; ++i)
                out = EncodeByte(out, static_cast<unsigned char>(utf8[i]));
        });
    }
    *out = '\0';
    return szBuff;
}

DWORD _UrlEncodeLen(const char* szStr) {
    if (!szStr)
        ThrowException("_UrlEncodeLen: szStr can not be NULL.");
    DWORD len = 0;
    for (const char* p = szStr; *p; ++p) {
        len = CheckedAdd<DWORD>(len, EncodedByteLen(static_cast<unsigned char>(*p)));
    }
    return len;
}

DWORD _UrlEncodeLenEx(const char* szStr, BOOL bUtf8, unsigned nCodePage) {
    if (!szStr || !*szStr)
        return 0;
    if (!bUtf8)
        return _UrlEncodeLen(szStr);
    DWORD len = 0;
    ForEachUtf8Char(szStr, nCodePage, [&len](const char* utf8, DWORD cb) {
        for (DWORD i = 0; i < cb; ++i) {
            len = CheckedAdd<DWORD>(len, EncodedByteLen(static_cast<unsigned char>(utf8[i])));
        }
    });
    return len;
}

DWORD _Utf8EncodeLen(const char* szStr, unsigned nCodePage) {
    if (!szStr || !*szStr)
        return 0;
    DWORD len = 0;
    ForEachUtf8Char(szStr, nCodePage,
                    [&len](const char*, DWORD cb) { len = CheckedAdd<DWORD>(len, cb); });
    return len;
}

}  // namespace Vutra
