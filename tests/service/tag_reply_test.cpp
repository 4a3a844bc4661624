// Reading the service's tag replies: codes, stored values, log lines.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <vector>

#include "service/tag_reply.h"
#include "support/log_lines.h"

namespace skiv {
namespace {

using test::RecordingLog;
using ::testing::ElementsAre;

class LoginReplyTest : public ::testing::Test {
protected:
    int Validate(const char* reply) {
        return Number(ValidateLoginResponse(reply, {size, date, type, key, up, down}, log));
    }
    std::int32_t size = -1, type = -1;
    std::string date = "old", key = "old", up = "old", down = "old";
    RecordingLog log;
};

constexpr const char* kSuccess =
    "<error>0</error><filesize>2465792</filesize><savedate>2007-05-07 09:05</savedate>"
    "<filetype>2</filetype><memberkey>K&amp;1</memberkey><uploadURL>https://h/u</uploadURL>"
    "<downloadURL>https://h/d/</downloadURL>";

TEST_F(LoginReplyTest, SuccessStoresTheSixValuesVerbatim) {
    EXPECT_EQ(Validate(kSuccess), 0);
    EXPECT_EQ(size, 2465792);
    EXPECT_EQ(date, "2007-05-07 09:05");
    EXPECT_EQ(type, 2);
    EXPECT_EQ(key, "K&amp;1");  // no entity decoding
    EXPECT_EQ(up, "https://h/u");
    EXPECT_EQ(down, "https://h/d/");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(LoginReplyTest, ErrorNumbersMapToCodes) {
    EXPECT_EQ(Validate("<error>3</error><errormsg>bad</errormsg>"), 1023);
    EXPECT_EQ(Validate("<error>5</error><errormsg>x</errormsg>"), 1025);
    EXPECT_EQ(Validate("<error>4</error><errormsg>정지</errormsg>"), 1024);
    EXPECT_EQ(Validate("<error>7</error><errormsg>x</errormsg>"), 1026);
    EXPECT_EQ(Validate("<error>-1</error><errormsg>x</errormsg>"), 1026);
    EXPECT_EQ(log.lines[2], "[ValidateLoginResponse]ValidateLoginResponse Get Error:(4)(정지)");
    // An error without its message is a malformed reply, not a refusal.
    EXPECT_EQ(Validate("<error>3</error>"), 1020);
    // The message is searched after the error, not before it.
    EXPECT_EQ(Validate("<errormsg>x</errormsg><error>3</error>"), 1020);
}

TEST_F(LoginReplyTest, MissingOrMisorderedTagsAreInvalid) {
    EXPECT_EQ(Validate(nullptr), 1019);
    EXPECT_EQ(Validate("no tags"), 1020);
    EXPECT_EQ(Validate("<error>0"), 1020);
    // savedate before filesize: filesize is found, savedate is not after it.
    EXPECT_EQ(Validate("<error>0</error><savedate>d</savedate><filesize>1</filesize>"
                       "<filetype>1</filetype><memberkey>k</memberkey><uploadURL>u</uploadURL>"
                       "<downloadURL>d</downloadURL>"),
              1020);
    EXPECT_THAT(log.lines,
                ElementsAre("[ValidateLoginResponse]ValidateLoginResponse Invalid Param",
                            "[ValidateLoginResponse]ValidateLoginResponse Invalid Resp",
                            "[ValidateLoginResponse]ValidateLoginResponse Invalid Resp",
                            "[ValidateLoginResponse]ValidateLoginResponse Invalid Resp"));
}

TEST_F(LoginReplyTest, ValuesBeforeAMissingTagStayStored) {
    std::string cut(kSuccess);
    cut = cut.substr(0, cut.find("<downloadURL>"));
    EXPECT_EQ(Validate(cut.c_str()), 1020);
    EXPECT_EQ(size, 2465792);
    EXPECT_EQ(up, "https://h/u");
    EXPECT_EQ(down, "old");
}

TEST_F(LoginReplyTest, NumbersReadAsAtoiDoes) {
    EXPECT_EQ(TagInteger("  42abc"), 42);
    EXPECT_EQ(TagInteger("-7"), -7);
    EXPECT_EQ(TagInteger("x"), 0);
    EXPECT_EQ(TagInteger(""), 0);
    EXPECT_EQ(TagInteger("99999999999"), INT32_MAX);
    // A letter as the error number counts as 0: the success tags are needed.
    EXPECT_EQ(Validate("<error>A</error><errormsg>x</errormsg>"), 1020);
}

TEST_F(LoginReplyTest, ValueTooLongForTheWorkBufferIsInvalid) {
    std::string reply(kSuccess);
    reply.replace(reply.find("https://h/u"), 11, std::string(8192, 'u'));
    EXPECT_EQ(Validate(reply.c_str()), 1020);
    reply.replace(reply.find(std::string(8192, 'u')), 8192, std::string(8191, 'u'));
    EXPECT_EQ(Validate(reply.c_str()), 0);
    EXPECT_EQ(up.size(), 8191u);
}

TEST(PackageCheckTag, ReadOnlyAfterTheSixValuesAndOnlyWhenWellFormed) {
    const std::string hex(64, 'a');
    const std::string good =
        std::string(kSuccess) + "<packagecheck>" + hex + " 12 34567</packagecheck>";
    auto check = ReadPackageCheck(good.c_str());
    ASSERT_TRUE(check);
    EXPECT_EQ(check->sha256, hex);
    EXPECT_EQ(check->entries, 12);
    EXPECT_EQ(check->bytes, 34567);
    EXPECT_EQ(
        ReadPackageCheck(
            (std::string(kSuccess) + "<packagecheck>" + hex + " -1 -1</packagecheck>").c_str())
            ->entries,
        -1);
    for (const std::string& bad :
         {std::string(kSuccess),                                      // an older service
          "<packagecheck>" + hex + " 1 2</packagecheck>" + kSuccess,  // before the six
          std::string(kSuccess) + "<packagecheck>" + hex.substr(1) + " 1 2</packagecheck>",
          std::string(kSuccess) + "<packagecheck>" + hex + " 1 2 x</packagecheck>",
          std::string(kSuccess) + "<packagecheck>" + hex + " 1</packagecheck>"}) {
        EXPECT_FALSE(ReadPackageCheck(bad.c_str())) << bad;
    }
    EXPECT_FALSE(ReadPackageCheck(nullptr));
}

TEST(UploadReply, CodesAndLines) {
    RecordingLog log;
    EXPECT_EQ(Number(ValidateUploadResponse("<error>0</error>", log)), 0);
    EXPECT_EQ(Number(ValidateUploadResponse("<error>3</error><errormsg>too big</errormsg>", log)),
              1029);
    EXPECT_EQ(Number(ValidateUploadResponse("<error>3</error>", log)), 1020);
    EXPECT_EQ(Number(ValidateUploadResponse("<error>4</error><errormsg>k</errormsg>", log)), 1030);
    EXPECT_EQ(Number(ValidateUploadResponse("<error>5</error><errormsg>k</errormsg>", log)), 1031);
    EXPECT_EQ(Number(ValidateUploadResponse(nullptr, log)), 1019);
    EXPECT_EQ(log.lines[0],
              "[ValidateUploadResponse]ValidateUploadResponse Get Error:(3)(too big)");
    EXPECT_EQ(log.lines[1], "[ValidateUploadResponse]ValidateUploadResponse Invalid Resp");
    EXPECT_EQ(log.lines.back(), "[ValidateUploadResponse]ValidateUploadResponse Invalid Param");
}

}  // namespace
}  // namespace skiv
