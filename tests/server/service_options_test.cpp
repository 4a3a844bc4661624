#include "service_options.h"

#include <gtest/gtest.h>

namespace skiv::server {
namespace {

std::optional<ServiceOptions> Parse(std::vector<std::string> args, std::string& error) {
    args.insert(args.begin(), "skivaddon-service");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), error);
}

TEST(ServiceOptionsTest, ListenAddresses) {
    std::string host;
    int port = -1;
    ASSERT_TRUE(ParseListen("127.0.0.1:0", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 0);
    ASSERT_TRUE(ParseListen("[::1]:8443", host, port));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 8443);
    EXPECT_FALSE(ParseListen("127.0.0.1", host, port));
    EXPECT_FALSE(ParseListen("127.0.0.1:65536", host, port));
    EXPECT_FALSE(ParseListen("127.0.0.1:-1", host, port));
    EXPECT_FALSE(ParseListen(":8443", host, port));
    EXPECT_FALSE(ParseListen("::1:8443", host, port));
}

TEST(ServiceOptionsTest, PublicUrlsMustBeBareHttpsOrigins) {
    EXPECT_EQ(NormalisePublicUrl("https://addons.example.org/"), "https://addons.example.org");
    EXPECT_EQ(NormalisePublicUrl("https://10.0.0.5:8443"), "https://10.0.0.5:8443");
    EXPECT_EQ(NormalisePublicUrl("https://[::1]:8443"), "https://[::1]:8443");
    EXPECT_FALSE(NormalisePublicUrl("http://example.org"));
    EXPECT_FALSE(NormalisePublicUrl("https://example.org/sub"));
    EXPECT_FALSE(NormalisePublicUrl("https://exa<mple.org"));
    EXPECT_FALSE(NormalisePublicUrl("https://"));
    EXPECT_FALSE(NormalisePublicUrl("https://host:0"));
    EXPECT_EQ(UrlHost("https://[::1]:8443"), "::1");
    EXPECT_EQ(UrlHost("https://a.example:1"), "a.example");
}

TEST(ServiceOptionsTest, CommandLines) {
    std::string error;
    auto o = Parse({"--data", "/d", "--listen", "0.0.0.0:9000", "--max-package-mb", "5",
                    "--hash-memory-kib", "8192", "member", "add", "bob"},
                   error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->listenPort, 9000);
    EXPECT_EQ(o->maxPackageMb, 5);
    EXPECT_EQ(o->hashCost.memoryBytes, 8192u * 1024);
    EXPECT_EQ(o->command, (std::vector<std::string>{"member", "add", "bob"}));

    EXPECT_FALSE(Parse({"--listen", "127.0.0.1:1"}, error));  // no --data
    EXPECT_FALSE(Parse({"--data", "/d", "--cert", "c.pem"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--max-package-mb", "0"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--max-package-mb"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "member", "add"}, error));
    EXPECT_FALSE(Parse({"--data", "/d", "--bogus"}, error));
    EXPECT_NE(error.find("--bogus"), std::string::npos);
}

}  // namespace
}  // namespace skiv::server
