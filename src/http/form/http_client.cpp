// CHttpClientT: construction, settings, parameters and the GET request.
// The upload context lives in http_client_upload.cpp.
#include "http/form/http_client.h"

#include <strings.h>
#include <cstdio>
#include <cstring>
#include <new>

#include "http/form/http_encoder.h"
#include "http/form/http_tool.h"
#include "http/form/safe_int.h"
#include "http/form/url_analyzer.h"

namespace Vutra {

namespace wi = skiv::wininet;

namespace {

constexpr char kContentTypePrefix[] = "multipart/form-data; boundary=";
constexpr char kFallbackContentType[] =
    "multipart/form-data; boundary=----VUTRA-FB3B405B7EAE495aB0C0295C54D4E096-";

bool IsHttps(const char* szUrl, const CHttpUrlAnalyzerT<char>& url) {
    return url.SchemeLength() == 5 && ::strncasecmp(szUrl, "HTTPS", 5) == 0;
}

// Copies n bytes and returns the end of the copy.
char* Put(char* out, const char* src, std::size_t n) {
    std::memcpy(out, src, n);
    return out + n;
}

}  // namespace

template <typename CharT>
CHttpClientT<CharT>::CHttpClientT() {
    m_szBoundary = CHttpToolA::GenerateBoundary();
    if (m_szBoundary) {
        const std::size_t cchBoundary = std::strlen(m_szBoundary.get());
        char* p = new (std::nothrow) char[cchBoundary + sizeof kContentTypePrefix];
        if (p) {
            std::memcpy(p, kContentTypePrefix, sizeof kContentTypePrefix - 1);
            std::memcpy(p + sizeof kContentTypePrefix - 1, m_szBoundary.get(), cchBoundary + 1);
            m_szUploadContType.reset(p);
        } else {
            m_szBoundary.reset();
        }
    }
    m_szBoundaryInUse = m_szBoundary.get();
}

template <typename CharT>
CHttpClientT<CharT>::~CHttpClientT() {
    AbortPostContext();
}

template <typename CharT>
const CharT* CHttpClientT<CharT>::GetBoundary() const {
    return m_szBoundaryInUse ? m_szBoundaryInUse : kFallbackBoundary;
}

template <typename CharT>
const CharT* CHttpClientT<CharT>::GetUploadContentType() const {
    return m_szUploadContType ? m_szUploadContType.get() : kFallbackContentType;
}

template <typename CharT>
void CHttpClientT<CharT>::ThrowIfPostActive(const char* szMessage) const {
    if (IsPostActive())
        ThrowException(szMessage);
}

template <typename CharT>
void CHttpClientT<CharT>::ConfigureInternet(const CharT* szUserAgent, DWORD dwAccessType,
                                            const CharT* szProxyName, const CharT* szProxyBypass,
                                            DWORD dwFlags) {
    // Copy whatever changes first; commit only when every copy was made.
    auto same = [](const OwnedTextT<CharT>& stored, const CharT* given) {
        if (!stored || !given)
            return !stored && !given;
        return std::strcmp(stored.get(), given) == 0;
    };
    const bool keepAgent = same(m_szUserAgent, szUserAgent);
    const bool keepName = same(m_szProxyName, szProxyName);
    const bool keepBypass = same(m_szProxyBypass, szProxyBypass);
    OwnedTextT<CharT> agent = keepAgent ? nullptr : CopyText(szUserAgent);
    OwnedTextT<CharT> name = keepName ? nullptr : CopyText(szProxyName);
    OwnedTextT<CharT> bypass = keepBypass ? nullptr : CopyText(szProxyBypass);
    if (!keepAgent)
        m_szUserAgent = std::move(agent);
    if (!keepName)
        m_szProxyName = std::move(name);
    if (!keepBypass)
        m_szProxyBypass = std::move(bypass);
    m_dwAccessType = dwAccessType;
    m_dwFlags = dwFlags;
}

template <typename CharT>
int CHttpClientT<CharT>::SetUseUtf8(BOOL bUseUtf8) {
    ThrowIfPostActive(
        "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context is "
        "active.");
    const BOOL previous = m_bUseUtf8;
    m_bUseUtf8 = bUseUtf8;
    return previous;
}

template <typename CharT>
void CHttpClientT<CharT>::AddParam(const CharT* szName, const CharT* szValue, DWORD dwAttr) {
    ThrowIfPostActive(
        "CHttpClientT::AddParam: It is not allowed to call this method if the POST context is "
        "active.");
    m_mapParam.Add(szName, szValue, dwAttr);
}

template <typename CharT>
auto CHttpClientT<CharT>::SendGetRequest(const CharT* szUrl, BOOL bUseCache) -> ResponsePtr {
    return _SendGetRequest(nullptr, nullptr, szUrl,
                           bUseCache ? kRequestFlagsCache : kRequestFlagsNoCache, nullptr, nullptr,
                           nullptr);
}

template <typename CharT>
auto CHttpClientT<CharT>::_SendGetRequest(HINTERNET hInternet, HINTERNET hConnection,
                                          const CharT* szUrl, DWORD dwFlags, const CharT* szReferer,
                                          const CharT* szUsrName, const CharT* szUsrPwd)
    -> ResponsePtr {
    AbortPostContext();
    bool ownInternet = false;
    bool ownConnection = false;
    HINTERNET hRequest = nullptr;
    OwnedTextT<CharT> builtUrl;
    auto cleanUp = [&]() noexcept {
        builtUrl.reset();
        CHttpToolA::CloseInternetHandle(hRequest);
        if (ownConnection)
            CHttpToolA::CloseInternetHandle(hConnection);
        if (ownInternet)
            CHttpToolA::CloseInternetHandle(hInternet);
    };
    try {
        if (!hInternet) {
            hInternet = CHttpToolA::OpenInternet(
                m_szUserAgent ? m_szUserAgent.get() : kDefaultUserAgent, m_dwAccessType,
                m_szProxyName.get(), m_szProxyBypass.get(), m_dwFlags);
            ownInternet = true;
        }
        if (!hConnection) {
            hConnection = OpenConnection(hInternet, szUrl, szUsrName, szUsrPwd);
            ownConnection = true;
        }
        const CharT* szRequestUrl = szUrl;
        if (!m_mapParam.Empty()) {
            builtUrl = AllocText<CharT>(CheckedAdd<DWORD>(_MakeGetUrlLen(szUrl), 1));
            szRequestUrl = MakeGetUrl(builtUrl.get(), szUrl);
        }
        hRequest = OpenRequest(hConnection, "GET", szRequestUrl, dwFlags, szReferer);
        AddRequestHeader(hRequest);
        builtUrl.reset();
        CHttpToolA::SendRequest(hRequest, nullptr);
        Response* response = new (std::nothrow) Response(
            ownInternet ? hInternet : nullptr, ownConnection ? hConnection : nullptr, hRequest);
        if (!response)
            ThrowException(kErrOutOfMemory);
        return ResponsePtr(response);
    } catch (const httpclientexceptionA&) {
        cleanUp();
        throw;
    } catch (...) {
        cleanUp();
        ThrowException(kErrUnexpected);
    }
}

template <typename CharT>
auto CHttpClientT<CharT>::OpenConnection(HINTERNET hInternet, const CharT* szUrl,
                                         const CharT* szUsrName, const CharT* szUsrPwd)
    -> HINTERNET {
    if (!hInternet)
        ThrowException("CHttpClientT::OpenConnection: hInternet can not be NULL.");
    CHttpUrlAnalyzerT<CharT> url;
    url.Analyze(szUrl, m_nCodePage);

    std::uint16_t nPort =
        IsHttps(szUrl, url) ? wi::INTERNET_DEFAULT_HTTPS_PORT : wi::INTERNET_DEFAULT_HTTP_PORT;
    if (url.PortLength() > 0) {
        if (url.PortLength() > 5)
            ThrowException(kErrInvalidPort);
        // Digits only: no sign, no blanks, nothing after the number.
        DWORD value = 0;
        for (DWORD i = 0; i < url.PortLength(); ++i) {
            const CharT c = szUrl[url.PortOffset() + i];
            if (c < '0' || c > '9')
                ThrowException(kErrInvalidPort);
            value = value * 10 + static_cast<DWORD>(c - '0');
        }
        if (value > 0xFFFF)
            ThrowException(kErrInvalidPort);
        nPort = static_cast<std::uint16_t>(value);
    }
    if (url.HostLength() == 0)
        ThrowException(kErrInvalidUrl);

    OwnedTextT<CharT> host = AllocText<CharT>(static_cast<std::size_t>(url.HostLength()) + 1);
    std::memcpy(host.get(), szUrl + url.HostOffset(), url.HostLength());
    HINTERNET hConnection =
        CHttpToolA::OpenConnection(hInternet, host.get(), nPort, szUsrName, szUsrPwd);
    try {
        ApplyProxyAccount(hConnection);
    } catch (...) {
        CHttpToolA::CloseInternetHandle(hConnection);
        throw;
    }
    return hConnection;
}

template <typename CharT>
auto CHttpClientT<CharT>::OpenRequest(HINTERNET hConnection, const CharT* szVerb,
                                      const CharT* szUrl, DWORD dwFlags, const CharT* szReferer)
    -> HINTERNET {
    if (!hConnection)
        ThrowException("CHttpClientT::OpenRequest: hConnection can not be NULL.");
    if (!szUrl)
        szUrl = "";
    CHttpUrlAnalyzerT<CharT> url;
    url.Analyze(szUrl, m_nCodePage);
    if (IsHttps(szUrl, url))
        dwFlags |= wi::INTERNET_FLAG_SECURE;

    // Path, query and fragment as written; "/" in front when the path is
    // missing.
    const CharT* szObject = "/";
    OwnedTextT<CharT> objectBuf;
    const CharT* szRest = szUrl + url.PathOffset();
    if (url.PathLength() > 0) {
        szObject = szRest;
    } else if (*szRest) {
        const std::size_t cchRest = std::strlen(szRest);
        objectBuf = AllocText<CharT>(cchRest + 2);
        objectBuf[0] = '/';
        std::memcpy(objectBuf.get() + 1, szRest, cchRest + 1);
        szObject = objectBuf.get();
    }
    HINTERNET hRequest = CHttpToolA::OpenRequest(hConnection, szVerb, szObject, dwFlags, szReferer);
    try {
        if (dwFlags & wi::INTERNET_FLAG_PRAGMA_NOCACHE) {
            CHttpToolA::AddHeader(hRequest, "Cache-Control", "no-cache");
        }
    } catch (...) {
        CHttpToolA::CloseInternetHandle(hRequest);
        throw;
    }
    return hRequest;
}

template <typename CharT>
void CHttpClientT<CharT>::AddRequestHeader(HINTERNET hRequest) {
    if (!hRequest)
        ThrowException("CHttpClientT::AddRequestHeader: hRequest can not be NULL.");
    for (DWORD i = 0; i < m_mapHeader.Count(); ++i) {
        CHttpToolA::AddHeader(hRequest, m_mapHeader.Name(i), m_mapHeader.Value(i));
    }
}

template <typename CharT>
void CHttpClientT<CharT>::ApplyProxyAccount(HINTERNET hConnection) {
    if (!hConnection)
        ThrowException("CHttpClientT::ApplyProxyAccount: hConnection can not be NULL.");
    if (!m_szProxyUserName || !m_szProxyPassword || !*m_szProxyUserName.get() ||
        !*m_szProxyPassword.get()) {
        return;
    }
    CHttpToolA::SetOption(hConnection, wi::INTERNET_OPTION_PROXY_USERNAME, m_szProxyUserName.get(),
                          static_cast<DWORD>(std::strlen(m_szProxyUserName.get()) + 1));
    CHttpToolA::SetOption(hConnection, wi::INTERNET_OPTION_PROXY_PASSWORD, m_szProxyPassword.get(),
                          static_cast<DWORD>(std::strlen(m_szProxyPassword.get()) + 1));
}

template <typename CharT>
CharT* CHttpClientT<CharT>::MakeGetUrl(CharT* szBuff, const CharT* szUrl) const {
    if (!szBuff)
        ThrowException("CHttpClientT::MakeGetUrl: szBuff can not be NULL.");
    if (m_mapParam.Empty()) {
        const CharT* src = szUrl ? szUrl : "";
        std::memcpy(szBuff, src, std::strlen(src) + 1);
        return szBuff;
    }
    CHttpUrlAnalyzerT<CharT> url;
    url.Analyze(szUrl, m_nCodePage);
    CharT* out = szBuff;
    if (szUrl) {
        out = Put(out, szUrl, url.PathOffset());
        if (url.PathLength() == 0)
            *out++ = '/';
        out = Put(out, szUrl + url.PathOffset(), url.FragmentOffset() - url.PathOffset());
        *out++ = url.QueryLength() > 0 ? '&' : '?';
    }
    auto putText = [this, &out](const CharT* szText, bool bRaw) {
        if (bRaw) {
            if (szText)
                out = Put(out, szText, std::strlen(szText));
        } else {
            CHttpEncoderA::UrlEncodeA(out, szText, m_bUseUtf8, m_nCodePage);
            out += std::strlen(out);
        }
    };
    for (DWORD i = 0; i < m_mapParam.Count(); ++i) {
        if (i > 0)
            *out++ = '&';
        putText(m_mapParam.Name(i), (m_mapParam.Attr(i) & ParamRawName) != 0);
        *out++ = '=';
        putText(m_mapParam.Value(i), (m_mapParam.Attr(i) & ParamRawValue) != 0);
    }
    if (szUrl)
        out = Put(out, szUrl + url.FragmentOffset(), url.FragmentLength());
    *out = '\0';
    return szBuff;
}

template <typename CharT>
std::uint32_t CHttpClientT<CharT>::_MakeGetUrlLen(const CharT* szUrl) const {
    const std::size_t cchUrl = szUrl ? std::strlen(szUrl) : 0;
    if (cchUrl > 0xFFFFFFFFu)
        ThrowArithmetic(kArithmeticOverflowCode);
    DWORD len = static_cast<DWORD>(cchUrl);
    if (m_mapParam.Empty())
        return len;
    auto textLen = [this](const CharT* szText, bool bRaw) -> DWORD {
        if (!bRaw)
            return _UrlEncodeLenEx(szText, m_bUseUtf8, m_nCodePage);
        const std::size_t n = szText ? std::strlen(szText) : 0;
        if (n > 0xFFFFFFFFu)
            ThrowArithmetic(kArithmeticOverflowCode);
        return static_cast<DWORD>(n);
    };
    for (DWORD i = 0; i < m_mapParam.Count(); ++i) {
        len =
            CheckedAdd(len, textLen(m_mapParam.Name(i), (m_mapParam.Attr(i) & ParamRawName) != 0));
        len = CheckedAdd(len,
                         textLen(m_mapParam.Value(i), (m_mapParam.Attr(i) & ParamRawValue) != 0));
        len = CheckedAdd<DWORD>(len, 2);
    }
    if (szUrl) {
        CHttpUrlAnalyzerT<CharT> url;
        url.Analyze(szUrl, m_nCodePage);
        if (url.PathLength() == 0)
            len = CheckedAdd<DWORD>(len, 1);
    } else {
        --len;  // no "?" in front of the first parameter
    }
    return len;
}

template class CHttpClientT<char>;

}  // namespace Vutra
