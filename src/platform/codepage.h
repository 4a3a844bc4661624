#pragma once
// Code-page conversions shaped like the Windows calls the form client was
// designed around (MultiByteToWideChar / WideCharToMultiByte), over iconv.
//
// Code pages: 0 (CP_ACP, the system's) and 65001 (CP_UTF8) are UTF-8 on
// Linux; 949 is CP949 (Korean); any other number n is tried as iconv's
// "CPn". Wide text is wchar_t (UTF-32 on Linux).
//
// Conversions are strict: a byte sequence that is not valid in the source
// code page, or a character the target cannot represent, fails with
// ERROR_NO_UNICODE_TRANSLATION instead of being replaced silently.
//
// Failing calls return 0 and leave a Windows-style error number for
// CodePageLastError() on the calling thread.
//
// On Windows these are the system's own calls: CP_ACP is the real ANSI
// code page (949 on Korean Windows) and wide text is UTF-16.

#include <cstdint>
#include <string>
#include <string_view>

namespace skiv {

// <windows.h> defines the same numbers as macros; when it came first they
// stand in for these.
#if !defined(CP_ACP)
inline constexpr unsigned CP_ACP = 0;
#endif
#if !defined(CP_UTF7)
inline constexpr unsigned CP_UTF7 = 65000;
#endif
#if !defined(CP_UTF8)
inline constexpr unsigned CP_UTF8 = 65001;
#endif

inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;

// Error number of the last failing conversion on this thread.
std::uint32_t CodePageLastError();

// Converts cbMulti bytes of text (-1: up to and including its NUL) to wide.
// With cchWide == 0 returns the number of wide units needed and writes
// nothing; otherwise converts into pszWide and returns the units written
// (0 with kErrorInsufficientBuffer when they do not fit).
int MultiByteToWideChar(unsigned codePage, const char* pszMulti, int cbMulti, wchar_t* pszWide,
                        int cchWide);

// The reverse: cchWide units (-1: up to and including the NUL) to bytes of
// the code page; cbMulti == 0 asks for the size.
int WideCharToMultiByte(unsigned codePage, const wchar_t* pszWide, int cchWide, char* pszMulti,
                        int cbMulti);

// True when the byte starts a character of more than one byte in the code
// page: CP949 lead bytes 0x81-0xFE; UTF-8 lead bytes 0xC2-0xF4.
bool IsLeadByte(unsigned codePage, unsigned char byte);

// Number of bytes of the character that starts at text (which must not be
// at its NUL): 1 for a single byte; for a lead byte, the lead byte plus the
// trail bytes it calls for, stopping early at the NUL (a lead byte that is
// the last byte stands alone) and, for UTF-8, at a byte that is not a
// continuation byte.
unsigned CharLength(unsigned codePage, const char* text);

// The code page of what travels between computers: the names inside an
// archive and the login form's member ID and password. Korean Windows, where
// the players are, writes its system code page, so every platform does.
inline constexpr unsigned kExchangeCodePage = 949;

// Re-encodes text from one code page to another through wide text. False,
// out untouched, when the text is not valid in `from` or holds a character
// `to` cannot express. Text of ASCII bytes only is copied as it is: every
// code page used here agrees on it.
bool ConvertCodePage(unsigned from, unsigned to, std::string_view text, std::string& out);

}  // namespace skiv
