#pragma once
// The form client: one HTTP exchange per object, either a GET whose
// parameters go into the query (SendGetRequest) or a multipart/form-data
// POST whose body is produced step by step (OpenUpload, then ProceedContext
// until it returns the response), streaming file parameters from disk.
//
// Every failure throws httpclientexceptionA (http_error.h). Every text
// given is copied. Responses are owned by the caller; they own the handles
// of their request and may outlive the client. A client is used by one
// thread at a time.
//
// Parameters are sent ordered by name ignoring case (CHttpClientMapT), not
// in the order they were added.

#include <cstdint>
#include <memory>

#include "http/form/client_map.h"
#include "http/form/file_handle.h"
#include "http/form/http_response.h"
#include "http/form/owned_text.h"
#include "http/form/post_stat.h"
#include "platform/wininet/wininet.h"

namespace Vutra {

// Request flags for the use-cache choice (the client adds SECURE by itself
// for https).
inline constexpr std::uint32_t kRequestFlagsNoCache = 0x84400F00;  // reload, no cache write,
                                                                   // pragma no-cache, ...
inline constexpr std::uint32_t kRequestFlagsCache = 0x00400E00;
// User agent when none was configured.
inline constexpr char kDefaultUserAgent[] = "Vutra HTTP Client Class";
// Boundary used when none could be generated.
inline constexpr char kFallbackBoundary[] = "----VUTRA-FB3B405B7EAE495aB0C0295C54D4E096-";
// Bytes of a file read at a time while uploading.
inline constexpr std::uint32_t kUploadReadBuffer = 0xE000;

template <typename CharT = char>
class CHttpClientT {
public:
    using DWORD = std::uint32_t;
    using BOOL = int;
    using BYTE = unsigned char;
    using HINTERNET = skiv::wininet::HINTERNET;
    using Response = CHttpResponseT<CharT>;
    using ResponsePtr = std::unique_ptr<Response>;
    using PostStat = CHttpPostStatT<CharT>;

    // Generates a fresh boundary; never fails for want of one (the fixed
    // boundary is used instead).
    CHttpClientT();
    // Ends an active upload context as AbortPostContext does.
    virtual ~CHttpClientT();
    CHttpClientT(const CHttpClientT&) = delete;
    CHttpClientT& operator=(const CHttpClientT&) = delete;

    // Settings for the internet handle each request opens. Null clears a
    // text. On failure (102) the previous settings stay.
    void ConfigureInternet(const CharT* szUserAgent, DWORD dwAccessType, const CharT* szProxyName,
                           const CharT* szProxyBypass, DWORD dwFlags);
    // Whether names, values and file paths are converted from the code page
    // to UTF-8 before they are encoded or sent. Returns the previous
    // setting. Refused while an upload context is active.
    BOOL SetUseUtf8(BOOL bUseUtf8);
    BOOL GetUseUtf8() const { return m_bUseUtf8; }
    // Adds a parameter (ParamFile: szValue is a local file path). Refused
    // while an upload context is active.
    void AddParam(const CharT* szName, const CharT* szValue = nullptr, DWORD dwAttr = ParamNormal);

    // GET of szUrl with the parameters appended as its query. Ends an
    // active upload context first.
    ResponsePtr SendGetRequest(const CharT* szUrl, BOOL bUseCache = 0);

    // Opens a multipart upload context for szUrl: computes the body length,
    // opens every file parameter, sends the request head. Ends an active
    // context first. On failure nothing stays open.
    void OpenUpload(const CharT* szUrl, BOOL bUseCache = 0);
    // Writes the next step of the body: one part header, at most nDesired
    // bytes of parameter data, or the trailer. Returns null until the body
    // is complete; the call after that ends the request and returns the
    // response. After a failure (other than the initial argument checks)
    // the context is gone; the caller starts over.
    ResponsePtr ProceedContext(DWORD nDesired);
    // Copies the progress statistics (inactive when no context is active).
    void GetPostStat(PostStat& objPostStat) const;
    // Ends an active context, closing every handle and file it owns. FALSE
    // when none was active.
    BOOL AbortPostContext() noexcept;

    // The GET URL for szUrl and the parameters, written into szBuff, which
    // holds _MakeGetUrlLen(szUrl) + 1 characters. Returns szBuff.
    CharT* MakeGetUrl(CharT* szBuff, const CharT* szUrl) const;
    DWORD _MakeGetUrlLen(const CharT* szUrl) const;

    // The boundary written between parts, and the upload's Content-Type.
    const CharT* GetBoundary() const;
    const CharT* GetUploadContentType() const;

protected:
    ResponsePtr _SendGetRequest(HINTERNET hInternet, HINTERNET hConnection, const CharT* szUrl,
                                DWORD dwFlags, const CharT* szReferer, const CharT* szUsrName,
                                const CharT* szUsrPwd);
    HINTERNET OpenConnection(HINTERNET hInternet, const CharT* szUrl, const CharT* szUsrName,
                             const CharT* szUsrPwd);
    HINTERNET OpenRequest(HINTERNET hConnection, const CharT* szVerb, const CharT* szUrl,
                          DWORD dwFlags, const CharT* szReferer);
    void AddRequestHeader(HINTERNET hRequest);
    void ApplyProxyAccount(HINTERNET hConnection);

    // Handles that were given by the caller are borrowed: used, never closed.
    void _OpenUploadContext(HINTERNET hInternet, HINTERNET hConnection, const CharT* szUrl,
                            DWORD dwFlags, const CharT* szReferer, const CharT* szUsrName,
                            const CharT* szUsrPwd);
    ResponsePtr _ProceedUploadContext(DWORD nDesired);
    ResponsePtr _ProceedPostContext(DWORD nDesired);
    ResponsePtr _ReleasePostResponse();
    void _WritePost(const BYTE* pbyData, DWORD cbData, BOOL bIsParamData);
    void _WritePost(const CharT* szText, BOOL bIsParamData);
    void _WritePostText(const CharT* szText);

private:
    enum class PostMode { UrlEncoded, Multipart };

    // One file parameter of the active context.
    struct PostedFile {
        HANDLE hFile = INVALID_HANDLE_VALUE;  // invalid: the file did not open
        std::uint64_t cbSize = 0;             // size when the context was opened
        OwnedTextA szMimeType;
    };

    struct OwnedHandles {
        HINTERNET hInternet = nullptr;
        HINTERNET hConnection = nullptr;
        HINTERNET hRequest = nullptr;
    };

    BOOL IsPostActive() const { return m_objPostStat.IsActive(); }
    void ThrowIfPostActive(const char* szMessage) const;
    // Releases everything of the context except the handles it owns, which
    // it returns; the context is inactive afterwards.
    OwnedHandles _TearDownPostContext() noexcept;
    static void CloseFiles(PostedFile* pFiles, DWORD nFiles) noexcept;
    // The length a name, value or path takes in the body.
    DWORD SentLength(const CharT* szText) const;
    void _WritePartHeader(DWORD nIndex, DWORD cbData);

    OwnedTextT<CharT> m_szBoundary;
    const CharT* m_szBoundaryInUse = nullptr;  // not owned
    OwnedTextT<CharT> m_szUploadContType;
    BOOL m_bUseUtf8 = 0;
    unsigned m_nCodePage = 0;
    CHttpClientMapT<CharT> m_mapHeader;
    CHttpClientMapT<CharT> m_mapParam;
    OwnedTextT<CharT> m_szUserAgent;
    DWORD m_dwAccessType = 0;
    OwnedTextT<CharT> m_szProxyName;
    OwnedTextT<CharT> m_szProxyBypass;
    DWORD m_dwFlags = 0;
    OwnedTextT<CharT> m_szProxyUserName;
    OwnedTextT<CharT> m_szProxyPassword;

    // The upload context.
    PostStat m_objInitialStat;  // preview: the first parameter shown as started
    PostStat m_objPostStat;     // live
    std::unique_ptr<PostedFile[]> m_aPostedFiles;
    DWORD m_nPostedFiles = 0;
    OwnedTextT<CharT> m_szPostedValueBuf;    // UTF-8 form of the current value
    const CharT* m_szPostedValue = nullptr;  // the current value as sent
    HINTERNET m_hInternet = nullptr;
    BOOL m_bBorrowedInternet = 0;
    HINTERNET m_hConnection = nullptr;
    BOOL m_bBorrowedConnection = 0;
    HINTERNET m_hRequest = nullptr;
    PostMode m_nPostMode = PostMode::UrlEncoded;
    std::unique_ptr<BYTE[]> m_pbyReadBuff;
};

extern template class CHttpClientT<char>;

}  // namespace Vutra
