#pragma once
// The reply to one request of the form client. Owns the request handle
// and, when the client opened them for this request alone, the connection
// and internet handles; closes them (request first) when deleted. Refers
// to nothing of the client, so it may outlive it.

#include <cstdint>

#include "http/form/client_map.h"
#include "http/form/owned_text.h"
#include "platform/wininet/wininet.h"

namespace Vutra {

template <typename CharT>
class CHttpResponseT {
public:
    using DWORD = std::uint32_t;
    using HINTERNET = skiv::wininet::HINTERNET;

    // Takes over the handles; hInternet and hConnection may be null.
    CHttpResponseT(HINTERNET hInternet, HINTERNET hConnection, HINTERNET hRequest) noexcept;
    virtual ~CHttpResponseT();
    CHttpResponseT(const CHttpResponseT&) = delete;
    CHttpResponseT& operator=(const CHttpResponseT&) = delete;

    // The HTTP status code, queried once and cached. 400 on failure.
    DWORD GetStatus();
    // The status text, queried once and cached; owned by the response.
    const CharT* GetStatusText();
    // Reads up to cbBuff body bytes into pbyBuff; 0 at the end of the body.
    // 401 on failure.
    DWORD ReadContent(unsigned char* pbyBuff, DWORD cbBuff);

private:
    CHttpClientMapT<CharT> m_mapHeader;
    HINTERNET m_hInternet;
    HINTERNET m_hConnection;
    HINTERNET m_hRequest;
    DWORD m_dwStatus = 0;
    OwnedTextT<CharT> m_szStatusText;
};

extern template class CHttpResponseT<char>;

}  // namespace Vutra
