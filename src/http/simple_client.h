#pragma once
// The small synchronous HTTP/1.0 client of the login exchange: connect to
// a URL, add form fields, post them url-encoded, read the reply in chunks.
//
// Nothing leaves it as an exception: Connect and PostForm return false
// (LastFailure says why), Read returns 0 at the end of the reply and after
// a failure, and ReadFailed tells the two apart. One thread uses a client.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/internet_handle.h"

namespace skiv::http {

class SimpleClient {
public:
    struct Field {
        std::string name, value;
    };

    // The pieces Connect takes from a URL.
    struct UrlParts {
        std::string scheme, user, password, host;
        long port = 0;
    };
    static constexpr std::size_t kUrlPartMax = 1023;
    // False when a part is longer than kUrlPartMax or the port is not a
    // number a TCP port can be.
    static bool ParseUrl(std::string_view url, UrlParts& parts);

    // name=value pairs joined by '&', the bytes of each url-encoded
    // (UrlEncode without UTF-8), so the service reads back exactly the
    // bytes given.
    static std::string FormBody(const std::vector<Field>& fields);

    // Connects to the URL's host with the credentials it holds, as agent;
    // an http or https URL only. A client that was connected is closed
    // first. Empties the field list.
    bool Connect(const std::string& url, const std::string& agent);
    void AddField(std::string name, std::string value) {
        m_fields.push_back(Field{std::move(name), std::move(value)});
    }
    // Posts the fields to path. A request still open from before is closed
    // first.
    bool PostForm(const std::string& path);
    // Up to size bytes of the reply; 0 at its end and after a failure.
    std::size_t Read(unsigned char* buffer, std::size_t size);
    // True when the last Read failed (no request open, or the read itself
    // failed, a reply cut short included) rather than met the end.
    bool ReadFailed() const { return m_readFailed; }
    // Closes the request, connection and session, in that order.
    void Close();

    // The text of the last failure ("connect failed", "request failed...",
    // ...), or "": for diagnostics only.
    const std::string& LastFailure() const { return m_failure; }

private:
    bool Failed(const char* text);

    InternetHandle m_session, m_connection, m_request;
    std::vector<Field> m_fields;
    bool m_https = false;
    bool m_readFailed = false;
    std::string m_failure;
};

}  // namespace skiv::http
