// HTTPS: the service's own CA is trusted through SKIVADDON_CA_FILE, on top
// of the system store, and nothing else is.

#include <gtest/gtest.h>

#include <cstdlib>

#include <string>

#include "platform/wininet/tls_trust.h"
#include "support/temp_dir.h"
#include "wininet/wininet_fixture.h"

namespace skiv::wininet::test {
namespace {

using skiv::test::WireServer;

class WininetTls : public ::testing::Test {
protected:
    void SetUp() override { pki = skiv::test::MakeTestPki(dir.path()); }
    void TearDown() override { ::unsetenv("SKIVADDON_CA_FILE"); }

    // A GET over TLS; the session is opened after the environment is set.
    BOOL Get(WireServer& server, const char* host = "127.0.0.1") {
        session.reset(InternetOpenA("TlsTest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        connection.reset(InternetConnectA(session.get(), host, server.port(), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0));
        request.reset(HttpOpenRequestA(connection.get(), "GET", "/secure", nullptr, nullptr,
                                       nullptr, INTERNET_FLAG_SECURE, 0));
        return HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0);
    }

    skiv::test::TempDir dir;
    skiv::test::TestPki pki;
    Handle session, connection, request;
};

TEST_F(WininetTls, TrustsTheConfiguredCa) {
    WireServer server(pki.server_cert, pki.server_key);
    server.Push({.reply = WireServer::Reply(200, "OK", "secret")});
    ::setenv("SKIVADDON_CA_FILE", pki.ca_cert.c_str(), 1);
    ASSERT_TRUE(Get(server)) << GetLastError();
    EXPECT_EQ(ReadAll(request.get()), "secret");
    EXPECT_TRUE(WireServer::HeadOf(server.WaitRequest(0)).starts_with("GET /secure HTTP/1.1\r\n"));
}

TEST_F(WininetTls, RefusesAServerNoTrustedCaVouchesFor) {
    WireServer server(pki.server_cert, pki.server_key);
    EXPECT_FALSE(Get(server));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_CA);

    // Another CA named in the environment does not help either.
    skiv::test::TestPki other = skiv::test::MakeTestPki(dir.path(), "other");
    ::setenv("SKIVADDON_CA_FILE", other.ca_cert.c_str(), 1);
    EXPECT_FALSE(Get(server));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_CA);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(WininetTls, RefusesANameTheCertificateDoesNotCarry) {
    skiv::test::TestPki ip_only = skiv::test::MakeTestPki(dir.path(), "ip", "IP:127.0.0.1");
    WireServer server(ip_only.server_cert, ip_only.server_key);
    ::setenv("SKIVADDON_CA_FILE", ip_only.ca_cert.c_str(), 1);
    EXPECT_FALSE(Get(server, "localhost"));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_SEC_CERT_CN_INVALID);
}

TEST_F(WininetTls, SmallWritesAreGatheredIntoFewRecords) {
    // The upload engine writes 1,024 bytes at a time; sent one by one they
    // would cost a TLS record (and a server read) each.
    const std::string body = skiv::test::RandomBytes(1024 * 1024, 17);
    WireServer server(pki.server_cert, pki.server_key);
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    ::setenv("SKIVADDON_CA_FILE", pki.ca_cert.c_str(), 1);
    session.reset(InternetOpenA("TlsTest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    connection.reset(InternetConnectA(session.get(), "127.0.0.1", server.port(), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
    request.reset(HttpOpenRequestA(connection.get(), "POST", "/up", nullptr, nullptr, nullptr,
                                   INTERNET_FLAG_SECURE, 0));
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    buffers.dwBufferTotal = static_cast<DWORD>(body.size());
    ASSERT_TRUE(HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0)) << GetLastError();
    for (std::size_t at = 0; at < body.size(); at += 1024) {
        DWORD written = 0;
        ASSERT_TRUE(InternetWriteFile(request.get(), body.data() + at, 1024, &written));
    }
    ASSERT_TRUE(HttpEndRequestA(request.get(), nullptr, 0, 0)) << GetLastError();
    EXPECT_TRUE(WireServer::BodyOf(server.WaitRequest(0)) == body);
    EXPECT_LT(server.Reads(), body.size() / 1024 / 4);
}

TEST_F(WininetTls, RequestsOnOneConnectionHandleShareItsConnection) {
    // Keep-alive: one TLS handshake for consecutive requests, however they
    // end; an exchange left half read, or a connection the server closed,
    // is never reused.
    WireServer server(pki.server_cert, pki.server_key);
    auto open = [](const char* status, const std::string& body) {
        return WireServer::Script{.reply = std::string("HTTP/1.1 ") + status +
                                           "\r\nContent-Length: " + std::to_string(body.size()) +
                                           "\r\n\r\n" + body,
                                  .close_after = false};
    };
    server.Push(open("201 Created", "one"));
    server.Push(open("200 OK", "two"));
    server.Push(open("200 OK", std::string(100 * 1000, 'x')));
    server.Push({.reply = WireServer::Reply(200, "OK", "four")});
    server.Push({.reply = WireServer::Reply(200, "OK", "five")});
    ::setenv("SKIVADDON_CA_FILE", pki.ca_cert.c_str(), 1);
    session.reset(InternetOpenA("TlsTest", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    connection.reset(InternetConnectA(session.get(), "127.0.0.1", server.port(), nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0));
    auto send = [&](const char* verb, const char* object, std::string body) {
        request.reset(HttpOpenRequestA(connection.get(), verb, object, nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION, 0));
        return HttpSendRequestA(request.get(), nullptr, 0, body.data(),
                                static_cast<DWORD>(body.size()));
    };
    ASSERT_TRUE(send("PUT", "/piece/1", "body-1")) << GetLastError();
    EXPECT_EQ(StatusOf(request.get()), 201u);
    EXPECT_EQ(ReadAll(request.get()), "one");
    ASSERT_TRUE(send("GET", "/two", "")) << GetLastError();
    EXPECT_EQ(ReadAll(request.get()), "two");
    EXPECT_EQ(WireServer::BodyOf(server.WaitRequest(0)), "body-1");
    EXPECT_TRUE(WireServer::HeadOf(server.WaitRequest(1)).starts_with("GET /two HTTP/1.1\r\n"));
    EXPECT_EQ(server.Connections(), 1u);

    ASSERT_TRUE(send("GET", "/big", "")) << GetLastError();
    char first[1000];
    DWORD got = 0;
    ASSERT_TRUE(InternetReadFile(request.get(), first, sizeof first, &got));
    ASSERT_TRUE(send("GET", "/four", "")) << GetLastError();  // the big reply is dropped
    EXPECT_EQ(ReadAll(request.get()), "four");
    EXPECT_EQ(server.Connections(), 2u);
    ASSERT_TRUE(send("POST", "/five", "body-5")) << GetLastError();  // after the server's close
    EXPECT_EQ(ReadAll(request.get()), "five");
    EXPECT_EQ(WireServer::BodyOf(server.WaitRequest(4)), "body-5");
    EXPECT_EQ(server.Connections(), 3u);
}

TEST_F(WininetTls, BundleKeepsTheSystemStoreAndAddsTheFile) {
    ::setenv("SKIVADDON_CA_FILE", pki.ca_cert.c_str(), 1);
    const auto bundle = detail::TrustBundleFromEnvironment();
    ASSERT_NE(bundle, nullptr);
    const std::string system = skiv::test::ReadFile(detail::SystemCaBundlePath());
    const std::string extra = skiv::test::ReadFile(pki.ca_cert);
    ASSERT_FALSE(system.empty());
    EXPECT_TRUE(bundle->starts_with(system));
    EXPECT_NE(bundle->find(extra, system.size()), std::string::npos);

    ::unsetenv("SKIVADDON_CA_FILE");
    EXPECT_EQ(detail::TrustBundleFromEnvironment(), nullptr);
}

TEST_F(WininetTls, BothBundleMembersAreTrusted) {
    // A bundle made of two CA files (standing for the system store and the
    // extra file) verifies servers of either.
    skiv::test::TestPki second = skiv::test::MakeTestPki(dir.path(), "second");
    const auto bundle = detail::BuildTrustBundle(pki.ca_cert, second.ca_cert);
    skiv::test::WriteFile(dir / "bundle.pem", *bundle);
    ::setenv("SKIVADDON_CA_FILE", (dir / "bundle.pem").c_str(), 1);
    WireServer first_server(pki.server_cert, pki.server_key);
    WireServer second_server(second.server_cert, second.server_key);
    first_server.Push({.reply = WireServer::Reply(200, "OK", "1")});
    second_server.Push({.reply = WireServer::Reply(200, "OK", "2")});
    EXPECT_TRUE(Get(first_server)) << GetLastError();
    EXPECT_TRUE(Get(second_server)) << GetLastError();
}

}  // namespace
}  // namespace skiv::wininet::test
