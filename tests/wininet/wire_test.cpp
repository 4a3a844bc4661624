// What reaches the wire for each request shape, and how replies come back.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
