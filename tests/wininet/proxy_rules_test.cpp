// Proxy choice per access type, proxy list and bypass list.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/wininet/proxy_rules.h"

namespace skiv::wininet::detail {
namespace {

TEST(ProxyRules, NoProxyListMatchesHostsAndDomainSuffixes) {
    EXPECT_TRUE(MatchesNoProxy("a.test, .Example.com", "www.example.COM"));
    EXPECT_TRUE(MatchesNoProxy("example.com", "example.com"));
    EXPECT_FALSE(MatchesNoProxy("example.com", "badexample.com"));
    EXPECT_TRUE(MatchesNoProxy("*", "anything"));
    EXPECT_FALSE(MatchesNoProxy("", "anything"));
}

TEST(ProxyRules, BypassListTakesLocalNamesAndWildcards) {
    EXPECT_TRUE(MatchesBypass("<local>", "intranet"));
    EXPECT_FALSE(MatchesBypass("<local>", "intranet.corp"));
    EXPECT_TRUE(MatchesBypass("foo;*.corp", "Intranet.CORP"));
    EXPECT_TRUE(MatchesBypass("10.*", "10.1.2.3"));
    EXPECT_FALSE(MatchesBypass("10.*", "110.1.2.3"));
}

TEST(ProxyRules, AccessTypesDecide) {
    ProxySettings direct{INTERNET_OPEN_TYPE_DIRECT, "p:1", ""};
    EXPECT_EQ(ChooseProxy(direct, false, "h"), "");

    ProxySettings named{INTERNET_OPEN_TYPE_PROXY, "http=web:80 https=tls:443", "*.local"};
    EXPECT_EQ(ChooseProxy(named, false, "h"), "web:80");
    EXPECT_EQ(ChooseProxy(named, true, "h"), "tls:443");
    EXPECT_EQ(ChooseProxy(named, true, "box.local"), "");
    ProxySettings single{INTERNET_OPEN_TYPE_PROXY, "one:8080", ""};
    EXPECT_EQ(ChooseProxy(single, true, "h"), "one:8080");

    ProxySettings env{INTERNET_OPEN_TYPE_PRECONFIG, "", ""};
    ::setenv("https_proxy", "http://sec:3128", 1);
    ::setenv("http_proxy", "http://plain:3128", 1);
    ::setenv("NO_PROXY", "skip.test", 1);
    EXPECT_EQ(ChooseProxy(env, true, "h"), "http://sec:3128");
    EXPECT_EQ(ChooseProxy(env, false, "h"), "http://plain:3128");
    EXPECT_EQ(ChooseProxy(env, false, "a.skip.test"), "");
    ::unsetenv("https_proxy");
    ::unsetenv("http_proxy");
    ::unsetenv("NO_PROXY");
    EXPECT_EQ(ChooseProxy(env, true, "h"), "");
}

}  // namespace
}  // namespace skiv::wininet::detail
