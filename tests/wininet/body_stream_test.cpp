// Request bodies pushed piece by piece and response bodies read piece by
// piece, with their lengths enforced.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"
#include "wininet/wininet_fixture.h"

namespace skiv::wininet::test {
namespace {

using skiv::test::WireServer;

bool WriteInPieces(HINTERNET request, const std::string& data, std::size_t piece) {
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto n = static_cast<DWORD>(std::min(piece, data.size() - at));
        DWORD written = 0;
        if (!InternetWriteFile(request, data.data() + at, n, &written) || written != n) {
            return false;
        }
    }
    return true;
}

TEST(WininetBody, MultiMegabyteUploadInSmallWritesArrivesByteExact) {
    const std::string body = skiv::test::RandomBytes(3 * 1024 * 1024 + 517, 7);
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "stored")});
    OpenRequest r;
    Open(r, server, "POST", "/upload", "HTTP/1.1",
         INTERNET_FLAG_RELOAD | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE);
    ASSERT_TRUE(HttpAddRequestHeadersA(r.request.get(),
                                       "Content-Type: multipart/form-data; boundary=b\r\n", -1U,
                                       HTTP_ADDREQ_FLAG_ADD));
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    buffers.dwBufferTotal = static_cast<DWORD>(body.size());
    ASSERT_TRUE(HttpSendRequestExA(r.request.get(), &buffers, nullptr, 0, 0)) << GetLastError();
    ASSERT_TRUE(WriteInPieces(r.request.get(), body, 1024)) << GetLastError();
    ASSERT_TRUE(HttpEndRequestA(r.request.get(), nullptr, 0, 0)) << GetLastError();
    EXPECT_EQ(StatusOf(r.request.get()), 200u);
    EXPECT_EQ(ReadAll(r.request.get()), "stored");

    const std::string request = server.WaitRequest(0);
    EXPECT_EQ(WireServer::HeadOf(request),
              "POST /upload HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                  "\r\nUser-Agent: SkivTest/1.0\r\nAccept: */*\r\n"
                  "Content-Type: multipart/form-data; boundary=b\r\nPragma: no-cache\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n");
    EXPECT_TRUE(WireServer::BodyOf(request) == body) << "body differs";
}

TEST(WininetBody, BodyMustMatchItsDeclaredLength) {
    WireServer server;
    OpenRequest r;
    Open(r, server, "POST", "/m");
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    buffers.dwBufferTotal = 10;
    ASSERT_TRUE(HttpSendRequestExA(r.request.get(), &buffers, nullptr, 0, 0));
    DWORD written = 99;
    EXPECT_FALSE(InternetWriteFile(r.request.get(), "0123456789A", 11, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(InternetWriteFile(r.request.get(), "01234", 5, &written));
    EXPECT_FALSE(HttpEndRequestA(r.request.get(), nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

TEST(WininetBody, WholeBodyOfHttpSendRequestArrivesAndLargeReplyReadsInPieces) {
    const std::string upload = skiv::test::RandomBytes(1500000, 11);
    const std::string reply = skiv::test::RandomBytes(4 * 1024 * 1024 + 3, 12);
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", reply)});
    OpenRequest r;
    Open(r, server, "PUT", "/big");
    std::string copy = upload;
    ASSERT_TRUE(HttpSendRequestA(r.request.get(), nullptr, 0, copy.data(),
                                 static_cast<DWORD>(copy.size())));
    EXPECT_TRUE(ReadAll(r.request.get(), 1000) == reply);
    DWORD got = 5;
    char byte;
    EXPECT_TRUE(InternetReadFile(r.request.get(), &byte, 1, &got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(WireServer::BodyOf(server.WaitRequest(0)) == upload);
}

TEST(WininetBody, EarlyRefusalStillReachesTheCaller) {
    const std::string body = skiv::test::RandomBytes(2 * 1024 * 1024, 5);
    WireServer server;
    server.Push({.reply = WireServer::Reply(413, "Too Large", "<error>9</error>"),
                 .answer_after_head = true});
    OpenRequest r;
    Open(r, server, "POST", "/upload");
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    buffers.dwBufferTotal = static_cast<DWORD>(body.size());
    ASSERT_TRUE(HttpSendRequestExA(r.request.get(), &buffers, nullptr, 0, 0));
    ASSERT_TRUE(WriteInPieces(r.request.get(), body, 1024)) << GetLastError();
    ASSERT_TRUE(HttpEndRequestA(r.request.get(), nullptr, 0, 0)) << GetLastError();
    EXPECT_EQ(StatusOf(r.request.get()), 413u);
    EXPECT_EQ(ReadAll(r.request.get()), "<error>9</error>");
}

}  // namespace
}  // namespace skiv::wininet::test
