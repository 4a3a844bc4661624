#pragma once
// Handles that close themselves, and a one-call way to open a request
// against a WireServer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/wininet/wininet.h"
#include "support/wire_server.h"

namespace skiv::wininet::test {

class Handle {
public:
    explicit Handle(HINTERNET h = nullptr) : m_h(h) {}
    ~Handle() {
        if (m_h != nullptr) {
            InternetCloseHandle(m_h);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return m_h; }
    void reset(HINTERNET h) {
        if (m_h != nullptr) {
            InternetCloseHandle(m_h);
        }
        m_h = h;
    }
    explicit operator bool() const { return m_h != nullptr; }

private:
    HINTERNET m_h;
};

struct OpenRequest {
    Handle session, connection, request;
};

// A direct session with the given agent, a connection to the server's port
// on 127.0.0.1 and a request; accept types default to "*/*".
inline void Open(OpenRequest& out, const skiv::test::WireServer& server, const char* verb,
                 const char* object, const char* version = "HTTP/1.1", DWORD flags = 0,
                 std::vector<LPCSTR> accept = {"*/*", nullptr}, const char* agent = "SkivTest/1.0",
                 const char* referrer = nullptr) {
    out.session.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    ASSERT_TRUE(out.session);
    out.connection.reset(InternetConnectA(out.session.get(), "127.0.0.1", server.port(), nullptr,
                                          nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    ASSERT_TRUE(out.connection);
    out.request.reset(HttpOpenRequestA(out.connection.get(), verb, object, version, referrer,
                                       accept.empty() ? nullptr : accept.data(), flags, 0));
    ASSERT_TRUE(out.request);
}

// The whole response body, read in pieces of the given size; fails the
// test when a read fails.
inline std::string ReadAll(HINTERNET request, DWORD piece = 1000) {
    std::string body;
    std::vector<char> buf(piece);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buf.data(), piece, &got)) {
            ADD_FAILURE() << "InternetReadFile failed: " << GetLastError();
            return body;
        }
        if (got == 0) {
            return body;
        }
        body.append(buf.data(), got);
    }
}

inline DWORD StatusOf(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        return 0;
    }
    return status;
}

}  // namespace skiv::wininet::test
