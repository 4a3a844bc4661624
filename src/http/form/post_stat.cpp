#include "http/form/post_stat.h"

#include "http/form/http_error.h"
#include "http/form/safe_int.h"

namespace Vutra {

template <typename CharT>
CHttpPostStatT<CharT>::CHttpPostStatT(const CHttpPostStatT& other) {
    *this = other;
}

template <typename CharT>
CHttpPostStatT<CharT>& CHttpPostStatT<CharT>::operator=(const CHttpPostStatT& other) {
    if (this == &other)
        return *this;
    // Copy the texts first so a failed allocation leaves this object as it was.
    OwnedTextT<CharT> currParam = CopyText(other.m_szCurrParam.get());
    OwnedTextT<CharT> currFile = CopyText(other.m_szCurrFile.get());
    m_bIsActive = other.m_bIsActive;
    m_nActualBytes = other.m_nActualBytes;
    m_nActualPostedBytes = other.m_nActualPostedBytes;
    m_nTotalBytes = other.m_nTotalBytes;
    m_nPostedBytes = other.m_nPostedBytes;
    m_nTotalCount = other.m_nTotalCount;
    m_nPostedCount = other.m_nPostedCount;
    m_nFileCount = other.m_nFileCount;
    m_nPostedFileCount = other.m_nPostedFileCount;
    m_szCurrParam = std::move(currParam);
    m_szCurrFile = std::move(currFile);
    m_nCurrParamTotalBytes = other.m_nCurrParamTotalBytes;
    m_nCurrParamPostedBytes = other.m_nCurrParamPostedBytes;
    return *this;
}

template <typename CharT>
CHttpPostStatT<CharT>::~CHttpPostStatT() = default;

template <typename CharT>
void CHttpPostStatT<CharT>::RequireActive(const char* szMessage) const {
    if (!m_bIsActive)
        ThrowException(szMessage);
}

#define VUTRA_ACCESSOR(Type, Name, Expr)                                             \
    template <typename CharT>                                                        \
    auto CHttpPostStatT<CharT>::Name() const->Type {                                 \
        RequireActive("CHttpPostStatT::" #Name ": The post context is not active."); \
        return Expr;                                                                 \
    }

VUTRA_ACCESSOR(DWORD, ActualTotalByte, m_nActualBytes)
VUTRA_ACCESSOR(DWORD, ActualPostedByte, m_nActualPostedBytes)
VUTRA_ACCESSOR(DWORD, TotalByte, m_nTotalBytes)
VUTRA_ACCESSOR(DWORD, PostedByte, m_nPostedBytes)
VUTRA_ACCESSOR(DWORD, TotalCount, m_nTotalCount)
VUTRA_ACCESSOR(DWORD, PostedCount, m_nPostedCount)
VUTRA_ACCESSOR(DWORD, FileCount, m_nFileCount)
VUTRA_ACCESSOR(DWORD, PostedFileCount, m_nPostedFileCount)
VUTRA_ACCESSOR(const CharT*, CurrParamName, m_szCurrParam.get())
VUTRA_ACCESSOR(const CharT*, CurrFile, m_szCurrFile.get())
VUTRA_ACCESSOR(DWORD, CurrParamTotalByte, m_nCurrParamTotalBytes)
VUTRA_ACCESSOR(DWORD, CurrParamPostedByte, m_nCurrParamPostedBytes)
VUTRA_ACCESSOR(DWORD, CurrParamRemainByte, m_nCurrParamTotalBytes - m_nCurrParamPostedBytes)
VUTRA_ACCESSOR(BOOL, CurrParamIsFile, m_szCurrFile != nullptr)
VUTRA_ACCESSOR(BOOL, CurrParamIsComplete, m_nCurrParamPostedBytes == m_nCurrParamTotalBytes)
#undef VUTRA_ACCESSOR

template <typename CharT>
int CHttpPostStatT<CharT>::IsBodyComplete() const {
    RequireActive("CHttpPostStatT::ActualTotalByte: The post context is not active.");
    return m_nActualPostedBytes == m_nActualBytes;
}

template <typename CharT>
void CHttpPostStatT<CharT>::_Activate(DWORD nActualTotal, DWORD nTotal, DWORD nTotalCount,
                                      DWORD nFileCount) {
    _Clear();
    m_nActualBytes = nActualTotal;
    m_nTotalBytes = nTotal;
    m_nTotalCount = nTotalCount;
    m_nFileCount = nFileCount;
    m_bIsActive = 1;
}

template <typename CharT>
void CHttpPostStatT<CharT>::_Clear() noexcept {
    m_bIsActive = 0;
    m_nActualBytes = m_nActualPostedBytes = m_nTotalBytes = m_nPostedBytes = 0;
    m_nTotalCount = m_nPostedCount = m_nFileCount = m_nPostedFileCount = 0;
    m_szCurrParam.reset();
    m_szCurrFile.reset();
    m_nCurrParamTotalBytes = m_nCurrParamPostedBytes = 0;
}

template <typename CharT>
void CHttpPostStatT<CharT>::_TestStartNewEntry(const CharT*, DWORD, BOOL bIsFile,
                                               const CharT*) const {
    RequireActive("CHttpPostStatT::_TestStartNewEntry: The post context is not active.");
    CheckedAdd<DWORD>(m_nPostedCount, 1);
    if (bIsFile)
        CheckedAdd<DWORD>(m_nPostedFileCount, 1);
}

template <typename CharT>
void CHttpPostStatT<CharT>::_StartNewEntry(const CharT* szName, DWORD nSize, BOOL bIsFile,
                                           const CharT* szFilePath) {
    _TestStartNewEntry(szName, nSize, bIsFile, szFilePath);
    OwnedTextT<CharT> name = CopyText(szName);
    OwnedTextT<CharT> file = bIsFile ? CopyText(szFilePath) : nullptr;
    if (bIsFile)
        ++m_nPostedFileCount;
    m_szCurrFile = std::move(file);
    ++m_nPostedCount;
    m_szCurrParam = std::move(name);
    m_nCurrParamTotalBytes = nSize;
    m_nCurrParamPostedBytes = 0;
}

template <typename CharT>
void CHttpPostStatT<CharT>::_TestAddActualPostedBytes(DWORD n) const {
    RequireActive("CHttpPostStatT::_TestAddActualPostedBytes: The post context is not active.");
    CheckedAdd<DWORD>(m_nActualPostedBytes, n);
}

template <typename CharT>
void CHttpPostStatT<CharT>::_AddActualPostedBytes(DWORD n) {
    _TestAddActualPostedBytes(n);
    m_nActualPostedBytes += n;
}

template <typename CharT>
void CHttpPostStatT<CharT>::_TestAddPostedBytes(DWORD n) const {
    RequireActive("CHttpPostStatT::_TestAddPostedBytes: The post context is not active.");
    _TestAddActualPostedBytes(n);
    CheckedAdd<DWORD>(m_nPostedBytes, n);
    CheckedAdd<DWORD>(m_nCurrParamPostedBytes, n);
}

template <typename CharT>
void CHttpPostStatT<CharT>::_AddPostedBytes(DWORD n) {
    _TestAddPostedBytes(n);
    m_nPostedBytes += n;
    m_nCurrParamPostedBytes += n;
    m_nActualPostedBytes += n;
}

template class CHttpPostStatT<char>;

}  // namespace Vutra
