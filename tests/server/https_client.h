#pragma once
// A few libcurl calls for talking to the service as its clients do, over
// real HTTPS with the service's private CA. Bodies are collected whole:
// test data is small.

#include <cstddef>
#include <string>
#include <vector>

namespace skiv::test {

struct HttpReply {
    int curlCode = 0;  // CURLE_OK (0) when the exchange completed
    long status = 0;
    std::string body;
    std::string headers;  // raw header block(s)
    // Value of the first header named `name` (case-insensitive), or "".
    std::string Header(const std::string& name) const;
};

struct HttpCall {
    std::string caFile;
    std::string cookie;                // sent as "Cookie: <cookie>" when not empty
    std::vector<std::string> headers;  // further "Name: value" lines
    bool http10 = false;               // the login client speaks HTTP/1.0
    // Local address to connect from, e.g. "127.0.0.2": every 127/8 address
    // is loopback, so tests can act as several clients. Empty: any.
    std::string fromAddress;
    // "HOST:PORT:CONNECT-HOST:CONNECT-PORT": reach a public name on loopback.
    std::string connectTo;
    // Upload body only: abort the transfer after this many body bytes
    // (the connection is cut); < 0 sends everything.
    long long cutAfter = -1;
    // Upload body only: at most this many bytes a second; 0 = no limit.
    long long maxSendSpeed = 0;
};

HttpReply PostForm(const std::string& url, const std::string& body, const HttpCall& call);
HttpReply Get(const std::string& url, const HttpCall& call);
HttpReply Put(const std::string& url, const std::string& body, const HttpCall& call);
// POST of a ready-made multipart body with the given boundary.
HttpReply PostMultipart(const std::string& url, const std::string& boundary,
                        const std::string& body, const HttpCall& call);

// Percent-encodes every byte but unreserved characters.
std::string FormEncode(const std::string& text);

// The multipart body the client sends for an upload: parts in the order
// aviFileType, avoFileName (a file part named by the local path, with its
// MIME type), avsMemberID, avsMemberKey.
struct UploadForm {
    std::string fileType = "1";
    std::string filePath = "/home/player/World of Warcraft/Backup/SkivAddon.ksp";
    std::string mime = "application/x-gzip";
    std::string fileBytes;
    std::string memberId;
    std::string memberKey;
    bool includeKey = true;
    bool closing = true;  // false leaves out the closing boundary line
    // Further text parts (name, value) after the key, as newer clients send.
    std::vector<std::pair<std::string, std::string>> extra;
};
std::string BuildUploadBody(const UploadForm& form, const std::string& boundary);
// A 43-character boundary like the client's.
std::string TestBoundary();

// The value between <tag> and </tag>, searched from the start; "" if absent.
std::string TagValue(const std::string& reply, const std::string& tag);

}  // namespace skiv::test
