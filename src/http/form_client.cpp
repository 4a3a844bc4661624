// The form client. Body of one upload, B the boundary:
//   per parameter  "--" B "\r\n"
//                  "Content-Disposition: form-data; name=\"" name "\"\r\n\r\n" value "\r\n"
//     or, a file   "Content-Disposition: form-data; name=\"" name "\"; filename=\"" path
//                  "\"\r\nContent-Type: " mime "\r\n\r\n" file bytes "\r\n"
//   then           "--" B "--\r\n"
//   no parameters: "\r\n--" B "--\r\n"
// The length is computed when the upload opens (it is the Content-Length)
// and the steps must write exactly that many bytes.
#include "http/form_client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <new>
#include <optional>
#include <utility>

#include "http/http_error.h"
#include "http/url_text.h"
#include "platform/fs.h"
#include "platform/guid.h"
#include "platform/mime.h"

namespace skiv::http {

using namespace wininet;

namespace {

// Request flags: keep the connection, resynchronize, hyperlink, no UI;
// without the cache also reload, no cache write and the no-cache headers.
constexpr std::uint32_t kCacheFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RESYNCHRONIZE |
                                      INTERNET_FLAG_HYPERLINK | INTERNET_FLAG_NO_UI;
constexpr std::uint32_t kNoCacheFlags = kCacheFlags | INTERNET_FLAG_RELOAD |
                                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr char kFallbackBoundary[] = "----VUTRA-FB3B405B7EAE495aB0C0295C54D4E096-";
constexpr char kOctetStream[] = "application/octet-stream";
// Bytes of a file read at a time while uploading.
constexpr std::uint32_t kReadPiece = 0xE000;

// Texts of the refused calls, as callers have always seen them.
constexpr char kAddParamRefused[] =
    "CHttpClientT::AddParam: It is not allowed to call this method if the POST context is active.";
constexpr char kUtf8Refused[] =
    "CHttpClientT::SetUseUtf8: It is not allowed to call this method if the POST context is "
    "active.";
constexpr char kZeroBudget[] = "CHttpClientT::_ProceedUploadContext: nDesired can not be zero.";

// Turns whatever escaped a client operation into HttpError.
[[noreturn]] void Rethrow() {
    try {
        throw;
    } catch (const HttpError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw HttpError(Errc::OutOfMemory);
    } catch (...) {
        throw HttpError(Errc::Unexpected);
    }
}

HttpError FileSizeError(const std::string& path, int error) {
    std::string text(Describe(Errc::FileSize));
    text.replace(text.find("%s"), 2, path);
    text.resize(std::min<std::size_t>(text.size(), 511));
    return HttpError(Errc::FileSize, text, static_cast<std::uint32_t>(error));
}

// A file opened for sequential reading; closed when it goes. A file that
// could not be opened (missing, a folder) is simply not open. Opened
// through the platform layer, which knows the system's path encoding.
class InputFile {
public:
    InputFile() = default;
    explicit InputFile(const std::string& path) : m_file(fs::OpenRegularRead(path)) {}

    bool IsOpen() const { return m_file != nullptr; }
    std::uint64_t Size(const std::string& path) const {
        const std::optional<std::int64_t> size = fs::FileSize(path);
        if (!size)
            throw FileSizeError(path, fs::LastError());
        return static_cast<std::uint64_t>(*size);
    }
    // One read of up to size bytes; 0 at the end of the file.
    std::size_t Read(void* buffer, std::size_t size) {
        const std::size_t n = std::fread(buffer, 1, size, m_file.get());
        if (n == 0 && std::ferror(m_file.get()))
            throw HttpError(Errc::ReadFile, static_cast<std::uint32_t>(errno));
        return n;
    }
    // The MIME type sniffed from the file's first bytes; octet-stream for a
    // file that is not open or content the platform cannot type.
    std::string MimeType() {
        if (!IsOpen())
            return kOctetStream;
        unsigned char head[kMimeSniffBytes];
        std::size_t got = 0;
        while (got < sizeof head) {
            const std::size_t n = Read(head + got, sizeof head - got);
            if (n == 0)
                break;
            got += n;
        }
        if (std::fseek(m_file.get(), 0, SEEK_SET) != 0)
            throw HttpError(Errc::Rewind, static_cast<std::uint32_t>(errno));
        const std::optional<std::wstring> mime = SniffMimeType(head, got);
        if (!mime || mime->empty())
            return kOctetStream;
        const int size = WideCharToMultiByte(CP_ACP, mime->c_str(), -1, nullptr, 0);
        std::string text(static_cast<std::size_t>(std::max(size, 1)), '\0');
        if (size == 0 || WideCharToMultiByte(CP_ACP, mime->c_str(), -1, text.data(), size) == 0)
            throw HttpError(Errc::ToCodePage, CodePageLastError());
        text.pop_back();
        return text;
    }

private:
    fs::UniqueFile m_file;
};

std::string NewBoundary() {
    GUID g;
    if (!CreateGuid(g))
        return kFallbackBoundary;
    char text[44];
    std::snprintf(text, sizeof text,
                  "----VUTRA-%.08x%.04x%.04x%.02x%.02x%.02x%.02x%.02x%.02x%.02x%.02x-", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

void AddHeader(void* request, const std::string& name, const std::string& value) {
    const std::string line = name + ": " + value + "\r\n";
    if (!HttpAddRequestHeadersA(request, line.c_str(), static_cast<std::uint32_t>(line.size()),
                                HTTP_ADDREQ_FLAG_ADD)) {
        throw HttpError(Errc::AddHeader, GetLastError());
    }
}

bool IsHttps(const UrlParts& url) {
    return url.scheme.size() == 5 &&
           std::equal(url.scheme.begin(), url.scheme.end(), "https", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// The port of the URL, or the scheme's default. Digits only, at most 5.
std::uint16_t PortOf(const UrlParts& url) {
    if (url.port.empty())
        return IsHttps(url) ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    if (url.port.size() > 5)
        throw HttpError(Errc::InvalidPort);
    std::uint32_t value = 0;
    for (const char c : url.port) {
        if (c < '0' || c > '9')
            throw HttpError(Errc::InvalidPort);
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > 0xFFFF)
        throw HttpError(Errc::InvalidPort);
    return static_cast<std::uint16_t>(value);
}

}  // namespace

// ---- Response ----

std::uint32_t Response::Status() {
    if (m_status == 0) {
        std::uint32_t status = 0;
        std::uint32_t size = sizeof status;
        if (!HttpQueryInfoA(m_handles.request.get(),
                            HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr)) {
            throw HttpError(Errc::QueryInfo, GetLastError());
        }
        m_status = status;
    }
    return m_status;
}

const std::string& Response::StatusText() {
    if (m_haveStatusText)
        return m_statusText;
    void* request = m_handles.request.get();
    std::uint32_t size = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, nullptr, &size, nullptr)) {
        const std::uint32_t error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER)
            throw HttpError(Errc::QueryInfo, error);
    }
    std::string text(size + 1, '\0');  // room for the NUL whether or not size counts it
    size = static_cast<std::uint32_t>(text.size());
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_TEXT, text.data(), &size, nullptr))
        throw HttpError(Errc::QueryInfo, GetLastError());
    text.resize(text.find('\0'));
    m_statusText = std::move(text);
    m_haveStatusText = true;
    return m_statusText;
}

std::uint32_t Response::Read(unsigned char* buffer, std::uint32_t size) {
    std::uint32_t read = 0;
    if (!InternetReadFile(m_handles.request.get(), buffer, size, &read))
        throw HttpError(Errc::ReadResponse, GetLastError());
    return read;
}

// ---- FormClient: settings, parameters, GET ----

// One part of an open upload.
struct FormClient::Upload {
    struct Part {
        std::string head;        // boundary line and part headers
        std::string value;       // a value part's bytes as sent
        InputFile file;          // a file part's content
        std::uint32_t size = 0;  // data bytes: the value's, or the file's when the upload opened
    };
    Response::Handles handles;
    std::vector<Part> parts;
    std::vector<unsigned char> readBuffer;
};

FormClient::FormClient(std::string userAgent)
    : m_userAgent(std::move(userAgent)), m_boundary(NewBoundary()) {}

FormClient::~FormClient() {
    AbortUpload();
}

void FormClient::RefuseWhileUploading(const char* message) const {
    if (m_upload)
        throw HttpError(Errc::Usage, message);
}

void FormClient::SetUseUtf8(bool useUtf8) {
    RefuseWhileUploading(kUtf8Refused);
    m_useUtf8 = useUtf8;
}

void FormClient::AddParam(std::string name, std::string value) {
    Insert(Param{std::move(name), std::move(value), false});
}

void FormClient::AddFile(std::string name, std::string path) {
    Insert(Param{std::move(name), std::move(path), true});
}

void FormClient::Insert(Param param) {
    RefuseWhileUploading(kAddParamRefused);
    auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
    };
    auto before = [&](const Param& a, const Param& b) {
        return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(),
                                            b.name.end(),
                                            [&](char x, char y) { return fold(x) < fold(y); });
    };
    // After every equal name, so equal names keep the order they came in.
    const auto at = std::upper_bound(m_params.begin(), m_params.end(), param, before);
    m_params.insert(at, std::move(param));
}

std::string FormClient::Sent(const std::string& text) const {
    return m_useUtf8 ? Utf8Encode(text) : text;
}

Response::Handles FormClient::OpenRequest(const std::string& url, const std::string& object,
                                          const char* verb, bool useCache) {
    Response::Handles h;
    h.session.reset(
        InternetOpenA(m_userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!h.session)
        throw HttpError(Errc::OpenSession, GetLastError());
    const UrlParts parts = SplitUrl(url);
    const std::uint16_t port = PortOf(parts);
    if (parts.host.empty())
        throw HttpError(Errc::InvalidUrl);
    h.connection.reset(InternetConnectA(h.session.get(), std::string(parts.host).c_str(), port,
                                        nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!h.connection)
        throw HttpError(Errc::Connect, GetLastError());
    std::uint32_t flags = useCache ? kCacheFlags : kNoCacheFlags;
    if (IsHttps(parts))
        flags |= INTERNET_FLAG_SECURE;
    const char* accept[] = {"*/*", nullptr};
    h.request.reset(HttpOpenRequestA(h.connection.get(), verb, object.c_str(), "HTTP/1.1", nullptr,
                                     accept, flags, 0));
    if (!h.request)
        throw HttpError(Errc::OpenRequest, GetLastError());
    if (flags & INTERNET_FLAG_PRAGMA_NOCACHE)
        AddHeader(h.request.get(), "Cache-Control", "no-cache");
    return h;
}

ResponsePtr FormClient::Get(const std::string& url, bool useCache) {
    AbortUpload();
    try {
        std::string query;
        for (const Param& p : m_params) {
            if (&p != &m_params.front())
                query += '&';
            query += UrlEncode(p.name, m_useUtf8) + '=' + UrlEncode(p.value, m_useUtf8);
        }
        Response::Handles h = OpenRequest(url, RequestObject(url, query), "GET", useCache);
        if (!HttpSendRequestA(h.request.get(), nullptr, 0, nullptr, 0))
            throw HttpError(Errc::SendRequest, GetLastError());
        return ResponsePtr(new Response(std::move(h)));
    } catch (...) {
        Rethrow();
    }
}

// ---- FormClient: the upload ----

void FormClient::OpenUpload(const std::string& url, bool useCache) {
    AbortUpload();
    try {
        OpenUploadContext(url, useCache);
    } catch (...) {
        m_upload.reset();
        m_progress = {};
        Rethrow();
    }
}

void FormClient::OpenUploadContext(const std::string& url, bool useCache) {
    auto upload = std::make_unique<Upload>();
    UploadProgress progress;
    progress.active = true;
    progress.paramCount = static_cast<std::uint32_t>(m_params.size());
    std::uint64_t body = m_boundary.size() + (m_params.empty() ? 8 : 6);  // the closing boundary
    std::uint64_t data = 0;
    for (const Param& param : m_params) {
        Upload::Part part;
        part.head =
            "--" + m_boundary + "\r\nContent-Disposition: form-data; name=\"" + Sent(param.name);
        if (param.isFile) {
            ++progress.fileCount;
            part.file = InputFile(param.value);
            const std::uint64_t size = part.file.IsOpen() ? part.file.Size(param.value) : 0;
            if (size > 0xFFFFFFFFu)
                throw HttpError(Errc::Overflow);
            part.size = static_cast<std::uint32_t>(size);
            part.head += "\"; filename=\"" + Sent(param.value) +
                         "\"\r\nContent-Type: " + part.file.MimeType() + "\r\n\r\n";
        } else {
            part.value = Sent(param.value);
            part.size = static_cast<std::uint32_t>(part.value.size());
            part.head += "\"\r\n\r\n";
        }
        body += part.head.size() + part.size + 2;
        data += part.size;
        upload->parts.push_back(std::move(part));
    }
    if (body > 0xFFFFFFFFu)
        throw HttpError(Errc::Overflow);
    progress.bodyBytes = static_cast<std::uint32_t>(body);
    progress.dataBytes = static_cast<std::uint32_t>(data);

    upload->handles = OpenRequest(url, RequestObject(url), "POST", useCache);
    void* request = upload->handles.request.get();
    AddHeader(request, "Content-Type", "multipart/form-data; boundary=" + m_boundary);
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = progress.bodyBytes;
    if (!HttpSendRequestExA(request, &buffers, nullptr, 0, 0))
        throw HttpError(Errc::StartUpload, GetLastError());
    m_upload = std::move(upload);
    m_progress = std::move(progress);
}

ResponsePtr FormClient::Proceed(std::uint32_t budget) {
    if (!m_upload)
        throw HttpError(Errc::UploadNotStarted);
    if (budget == 0)
        throw HttpError(Errc::Usage, kZeroBudget);
    try {
        return ProceedStep(budget);
    } catch (...) {
        AbortUpload();
        Rethrow();
    }
}

ResponsePtr FormClient::ProceedStep(std::uint32_t budget) {
    UploadProgress& p = m_progress;
    Upload& upload = *m_upload;
    if (p.bodySent == p.bodyBytes) {
        if (!HttpEndRequestA(upload.handles.request.get(), nullptr, 0, 0))
            throw HttpError(Errc::EndRequest, GetLastError());
        ResponsePtr response(new Response(std::move(upload.handles)));
        AbortUpload();
        return response;
    }
    if (p.paramCount == 0) {
        Write("\r\n--" + m_boundary + "--\r\n");
        return nullptr;
    }
    if (p.currentSent == p.currentBytes) {
        if (p.paramsStarted == p.paramCount) {
            Write("--" + m_boundary + "--\r\n");
            return nullptr;
        }
        const Param& param = m_params[p.paramsStarted];
        const Upload::Part& part = upload.parts[p.paramsStarted];
        // The Content-Length holds the size the file had when the upload
        // opened; a file that changed since cannot be sent intact.
        if (part.file.IsOpen() && part.file.Size(param.value) != part.size)
            throw HttpError(Errc::ShortFileRead);
        Write(part.head);
        ++p.paramsStarted;
        p.filesStarted += param.isFile;
        p.currentName = param.name;
        p.currentIsFile = param.isFile;
        p.currentBytes = part.size;
        p.currentSent = 0;
        if (part.size == 0)
            Write("\r\n");
        return nullptr;
    }
    Upload::Part& part = upload.parts[p.paramsStarted - 1];
    std::uint32_t n = std::min(budget, p.currentBytes - p.currentSent);
    if (p.currentIsFile) {
        upload.readBuffer.resize(kReadPiece);
        while (n > 0) {
            const std::uint32_t piece = std::min(n, kReadPiece);
            if (part.file.Read(upload.readBuffer.data(), piece) != piece)
                throw HttpError(Errc::ShortFileRead);
            Write(upload.readBuffer.data(), piece, true);
            n -= piece;
        }
    } else {
        Write(part.value.data() + p.currentSent, n, true);
    }
    if (p.currentSent == p.currentBytes)
        Write("\r\n");
    return nullptr;
}

void FormClient::Write(const void* data, std::size_t size, bool isData) {
    void* request = m_upload->handles.request.get();
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t done = 0; done < size;) {
        std::uint32_t written = 0;
        // A write that accepts nothing would spin forever; it counts as failed.
        if (!InternetWriteFile(request, bytes + done, static_cast<std::uint32_t>(size - done),
                               &written) ||
            written == 0 || written > size - done) {
            throw HttpError(Errc::WriteBody, GetLastError());
        }
        done += written;
    }
    m_progress.bodySent += static_cast<std::uint32_t>(size);
    if (isData) {
        m_progress.dataSent += static_cast<std::uint32_t>(size);
        m_progress.currentSent += static_cast<std::uint32_t>(size);
    }
}

UploadProgress FormClient::Progress() const {
    UploadProgress shown = m_progress;
    if (m_upload && shown.paramCount > 0 && shown.paramsStarted == 0) {
        const Param& first = m_params.front();
        shown.paramsStarted = 1;
        shown.filesStarted = first.isFile;
        shown.currentName = first.name;
        shown.currentIsFile = first.isFile;
        shown.currentBytes = m_upload->parts.front().size;
    }
    return shown;
}

bool FormClient::AbortUpload() noexcept {
    if (!m_upload)
        return false;
    m_upload.reset();
    m_progress = UploadProgress{};
    return true;
}

}  // namespace skiv::http
