// CHttpClientT: the multipart upload context.
//
// Body of one upload, B the boundary:
//   per parameter  "--" B "\r\n"
//                  "Content-Disposition: form-data; name=\"" name "\"\r\n\r\n" value "\r\n"
//     or, a file   "Content-Disposition: form-data; name=\"" name "\"; filename=\"" path
//                  "\"\r\nContent-Type: " mime "\r\n\r\n" file bytes "\r\n"
//   then           "--" B "--\r\n"
//   no parameters: "\r\n--" B "--\r\n"
// The length is computed up front (it is the Content-Length) and must agree
// with what the proceed steps write, byte for byte.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "http/form/http_client.h"
#include "http/form/http_encoder.h"
#include "http/form/http_tool.h"
#include "http/form/safe_int.h"

namespace Vutra {

namespace {

constexpr char kDashes[] = "--";
constexpr char kCrLf[] = "\r\n";
constexpr char kDisposition[] = "Content-Disposition: form-data; name=\"";  // 38
constexpr char kNameEnd[] = "\"\r\n\r\n";                                   // 5
constexpr char kFileName[] = "\"; filename=\"";                             // 13
constexpr char kContentType[] = "\"\r\nContent-Type: ";                     // 17
constexpr char kHeadEnd[] = "\r\n\r\n";                                     // 4
constexpr char kTrailerEnd[] = "--\r\n";

constexpr std::uint32_t Len(const char* s) {
    return static_cast<std::uint32_t>(std::char_traits<char>::length(s));
}

// Framing bytes of a part besides boundary, name and data.
constexpr std::uint32_t kValuePartFrame = Len(kDisposition) + Len(kNameEnd);  // 43
constexpr std::uint32_t kFilePartFrame =
    Len(kDisposition) + Len(kFileName) + Len(kContentType) + Len(kHeadEnd);  // 72
static_assert(kValuePartFrame == 43 && kFilePartFrame == 72);

}  // namespace

template <typename CharT>
void CHttpClientT<CharT>::OpenUpload(const CharT* szUrl, BOOL bUseCache) {
    _OpenUploadContext(nullptr, nullptr, szUrl,
                       bUseCache ? kRequestFlagsCache : kRequestFlagsNoCache, nullptr, nullptr,
                       nullptr);
}

template <typename CharT>
std::uint32_t CHttpClientT<CharT>::SentLength(const CharT* szText) const {
    if (m_bUseUtf8)
        return _Utf8EncodeLen(szText, m_nCodePage);
    const std::size_t n = TextLength(szText);
    if (n > 0xFFFFFFFFu)
        ThrowArithmetic(kArithmeticOverflowCode);
    return static_cast<DWORD>(n);
}

template <typename CharT>
void CHttpClientT<CharT>::CloseFiles(PostedFile* pFiles, DWORD nFiles) noexcept {
    for (DWORD i = 0; pFiles && i < nFiles; ++i) {
        CloseFileHandle(pFiles[i].hFile);
        pFiles[i].hFile = INVALID_HANDLE_VALUE;
    }
}

template <typename CharT>
void CHttpClientT<CharT>::_OpenUploadContext(HINTERNET hInternet, HINTERNET hConnection,
                                             const CharT* szUrl, DWORD dwFlags,
                                             const CharT* szReferer, const CharT* szUsrName,
                                             const CharT* szUsrPwd) {
    AbortPostContext();

    const bool borrowedInternet = hInternet != nullptr;
    const bool borrowedConnection = hConnection != nullptr;
    HINTERNET hRequest = nullptr;
    std::unique_ptr<PostedFile[]> files;
    DWORD nFiles = 0;
    auto cleanUp = [&]() noexcept {
        CHttpToolA::CloseInternetHandle(hRequest);
        if (!borrowedConnection)
            CHttpToolA::CloseInternetHandle(hConnection);
        if (!borrowedInternet)
            CHttpToolA::CloseInternetHandle(hInternet);
        CloseFiles(files.get(), nFiles);
        files.reset();
    };

    try {
        const DWORD cchBoundary = static_cast<DWORD>(std::strlen(GetBoundary()));
        const DWORD nParams = m_mapParam.Count();
        DWORD cbBody = 0;
        DWORD cbTotal = 0;
        DWORD cbFirst = 0;
        if (nParams == 0) {
            cbBody = CheckedAdd<DWORD>(cchBoundary, 8);
        } else {
            for (DWORD i = 0; i < nParams; ++i) {
                if (m_mapParam.Attr(i) & ParamFile)
                    ++nFiles;
            }
            if (nFiles > 0) {
                files.reset(new (std::nothrow) PostedFile[nFiles]);
                if (!files)
                    ThrowException(kErrOutOfMemory);
            }
            const DWORD cbPartStart = CheckedAdd<DWORD>(cchBoundary, 4);  // "--" B "\r\n"
            DWORD nextFile = 0;
            for (DWORD i = 0; i < nParams; ++i) {
                const CharT* szName = m_mapParam.Name(i);
                const CharT* szValue = m_mapParam.Value(i);
                const DWORD cchName = SentLength(szName);
                const DWORD cchValue = SentLength(szValue);
                cbBody = CheckedAdd(cbBody, cbPartStart);
                DWORD cbData = cchValue;
                if (m_mapParam.Attr(i) & ParamFile) {
                    cbBody = CheckedAdd(cbBody, CheckedAdd(kFilePartFrame, cchName));
                    cbBody = CheckedAdd(cbBody, cchValue);
                    PostedFile& file = files[nextFile++];
                    file.hFile = OpenFileForRead(szValue);
                    if (file.hFile != INVALID_HANDLE_VALUE) {
                        file.cbSize = CHttpToolA::GetFileSize(file.hFile, szValue);
                    }
                    // A file too large for the 32-bit body length is an
                    // overflow, never a silently truncated size.
                    if (file.cbSize > 0xFFFFFFFFu)
                        ThrowArithmetic(kArithmeticOverflowCode);
                    cbData = static_cast<DWORD>(file.cbSize);
                    file.szMimeType = CHttpToolA::GetMimeType(file.hFile, m_nCodePage);
                    const std::size_t cchMime = std::strlen(file.szMimeType.get());
                    cbBody = CheckedAdd(cbBody, static_cast<DWORD>(cchMime));
                    cbBody = CheckedAdd(cbBody, cbData);
                    cbBody = CheckedAdd<DWORD>(cbBody, 2);
                } else {
                    cbBody = CheckedAdd(cbBody, CheckedAdd(kValuePartFrame, cchName));
                    cbBody = CheckedAdd(cbBody, cchValue);
                    cbBody = CheckedAdd<DWORD>(cbBody, 2);
                }
                cbTotal = CheckedAdd(cbTotal, cbData);
                if (i == 0)
                    cbFirst = cbData;
            }
            cbBody = CheckedAdd(cbBody, CheckedAdd<DWORD>(cchBoundary, 6));
        }

        if (!hInternet) {
            hInternet = CHttpToolA::OpenInternet(
                m_szUserAgent ? m_szUserAgent.get() : kDefaultUserAgent, m_dwAccessType,
                m_szProxyName.get(), m_szProxyBypass.get(), m_dwFlags);
        }
        if (!hConnection)
            hConnection = OpenConnection(hInternet, szUrl, szUsrName, szUsrPwd);
        hRequest = OpenRequest(hConnection, "POST", szUrl, dwFlags, szReferer);
        AddRequestHeader(hRequest);
        CHttpToolA::AddHeader(hRequest, "Content-Type", GetUploadContentType());
        CHttpToolA::SendRequestEx(hRequest, cbBody);

        PostStat preview;
        if (nParams > 0) {
            preview._Activate(cbBody, cbTotal, nParams, nFiles);
            const bool firstIsFile = (m_mapParam.Attr(0) & ParamFile) != 0;
            preview._StartNewEntry(m_mapParam.Name(0), cbFirst, firstIsFile,
                                   firstIsFile ? m_mapParam.Value(0) : nullptr);
        }
        // Nothing below can fail: the context becomes active in one piece.
        m_objInitialStat = std::move(preview);
        m_objPostStat._Activate(cbBody, cbTotal, nParams, nFiles);
        m_hInternet = hInternet;
        m_bBorrowedInternet = borrowedInternet;
        m_hConnection = hConnection;
        m_bBorrowedConnection = borrowedConnection;
        m_hRequest = hRequest;
        m_aPostedFiles = std::move(files);
        m_nPostedFiles = nFiles;
        m_nPostMode = PostMode::Multipart;
    } catch (const httpclientexceptionA&) {
        cleanUp();
        throw;
    } catch (...) {
        cleanUp();
        ThrowException(kErrUnexpected);
    }
}

template <typename CharT>
auto CHttpClientT<CharT>::ProceedContext(DWORD nDesired) -> ResponsePtr {
    if (m_nPostMode == PostMode::Multipart)
        return _ProceedUploadContext(nDesired);
    return _ProceedPostContext(nDesired);
}

template <typename CharT>
auto CHttpClientT<CharT>::_ProceedPostContext(DWORD) -> ResponsePtr {
    // No operation of this client opens a url-encoded context.
    ThrowException(kErrPostNotStarted);
}

template <typename CharT>
void CHttpClientT<CharT>::_WritePartHeader(DWORD nIndex, DWORD cbData) {
    const CharT* szName = m_mapParam.Name(nIndex);
    const bool isFile = (m_mapParam.Attr(nIndex) & ParamFile) != 0;
    _WritePost(kDashes, 0);
    _WritePost(GetBoundary(), 0);
    _WritePost(kCrLf, 0);
    _WritePost(kDisposition, 0);
    _WritePostText(szName);
    if (isFile) {
        const PostedFile& file = m_aPostedFiles[m_objPostStat.PostedFileCount()];
        _WritePost(kFileName, 0);
        _WritePostText(m_mapParam.Value(nIndex));
        _WritePost(kContentType, 0);
        _WritePost(file.szMimeType.get(), 0);
        _WritePost(kHeadEnd, 0);
    } else {
        _WritePost(kNameEnd, 0);
    }
    m_objPostStat._StartNewEntry(szName, cbData, isFile,
                                 isFile ? m_mapParam.Value(nIndex) : nullptr);
    if (cbData == 0)
        _WritePost(kCrLf, 0);
}

template <typename CharT>
auto CHttpClientT<CharT>::_ProceedUploadContext(DWORD nDesired) -> ResponsePtr {
    if (!IsPostActive())
        ThrowException(kErrPostNotStarted);
    if (!m_hInternet) {
        ThrowException("CHttpClientT::_ProceedUploadContext: m_hInternet can not be NULL.");
    }
    if (!m_hConnection) {
        ThrowException("CHttpClientT::_ProceedUploadContext: m_hConnection can not be NULL.");
    }
    if (!m_hRequest) {
        ThrowException("CHttpClientT::_ProceedUploadContext: m_hRequest can not be NULL.");
    }
    if (nDesired == 0)
        ThrowException("CHttpClientT::_ProceedUploadContext: nDesired can not be zero.");

    try {
        PostStat& stat = m_objPostStat;
        if (stat.IsBodyComplete()) {
            CHttpToolA::EndRequest(m_hRequest);
            return _ReleasePostResponse();
        }
        if (stat.TotalCount() == 0) {
            _WritePost(kCrLf, 0);
            _WritePost(kDashes, 0);
            _WritePost(GetBoundary(), 0);
            _WritePost(kTrailerEnd, 0);
            return nullptr;
        }
        if (stat.CurrParamIsComplete()) {
            if (stat.PostedCount() == stat.TotalCount()) {
                _WritePost(kDashes, 0);
                _WritePost(GetBoundary(), 0);
                _WritePost(kTrailerEnd, 0);
                return nullptr;
            }
            const DWORD index = stat.PostedCount();
            DWORD cbData = 0;
            if (m_mapParam.Attr(index) & ParamFile) {
                const PostedFile& file = m_aPostedFiles[stat.PostedFileCount()];
                if (file.hFile != INVALID_HANDLE_VALUE) {
                    // The Content-Length was computed from the size at open
                    // time; a file that changed since cannot be sent intact.
                    if (CHttpToolA::GetFileSize(file.hFile, m_mapParam.Value(index)) !=
                        file.cbSize) {
                        ThrowException(kErrShortFileRead);
                    }
                    cbData = static_cast<DWORD>(file.cbSize);
                }
            } else {
                const CharT* szValue = m_mapParam.Value(index);
                m_szPostedValueBuf.reset();
                m_szPostedValue = szValue ? szValue : "";
                if (m_bUseUtf8) {
                    cbData = _Utf8EncodeLen(szValue, m_nCodePage);
                    m_szPostedValueBuf = AllocText<CharT>(static_cast<std::size_t>(cbData) + 1);
                    m_szPostedValue =
                        CHttpEncoderA::Utf8Encode(m_szPostedValueBuf.get(), szValue, m_nCodePage);
                } else {
                    cbData = SentLength(szValue);
                }
            }
            _WritePartHeader(index, cbData);
            return nullptr;
        }

        DWORD n = std::min(nDesired, stat.CurrParamRemainByte());
        if (stat.CurrParamIsFile()) {
            if (!m_pbyReadBuff) {
                m_pbyReadBuff.reset(new (std::nothrow) BYTE[kUploadReadBuffer]);
                if (!m_pbyReadBuff)
                    ThrowException(kErrOutOfMemory);
            }
            const PostedFile& file = m_aPostedFiles[stat.PostedFileCount() - 1];
            while (n > 0) {
                const DWORD cbChunk = std::min(n, kUploadReadBuffer);
                DWORD cbRead = 0;
                if (!ReadFileHandle(file.hFile, m_pbyReadBuff.get(), cbChunk, &cbRead)) {
                    ThrowSystemError(kErrReadFile, static_cast<DWORD>(errno));
                }
                if (cbRead != cbChunk)
                    ThrowException(kErrShortFileRead);
                _WritePost(m_pbyReadBuff.get(), cbRead, 1);
                n -= cbRead;
            }
        } else {
            _WritePost(reinterpret_cast<const BYTE*>(m_szPostedValue) + stat.CurrParamPostedByte(),
                       n, 1);
        }
        if (stat.CurrParamIsComplete())
            _WritePost(kCrLf, 0);
        return nullptr;
    } catch (const httpclientexceptionA&) {
        AbortPostContext();
        throw;
    } catch (...) {
        AbortPostContext();
        ThrowException(kErrUnexpected);
    }
}

template <typename CharT>
void CHttpClientT<CharT>::_WritePost(const BYTE* pbyData, DWORD cbData, BOOL bIsParamData) {
    if (!m_hRequest)
        ThrowException("CHttpClientT::_WritePost: m_hRequest can not be NULL.");
    if (!pbyData || cbData == 0)
        return;
    if (bIsParamData) {
        m_objPostStat._TestAddPostedBytes(cbData);
        CHttpToolA::InternetWriteFile(m_hRequest, pbyData, cbData);
        m_objPostStat._AddPostedBytes(cbData);
    } else {
        m_objPostStat._TestAddActualPostedBytes(cbData);
        CHttpToolA::InternetWriteFile(m_hRequest, pbyData, cbData);
        m_objPostStat._AddActualPostedBytes(cbData);
    }
}

template <typename CharT>
void CHttpClientT<CharT>::_WritePost(const CharT* szText, BOOL bIsParamData) {
    if (!szText) {
        if (!m_hRequest)
            ThrowException("CHttpClientT::_WritePost: m_hRequest can not be NULL.");
        return;
    }
    const std::size_t n = std::strlen(szText);
    if (n > 0xFFFFFFFFu)
        ThrowArithmetic(kArithmeticOverflowCode);
    _WritePost(reinterpret_cast<const BYTE*>(szText), static_cast<DWORD>(n), bIsParamData);
}

template <typename CharT>
void CHttpClientT<CharT>::_WritePostText(const CharT* szText) {
    if (!m_bUseUtf8 || !szText || !*szText) {
        _WritePost(szText, 0);
        return;
    }
    OwnedTextT<CharT> utf8 =
        AllocText<CharT>(static_cast<std::size_t>(_Utf8EncodeLen(szText, m_nCodePage)) + 1);
    _WritePost(CHttpEncoderA::Utf8Encode(utf8.get(), szText, m_nCodePage), 0);
}

template <typename CharT>
void CHttpClientT<CharT>::GetPostStat(PostStat& objPostStat) const {
    const bool nothingStarted =
        IsPostActive() && m_objPostStat.TotalCount() > 0 && m_objPostStat.PostedCount() == 0;
    objPostStat = nothingStarted ? m_objInitialStat : m_objPostStat;
}

template <typename CharT>
auto CHttpClientT<CharT>::_TearDownPostContext() noexcept -> OwnedHandles {
    OwnedHandles handles;
    handles.hRequest = m_hRequest;
    if (!m_bBorrowedConnection)
        handles.hConnection = m_hConnection;
    if (!m_bBorrowedInternet)
        handles.hInternet = m_hInternet;
    m_hRequest = m_hConnection = m_hInternet = nullptr;
    m_bBorrowedConnection = m_bBorrowedInternet = 0;
    CloseFiles(m_aPostedFiles.get(), m_nPostedFiles);
    m_aPostedFiles.reset();
    m_nPostedFiles = 0;
    m_szPostedValueBuf.reset();
    m_szPostedValue = nullptr;
    m_pbyReadBuff.reset();
    m_objPostStat._Clear();
    m_objInitialStat._Clear();
    return handles;
}

template <typename CharT>
auto CHttpClientT<CharT>::_ReleasePostResponse() -> ResponsePtr {
    if (!IsPostActive()) {
        ThrowException("CHttpClientT::_ReleasePostResponse: The post context is not active.");
    }
    OwnedHandles h = _TearDownPostContext();
    Response* response = new (std::nothrow) Response(h.hInternet, h.hConnection, h.hRequest);
    if (!response) {
        CHttpToolA::CloseInternetHandle(h.hRequest);
        CHttpToolA::CloseInternetHandle(h.hConnection);
        CHttpToolA::CloseInternetHandle(h.hInternet);
        ThrowException(kErrOutOfMemory);
    }
    return ResponsePtr(response);
}

template <typename CharT>
int CHttpClientT<CharT>::AbortPostContext() noexcept {
    if (!IsPostActive())
        return 0;
    OwnedHandles h = _TearDownPostContext();
    CHttpToolA::CloseInternetHandle(h.hRequest);
    CHttpToolA::CloseInternetHandle(h.hConnection);
    CHttpToolA::CloseInternetHandle(h.hInternet);
    return 1;
}

// The members defined in this file; the rest are instantiated with the
// class in http_client.cpp.
template void CHttpClientT<char>::OpenUpload(const char*, BOOL);
template auto CHttpClientT<char>::ProceedContext(DWORD) -> ResponsePtr;
template void CHttpClientT<char>::GetPostStat(PostStat&) const;
template int CHttpClientT<char>::AbortPostContext() noexcept;
template void CHttpClientT<char>::_OpenUploadContext(HINTERNET, HINTERNET, const char*, DWORD,
                                                     const char*, const char*, const char*);
template auto CHttpClientT<char>::_ProceedUploadContext(DWORD) -> ResponsePtr;
template auto CHttpClientT<char>::_ProceedPostContext(DWORD) -> ResponsePtr;
template auto CHttpClientT<char>::_ReleasePostResponse() -> ResponsePtr;
template void CHttpClientT<char>::_WritePost(const BYTE*, DWORD, BOOL);
template void CHttpClientT<char>::_WritePost(const char*, BOOL);
template void CHttpClientT<char>::_WritePostText(const char*);
template auto CHttpClientT<char>::SentLength(const char*) const -> DWORD;
template void CHttpClientT<char>::CloseFiles(PostedFile*, DWORD) noexcept;
template void CHttpClientT<char>::_WritePartHeader(DWORD, DWORD);
template auto CHttpClientT<char>::_TearDownPostContext() noexcept -> OwnedHandles;

}  // namespace Vutra
