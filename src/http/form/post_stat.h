#pragma once
// Progress statistics of one upload context. The client keeps a live copy
// that every write updates and hands copies to the caller (GetPostStat).
// Every accessor requires the statistics to belong to an active context
// and otherwise throws a code-0 error naming itself.
//
// "Actual" counters cover the whole request body, framing included; the
// others cover parameter data only (values and file contents).

#include <cstdint>

#include "http/form/http_error.h"
#include "http/form/owned_text.h"

namespace Vutra {

template <typename CharT>
class CHttpClientT;

template <typename CharT>
class CHttpPostStatT {
public:
    using DWORD = std::uint32_t;
    using BOOL = int;

    CHttpPostStatT() = default;  // inactive, everything zero
    CHttpPostStatT(const CHttpPostStatT& other);
    // Copies every counter and makes fresh copies of the two texts. 102.
    CHttpPostStatT& operator=(const CHttpPostStatT& other);
    virtual ~CHttpPostStatT();

    BOOL IsActive() const { return m_bIsActive; }

    DWORD ActualTotalByte() const;   // the Content-Length sent
    DWORD ActualPostedByte() const;  // body bytes written so far
    DWORD TotalByte() const;         // value lengths plus file sizes
    DWORD PostedByte() const;
    DWORD TotalCount() const;   // parameters
    DWORD PostedCount() const;  // parameters started, the current one included
    DWORD FileCount() const;
    DWORD PostedFileCount() const;
    const CharT* CurrParamName() const;
    const CharT* CurrFile() const;  // null when the current parameter is no file
    DWORD CurrParamTotalByte() const;
    DWORD CurrParamPostedByte() const;
    DWORD CurrParamRemainByte() const;
    BOOL CurrParamIsFile() const;
    BOOL CurrParamIsComplete() const;
    BOOL IsBodyComplete() const;

private:
    friend class CHttpClientT<CharT>;

    void RequireActive(const char* szMessage) const;
    // Makes the statistics those of a fresh context.
    void _Activate(DWORD nActualTotal, DWORD nTotal, DWORD nTotalCount, DWORD nFileCount);
    // Back to inactive and zero.
    void _Clear() noexcept;

    void _TestStartNewEntry(const CharT* szName, DWORD nSize, BOOL bIsFile,
                            const CharT* szFilePath) const;
    void _StartNewEntry(const CharT* szName, DWORD nSize, BOOL bIsFile, const CharT* szFilePath);
    void _TestAddPostedBytes(DWORD n) const;
    void _AddPostedBytes(DWORD n);
    void _TestAddActualPostedBytes(DWORD n) const;
    void _AddActualPostedBytes(DWORD n);

    BOOL m_bIsActive = 0;
    DWORD m_nActualBytes = 0;
    DWORD m_nActualPostedBytes = 0;
    DWORD m_nTotalBytes = 0;
    DWORD m_nPostedBytes = 0;
    DWORD m_nTotalCount = 0;
    DWORD m_nPostedCount = 0;
    DWORD m_nFileCount = 0;
    DWORD m_nPostedFileCount = 0;
    OwnedTextT<CharT> m_szCurrParam;
    OwnedTextT<CharT> m_szCurrFile;
    DWORD m_nCurrParamTotalBytes = 0;
    DWORD m_nCurrParamPostedBytes = 0;
};

extern template class CHttpPostStatT<char>;

}  // namespace Vutra
