#include "form_fields.h"

#include <gtest/gtest.h>

namespace skiv::server {
namespace {

TEST(FormFieldsTest, DecodesPercentEscapesAndPlus) {
    EXPECT_EQ(DecodeFormComponent("a%26b%3Dc%2Bd%25e+f"), "a&b=c+d%e f");
    EXPECT_EQ(DecodeFormComponent("%ea%b8%80"), "\xea\xb8\x80");  // lower-case hex
    EXPECT_EQ(DecodeFormComponent("%00x"), std::string("\0x", 2));
}

TEST(FormFieldsTest, KeepsAPercentThatIsNotAnEscape) {
    EXPECT_EQ(DecodeFormComponent("100%"), "100%");
    EXPECT_EQ(DecodeFormComponent("%4"), "%4");
    EXPECT_EQ(DecodeFormComponent("%zz%41"), "%zzA");
    EXPECT_EQ(DecodeFormComponent("%%41"), "%A");
}

TEST(FormFieldsTest, SplitsPairsFirstValueWins) {
    auto f = ParseForm("a=1&&b&c=&a=2&d=x=y&%61%62=z");
    EXPECT_EQ(f.at("a"), "1");
    EXPECT_EQ(f.at("b"), "");
    EXPECT_EQ(f.at("c"), "");
    EXPECT_EQ(f.at("d"), "x=y");
    EXPECT_EQ(f.at("ab"), "z");
    EXPECT_EQ(f.size(), 5u);
    EXPECT_TRUE(ParseForm("").empty());
}

TEST(FormFieldsTest, FindsCookieByExactName) {
    EXPECT_EQ(CookieValue("x_skiv_reg=1; skiv_reg=abc ;other=2", "skiv_reg"), "abc");
    EXPECT_EQ(CookieValue("skiv_reg=", "skiv_reg"), "");
    EXPECT_FALSE(CookieValue("skiv=1; reg", "skiv_reg").has_value());
}

}  // namespace
}  // namespace skiv::server
