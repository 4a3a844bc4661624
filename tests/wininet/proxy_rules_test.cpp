// Which proxy a preconfigured session takes from the environment.

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

TEST(ProxyRules, EnvironmentDecidesPerScheme) {
    ::setenv("https_proxy", "http://sec:3128", 1);
    ::setenv("http_proxy", "http://plain:3128", 1);
    ::setenv("NO_PROXY", "skip.test", 1);
    EXPECT_EQ(ProxyFromEnvironment(true, "h"), "http://sec:3128");
    EXPECT_EQ(ProxyFromEnvironment(false, "h"), "http://plain:3128");
    EXPECT_EQ(ProxyFromEnvironment(false, "a.skip.test"), "");
    ::unsetenv("https_proxy");
    ::unsetenv("http_proxy");
    ::unsetenv("NO_PROXY");
    EXPECT_EQ(ProxyFromEnvironment(true, "h"), "");
}

}  // namespace
}  // namespace skiv::wininet::detail
