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
// code page (949 on Korean Windows) and wide text is UTF-16. Files that
// also include <windows.h> include this header first (it defines CP_ACP
// and CP_UTF8 as macros).

#include <cstdint>

namespace skiv {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_UTF7 = 65000;
inline constexpr unsigned CP_UTF8 = 65001;

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

}  // namespace skiv
