// What reaches the wire for each request shape, and how replies come back.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/wininet/transfer.h"
#include "wininet/wininet_fixture.h"

namespace skiv::wininet::test {
namespace {

using skiv::test::WireServer;

std::string HostLine(const WireServer& server) {
    return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
}

TEST(WininetWire, GetSendsExactlyTheRequestLineAndHeadersGiven) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "hello")});
    OpenRequest r;
    Open(r, server, "GET", "/a/b?q=1&r=%41");
    ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0)) << GetLastError();
    EXPECT_EQ(ReadAll(r.request.get()), "hello");
    EXPECT_EQ(server.WaitRequest(0), "GET /a/b?q=1&r=%41 HTTP/1.1\r\n" + HostLine(server) +
                                         "User-Agent: SkivTest/1.0\r\n"
                                         "Accept: */*\r\n\r\n");
}

TEST(WininetWire, Http10FormPostCarriesBodyAndNoExpect) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "<error>0</error>")});
    OpenRequest r;
    Open(r, server, "POST", "/skivaddon/login.aspx", "HTTP/1.0",
         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION);
    const char* type = "Content-Type: application/x-www-form-urlencoded\r\n";
    char body[] = "a=1&b=2";
    ASSERT_TRUE(
        HttpSendRequestA(r.request.get(), type, static_cast<DWORD>(std::strlen(type)), body, 7))
        << GetLastError();
    EXPECT_EQ(ReadAll(r.request.get()), "<error>0</error>");
    EXPECT_EQ(server.WaitRequest(0), "POST /skivaddon/login.aspx HTTP/1.0\r\n" + HostLine(server) +
                                         "User-Agent: SkivTest/1.0\r\n"
                                         "Accept: */*\r\n"
                                         "Content-Type: application/x-www-form-urlencoded\r\n"
                                         "Content-Length: 7\r\n\r\n"
                                         "a=1&b=2");
}

}  // namespace
}  // namespace skiv::wininet::test

namespace skiv::wininet::test {
namespace {

using skiv::test::WireServer;

std::string RequestHead(WireServer& server, std::size_t index = 0) {
    return WireServer::HeadOf(server.WaitRequest(index));
}

TEST(WininetWire, AcceptComesFromTheListAndReplaceKeepsOneCopy) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    {
        OpenRequest r;
        Open(r, server, "GET", "/", "HTTP/1.0", 0, {"text/html", "image/png", nullptr});
        ASSERT_TRUE(HttpAddRequestHeadersA(r.request.get(), "Accept: */*\r\n", 13,
                                           HTTP_ADDREQ_FLAG_REPLACE))
            << GetLastError();
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    }
    {
        OpenRequest r;
        Open(r, server, "GET", "/", "HTTP/1.1", 0, {"text/html", "image/png", nullptr});
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    }
    {
        OpenRequest r;  // no list, no agent: neither header goes out
        Open(r, server, "GET", "/", "HTTP/1.1", 0, {}, nullptr);
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    }
    const std::string replaced = RequestHead(server, 0);
    EXPECT_NE(replaced.find("\r\nAccept: */*\r\n"), std::string::npos) << replaced;
    EXPECT_EQ(replaced.find("text/html"), std::string::npos) << replaced;
    EXPECT_NE(RequestHead(server, 1).find("\r\nAccept: text/html, image/png\r\n"),
              std::string::npos);
    const std::string bare = RequestHead(server, 2);
    EXPECT_EQ(bare,
              "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n");
}

TEST(WininetWire, FlagsAndCallerHeadersShapeTheHead) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    OpenRequest r;
    Open(r, server, "GET", "/x", "HTTP/1.1",
         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, {},
         "Agent", "http://ref.example/page");
    const char* extra = "X-One: 1\r\nX-Two:  two  \r\n\r\nCache-Control: no-cache\r\n";
    ASSERT_TRUE(HttpAddRequestHeadersA(r.request.get(), extra, static_cast<DWORD>(-1),
                                       HTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(RequestHead(server),
              "GET /x HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: Agent\r\nReferer: http://ref.example/page\r\nX-One: 1\r\n"
                  "X-Two: two\r\nCache-Control: no-cache\r\nPragma: no-cache\r\n\r\n");
}

TEST(WininetWire, ObjectNameGoesOutAsGivenWithUnsafeBytesEscaped) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    {
        OpenRequest r;
        Open(r, server, "GET", "/a/../b/./c?x=1#frag");
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    }
    {
        OpenRequest r;
        Open(r, server, "GET", "dir/a b\r\nX: y\xED\x95\x9C");
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    }
    EXPECT_TRUE(RequestHead(server, 0).starts_with("GET /a/../b/./c?x=1#frag HTTP/1.1\r\n"));
    EXPECT_TRUE(
        RequestHead(server, 1).starts_with("GET /dir/a%20b%0D%0AX:%20y%ED%95%9C HTTP/1.1\r\n"))
        << RequestHead(server, 1);
}

TEST(WininetWire, HeaderModifiersFollowWininetRules) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    OpenRequest r;
    Open(r, server, "POST", "/p", "HTTP/1.1", 0, {});
    HINTERNET h = r.request.get();
    ASSERT_TRUE(HttpAddRequestHeadersA(h, "Content-Type: a/b\r\n", -1U, HTTP_ADDREQ_FLAG_ADD));
    EXPECT_FALSE(HttpAddRequestHeadersA(h, "X-Missing: 1\r\n", -1U, HTTP_ADDREQ_FLAG_REPLACE));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    ASSERT_TRUE(HttpAddRequestHeadersA(h, "X-Dup: 1\r\nX-Dup: 2\r\nX-Gone: 3\r\n", -1U, 0));
    ASSERT_TRUE(HttpAddRequestHeadersA(h, "X-Dup: 9\r\n", -1U, HTTP_ADDREQ_FLAG_REPLACE));
    ASSERT_TRUE(HttpAddRequestHeadersA(h, "X-Gone:\r\n", -1U, HTTP_ADDREQ_FLAG_REPLACE));
    ASSERT_TRUE(HttpAddRequestHeadersA(h, "X-Empty;\r\n", -1U, 0) == FALSE);
    EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
    // A header text cannot carry a line that is not a header.
    EXPECT_FALSE(HttpAddRequestHeadersA(h, "X-A: 1\r\nGET /evil HTTP/1.1\r\n", -1U, 0));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
    ASSERT_TRUE(HttpSendRequestA(h, nullptr, 0, nullptr, 0));
    const std::string head = RequestHead(server);
    EXPECT_EQ(head, "POST /p HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                        "\r\nUser-Agent: SkivTest/1.0\r\nContent-Type: a/b\r\nX-Dup: 9\r\n"
                        "X-A: 1\r\nContent-Length: 0\r\n\r\n");
}

TEST(WininetWire, QueryInfoGivesTheStatusWithTheBufferProtocol) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(404, "Not Here", "gone")});
    OpenRequest r;
    Open(r, server, "GET", "/");
    HINTERNET h = r.request.get();
    DWORD size = 64;
    char text[64];
    EXPECT_FALSE(HttpQueryInfoA(h, HTTP_QUERY_STATUS_CODE, text, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    ASSERT_TRUE(HttpSendRequestA(h, nullptr, 0, nullptr, 0));
    EXPECT_EQ(StatusOf(h), 404u);

    size = 0;
    EXPECT_FALSE(HttpQueryInfoA(h, HTTP_QUERY_STATUS_TEXT, nullptr, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 9u);  // "Not Here" and its NUL
    size = 8;
    EXPECT_FALSE(HttpQueryInfoA(h, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr));
    EXPECT_EQ(size, 9u);
    ASSERT_TRUE(HttpQueryInfoA(h, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr));
    EXPECT_STREQ(text, "Not Here");
    EXPECT_EQ(size, 8u);

    EXPECT_EQ(ReadAll(h), "gone");
}

TEST(WininetWire, GetFollowsRedirects) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(302, "Found", "moved", "Location: /next?x=1\r\n")});
    server.Push({.reply = WireServer::Reply(200, "OK", "arrived")});
    {
        OpenRequest r;
        Open(r, server, "GET", "/start");
        ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
        EXPECT_EQ(StatusOf(r.request.get()), 200u);
        EXPECT_EQ(ReadAll(r.request.get()), "arrived");
    }
    EXPECT_TRUE(RequestHead(server, 1).starts_with("GET /next?x=1 HTTP/1.1\r\n"));
    EXPECT_NE(RequestHead(server, 1).find("User-Agent: SkivTest/1.0\r\n"), std::string::npos);
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(WininetWire, PostIsNotRedirected) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(302, "Found", "", "Location: /elsewhere\r\n")});
    OpenRequest r;
    Open(r, server, "POST", "/form");
    char body[] = "k=v";
    ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, body, 3));
    EXPECT_EQ(StatusOf(r.request.get()), 302u);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(WininetWire, ReplyCutShortOfItsLengthFailsTheRead) {
    WireServer server;
    server.Push({.reply = WireServer::ShortReply("abc", 10)});
    OpenRequest r;
    Open(r, server, "GET", "/");
    ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    char buf[64];
    DWORD got = 0;
    std::string seen;
    BOOL ok = TRUE;
    while (ok && (got != 0 || seen.empty())) {
        ok = InternetReadFile(r.request.get(), buf, sizeof buf, &got);
        seen.append(buf, ok ? got : 0);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
    EXPECT_EQ(seen, "abc");
}

TEST(WininetWire, ConnectionCutInsideTheHeadFailsTheSend) {
    WireServer server;
    server.Push({.reply = "HTTP/1.1 200 OK\r\nContent-Le", .send_bytes = 20});
    OpenRequest r;
    Open(r, server, "GET", "/");
    EXPECT_FALSE(HttpSendRequestA(r.request.get(), nullptr, 0, nullptr, 0));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
}

TEST(WininetWire, SilentServerTimesOut) {
    WireServer server;
    server.Push({.reply = "", .never_answer = true});
    detail::TransferPlan plan;
    plan.origin = "http://127.0.0.1:" + std::to_string(server.port());
    plan.path = plan.target = "/";
    plan.verb = "GET";
    plan.idle_timeout = std::chrono::milliseconds(300);
    detail::Transfer transfer(std::move(plan));
    ASSERT_EQ(transfer.Begin(std::nullopt), ERROR_SUCCESS);
    EXPECT_EQ(transfer.EndBody(), ERROR_INTERNET_TIMEOUT);
}

TEST(WininetWire, ClosedPortCannotConnect) {
    std::uint16_t port = 0;
    {
        WireServer gone;
        port = gone.port();
    }
    Handle session(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    Handle conn(InternetConnectA(session.get(), "127.0.0.1", port, nullptr, nullptr,
                                 INTERNET_SERVICE_HTTP, 0, 0));
    Handle req(HttpOpenRequestA(conn.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0));
    EXPECT_FALSE(HttpSendRequestA(req.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
}

TEST(WininetWire, ServerCredentialsGoAsBasicAuthorization) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    Handle session(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    Handle conn(InternetConnectA(session.get(), "127.0.0.1", server.port(), "user", "p:ss",
                                 INTERNET_SERVICE_HTTP, 0, 0));
    Handle req(HttpOpenRequestA(conn.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0));
    ASSERT_TRUE(HttpSendRequestA(req.get(), nullptr, 0, nullptr, 0));
    EXPECT_NE(RequestHead(server).find("\r\nAuthorization: Basic dXNlcjpwOnNz\r\n"),
              std::string::npos);
}

TEST(WininetWire, PreconfiguredSessionTakesTheProxyFromTheEnvironment) {
    WireServer proxy;
    proxy.Push({.reply = WireServer::Reply(200, "OK", "")});
    const std::string where = "http://127.0.0.1:" + std::to_string(proxy.port());
    ::setenv("http_proxy", where.c_str(), 1);
    ::setenv("no_proxy", "other.test", 1);
    Handle session(InternetOpenA("a", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    Handle conn(InternetConnectA(session.get(), "service.test", INTERNET_DEFAULT_HTTP_PORT, nullptr,
                                 nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    Handle req(HttpOpenRequestA(conn.get(), "GET", "/z", nullptr, nullptr, nullptr, 0, 0));
    const BOOL sent = HttpSendRequestA(req.get(), nullptr, 0, nullptr, 0);
    ::unsetenv("http_proxy");
    ::unsetenv("no_proxy");
    ASSERT_TRUE(sent) << GetLastError();
    EXPECT_TRUE(RequestHead(proxy).starts_with("GET http://service.test/z HTTP/1.1\r\n"));
}

TEST(WininetHandles, WrongOrClosedHandlesAreRefused) {
    Handle session(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    EXPECT_EQ(HttpOpenRequestA(session.get(), "GET", "/", nullptr, nullptr, nullptr, 0, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_EQ(
        InternetConnectA(session.get(), "", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0),
        nullptr);
    EXPECT_EQ(InternetConnectA(session.get(), "bad host/x", 80, nullptr, nullptr,
                               INTERNET_SERVICE_HTTP, 0, 0),
              nullptr);
    HINTERNET conn = InternetConnectA(session.get(), "127.0.0.1", 1, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
    ASSERT_NE(conn, nullptr);
    EXPECT_EQ(HttpOpenRequestA(conn, "GET", "/", "HTTP/2", nullptr, nullptr, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HttpOpenRequestA(conn, "GE T", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
    HINTERNET req = HttpOpenRequestA(conn, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(req, nullptr);
    DWORD got = 7;
    char buf[4];
    EXPECT_FALSE(InternetReadFile(req, buf, sizeof buf, &got));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(InternetCloseHandle(req));
    EXPECT_FALSE(InternetCloseHandle(req));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HttpSendRequestA(req, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(InternetCloseHandle(conn));
    EXPECT_EQ(InternetAttemptConnect(0), ERROR_SUCCESS);
}

TEST(WininetHandles, LastErrorIsPerThread) {
    EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(0x1)));
    DWORD other = ERROR_INVALID_HANDLE;
    std::thread([&] {
        Handle session(InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        other = GetLastError();
    }).join();
    EXPECT_EQ(other, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace skiv::wininet::test
