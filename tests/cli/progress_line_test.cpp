// The terminal progress line: the bytes it claims for a bar position, and
// what it keeps when the terminal is narrow.

#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace skiv::cli {
namespace {

TEST(ProgressLine, BytesFollowTheTransferAndTheLineFitsAnyWidth) {
    constexpr std::int64_t kTotal = 150'000'000;
    // The exchanges move the bar from 10 to 90 as the transfer goes.
    EXPECT_EQ(TransferredBytes(10, kTotal, 10, 90), 0);
    EXPECT_EQ(TransferredBytes(50, kTotal, 10, 90), kTotal / 2);
    EXPECT_EQ(TransferredBytes(90, kTotal, 10, 90), kTotal);
    EXPECT_EQ(TransferredBytes(95, kTotal, 10, 90), kTotal);
    EXPECT_EQ(TransferredBytes(100, kTotal, 10, 90), kTotal);
    EXPECT_EQ(TransferredBytes(5, kTotal, 10, 90), 0);

    ProgressFacts f;
    f.step = "내셋팅 저장";  // 11 columns: Hangul takes two each
    f.percent = 42;
    f.totalBytes = kTotal;
    f.doneBytes = TransferredBytes(42, kTotal, 10, 90);
    f.bytesPerSecond = 12'000'000;
    f.secondsLeft = 7;
    const std::string wide = FormatProgressLine(f, 120);
    EXPECT_NE(wide.find(" 42%"), std::string::npos) << wide;
    EXPECT_NE(wide.find("/s"), std::string::npos) << wide;
    EXPECT_NE(wide.find("남은 시간"), std::string::npos) << wide;
    // Narrower terminals drop the rate first, then the time left, then the
    // bytes; the step's start and the percent always stay.
    int rateGone = 0, etaGone = 0, bytesGone = 0;
    for (int columns = 120; columns >= 10; --columns) {
        const std::string line = FormatProgressLine(f, columns);
        EXPECT_LT(DisplayWidth(line), columns) << columns << ": " << line;
        EXPECT_NE(line.find(" 42%"), std::string::npos) << columns << ": " << line;
        EXPECT_EQ(line.rfind("내", 0), 0u) << columns << ": " << line;
        if (!rateGone && line.find("/s") == std::string::npos)
            rateGone = columns;
        if (!etaGone && line.find("남은 시간") == std::string::npos)
            etaGone = columns;
        if (!bytesGone && line.find("MB") == std::string::npos)
            bytesGone = columns;
    }
    EXPECT_GT(rateGone, etaGone);
    EXPECT_GT(etaGone, bytesGone);
    EXPECT_GT(bytesGone, 0);
}

}  // namespace
}  // namespace skiv::cli
