#include "platform/codepage.h"

#include <windows.h>

namespace skiv {
namespace {

thread_local std::uint32_t t_lastError = 0;

int Fail(std::uint32_t error) {
    t_lastError = error;
    return 0;
}

int FailFromSystem() {
    return Fail(::GetLastError());
}

bool IsUtf8(unsigned codePage) {
    return codePage == 65001 || (codePage == 0 && ::GetACP() == 65001);
}

}  // namespace

std::uint32_t CodePageLastError() {
    return t_lastError;
}

int MultiByteToWideChar(unsigned codePage, const char* pszMulti, int cbMulti, wchar_t* pszWide,
                        int cchWide) {
    if (!pszMulti || cbMulti == 0 || cbMulti < -1 || cchWide < 0 || (cchWide > 0 && !pszWide))
        return Fail(kErrorInvalidParameter);
    // Invalid input fails rather than turn into U+FFFD.
    const int n =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, pszMulti, cbMulti, pszWide, cchWide);
    return n > 0 ? n : FailFromSystem();
}

int WideCharToMultiByte(unsigned codePage, const wchar_t* pszWide, int cchWide, char* pszMulti,
                        int cbMulti) {
    if (!pszWide || cchWide == 0 || cchWide < -1 || cbMulti < 0 || (cbMulti > 0 && !pszMulti))
        return Fail(kErrorInvalidParameter);
    if (IsUtf8(codePage) || codePage == 65000) {
        const DWORD flags = codePage == 65000 ? 0 : WC_ERR_INVALID_CHARS;
        const int n = ::WideCharToMultiByte(codePage, flags, pszWide, cchWide, pszMulti, cbMulti,
                                            nullptr, nullptr);
        return n > 0 ? n : FailFromSystem();
    }
    // A character the code page lacks would become '?' or a look-alike;
    // both are refused.
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, pszWide, cchWide, pszMulti,
                                        cbMulti, nullptr, &usedDefault);
    if (n <= 0)
        return FailFromSystem();
    if (usedDefault)
        return Fail(kErrorNoUnicodeTranslation);
    return n;
}

bool IsLeadByte(unsigned codePage, unsigned char byte) {
    if (IsUtf8(codePage))
        return byte >= 0xC2 && byte <= 0xF4;
    return ::IsDBCSLeadByteEx(codePage == 0 ? ::GetACP() : codePage, byte);
}

unsigned CharLength(unsigned codePage, const char* text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (!IsLeadByte(codePage, lead))
        return 1;
    const bool utf8 = IsUtf8(codePage);
    const unsigned want = !utf8 ? 2 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned n = 1;
    while (n < want) {
        const auto b = static_cast<unsigned char>(text[n]);
        if (b == 0 || (utf8 && (b & 0xC0) != 0x80))
            break;
        ++n;
    }
    return n;
}

}  // namespace skiv
