#pragma once
// W3CClient: the small synchronous HTTP/1.0 client of the login exchange.
// Connect to a URL, add form arguments, send one request (GET, url-encoded
// form POST or multipart POST), read the reply in chunks, Close.
//
// Nothing leaves it as an exception: Connect and Request return false,
// Response returns 0 at the end of the reply and after a failure, and
// ResponseFailed tells the two apart. One client belongs to one thread.
// The client owns its WinINet handles; Close (or destruction) closes them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wininet/wininet.h"

namespace skiv {

class W3CClient {
public:
    enum Protocol { Ftp = 0, Http = 1, Https = 2 };
    enum Method { Get = 0, Post = 1, PostMultiPart = 2 };

    struct PostArgument {
        std::string name;
        std::string value;
        bool isFile = false;  // value is a local file whose content is sent as a file part
    };

    // The pieces Connect takes from a URL. Exposed for its callers' checks.
    struct UrlParts {
        std::string scheme, user, password, host;
        long port = 0;
    };
    static constexpr std::size_t kUrlPartMax = 1023;
    // False when a part is longer than kUrlPartMax or the port is not a
    // number a TCP port can be.
    static bool ParseUrl(const char* url, UrlParts* parts);

    // The form body: name=value pairs joined by '&', each name and value
    // encoded as application/x-www-form-urlencoded (letters and digits as
    // they are, space as '+', every other byte as %XX), so the service reads
    // back exactly the bytes given.
    static std::string FormBody(const std::vector<PostArgument>& arguments);
    static std::string FormEncode(const std::string& text);

    // The boundary text parts are separated with (each delimiter line is
    // "--" followed by it).
    static constexpr const char* kBoundary = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

    W3CClient() = default;
    virtual ~W3CClient();
    W3CClient(const W3CClient&) = delete;
    W3CClient& operator=(const W3CClient&) = delete;

    // user and password may be null: the URL's own are used then. A client
    // that was connected is closed first. Empties the argument list.
    bool Connect(const char* url, const char* user, const char* password, const char* agent);
    // port 0: the protocol's default. Empties the argument list.
    virtual bool ConnectServer(const char* host, long port, const char* user, const char* password,
                               Protocol protocol, const char* agent);
    void AddPostArgument(const char* name, const char* value, bool isFile = false);
    // Sends one request for path; referrer may be null. A request still open
    // from before is closed first.
    bool Request(const char* path, Method method, const char* referrer);
    // Up to size bytes of the reply; 0 at its end and after a failure.
    std::size_t Response(unsigned char* buffer, std::size_t size);
    // True when the last Response call failed (no request open, or the read
    // itself failed, a reply cut short included) rather than met the end.
    bool ResponseFailed() const { return m_responseFailed; }
    // Closes the request, connection and session handles, in that order.
    void Close();

    // The internal text of the last failure ("connect failed", "request
    // failed...", ...), or "" — for diagnostics only.
    const std::string& LastFailure() const { return m_failure; }
    const std::vector<PostArgument>& Arguments() const { return m_arguments; }
    Protocol CurrentProtocol() const { return m_protocol; }

protected:
    virtual bool SendPostMultiPart(const char* path, const char* referrer);
    virtual bool SendPost(const char* path, const char* referrer);
    virtual bool SendGet(const char* path, const char* referrer);

private:
    bool OpenRequest(const char* verb, const char* path, const char* referrer,
                     wininet::DWORD flags);
    bool Failed(const char* text);
    void CloseRequest();

    wininet::HINTERNET m_hInternet = nullptr;
    wininet::HINTERNET m_hConnection = nullptr;
    wininet::HINTERNET m_hRequest = nullptr;
    std::vector<PostArgument> m_arguments;
    Protocol m_protocol = Http;
    bool m_responseFailed = false;
    std::string m_failure;
};

}  // namespace skiv
