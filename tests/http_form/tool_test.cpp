#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>

#include "http/form/http_tool.h"
#include "platform/guid.h"
#include "support/temp_dir.h"

namespace Vutra {
namespace {

// The code-0 message of f's httpclientexceptionA, or a note that none came.
template <typename F>
std::string CheckMessage(F f) {
    try {
        f();
    } catch (const httpclientexceptionA& e) {
        if (e.ErrorCode() != 0 || e.SystemLastError() != 0)
            return "unexpected code";
        return e.errmsg();
    }
    return "no exception";
}

HINTERNET Fake() {
    return reinterpret_cast<HINTERNET>(0x1);
}  // checks fail before any use

TEST(ToolA, ArgumentChecksInOrder) {
    const BYTE byte = 0;
    EXPECT_EQ(
        CheckMessage([] { CHttpToolA::OpenConnection(nullptr, nullptr, 80, nullptr, nullptr); }),
        "CHttpToolA::OpenConnection: hInternet can not be NULL.");
    EXPECT_EQ(
        CheckMessage([] { CHttpToolA::OpenConnection(Fake(), nullptr, 80, nullptr, nullptr); }),
        "CHttpToolA::OpenConnection: szServerAddr can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::OpenConnection(Fake(), "", 80, nullptr, nullptr); }),
              "CHttpToolA::OpenConnection: szServerAddr can not be an empty string.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::OpenRequest(nullptr, "GET", nullptr, 0, nullptr); }),
              "CHttpToolA::OpenRequest: hConnection can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::OpenRequest(Fake(), "GET", nullptr, 0, nullptr); }),
              "CHttpToolA::OpenRequest: szObjectName can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::OpenRequest(Fake(), "GET", "", 0, nullptr); }),
              "CHttpToolA::OpenRequest: szObjectName can not be an empty string.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::AddHeader(nullptr, nullptr, "v"); }),
              "CHttpToolA::AddHeader: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::AddHeader(Fake(), nullptr, "v"); }),
              "CHttpToolA::AddHeader: szName can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::SendRequest(nullptr, nullptr); }),
              "CHttpToolA::SendRequest: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::SendRequestEx(nullptr, 10); }),
              "CHttpToolA::SendRequestEx: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([&] { CHttpToolA::InternetWriteFile(nullptr, &byte, 1); }),
              "CHttpToolA::InternetWriteFile: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::InternetWriteFile(Fake(), nullptr, 1); }),
              "CHttpToolA::InternetWriteFile: pbyBuff can not be NULL.");
    EXPECT_EQ(CheckMessage([&] { CHttpToolA::InternetWriteFile(Fake(), &byte, 0); }),
              "CHttpToolA::InternetWriteFile: cbyBuff can not be zero.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::EndRequest(nullptr); }),
              "CHttpToolA::EndRequest: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::GetFileSize(nullptr, "p"); }),
              "CHttpToolA::GetFileSize: hFile can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::GetFileSize(INVALID_HANDLE_VALUE, nullptr); }),
              "CHttpToolA::GetFileSize: szFilePath can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::GetStatusText(nullptr); }),
              "CHttpToolA::GetStatusText: hRequest can not be NULL.");
    EXPECT_EQ(CheckMessage([] { CHttpToolA::GetMimeType(nullptr, 0); }),
              "CHttpToolA::GetMimeType: hFile can not be NULL.");
    // The code page is refused before the text is looked at.
    EXPECT_EQ(CheckMessage([] { CHttpToolA::Unicode2Ansi(nullptr, 65001); }),
              "CHttpToolA::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
              "parameter.");
    // The wide form's refusal reaches narrow callers as httpclientexceptionA.
    EXPECT_EQ(CheckMessage([] { CHttpToolA::GetMimeType(INVALID_HANDLE_VALUE, 65000); }),
              "CHttpToolW::GetMimeType: CP_UTF8 and CP_UTF7 can not be used for the CodePage "
              "parameter.");
}

TEST(ToolA, FailedPlatformCallsCarryTheirCodeAndSystemError) {
    try {
        CHttpToolA::SendRequest(Fake(), nullptr);  // not a handle the stack knows
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_EQ(e.ErrorCode(), 406);
        EXPECT_STREQ(e.errmsg(), "::HttpSendRequest failed.");
        EXPECT_NE(e.SystemLastError(), 0u);
    }
}

TEST(ToolW, CodePageConversions) {
    try {
        CHttpToolW::Ansi2Unicode("a", 65001);
        FAIL();
    } catch (const httpclientexceptionW& e) {
        EXPECT_STREQ(e.errmsg(),
                     L"CHttpToolW::Ansi2Unicode: CP_UTF8 and CP_UTF7 can not be used for the "
                     L"CodePage parameter.");
        EXPECT_EQ(e.ErrorCode(), 0);
    }
    EXPECT_EQ(CHttpToolW::Ansi2Unicode(nullptr, 0), nullptr);
    OwnedTextW wide = CHttpToolW::Ansi2Unicode("x\xC7\xD1", 949);
    EXPECT_STREQ(wide.get(), L"x\uD55C");
    OwnedTextA back = CHttpToolW::Unicode2Ansi(wide.get(), 949);
    EXPECT_STREQ(back.get(), "x\xC7\xD1");
    EXPECT_STREQ(CHttpToolA::Unicode2Ansi(L"\uD55C", 0).get(), "\xED\x95\x9C");
    try {
        CHttpToolW::Ansi2Unicode("x\xC7", 949);  // lead byte without its trail byte
        FAIL();
    } catch (const httpclientexceptionW& e) {
        EXPECT_EQ(e.ErrorCode(), 601);
        EXPECT_STREQ(e.errmsg(), L"::MultiByteToWideChar failed.");
    }
    try {
        CHttpToolA::Unicode2Ansi(L"\u0E01", 949);  // not in CP949
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_EQ(e.ErrorCode(), 600);
        EXPECT_NE(e.SystemLastError(), 0u);
    }
}

class MimeTest : public ::testing::Test {
protected:
    // Opens a file holding bytes, positioned at offset.
    HANDLE Open(const std::string& bytes, off_t offset = 0) {
        const std::string path = m_dir / ("f" + std::to_string(m_count++));
        skiv::test::WriteFile(path, bytes);
        HANDLE h = OpenFileForRead(path.c_str());
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        m_open.push_back(h);
        if (offset) {
            BYTE skip[64];
            std::uint32_t got = 0;
            EXPECT_TRUE(ReadFileHandle(h, skip, static_cast<std::uint32_t>(offset), &got));
        }
        return h;
    }
    static off_t Position(HANDLE h) {
        // The descriptor is the handle value minus one.
        const int fd = static_cast<int>(reinterpret_cast<std::uintptr_t>(h) - 1);
        return ::lseek(fd, 0, SEEK_CUR);
    }
    ~MimeTest() override {
        for (HANDLE h : m_open)
            CloseFileHandle(h);
    }
    skiv::test::TempDir m_dir;
    std::vector<HANDLE> m_open;
    int m_count = 0;
};

TEST_F(MimeTest, UnknownContentIsOctetStreamAndThePositionIsBackAtTheStart) {
    std::string junk = skiv::test::RandomBytes(5000, 7);
    junk[0] = '\x01';
    junk[1] = '\xFE';
    HANDLE h = Open(junk);
    EXPECT_STREQ(CHttpToolA::GetMimeType(h, 0).get(), "application/octet-stream");
    EXPECT_EQ(Position(h), 0);
    EXPECT_STREQ(CHttpToolA::GetMimeType(INVALID_HANDLE_VALUE, 0).get(),
                 "application/octet-stream");
}

TEST_F(MimeTest, KnownContentIsTyped) {
    static const char kPngHead[] =
        "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x10\x08\x02\0\0\0";
    const std::string png(kPngHead, sizeof kPngHead - 1);
    HANDLE h = Open(png + std::string(1000, '\0'));
    EXPECT_STREQ(CHttpToolA::GetMimeType(h, 0).get(), "image/png");
    EXPECT_EQ(Position(h), 0);
    // gzip magic, as in an uploaded package.
    HANDLE gz = Open(std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10) + "xxxx");
    EXPECT_STREQ(CHttpToolA::GetMimeType(gz, 0).get(), "application/gzip");
}

TEST_F(MimeTest, FileSize) {
    HANDLE h = Open(std::string(12345, 'a'));
    EXPECT_EQ(CHttpToolA::GetFileSize(h, "x"), 12345u);
    EXPECT_EQ(OpenFileForRead((m_dir / "missing").c_str()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenFileForRead(m_dir.path().c_str()), INVALID_HANDLE_VALUE);  // a folder
    try {
        CHttpToolA::GetFileSize(INVALID_HANDLE_VALUE, "/some/file");
        FAIL();
    } catch (const httpclientexceptionA& e) {
        EXPECT_EQ(e.ErrorCode(), 605);
        EXPECT_STREQ(e.errmsg(), "::GetFileSize failed (\"/some/file\").");
        EXPECT_NE(e.SystemLastError(), 0u);
    }
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

TEST(Boundary, FreshGuidEachTimeInTheFixedFormat) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        OwnedTextA b = CHttpToolA::GenerateBoundary();
        ASSERT_NE(b, nullptr);
        ASSERT_TRUE(IsBoundary(b.get())) << b.get();
        seen.insert(b.get());
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_FALSE(IsBoundary("----VUTRA-FB3B405B7EAE495aB0C0295C54D4E096-"));  // the check bites
}

}  // namespace
}  // namespace Vutra
