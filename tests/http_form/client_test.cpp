// The form client's own rules: parameter order, what it refuses before
// anything reaches the network, and its boundary.
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>

#include "http/form_client.h"
#include "http/http_error.h"
#include "support/temp_dir.h"
#include "support/wire_server.h"

namespace skiv::http {
namespace {

using skiv::test::WireServer;

// The code of the HttpError f throws; -1 when it throws none.
template <typename F>
int CodeOf(F f) {
    try {
        f();
    } catch (const HttpError& e) {
        return static_cast<int>(e.code());
    }
    return -1;
}

TEST(FormClient, ParametersGoOutByNameIgnoringCaseEqualNamesInArrivalOrder) {
    WireServer server;
    server.Push({.reply = WireServer::Reply(200, "OK", "")});
    FormClient client;
    client.AddParam("name", "older");
    client.AddParam("b", "x");
    client.AddParam("Name", "newer");
    client.AddParam("NAME");
    client.AddParam("~", "t");  // after every letter
    client.AddParam("_", "u");  // 0x5F: before the letters, which compare as lower case
    client.Get(server.Url("/q"));
    EXPECT_EQ(server.WaitRequest(0).rfind(
                  "GET /q?%5F=u&b=x&name=older&Name=newer&NAME=&%7E=t HTTP/1.1\r\n", 0),
              0u)
        << server.WaitRequest(0);
}

// Port and host problems, and a file too large for the 32-bit body length,
// are found before any connection is attempted, and nothing stays open.
TEST(FormClient, BadUrlsAndOversizedFilesAreRefusedUpFront) {
    struct Case {
        const char* url;
        int code;
    };
    for (Case k : {Case{"http://127.0.0.1:123456/", 107}, Case{"http://127.0.0.1:80a/", 107},
                   Case{"http://127.0.0.1:65536/", 107}, Case{"http://127.0.0.1:+80/", 107},
                   Case{"http://127.0.0.1:1:2/", 107}, Case{"http://:80/", 103},
                   Case{"http:///p", 103}, Case{"", 103}}) {
        FormClient client;
        EXPECT_EQ(CodeOf([&] { client.Get(k.url); }), k.code) << k.url;
        EXPECT_EQ(CodeOf([&] { client.OpenUpload(k.url); }), k.code) << k.url;
        EXPECT_FALSE(client.AbortUpload()) << "no upload may stay open";
    }
    skiv::test::TempDir dir;
    const std::string big = dir / "big.bin";
    skiv::test::WriteFile(big, "");
    ASSERT_EQ(::truncate(big.c_str(), 0x100000000LL), 0);  // sparse: 4 GiB of nothing
    FormClient client;
    client.AddFile("f", big);
    EXPECT_EQ(CodeOf([&] { client.OpenUpload("http://127.0.0.1:1/"); }), 112);
    EXPECT_FALSE(client.Progress().active);
    // Without an open upload any budget fails with 104.
    EXPECT_EQ(CodeOf([&] { client.Proceed(0); }), 104);
    EXPECT_EQ(CodeOf([&] { client.Proceed(1024); }), 104);
}

// "----VUTRA-" + 32 lower-case hex digits of a version-4 GUID + "-".
bool IsBoundary(const std::string& b) {
    if (b.size() != 43 || b.rfind("----VUTRA-", 0) != 0 || b.back() != '-')
        return false;
    const std::string hex = b.substr(10, 32);
    if (hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    return hex[12] == '4' && std::string("89ab").find(hex[16]) != std::string::npos;
}

TEST(FormClient, FreshBoundaryEachTimeInTheFixedFormat) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        FormClient client;
        ASSERT_TRUE(IsBoundary(client.Boundary())) << client.Boundary();
        seen.insert(client.Boundary());
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_FALSE(IsBoundary("----VUTRA-FB3B405B7EAE495aB0C0295C54D4E096-"));  // the check bites
}

}  // namespace
}  // namespace skiv::http
