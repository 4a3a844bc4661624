// How the simple client reads a URL and encodes a form.

#include <gtest/gtest.h>

#include <string>

#include "http/simple_client.h"
#include "http/url_text.h"

namespace skiv::http {
namespace {

SimpleClient::UrlParts Parse(const std::string& url) {
    SimpleClient::UrlParts parts;
    EXPECT_TRUE(SimpleClient::ParseUrl(url, parts)) << url;
    return parts;
}

TEST(SimpleUrl, SchemeHostAndPortWithTheirDefaults) {
    auto bare = Parse("member.example/skivaddon/x.aspx");
    EXPECT_EQ(bare.scheme, "http");
    EXPECT_EQ(bare.host, "member.example");
    EXPECT_EQ(bare.port, 80);

    EXPECT_EQ(Parse("https://svc.example").port, 443);
    EXPECT_EQ(Parse("https://svc.example").host, "svc.example");
    EXPECT_EQ(Parse("https://svc.example:8443").port, 8443);
    EXPECT_EQ(Parse("https://svc.example:8443/").host, "svc.example");
    EXPECT_EQ(Parse("HTTPS://svc.example").port, 80);  // only exactly "https" defaults to 443

    // A colon not followed by '/' does not end a scheme.
    auto hostport = Parse("127.0.0.1:8443/login");
    EXPECT_EQ(hostport.scheme, "http");
    EXPECT_EQ(hostport.host, "127.0.0.1");
    EXPECT_EQ(hostport.port, 8443);

    auto v6 = Parse("https://[::1]:9443/x");
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, 9443);
}

TEST(SimpleUrl, UserInformationOnlyInsideTheAuthority) {
    auto both = Parse("http://kim:pa:ss@host.example:81/p");
    EXPECT_EQ(both.user, "kim");
    EXPECT_EQ(both.password, "pa:ss");
    EXPECT_EQ(both.host, "host.example");
    EXPECT_EQ(both.port, 81);

    auto name_only = Parse("http://kim@host.example");
    EXPECT_EQ(name_only.user, "kim");
    EXPECT_EQ(name_only.password, "");

    auto in_path = Parse("http://host.example/mail/a@b");
    EXPECT_EQ(in_path.user, "");
    EXPECT_EQ(in_path.host, "host.example");
}

TEST(SimpleUrl, OversizedPartsAndBadPortsAreRefused) {
    SimpleClient::UrlParts parts;
    EXPECT_FALSE(SimpleClient::ParseUrl(("http://" + std::string(1024, 'h') + "/"), parts));
    EXPECT_TRUE(SimpleClient::ParseUrl(("http://" + std::string(1023, 'h') + "/"), parts));
    EXPECT_FALSE(SimpleClient::ParseUrl("http://h:70000/", parts));
}

TEST(SimpleForm, NamesAndValuesAreEncodedSoTheServiceReadsBackTheSameBytes) {
    EXPECT_EQ(UrlEncode("Abc019", false), "Abc019");
    EXPECT_EQ(UrlEncode("p&s=w+d%x y", false), "p%26s%3Dw%2Bd%25x+y");
    EXPECT_EQ(UrlEncode("a.b-c_d*~!", false), "a%2Eb%2Dc%5Fd%2A%7E%21");
    EXPECT_EQ(UrlEncode("\xED\x95\x9C\n", false), "%ED%95%9C%0A");
    EXPECT_EQ(UrlEncode(std::string("\0\xFF", 2), false), "%00%FF");

    using Arg = SimpleClient::Field;
    EXPECT_EQ(SimpleClient::FormBody({Arg{"a", "1"}, Arg{"b", "2"}}), "a=1&b=2");
    EXPECT_EQ(SimpleClient::FormBody({}), "");
    EXPECT_EQ(SimpleClient::FormBody({Arg{"", ""}, Arg{"x", ""}}), "=&x=");
    EXPECT_EQ(SimpleClient::FormBody({Arg{"avsPassword", "a&b=c"}}), "avsPassword=a%26b%3Dc");
}

}  // namespace
}  // namespace skiv::http
