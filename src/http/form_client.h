#pragma once
// The form client: one HTTP/1.1 exchange at a time, either a GET whose
// parameters join the URL's query, or a multipart/form-data POST whose body
// is written step by step (OpenUpload, then Proceed until it hands back
// the response) so the caller can show progress between steps. File
// parameters are streamed from disk, never held whole.
//
// Parameters go out ordered by name ignoring ASCII case (equal names in the
// order they were added), not in the order they were added.
//
// Every failure throws HttpError. A response owns the handles of its
// request and may outlive the client. One thread uses a client at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/internet_handle.h"

namespace skiv::http {

// User agent when the caller names none.
inline constexpr char kDefaultUserAgent[] = "Vutra HTTP Client Class";

// The reply to one request.
class Response {
public:
    // The HTTP status code; Errc::QueryInfo when it cannot be read.
    std::uint32_t Status();
    // The status text ("OK"); Errc::QueryInfo.
    const std::string& StatusText();
    // Up to size body bytes into buffer; 0 at the end of the body.
    // Errc::ReadResponse when the transfer failed.
    std::uint32_t Read(unsigned char* buffer, std::uint32_t size);

private:
    friend class FormClient;
    struct Handles {
        InternetHandle session, connection, request;  // closed request first
    };
    explicit Response(Handles handles) : m_handles(std::move(handles)) {}

    Handles m_handles;
    std::uint32_t m_status = 0;
    std::string m_statusText;
    bool m_haveStatusText = false;
};
using ResponsePtr = std::unique_ptr<Response>;

// Where an upload stands. "body" counts every byte of the request body,
// framing included; "data" counts parameter values and file contents only.
struct UploadProgress {
    bool active = false;
    std::uint32_t bodyBytes = 0;  // the Content-Length sent
    std::uint32_t bodySent = 0;
    std::uint32_t dataBytes = 0;
    std::uint32_t dataSent = 0;
    std::uint32_t paramCount = 0;
    std::uint32_t paramsStarted = 0;  // the current one included
    std::uint32_t fileCount = 0;
    std::uint32_t filesStarted = 0;
    std::string currentName;
    bool currentIsFile = false;
    std::uint32_t currentBytes = 0;
    std::uint32_t currentSent = 0;
};

class FormClient {
public:
    explicit FormClient(std::string userAgent = kDefaultUserAgent);
    // Ends an open upload as AbortUpload does.
    ~FormClient();
    FormClient(const FormClient&) = delete;
    FormClient& operator=(const FormClient&) = delete;

    // Whether names, values and file names are converted from the system
    // code page to UTF-8 before they are encoded or sent. Refused (Usage)
    // while an upload is open.
    void SetUseUtf8(bool useUtf8);
    bool UseUtf8() const { return m_useUtf8; }
    // A value part. This and AddFile are refused (Usage) while an upload
    // is open.
    void AddParam(std::string name, std::string value = {});
    // A file part: the content of the local file at path, named by path.
    // A file that cannot be opened is sent empty.
    void AddFile(std::string name, std::string path);

    // GET of url with the parameters appended to its query. Ends an open
    // upload first. useCache drops the no-cache request flags.
    ResponsePtr Get(const std::string& url, bool useCache = false);

    // Opens every file parameter, computes the body length and sends the
    // request head. Ends an open upload first; on failure nothing stays open.
    void OpenUpload(const std::string& url, bool useCache = false);
    // Writes the next step of the body: one part head, at most budget bytes
    // of parameter data (the part's closing line break with its last
    // bytes), or the closing boundary. Returns null until the body is
    // complete; the call after that ends the request and returns the
    // response. A failure ends the upload (beyond the first checks:
    // UploadNotStarted, a zero budget).
    ResponsePtr Proceed(std::uint32_t budget);
    // While no part has started, the first one is shown as started with
    // nothing sent. Inactive when no upload is open.
    UploadProgress Progress() const;
    // Ends an open upload, closing its handles and files. False when none
    // was open.
    bool AbortUpload() noexcept;

    // "----VUTRA-" and the 32 hex digits of a fresh GUID and "-"; a fixed
    // text of the same form when no GUID could be had.
    const std::string& Boundary() const { return m_boundary; }

private:
    struct Param {
        std::string name, value;
        bool isFile = false;
    };
    struct Upload;

    void RefuseWhileUploading(const char* message) const;
    void Insert(Param param);
    // The text as it goes into the body: UTF-8 when so set.
    std::string Sent(const std::string& text) const;
    // Session, connection and request for url, the request line naming
    // object. Errc::InvalidPort, Errc::InvalidUrl, or the failing call's.
    Response::Handles OpenRequest(const std::string& url, const std::string& object,
                                  const char* verb, bool useCache);
    void OpenUploadContext(const std::string& url, bool useCache);
    ResponsePtr ProceedStep(std::uint32_t budget);
    void Write(const void* data, std::size_t size, bool isData);
    void Write(const std::string& text) { Write(text.data(), text.size(), false); }

    std::string m_userAgent;
    std::string m_boundary;
    bool m_useUtf8 = false;
    std::vector<Param> m_params;  // kept in sending order
    std::unique_ptr<Upload> m_upload;
    UploadProgress m_progress;
};

}  // namespace skiv::http
