// CHttpClientT without a server: GET URL building, argument checks and
// failures that are decided before anything reaches the network.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "http/form/http_client.h"

namespace Vutra {
namespace {

using Client = CHttpClientT<char>;

std::string GetUrl(const Client& c, const char* url) {
    std::vector<char> buf(c._MakeGetUrlLen(url) + 1, 'Z');
    c.MakeGetUrl(buf.data(), url);
    EXPECT_EQ(std::strlen(buf.data()), buf.size() - 1) << (url ? url : "(null)");
    return buf.data();
}

TEST(ClientGetUrl, AppendsParametersInMapOrder) {
    Client c;
    EXPECT_EQ(GetUrl(c, "http://h/p?x=1#f"), "http://h/p?x=1#f");  // no parameters: unchanged
    EXPECT_EQ(GetUrl(c, nullptr), "");
    c.AddParam("b", "x y");
    c.AddParam("a", "1");
    EXPECT_EQ(GetUrl(c, "http://h/p?x=1#f"), "http://h/p?x=1&a=1&b=x+y#f");
    EXPECT_EQ(GetUrl(c, "http://h/p"), "http://h/p?a=1&b=x+y");
    EXPECT_EQ(GetUrl(c, "http://h#f"), "http://h/?a=1&b=x+y#f");
    EXPECT_EQ(GetUrl(c, "http://h:81"), "http://h:81/?a=1&b=x+y");
    EXPECT_EQ(GetUrl(c, nullptr), "a=1&b=x+y");

    Client one;
    one.AddParam("a", "1");
    EXPECT_EQ(GetUrl(one, "http://h"), "http://h/?a=1");
    EXPECT_EQ(GetUrl(one, "http://h#f"), "http://h/?a=1#f");
}

TEST(ClientGetUrl, RawBitsAndNullValues) {
    Client c;
    c.AddParam("n&m", "v&w", ParamRawName);
    c.AddParam("o&p", "%41", ParamRawValue);
    c.AddParam("q", nullptr);
    EXPECT_EQ(GetUrl(c, "http://h/"), "http://h/?n&m=v%26w&o%26p=%41&q=");
}

TEST(ClientGetUrl, Utf8SettingEncodesCharactersAsUtf8) {
    Client c;
    c.AddParam("k", "\xED\x95\x9C");
    EXPECT_EQ(GetUrl(c, "http://h/"), "http://h/?k=%ED%95%9C");
    EXPECT_EQ(c.SetUseUtf8(1), 0);
    EXPECT_EQ(GetUrl(c, "http://h/"), "http://h/?k=%ED%95%9C");  // system code page is UTF-8
    EXPECT_EQ(c.SetUseUtf8(0), 1);
}

// The GET buffer is allocated from _MakeGetUrlLen: the two must agree for
// any URL and parameter set, or MakeGetUrl writes past the block.
TEST(ClientGetUrl, LengthAgreesWithOutputForRandomInputs) {
    std::mt19937 gen(99);
    const char* urls[] = {
        nullptr, "",           "http://h",   "http://h/", "https://h:8443/a/b?c=d#e",
        "h/p",   "http://h#f", "http://h?q", "//x",       "http://\xED\x95\x9C/\xC3\xA9"};
    const char* pieces[] = {"a", " ", "&", "=", "%", "\xED\x95\x9C", "Z9", "-_.", "?", "#", "/"};
    for (int round = 0; round < 2000; ++round) {
        Client c;
        c.SetUseUtf8(round % 2);
        const int params = static_cast<int>(gen() % 5);
        for (int i = 0; i < params; ++i) {
            std::string name;
            std::string value;
            for (int k = static_cast<int>(gen() % 4); k > 0; --k)
                name += pieces[gen() % 11];
            for (int k = static_cast<int>(gen() % 5); k > 0; --k)
                value += pieces[gen() % 11];
            c.AddParam(name.c_str(), gen() % 7 ? value.c_str() : nullptr, gen() % 8);
        }
        const char* url = urls[gen() % 10];
        std::vector<char> buf(c._MakeGetUrlLen(url) + 16, '\x7F');
        c.MakeGetUrl(buf.data(), url);
        ASSERT_EQ(std::strlen(buf.data()), c._MakeGetUrlLen(url)) << "round " << round;
        ASSERT_EQ(buf[c._MakeGetUrlLen(url) + 1], '\x7F');
    }
}

TEST(Client, ArgumentChecks) {
    Client c;
    try {
        c.MakeGetUrl(nullptr, "http://h");
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpClientT::MakeGetUrl: szBuff can not be NULL.");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
    try {
        c.AddParam(nullptr, "v");
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpClientMapT::Add: szName can not be NULL.");
    }
    // Without an open context any budget fails with 104.
    for (unsigned budget : {0u, 1024u}) {
        try {
            c.ProceedContext(budget);
            FAIL();
        } catch (const httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), 104);
            EXPECT_STREQ(e.errmsg(), "The post context is not started yet.");
        }
    }
    EXPECT_EQ(c.AbortPostContext(), 0);
    CHttpPostStatT<char> stat;
    c.GetPostStat(stat);
    EXPECT_FALSE(stat.IsActive());
}

TEST(Client, BoundaryAndContentType) {
    Client a;
    Client b;
    EXPECT_EQ(std::strlen(a.GetBoundary()), 43u);
    EXPECT_STRNE(a.GetBoundary(), b.GetBoundary());
    EXPECT_EQ(std::string(a.GetUploadContentType()),
              std::string("multipart/form-data; boundary=") + a.GetBoundary());
}

// Port and host problems are found before any connection is attempted.
TEST(Client, BadPortsAndMissingHostsAreRefused) {
    struct Case {
        const char* url;
        int code;
    };
    for (Case k : {Case{"http://127.0.0.1:123456/", 107}, Case{"http://127.0.0.1:80a/", 107},
                   Case{"http://127.0.0.1:65536/", 107}, Case{"http://127.0.0.1:+80/", 107},
                   Case{"http://127.0.0.1:1:2/", 107}, Case{"http://:80/", 103},
                   Case{"http:///p", 103}, Case{"", 103}}) {
        for (bool upload : {false, true}) {
            Client c;
            try {
                if (upload) {
                    c.OpenUpload(k.url);
                } else {
                    c.SendGetRequest(k.url);
                }
                ADD_FAILURE() << k.url;
            } catch (const httpclientexceptionA& e) {
                EXPECT_EQ(e.ErrorCode(), k.code) << k.url;
            }
            EXPECT_EQ(c.AbortPostContext(), 0) << "no context may stay open";
        }
    }
}

}  // namespace
}  // namespace Vutra
