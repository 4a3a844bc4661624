#include "object_store.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>

namespace skiv::server {

namespace {

constexpr const char* kEmptySha =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::string Hex(const unsigned char* data, std::size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, EVP_sha256(), nullptr);
    return Hex(digest, n);
}

std::string Hmac(const std::string& key, const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest, &n);
    return std::string(reinterpret_cast<char*>(digest), n);
}

// RFC 3986 unreserved characters stay; everything else is %XX.
std::string UriEncode(const std::string& text, bool keepSlash) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' ||
            (keepSlash && c == '/')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string XmlUnescape(std::string text) {
    static const std::pair<const char*, const char*> entities[] = {
        {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities) {
        for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; ++at)
            text.replace(at, std::strlen(from), to);
    }
    return text;
}

// The text of each <tag>...</tag> in `xml`, in order.
std::vector<std::string> XmlValues(const std::string& xml, const std::string& tag) {
    std::vector<std::string> out;
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    for (std::size_t at = 0; (at = xml.find(open, at)) != std::string::npos;) {
        at += open.size();
        const std::size_t end = xml.find(close, at);
        if (end == std::string::npos)
            break;
        out.push_back(XmlUnescape(xml.substr(at, end - at)));
        at = end + close.size();
    }
    return out;
}

std::string XmlValue(const std::string& xml, const std::string& tag) {
    std::vector<std::string> v = XmlValues(xml, tag);
    return v.empty() ? std::string() : v.front();
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One easy handle per thread, so that its connection is reused.
CURL* ThreadHandle() {
    struct Holder {
        CURL* curl = curl_easy_init();
        ~Holder() { curl_easy_cleanup(curl); }
    };
    thread_local Holder holder;
    if (!holder.curl)
        throw ObjectStoreError("object store: cannot make a transfer handle");
    curl_easy_reset(holder.curl);
    return holder.curl;
}

}  // namespace

std::optional<ObjectStoreLocation> ParseObjectStoreUrl(const std::string& url, std::string& error) {
    const std::string scheme = "s3://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        error = "not an s3:// address";
        return std::nullopt;
    }
    ObjectStoreLocation where;
    const std::size_t q = url.find('?');
    where.bucket = url.substr(scheme.size(), q == std::string::npos ? q : q - scheme.size());
    if (where.bucket.empty() || where.bucket.find('/') != std::string::npos) {
        error = "the s3:// address names no bucket";
        return std::nullopt;
    }
    std::string query = q == std::string::npos ? std::string() : url.substr(q + 1);
    for (std::size_t at = 0; at <= query.size();) {
        std::size_t amp = query.find('&', at);
        if (amp == std::string::npos)
            amp = query.size();
        const std::string pair = query.substr(at, amp - at);
        const std::size_t eq = pair.find('=');
        const std::string name = pair.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
        if (name == "endpoint")
            where.endpoint = value;
        else if (name == "region")
            where.region = value;
        else if (!pair.empty()) {
            error = "unknown s3:// setting " + name;
            return std::nullopt;
        }
        at = amp + 1;
    }
    while (!where.endpoint.empty() && where.endpoint.back() == '/')
        where.endpoint.pop_back();
    if (where.endpoint.rfind("http://", 0) != 0 && where.endpoint.rfind("https://", 0) != 0) {
        error = "the s3:// address needs endpoint=http(s)://host:port";
        return std::nullopt;
    }
    if (where.region.empty())
        where.region = "us-east-1";
    return where;
}

std::optional<ObjectStoreKeys> LoadObjectStoreKeys(const std::string& keyFile, std::string& error) {
    ObjectStoreKeys keys;
    if (keyFile.empty()) {
        const char* access = std::getenv("SKIVADDON_S3_ACCESS_KEY");
        const char* secret = std::getenv("SKIVADDON_S3_SECRET_KEY");
        keys.access = access ? access : "";
        keys.secret = secret ? secret : "";
        if (keys.access.empty() || keys.secret.empty()) {
            error =
                "S3 keys wanted: SKIVADDON_S3_ACCESS_KEY and SKIVADDON_S3_SECRET_KEY, or "
                "--s3-key-file";
            return std::nullopt;
        }
        return keys;
    }
    const int fd = ::open(keyFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = "cannot read " + keyFile + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        ::close(fd);
        error = keyFile + " refused: it must be a file of this user that only its owner may read";
        return std::nullopt;
    }
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 && text.size() < 65536)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        if (name == "access_key")
            keys.access = value;
        else if (name == "secret_key")
            keys.secret = value;
    }
    if (keys.access.empty() || keys.secret.empty()) {
        error = keyFile + " wants access_key=... and secret_key=... lines";
        return std::nullopt;
    }
    return keys;
}

// One signed request: method, key (empty: the bucket), query, payload hash
// and body source; Perform() sends it and keeps the status, the ETag and
// a bounded copy of any answer text (error or listing).
struct ObjectStore::Request {
    Request(ObjectStore& s, std::string m, std::string k, std::map<std::string, std::string> q = {})
        : store(s), method(std::move(m)), key(std::move(k)), query(std::move(q)) {}

    ObjectStore& store;
    std::string method;
    std::string key;
    std::map<std::string, std::string> query;
    std::string payloadSha = kEmptySha;
    std::map<std::string, std::string> headers;  // lower-case names
    // Body: from `bodyText`, or `bodySize` bytes of `fd` from `bodyOffset`.
    std::string bodyText;
    int fd = -1;
    std::int64_t bodyOffset = 0;
    std::int64_t bodySize = -1;
    // Answer: into `sink` (at most sinkSize bytes) when set, else `text`.
    char* sink = nullptr;
    std::size_t sinkSize = 0;
    std::size_t sunk = 0;
    std::string text;
    long status = 0;
    std::string etag;
    std::int64_t contentLength = -1;
    std::string readError;

    void Perform();
    std::string Fault() const;
};

void ObjectStore::Request::Perform() {
    GlobalInit();
    const ObjectStore& s = store;
    char stamp[17], day[9];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::strftime(day, sizeof day, "%Y%m%d", &utc);

    const std::string path =
        "/" + UriEncode(s.m_where.bucket, false) + (key.empty() ? "" : "/" + UriEncode(key, true));
    std::string canonicalQuery;
    for (const auto& [name, value] : query) {  // std::map: sorted by name
        if (!canonicalQuery.empty())
            canonicalQuery += '&';
        canonicalQuery += UriEncode(name, false) + "=" + UriEncode(value, false);
    }
    headers["host"] = s.m_host;
    headers["x-amz-content-sha256"] = payloadSha;
    headers["x-amz-date"] = stamp;
    std::string canonicalHeaders, signedHeaders;
    for (const auto& [name, value] : headers) {
        canonicalHeaders += name + ":" + value + "\n";
        signedHeaders += (signedHeaders.empty() ? "" : ";") + name;
    }
    const std::string canonical = method + "\n" + path + "\n" + canonicalQuery + "\n" +
                                  canonicalHeaders + "\n" + signedHeaders + "\n" + payloadSha;
    const std::string scope = std::string(day) + "/" + s.m_where.region + "/s3/aws4_request";
    const std::string toSign =
        "AWS4-HMAC-SHA256\n" + std::string(stamp) + "\n" + scope + "\n" + Sha256Hex(canonical);
    std::string signingKey = Hmac("AWS4" + s.m_keys.secret, day);
    signingKey = Hmac(signingKey, s.m_where.region);
    signingKey = Hmac(signingKey, "s3");
    signingKey = Hmac(signingKey, "aws4_request");
    const std::string signature =
        Hex(reinterpret_cast<const unsigned char*>(Hmac(signingKey, toSign).data()), 32);

    CURL* curl = ThreadHandle();
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers)
        if (name != "host")
            list = curl_slist_append(list, (name + ": " + value).c_str());
    list = curl_slist_append(
        list, ("Authorization: AWS4-HMAC-SHA256 Credential=" + s.m_keys.access + "/" + scope +
               ", SignedHeaders=" + signedHeaders + ", Signature=" + signature)
                  .c_str());
    list = curl_slist_append(list, "Expect:");
    const std::string url =
        s.m_where.endpoint + path + (canonicalQuery.empty() ? "" : "?") + canonicalQuery;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, s.m_limits.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1024L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, s.m_limits.stallSeconds);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");

    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (fd >= 0) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize));
        curl_easy_setopt(curl, CURLOPT_READDATA, this);
        curl_read_callback reader = [](char* buf, size_t size, size_t n, void* me) -> size_t {
            auto* r = static_cast<Request*>(me);
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(size * n), r->bodySize));
            if (want == 0)
                return 0;
            ssize_t got;
            do
                got = ::pread(r->fd, buf, want, static_cast<off_t>(r->bodyOffset));
            while (got < 0 && errno == EINTR);
            if (got <= 0) {
                r->readError = got < 0 ? std::strerror(errno) : "file shorter than expected";
                return CURL_READFUNC_ABORT;
            }
            r->bodyOffset += got;
            r->bodySize -= got;
            return static_cast<size_t>(got);
        };
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, reader);
    } else if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, bodyText.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(bodyText.size()));
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_write_callback writer = [](char* data, size_t size, size_t n, void* me) -> size_t {
        auto* r = static_cast<Request*>(me);
        const std::size_t bytes = size * n;
        if (r->sink && r->status < 300) {
            if (r->sunk + bytes > r->sinkSize)
                return 0;  // more than was asked for: fail the transfer
            std::memcpy(r->sink + r->sunk, data, bytes);
            r->sunk += bytes;
            return bytes;
        }
        if (r->text.size() + bytes > (8u << 20))
            return 0;  // an answer text this large is not one we expect
        r->text.append(data, bytes);
        return bytes;
    };
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writer);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_write_callback header = [](char* data, size_t size, size_t n, void* me) -> size_t {
        auto* r = static_cast<Request*>(me);
        std::string line(data, size * n);
        if (line.rfind("HTTP/", 0) == 0) {
            const std::size_t sp = line.find(' ');
            r->status = sp == std::string::npos ? 0 : std::atol(line.c_str() + sp + 1);
        } else if (line.size() > 5 && strncasecmp(line.c_str(), "etag:", 5) == 0) {
            std::string v = line.substr(5);
            while (!v.empty() && (v.back() == '\r' || v.back() == '\n' || v.back() == ' '))
                v.pop_back();
            while (!v.empty() && v.front() == ' ')
                v.erase(0, 1);
            r->etag = v;
        } else if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0) {
            r->contentLength = std::atoll(line.c_str() + 15);
        }
        return size * n;
    };
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, header);
    const CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(list);
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && status >= 300)) {
        throw ObjectStoreError("object store " + method + " " + (key.empty() ? "bucket" : key) +
                               ": " + (readError.empty() ? curl_easy_strerror(rc) : readError));
    }
}

std::string ObjectStore::Request::Fault() const {
    std::string code = XmlValue(text, "Code");
    return "object store " + method + " " + (key.empty() ? "bucket" : key) + ": status " +
           std::to_string(status) + (code.empty() ? "" : " " + code);
}

ObjectStore::ObjectStore(ObjectStoreLocation where, ObjectStoreKeys keys, ObjectStoreLimits limits)
    : m_where(std::move(where)), m_keys(std::move(keys)), m_limits(limits) {
    const std::size_t scheme = m_where.endpoint.find("://");
    m_host = m_where.endpoint.substr(scheme == std::string::npos ? 0 : scheme + 3);
    m_limits.partBytes = std::max<std::int64_t>(m_limits.partBytes, 5ll << 20);
    GlobalInit();
}

void ObjectStore::Put(const std::string& key, const std::string& path, std::int64_t size,
                      const std::string& sha256) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ObjectStoreError("cannot read " + path + ": " + std::strerror(errno));
    try {
        if (size > m_limits.multipartAbove)
            PutParts(key, fd, size);
        else
            PutWhole(key, fd, size, sha256);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void ObjectStore::PutWhole(const std::string& key, int fd, std::int64_t size,
                           const std::string& sha256) {
    Request r{*this, "PUT", key};
    r.payloadSha = sha256;
    r.fd = fd;
    r.bodySize = size;
    r.Perform();
    if (r.status != 200)
        throw ObjectStoreError(r.Fault());
}

void ObjectStore::PutParts(const std::string& key, int fd, std::int64_t size) {
    Request start{*this, "POST", key, {{"uploads", ""}}};
    start.Perform();
    const std::string uploadId = XmlValue(start.text, "UploadId");
    if (start.status != 200 || uploadId.empty())
        throw ObjectStoreError(start.Fault());
    try {
        std::string done = "<CompleteMultipartUpload>";
        std::vector<char> buf(1 << 20);
        int number = 1;
        for (std::int64_t at = 0; at < size; at += m_limits.partBytes, ++number) {
            const std::int64_t bytes = std::min(m_limits.partBytes, size - at);
            // The part's hash, so that the store refuses a part that came
            // in other than it left.
            EVP_MD_CTX* ctx = EVP_MD_CTX_new();
            EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
            for (std::int64_t read = 0; read < bytes;) {
                const ssize_t n = ::pread(fd, buf.data(),
                                          static_cast<std::size_t>(std::min<std::int64_t>(
                                              bytes - read, static_cast<std::int64_t>(buf.size()))),
                                          static_cast<off_t>(at + read));
                if (n <= 0) {
                    EVP_MD_CTX_free(ctx);
                    throw ObjectStoreError("cannot read the part file");
                }
                EVP_DigestUpdate(ctx, buf.data(), static_cast<std::size_t>(n));
                read += n;
            }
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned int len = 0;
            EVP_DigestFinal_ex(ctx, digest, &len);
            EVP_MD_CTX_free(ctx);
            Request part{*this,
                         "PUT",
                         key,
                         {{"partNumber", std::to_string(number)}, {"uploadId", uploadId}}};
            part.payloadSha = Hex(digest, len);
            part.fd = fd;
            part.bodyOffset = at;
            part.bodySize = bytes;
            part.Perform();
            if (part.status != 200 || part.etag.empty())
                throw ObjectStoreError(part.Fault());
            done += "<Part><PartNumber>" + std::to_string(number) + "</PartNumber><ETag>" +
                    part.etag + "</ETag></Part>";
        }
        done += "</CompleteMultipartUpload>";
        Request finish{*this, "POST", key, {{"uploadId", uploadId}}};
        finish.bodyText = done;
        finish.payloadSha = Sha256Hex(done);
        finish.Perform();
        // The store may answer 200 and still report an error in the body.
        if (finish.status != 200 || finish.text.find("<Error>") != std::string::npos)
            throw ObjectStoreError(finish.Fault());
    } catch (...) {
        // Parts already sent would otherwise stay stored, unseen.
        try {
            Request abort{*this, "DELETE", key, {{"uploadId", uploadId}}};
            abort.Perform();
        } catch (const ObjectStoreError&) {
        }
        throw;
    }
}

std::optional<std::int64_t> ObjectStore::Size(const std::string& key) {
    Request r{*this, "HEAD", key};
    r.Perform();
    if (r.status == 404)
        return std::nullopt;
    if (r.status != 200)
        throw ObjectStoreError(r.Fault());
    if (r.contentLength < 0)
        throw ObjectStoreError("object store HEAD " + key + ": no size in the answer");
    return r.contentLength;
}

std::size_t ObjectStore::Read(const std::string& key, std::int64_t offset, char* out,
                              std::size_t size) {
    if (size == 0)
        return 0;
    Request r{*this, "GET", key};
    r.headers["range"] = "bytes=" + std::to_string(offset) + "-" +
                         std::to_string(offset + static_cast<std::int64_t>(size) - 1);
    r.sink = out;
    r.sinkSize = size;
    r.Perform();
    if (r.status == 416)
        return 0;  // at or past the end
    if (r.status != 206 && !(r.status == 200 && offset == 0))
        throw ObjectStoreError(r.Fault());
    return r.sunk;
}

void ObjectStore::Remove(const std::string& key) {
    Request r{*this, "DELETE", key};
    r.Perform();
    if (r.status != 204 && r.status != 200 && r.status != 404)
        throw ObjectStoreError(r.Fault());
}

std::vector<ObjectStore::Entry> ObjectStore::List() {
    std::vector<Entry> out;
    std::string next;
    do {
        Request r{*this, "GET", "", {{"list-type", "2"}}};
        if (!next.empty())
            r.query["continuation-token"] = next;
        r.Perform();
        if (r.status != 200)
            throw ObjectStoreError(r.Fault());
        for (const std::string& item : XmlValues(r.text, "Contents"))
            out.push_back({XmlValue(item, "Key"), std::atoll(XmlValue(item, "Size").c_str())});
        next = XmlValue(r.text, "IsTruncated") == "true" ? XmlValue(r.text, "NextContinuationToken")
                                                         : std::string();
    } while (!next.empty());
    return out;
}

}  // namespace skiv::server
