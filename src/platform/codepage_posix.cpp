#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace skiv {
namespace {

thread_local std::uint32_t t_lastError = 0;

int Fail(std::uint32_t error) {
    t_lastError = error;
    return 0;
}

// iconv's name for a Windows code-page number.
std::string CodePageName(unsigned codePage) {
    switch (codePage) {
        case CP_ACP:
        case CP_UTF8:
            return "UTF-8";
        case CP_UTF7:
            return "UTF-7";
        default: {
            char name[16];
            std::snprintf(name, sizeof name, "CP%u", codePage);
            return name;
        }
    }
}

// One converter per direction and code page, kept per thread: the form
// client converts character by character, and opening a converter for each
// would dominate the cost.
class Converter {
public:
    Converter(const std::string& to, const std::string& from)
        : m_cd(::iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (ok())
            ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts inBytes bytes into out (outBytes). With out == nullptr only
    // counts. Returns the output byte count, or -1 with t_lastError set.
    long Run(const char* in, std::size_t inBytes, char* out, std::size_t outBytes) {
        ::iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char scratch[256];
        char* src = const_cast<char*>(in);
        std::size_t srcLeft = inBytes;
        long total = 0;
        const bool counting = out == nullptr;
        for (;;) {
            char* dst = counting ? scratch : out + total;
            std::size_t dstLeft =
                counting ? sizeof scratch : outBytes - static_cast<std::size_t>(total);
            const std::size_t before = dstLeft;
            const bool flushing = srcLeft == 0;
            std::size_t r = flushing ? ::iconv(m_cd, nullptr, nullptr, &dst, &dstLeft)
                                     : ::iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            total += static_cast<long>(before - dstLeft);
            if (r != static_cast<std::size_t>(-1)) {
                if (flushing)
                    return total;
                continue;  // all input taken; flush shift state next round
            }
            if (errno == E2BIG) {
                if (counting)
                    continue;
                t_lastError = kErrorInsufficientBuffer;
                return -1;
            }
            t_lastError = kErrorNoUnicodeTranslation;  // EILSEQ, or EINVAL: cut sequence
            return -1;
        }
    }

private:
    iconv_t m_cd;
};

struct CachedConverter {
    std::string to;
    std::string from;
    Converter* conv = nullptr;
};

Converter* GetConverter(const std::string& to, const std::string& from) {
    struct Cache {
        CachedConverter slots[4];
        unsigned next = 0;
        ~Cache() {
            for (auto& s : slots)
                delete s.conv;
        }
    };
    thread_local Cache cache;
    for (auto& s : cache.slots) {
        if (s.conv && s.to == to && s.from == from)
            return s.conv;
    }
    auto* conv = new Converter(to, from);
    if (!conv->ok()) {
        delete conv;
        return nullptr;
    }
    CachedConverter& slot = cache.slots[cache.next++ % 4];
    delete slot.conv;
    slot = CachedConverter{to, from, conv};
    return conv;
}

const char kWide[] = "WCHAR_T";

}  // namespace

std::uint32_t CodePageLastError() {
    return t_lastError;
}

int MultiByteToWideChar(unsigned codePage, const char* pszMulti, int cbMulti, wchar_t* pszWide,
                        int cchWide) {
    if (!pszMulti || cbMulti == 0 || cbMulti < -1 || cchWide < 0 || (cchWide > 0 && !pszWide)) {
        return Fail(kErrorInvalidParameter);
    }
    const std::size_t inBytes =
        cbMulti == -1 ? std::strlen(pszMulti) + 1 : static_cast<std::size_t>(cbMulti);
    Converter* conv = GetConverter(kWide, CodePageName(codePage));
    if (!conv)
        return Fail(kErrorInvalidParameter);
    long bytes = conv->Run(pszMulti, inBytes, cchWide ? reinterpret_cast<char*>(pszWide) : nullptr,
                           static_cast<std::size_t>(cchWide) * sizeof(wchar_t));
    if (bytes <= 0)
        return bytes == 0 ? Fail(kErrorNoUnicodeTranslation) : 0;
    return static_cast<int>(static_cast<std::size_t>(bytes) / sizeof(wchar_t));
}

int WideCharToMultiByte(unsigned codePage, const wchar_t* pszWide, int cchWide, char* pszMulti,
                        int cbMulti) {
    if (!pszWide || cchWide == 0 || cchWide < -1 || cbMulti < 0 || (cbMulti > 0 && !pszMulti)) {
        return Fail(kErrorInvalidParameter);
    }
    const std::size_t inUnits =
        cchWide == -1 ? std::wcslen(pszWide) + 1 : static_cast<std::size_t>(cchWide);
    Converter* conv = GetConverter(CodePageName(codePage), kWide);
    if (!conv)
        return Fail(kErrorInvalidParameter);
    long bytes = conv->Run(reinterpret_cast<const char*>(pszWide), inUnits * sizeof(wchar_t),
                           cbMulti ? pszMulti : nullptr, static_cast<std::size_t>(cbMulti));
    if (bytes <= 0)
        return bytes == 0 ? Fail(kErrorNoUnicodeTranslation) : 0;
    return static_cast<int>(bytes);
}

bool IsLeadByte(unsigned codePage, unsigned char byte) {
    switch (codePage) {
        case CP_ACP:
        case CP_UTF8:
            return byte >= 0xC2 && byte <= 0xF4;
        case 932:
            return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:
        case 949:
        case 950:
            return byte >= 0x81 && byte <= 0xFE;
        default:
            return false;
    }
}

unsigned CharLength(unsigned codePage, const char* text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (!IsLeadByte(codePage, lead))
        return 1;
    const bool utf8 = codePage == CP_ACP || codePage == CP_UTF8;
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
