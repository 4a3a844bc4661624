#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/form/client_map.h"
#include "http/form/post_stat.h"
#include "http/form/url_analyzer.h"

namespace Vutra {
namespace {

using Url = CHttpUrlAnalyzerT<char>;

// offset/length pairs: scheme, host, port, path, query, fragment
std::vector<unsigned> Parts(const char* url, unsigned cp = 0) {
    Url u;
    u.Analyze(url, cp);
    return {u.SchemeOffset(), u.SchemeLength(), u.HostOffset(),     u.HostLength(),
            u.PortOffset(),   u.PortLength(),   u.PathOffset(),     u.PathLength(),
            u.QueryOffset(),  u.QueryLength(),  u.FragmentOffset(), u.FragmentLength()};
}

TEST(UrlAnalyzer, SplitsEveryPart) {
    using V = std::vector<unsigned>;
    EXPECT_EQ(Parts("http://h:80/p?q#f"), (V{0, 4, 7, 1, 9, 2, 11, 2, 13, 2, 15, 2}));
    EXPECT_EQ(Parts("h/p"), (V{0, 0, 0, 1, 1, 0, 1, 2, 3, 0, 3, 0}));
    EXPECT_EQ(Parts("http://h"), (V{0, 4, 7, 1, 8, 0, 8, 0, 8, 0, 8, 0}));
    EXPECT_EQ(Parts("http://h?q=1"), (V{0, 4, 7, 1, 8, 0, 8, 0, 8, 4, 12, 0}));
    EXPECT_EQ(Parts("http://h#f"), (V{0, 4, 7, 1, 8, 0, 8, 0, 8, 0, 8, 2}));
    EXPECT_EQ(Parts("://h/x")[1], 0u);
    EXPECT_EQ(Parts("://h/x")[2], 3u);
    EXPECT_EQ(Parts("://h/x")[3], 1u);
    // Everything before the first "://" is the scheme, wherever it is.
    EXPECT_EQ(Parts("h/x?u=http://y")[1], 10u);
    // Later colons belong to the port.
    EXPECT_EQ(Parts("http://h:1:2/")[4], 9u);
    EXPECT_EQ(Parts("http://h:1:2/")[5], 3u);
    // Host starting with '/': empty host and port.
    EXPECT_EQ(Parts("http:///p"), (V{0, 4, 7, 0, 7, 0, 7, 2, 9, 0, 9, 0}));
    // A '?' after '#' belongs to the fragment.
    EXPECT_EQ(Parts("http://h/a#b?c"), (V{0, 4, 7, 1, 8, 0, 8, 2, 10, 0, 10, 4}));
    EXPECT_EQ(Parts(""), V(12, 0));
    EXPECT_EQ(Parts(nullptr), V(12, 0));
}

TEST(UrlAnalyzer, StepsOverDoubleByteCharacters) {
    // 0x81 0x3A: a CP949 character whose trail byte is ':'; not a port.
    const char url[] = "http://\x81:h/\x81\x41?x";
    auto p = Parts(url, 949);
    EXPECT_EQ(p[3], 3u);  // host: the character (2) and 'h'
    EXPECT_EQ(p[5], 0u);
    EXPECT_EQ(p[7], 3u);  // "/" and the character
    EXPECT_EQ(p[9], 2u);
    // A lead byte at the very end stands alone.
    EXPECT_EQ(Parts("http://h/\x81", 949)[7], 2u);
}

TEST(UrlAnalyzer, RefusesUtfCodePages) {
    Url u;
    for (unsigned cp : {65001u, 65000u}) {
        try {
            u.Analyze("http://h", cp);
            FAIL();
        } catch (const httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_STREQ(e.errmsg(),
                         "CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the "
                         "CodePage parameter.");
        }
    }
}

std::vector<std::string> Names(const CHttpClientMapT<char>& m) {
    std::vector<std::string> out;
    for (unsigned i = 0; i < m.Count(); ++i)
        out.push_back(m.Name(i));
    return out;
}

TEST(ClientMap, OrdersByNameIgnoringCaseAndKeepsDuplicatesInArrivalOrder) {
    CHttpClientMapT<char> m;
    m.Add("avsMemberID", "id");
    m.Add("avsMemberKey", "key");
    m.Add("aviFileType", "1");
    m.Add("avoFileName", "/tmp/p", ParamFile);
    EXPECT_EQ(Names(m), (std::vector<std::string>{"aviFileType", "avoFileName", "avsMemberID",
                                                  "avsMemberKey"}));
    EXPECT_EQ(m.Attr(1), ParamFile);
    EXPECT_STREQ(m.Value(1), "/tmp/p");

    CHttpClientMapT<char> d;
    d.Add("name", "older");
    d.Add("b", "x");
    d.Add("Name", "newer");
    d.Add("NAME", nullptr);
    d.Add("~", "t");  // after every letter
    d.Add("_", "u");  // 0x5F: before the letters, which compare as lower case
    EXPECT_EQ(Names(d), (std::vector<std::string>{"_", "b", "name", "Name", "NAME", "~"}));
    EXPECT_STREQ(d.Value(2), "older");
    EXPECT_STREQ(d.Value(3), "newer");
    EXPECT_EQ(d.Value(4), nullptr);
    EXPECT_EQ(d.Count("nAmE"), 3u);
    EXPECT_EQ(d.Count(), 6u);
    EXPECT_EQ(d.Count("none"), 0u);
}

TEST(ClientMap, CopiesTextsAndRefusesNullNames) {
    CHttpClientMapT<char> m;
    std::string name = "k";
    std::string value = "v";
    m.Add(name.c_str(), value.c_str());
    name[0] = 'X';
    value[0] = 'Y';
    EXPECT_STREQ(m.Name(0), "k");
    EXPECT_STREQ(m.Value(0), "v");
    try {
        m.Add(nullptr, "v");
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpClientMapT::Add: szName can not be NULL.");
    }
    try {
        m.AddPointerDirectly(nullptr, CopyText("v"), 0);
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_STREQ(e.errmsg(), "CHttpClientMapT::AddPointerDirectly: szName can not be NULL.");
    }
    EXPECT_EQ(m.Count(), 1u);
}

TEST(PostStat, InactiveStatisticsRefuseEveryAccessor) {
    CHttpPostStatT<char> s;
    EXPECT_FALSE(s.IsActive());
    auto message = [](auto f) -> std::string {
        try {
            f();
        } catch (const httpclientexceptionA& e) {
            EXPECT_EQ(e.ErrorCode(), 0);
            return e.errmsg();
        }
        return "no exception";
    };
    EXPECT_EQ(message([&] { s.CurrParamIsFile(); }),
              "CHttpPostStatT::CurrParamIsFile: The post context is not active.");
    EXPECT_EQ(message([&] { s.TotalCount(); }),
              "CHttpPostStatT::TotalCount: The post context is not active.");
    EXPECT_EQ(message([&] { s.IsBodyComplete(); }),
              "CHttpPostStatT::ActualTotalByte: The post context is not active.");
    EXPECT_EQ(message([&] { s.CurrParamPostedByte(); }),
              "CHttpPostStatT::CurrParamPostedByte: The post context is not active.");
    EXPECT_EQ(message([&] { s.CurrParamTotalByte(); }),
              "CHttpPostStatT::CurrParamTotalByte: The post context is not active.");

    CHttpPostStatT<char> copy;
    copy = s;
    EXPECT_FALSE(copy.IsActive());
}

}  // namespace
}  // namespace Vutra
