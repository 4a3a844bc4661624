#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/form/http_error.h"
#include "http/form/safe_int.h"

namespace Vutra {
namespace {

// Runs f, which must throw httpclientexceptionA, and returns the exception.
template <typename F>
httpclientexceptionA Catch(F f) {
    try {
        f();
    } catch (const httpclientexceptionA& e) {
        return e;
    }
    ADD_FAILURE() << "no httpclientexceptionA thrown";
    return httpclientexceptionA();
}

TEST(ErrorModel, MessagesOwnedCopiedAndNullWhenAbsent) {
    errmsg_exceptionA none;
    EXPECT_STREQ(none.errmsg(), "NULL");
    EXPECT_STREQ(none.what(), "NULL");

    std::string text = "first";
    httpclientexceptionA e(text.c_str(), 105, 2);
    text[0] = 'X';  // the exception holds its own copy
    EXPECT_STREQ(e.errmsg(), "first");

    httpclientexceptionA copy(e);
    EXPECT_STREQ(copy.errmsg(), "first");
    EXPECT_NE(copy.errmsg(), e.errmsg());
    EXPECT_EQ(copy.ErrorCode(), 105);
    EXPECT_EQ(copy.SystemLastError(), 2u);

    copy.seterrmsg(nullptr);
    EXPECT_STREQ(copy.errmsg(), "NULL");
    copy = e;
    EXPECT_STREQ(copy.errmsg(), "first");
    copy = copy;  // self-assignment keeps the message
    EXPECT_STREQ(copy.errmsg(), "first");
}

TEST(ErrorModel, WideClassesNameThemselvesInWhat) {
    httpclientexceptionW w(L"wide text", 3, 4);
    EXPECT_STREQ(w.what(), "httpclientexceptionW");
    EXPECT_STREQ(w.errmsg(), L"wide text");
    errmsg_exceptionW base;
    EXPECT_STREQ(base.what(), "errmsg_exceptionW");
    EXPECT_STREQ(base.errmsg(), L"NULL");
    httpclientexceptionW copy(w);
    EXPECT_STREQ(copy.errmsg(), L"wide text");
    EXPECT_EQ(copy.ErrorCode(), 3);
    EXPECT_EQ(copy.SystemLastError(), 4u);
}

TEST(ErrorModel, TableByGroup) {
    EXPECT_STREQ(GetErrorMessageA(0), "Not specified");
    EXPECT_STREQ(GetErrorMessageA(100), "Unexpected error occurred.");
    EXPECT_STREQ(GetErrorMessageA(102), "Out of memory.");
    EXPECT_STREQ(GetErrorMessageA(107), "The port number is not valid.");
    EXPECT_STREQ(GetErrorMessageA(113), "An interger divide by zero exception has been occurred.");
    EXPECT_STREQ(GetErrorMessageA(114), "The file (%s) aleady exists.");
    EXPECT_STREQ(GetErrorMessageA(200), "");
    EXPECT_STREQ(GetErrorMessageA(400), "::HttpQueryInfo failed.");
    EXPECT_STREQ(GetErrorMessageA(410), "::InternetSetOption failed.");
    EXPECT_STREQ(GetErrorMessageA(600), "::WideCharToMultiByte failed.");
    EXPECT_STREQ(GetErrorMessageA(603), "OpenFile (::CreateFile) failed (\"%s\").");
    EXPECT_STREQ(GetErrorMessageA(606), "::WriteFile failed (\"%s\").");
    EXPECT_STREQ(GetErrorMessageA(1000), "user-defined error message");
    EXPECT_STREQ(GetErrorMessageA(1234), "user-defined error message");
    // Unlisted codes inside a group have no text.
    for (int code : {1, 99, 115, 201, 300, 411, 607, 700, 999, -1}) {
        EXPECT_EQ(GetErrorMessageA(code), nullptr) << code;
        EXPECT_EQ(GetErrorMessageW(code), nullptr) << code;
    }
}

TEST(ErrorModel, WideTableHoldsTheSameTexts) {
    for (int code = 0; code < 1100; ++code) {
        const char* a = GetErrorMessageA(code);
        const wchar_t* w = GetErrorMessageW(code);
        ASSERT_EQ(a == nullptr, w == nullptr) << code;
        if (!a)
            continue;
        ASSERT_EQ(std::strlen(a), std::wcslen(w)) << code;
        for (std::size_t i = 0; a[i]; ++i)
            ASSERT_EQ(static_cast<wchar_t>(a[i]), w[i]) << code;
    }
}

TEST(ErrorModel, ThrowOperations) {
    auto byCode = Catch([] { ThrowException(kErrInvalidUrl); });
    EXPECT_EQ(byCode.ErrorCode(), 103);
    EXPECT_EQ(byCode.SystemLastError(), 0u);
    EXPECT_STREQ(byCode.errmsg(), "The requested URL is not a valid URL.");

    auto byText =
        Catch([] { ThrowException("CHttpToolA::EndRequest: hRequest can not be NULL."); });
    EXPECT_EQ(byText.ErrorCode(), 0);
    EXPECT_EQ(byText.SystemLastError(), 0u);
    EXPECT_STREQ(byText.errmsg(), "CHttpToolA::EndRequest: hRequest can not be NULL.");

    auto system = Catch([] { ThrowSystemError(kErrInternetWriteFile, 12030); });
    EXPECT_EQ(system.ErrorCode(), 408);
    EXPECT_EQ(system.SystemLastError(), 12030u);
    EXPECT_STREQ(system.errmsg(), "::InternetWriteFile failed.");

    auto file = Catch([] { ThrowException(kErrGetFileSize, 5, "/tmp/a%sb.ksp"); });
    EXPECT_EQ(file.ErrorCode(), 605);
    EXPECT_EQ(file.SystemLastError(), 5u);
    EXPECT_STREQ(file.errmsg(), "::GetFileSize failed (\"/tmp/a%sb.ksp\").");

    auto bare = Catch([] { ThrowException(kErrGetFileSize, 5, nullptr); });
    EXPECT_STREQ(bare.errmsg(), "::GetFileSize failed (\"%s\").");
}

TEST(ErrorModel, LongFileNameIsCutAt511Characters) {
    const std::string name(600, 'n');
    auto e = Catch([&] { ThrowException(kErrOpenFile, 2, name.c_str()); });
    const std::string msg = e.errmsg();
    EXPECT_EQ(msg.size(), 511u);
    EXPECT_EQ(msg.rfind("OpenFile (::CreateFile) failed (\"nnn", 0), 0u);
}

TEST(ErrorModel, WideAndNarrowConversions) {
    try {
        ThrowExceptionW("Korean \xED\x95\x9C text", 601, 7);
        FAIL();
    } catch (const httpclientexceptionW& w) {
        EXPECT_STREQ(w.errmsg(), L"Korean \uD55C text");
        EXPECT_EQ(w.ErrorCode(), 601);
        EXPECT_EQ(w.SystemLastError(), 7u);
        auto a = Catch([&] { ThrowNarrowFromWide(w); });
        EXPECT_STREQ(a.errmsg(), "Korean \xED\x95\x9C text");
        EXPECT_EQ(a.ErrorCode(), 601);
        EXPECT_EQ(a.SystemLastError(), 7u);
    }
    // A text that does not convert leaves the exception without a message.
    try {
        ThrowExceptionW("bad \xFF byte", 0, 0);
        FAIL();
    } catch (const httpclientexceptionW& w) {
        EXPECT_STREQ(w.errmsg(), L"NULL");
    }
    try {
        ThrowExceptionW(kErrReadFile);
        FAIL();
    } catch (const httpclientexceptionW& w) {
        EXPECT_STREQ(w.errmsg(), L"::ReadFile failed.");
        EXPECT_EQ(w.ErrorCode(), 602);
    }
}

TEST(ErrorModel, ArithmeticFailuresMapToTheirCodes) {
    EXPECT_EQ(Catch([] { ThrowArithmetic(kIntegerDivideByZeroCode); }).ErrorCode(), 113);
    EXPECT_EQ(Catch([] { ThrowArithmetic(kArithmeticOverflowCode); }).ErrorCode(), 112);
    EXPECT_EQ(Catch([] { ThrowArithmetic(1); }).ErrorCode(), 111);
    auto overflow = Catch([] { CheckedAdd<std::uint32_t>(0xFFFFFFF0u, 0x10u); });
    EXPECT_EQ(overflow.ErrorCode(), 112);
    EXPECT_STREQ(overflow.errmsg(), "An arithmetic overflow error has been occurred.");
    EXPECT_EQ(CheckedAdd<std::uint32_t>(0xFFFFFFF0u, 0x0Fu), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace Vutra
