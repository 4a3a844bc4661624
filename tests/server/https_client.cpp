#include "https_client.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <stdexcept>

namespace skiv::test {

namespace {

struct Upload {
    const std::string* body;
    std::size_t offset = 0;
    long long cutAfter = -1;
};

std::size_t Collect(char* data, std::size_t size, std::size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

std::size_t Feed(char* buffer, std::size_t size, std::size_t n, void* user) {
    auto* up = static_cast<Upload*>(user);
    std::size_t room = size * n;
    std::size_t left = up->body->size() - up->offset;
    if (up->cutAfter >= 0) {
        if (static_cast<long long>(up->offset) >= up->cutAfter)
            return CURL_READFUNC_ABORT;
        left = std::min<std::size_t>(left, static_cast<std::size_t>(up->cutAfter) - up->offset);
    }
    std::size_t take = std::min(room, left);
    std::copy_n(up->body->data() + up->offset, take, buffer);
    up->offset += take;
    return take;
}

class Easy {
public:
    explicit Easy(const std::string& url, const HttpCall& call) : m_curl(curl_easy_init()) {
        if (!m_curl)
            throw std::runtime_error("curl_easy_init failed");
        curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_curl, CURLOPT_CAINFO, call.caFile.c_str());
        curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &m_reply.body);
        curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, Collect);
        curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &m_reply.headers);
        // A safety net against a hung service, far above any real exchange.
        curl_easy_setopt(m_curl, CURLOPT_TIMEOUT, 120L);
        if (call.http10)
            curl_easy_setopt(m_curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        if (!call.cookie.empty())
            curl_easy_setopt(m_curl, CURLOPT_COOKIE, call.cookie.c_str());
        m_headers = curl_slist_append(m_headers, "Expect:");
        if (!call.fromAddress.empty()) {
            m_interface = "host!" + call.fromAddress;
            curl_easy_setopt(m_curl, CURLOPT_INTERFACE, m_interface.c_str());
        }
        for (const auto& h : call.headers)
            m_headers = curl_slist_append(m_headers, h.c_str());
        if (call.maxSendSpeed > 0)
            curl_easy_setopt(m_curl, CURLOPT_MAX_SEND_SPEED_LARGE,
                             static_cast<curl_off_t>(call.maxSendSpeed));
        if (!call.connectTo.empty()) {
            m_connectTo = curl_slist_append(m_connectTo, call.connectTo.c_str());
            curl_easy_setopt(m_curl, CURLOPT_CONNECT_TO, m_connectTo);
        }
    }
    ~Easy() {
        curl_slist_free_all(m_connectTo);
        curl_slist_free_all(m_headers);
        curl_easy_cleanup(m_curl);
    }
    Easy(const Easy&) = delete;
    Easy& operator=(const Easy&) = delete;

    void AddHeader(const std::string& h) { m_headers = curl_slist_append(m_headers, h.c_str()); }
    CURL* get() { return m_curl; }

    HttpReply Perform() {
        curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headers);
        m_reply.curlCode = curl_easy_perform(m_curl);
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &m_reply.status);
        return m_reply;
    }

private:
    CURL* m_curl;
    std::string m_interface;
    curl_slist* m_headers = nullptr;
    curl_slist* m_connectTo = nullptr;
    HttpReply m_reply;
};

}  // namespace

std::string HttpReply::Header(const std::string& name) const {
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find("\r\n", pos);
        if (end == std::string::npos)
            end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        pos = end + 2;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon != name.size())
            continue;
        if (strncasecmp(line.c_str(), name.c_str(), name.size()) != 0)
            continue;
        std::size_t v = line.find_first_not_of(' ', colon + 1);
        return v == std::string::npos ? std::string() : line.substr(v);
    }
    return std::string();
}

HttpReply PostForm(const std::string& url, const std::string& body, const HttpCall& call) {
    Easy e(url, call);
    e.AddHeader("Content-Type: application/x-www-form-urlencoded");
    curl_easy_setopt(e.get(), CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(e.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    return e.Perform();
}

HttpReply Get(const std::string& url, const HttpCall& call) {
    Easy e(url, call);
    return e.Perform();
}

HttpReply Put(const std::string& url, const std::string& body, const HttpCall& call) {
    Easy e(url, call);
    Upload up{&body, 0, call.cutAfter};
    curl_easy_setopt(e.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e.get(), CURLOPT_READFUNCTION, Feed);
    curl_easy_setopt(e.get(), CURLOPT_READDATA, &up);
    curl_easy_setopt(e.get(), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return e.Perform();
}

HttpReply PostMultipart(const std::string& url, const std::string& boundary,
                        const std::string& body, const HttpCall& call) {
    Easy e(url, call);
    e.AddHeader("Content-Type: multipart/form-data; boundary=" + boundary);
    Upload up{&body, 0, call.cutAfter};
    curl_easy_setopt(e.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(e.get(), CURLOPT_READFUNCTION, Feed);
    curl_easy_setopt(e.get(), CURLOPT_READDATA, &up);
    curl_easy_setopt(e.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    return e.Perform();
}

std::string FormEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string TestBoundary() {
    return "-----------------------------7e81c33a41f0b8";
}

std::string BuildUploadBody(const UploadForm& f, const std::string& b) {
    auto text = [&](const std::string& name, const std::string& value) {
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
               value + "\r\n";
    };
    std::string body = text("aviFileType", f.fileType);
    body += "--" + b + "\r\nContent-Disposition: form-data; name=\"avoFileName\"; filename=\"" +
            f.filePath + "\"\r\nContent-Type: " + f.mime + "\r\n\r\n";
    body += f.fileBytes;
    body += "\r\n";
    body += text("avsMemberID", f.memberId);
    if (f.includeKey)
        body += text("avsMemberKey", f.memberKey);
    for (const auto& [name, value] : f.extra)
        body += text(name, value);
    if (f.closing)
        body += "--" + b + "--\r\n";
    return body;
}

std::string TagValue(const std::string& reply, const std::string& tag) {
    std::string open = "<" + tag + ">", close = "</" + tag + ">";
    std::size_t a = reply.find(open);
    if (a == std::string::npos)
        return std::string();
    a += open.size();
    std::size_t z = reply.find(close, a);
    if (z == std::string::npos)
        return std::string();
    return reply.substr(a, z - a);
}

}  // namespace skiv::test
