#include "http/form/url_analyzer.h"

#include "http/form/http_error.h"
#include "platform/codepage.h"

namespace Vutra {
namespace {

template <typename CharT>
DWORD Step(const CharT* p, unsigned nCodePage) {
    if constexpr (sizeof(CharT) == 1) {
        return skiv::CharLength(nCodePage, p);
    } else {
        return 1;
    }
}

}  // namespace

template <typename CharT>
void CHttpUrlAnalyzerT<CharT>::Analyze(const CharT* szUrl, unsigned nCodePage) {
    if (nCodePage == skiv::CP_UTF8 || nCodePage == skiv::CP_UTF7) {
        ThrowException(
            "CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
            "parameter.");
    }
    *this = CHttpUrlAnalyzerT();
    if (!szUrl || !*szUrl)
        return;

    // Scheme: everything before the first "://".
    DWORD i = 0;
    while (szUrl[i]) {
        if (szUrl[i] == ':' && szUrl[i + 1] == '/' && szUrl[i + 2] == '/')
            break;
        i += Step(szUrl + i, nCodePage);
    }
    if (szUrl[i]) {
        m_cchScheme = i;
        m_nHostIdx = i + 3;
    }

    // Host, then port after the first ':'.
    i = m_nHostIdx;
    bool inPort = false;
    while (szUrl[i] && szUrl[i] != '/' && szUrl[i] != '?' && szUrl[i] != '#') {
        if (!inPort && szUrl[i] == ':') {
            inPort = true;
            m_nPortIdx = ++i;
            continue;
        }
        const DWORD n = Step(szUrl + i, nCodePage);
        (inPort ? m_cchPort : m_cchHost) += n;
        i += n;
    }
    if (!inPort)
        m_nPortIdx = i;

    // Path, then query from the first '?'.
    m_nPathIdx = i;
    bool inQuery = false;
    while (szUrl[i] && szUrl[i] != '#') {
        if (!inQuery && szUrl[i] == '?') {
            inQuery = true;
            m_nQueryIdx = i;
        }
        const DWORD n = Step(szUrl + i, nCodePage);
        (inQuery ? m_cchQuery : m_cchPath) += n;
        i += n;
    }
    if (!inQuery)
        m_nQueryIdx = i;

    m_nFragmentIdx = i;
    while (szUrl[i])
        ++i;
    m_cchFragment = i - m_nFragmentIdx;
}

template class CHttpUrlAnalyzerT<char>;

}  // namespace Vutra
