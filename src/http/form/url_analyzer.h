#pragma once
// Splits a URL into offsets and lengths (bytes from its start) without
// copying it. Never fails on URL content: what is missing shows as a
// length of 0, which the client turns into its own errors.
//
//   scheme "://" host [":" port] path ["?" query] ["#" fragment]
//
// The query length counts its "?", the fragment length its "#". A URL
// without "://" has an empty scheme and starts with its host. Multi-byte
// characters of the code page are stepped over whole.

#include <cstdint>

#include "http/form/http_error.h"

namespace Vutra {

template <typename CharT>
class CHttpUrlAnalyzerT {
public:
    using DWORD = std::uint32_t;

    // Fills the twelve values; all zero for a null or empty URL. The code
    // page may not be UTF-8 or UTF-7 (code-0 error).
    void Analyze(const CharT* szUrl, unsigned nCodePage);

    DWORD SchemeOffset() const { return m_nSchemeIdx; }
    DWORD SchemeLength() const { return m_cchScheme; }
    DWORD HostOffset() const { return m_nHostIdx; }
    DWORD HostLength() const { return m_cchHost; }
    DWORD PortOffset() const { return m_nPortIdx; }
    DWORD PortLength() const { return m_cchPort; }
    DWORD PathOffset() const { return m_nPathIdx; }
    DWORD PathLength() const { return m_cchPath; }
    DWORD QueryOffset() const { return m_nQueryIdx; }
    DWORD QueryLength() const { return m_cchQuery; }
    DWORD FragmentOffset() const { return m_nFragmentIdx; }
    DWORD FragmentLength() const { return m_cchFragment; }

private:
    DWORD m_nSchemeIdx = 0;
    DWORD m_cchScheme = 0;
    DWORD m_nHostIdx = 0;
    DWORD m_cchHost = 0;
    DWORD m_nPortIdx = 0;
    DWORD m_cchPort = 0;
    DWORD m_nPathIdx = 0;
    DWORD m_cchPath = 0;
    DWORD m_nQueryIdx = 0;
    DWORD m_cchQuery = 0;
    DWORD m_nFragmentIdx = 0;
    DWORD m_cchFragment = 0;
};

extern template class CHttpUrlAnalyzerT<char>;

}  // namespace Vutra
