// Header store rules that the wire tests do not reach.

#include <gtest/gtest.h>

#include "platform/wininet/header_list.h"

namespace skiv::wininet::detail {
namespace {

TEST(HeaderList, BlocksSplitOnLineBreaksAndNamesIgnoreCase) {
    HeaderList list;
    EXPECT_EQ(list.Apply("A: 1\nb:2\r\n\r\n  \r\nC :  three words \r\n", 0), ERROR_SUCCESS);
    ASSERT_EQ(list.Items().size(), 3u);
    EXPECT_EQ(*list.Find("a"), "1");
    EXPECT_EQ(*list.Find("B"), "2");
    EXPECT_EQ(*list.Find("c"), "three words");
    EXPECT_EQ(list.Find("D"), nullptr);
}

TEST(HeaderList, ReplaceWithAddCreatesAndEmptyValueRemovesEveryCopy) {
    HeaderList list;
    const DWORD replace_add = HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD;
    EXPECT_EQ(list.ApplyOne("X", "", replace_add), ERROR_SUCCESS);
    EXPECT_TRUE(list.Items().empty());
    EXPECT_EQ(list.ApplyOne("X", "1", replace_add), ERROR_SUCCESS);
    EXPECT_EQ(list.ApplyOne("Y", "y", 0), ERROR_SUCCESS);
    EXPECT_EQ(list.ApplyOne("x", "2", 0), ERROR_SUCCESS);
    EXPECT_EQ(list.ApplyOne("X", "3", HTTP_ADDREQ_FLAG_REPLACE), ERROR_SUCCESS);
    ASSERT_EQ(list.Items().size(), 2u);
    EXPECT_EQ(list.Items()[0].second, "3");  // the first copy keeps its place
    EXPECT_EQ(list.Items()[1].first, "Y");
    EXPECT_EQ(list.ApplyOne("x", "", HTTP_ADDREQ_FLAG_REPLACE), ERROR_SUCCESS);
    EXPECT_FALSE(list.Has("X"));
}

TEST(HeaderList, MalformedNamesAndValuesAreRefused) {
    HeaderList list;
    EXPECT_EQ(list.Apply("No colon here\r\n", 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_EQ(list.Apply(": empty name\r\n", 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_EQ(list.Apply("Bad Name: v\r\n", 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_EQ(list.ApplyOne("V", "a\rb", 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_EQ(list.ApplyOne("V", std::string_view("a\0b", 3), 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_TRUE(list.Items().empty());
    // Lines before the bad one stay, as WinINet leaves them.
    EXPECT_EQ(list.Apply("Good: 1\r\nbad\r\n", 0), ERROR_HTTP_INVALID_HEADER);
    EXPECT_TRUE(list.Has("Good"));
}

}  // namespace
}  // namespace skiv::wininet::detail
