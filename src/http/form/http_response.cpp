#include "http/form/http_response.h"

#include "http/form/http_tool.h"

namespace Vutra {

namespace wi = skiv::wininet;

template <typename CharT>
CHttpResponseT<CharT>::CHttpResponseT(HINTERNET hInternet, HINTERNET hConnection,
                                      HINTERNET hRequest) noexcept
    : m_hInternet(hInternet), m_hConnection(hConnection), m_hRequest(hRequest) {}

template <typename CharT>
CHttpResponseT<CharT>::~CHttpResponseT() {
    CHttpToolA::CloseInternetHandle(m_hRequest);
    CHttpToolA::CloseInternetHandle(m_hConnection);
    CHttpToolA::CloseInternetHandle(m_hInternet);
}

template <typename CharT>
std::uint32_t CHttpResponseT<CharT>::GetStatus() {
    if (!m_hRequest)
        ThrowException("CHttpResponseT::GetStatus: m_hRequest can not be NULL.");
    if (m_dwStatus != 0)
        return m_dwStatus;
    DWORD status = 0;
    DWORD cb = sizeof status;
    if (!wi::HttpQueryInfoA(m_hRequest, wi::HTTP_QUERY_STATUS_CODE | wi::HTTP_QUERY_FLAG_NUMBER,
                            &status, &cb, nullptr)) {
        ThrowSystemError(kErrQueryInfo, wi::GetLastError());
    }
    m_dwStatus = status;
    return m_dwStatus;
}

template <typename CharT>
const CharT* CHttpResponseT<CharT>::GetStatusText() {
    if (!m_hRequest)
        ThrowException("CHttpResponseT::GetStatusText: m_hRequest can not be NULL.");
    if (!m_szStatusText)
        m_szStatusText = CHttpToolA::GetStatusText(m_hRequest);
    return m_szStatusText.get();
}

template <typename CharT>
std::uint32_t CHttpResponseT<CharT>::ReadContent(unsigned char* pbyBuff, DWORD cbBuff) {
    if (!m_hRequest)
        ThrowException("CHttpResponseT::ReadContent: m_hRequest can not be NULL.");
    if (!pbyBuff)
        ThrowException("CHttpResponseT::ReadContent: pbyBuff can not be NULL.");
    if (cbBuff == 0)
        ThrowException("CHttpResponseT::ReadContent: cbBuff can not be zero.");
    DWORD cbRead = 0;
    if (!wi::InternetReadFile(m_hRequest, pbyBuff, cbBuff, &cbRead)) {
        ThrowSystemError(kErrInternetReadFile, wi::GetLastError());
    }
    return cbRead;
}

template class CHttpResponseT<char>;

}  // namespace Vutra
