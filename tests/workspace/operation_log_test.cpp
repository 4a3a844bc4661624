// The daily operation log: naming, line format, day change, sharing.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>

#include "support/temp_dir.h"
#include "workspace/operation_log.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::TempDir;

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST(OperationLog, LinesCarryTheTimeAndEndWithOneLineFeed) {
    TempDir dir;
    OperationLog log;
    log.SetFolder(dir.path());
    log.SetClockForTesting([] { return LocalTime(2007, 5, 7, 1, 5, 31); });
    EXPECT_TRUE(log.Write("[SaveAddOn]CompressFile Fail:(%d)", 1006));
    EXPECT_TRUE(log.Write("[Login]%s", "애드온 저장 실패"));
    EXPECT_EQ(ReadFile(dir / "KSOlog_20070507.log"),
              "2007-05-07 01:05:31 [SaveAddOn]CompressFile Fail:(1006)\n"
              "2007-05-07 01:05:31 [Login]애드온 저장 실패\n");
}

TEST(OperationLog, MidnightStartsANewFile) {
    TempDir dir;
    OperationLog log;
    log.SetFolder(dir.path());
    std::time_t now = LocalTime(2007, 5, 7, 23, 59, 59);
    log.SetClockForTesting([&] { return now; });
    log.Write("before");
    now += 1;
    log.Write("after");
    EXPECT_EQ(ReadFile(dir / "KSOlog_20070507.log"), "2007-05-07 23:59:59 before\n");
    EXPECT_EQ(ReadFile(dir / "KSOlog_20070508.log"), "2007-05-08 00:00:00 after\n");
}

TEST(OperationLog, ContinuesTheDaysFileAndRecreatesADeletedOne) {
    TempDir dir;
    auto clock = [] { return LocalTime(2020, 1, 2, 3, 4, 5); };
    {
        OperationLog first;
        first.SetFolder(dir.path());
        first.SetClockForTesting(clock);
        first.Write("run one");
    }
    OperationLog second;
    second.SetFolder(dir.path());
    second.SetClockForTesting(clock);
    second.Write("run two");
    const std::string file = dir / "KSOlog_20200102.log";
    EXPECT_EQ(ReadFile(file), "2020-01-02 03:04:05 run one\n2020-01-02 03:04:05 run two\n");
    test::RemoveTree(file);
    second.Write("again");
    EXPECT_EQ(ReadFile(file), "2020-01-02 03:04:05 again\n");
}

TEST(OperationLog, MissingFolderDropsTheLine) {
    TempDir dir;
    OperationLog log;
    log.SetFolder(dir / "no/such");
    EXPECT_FALSE(log.Write("lost"));
    EXPECT_FALSE(log.Write("lost too"));
}

TEST(OperationLog, LongMessagesAreCutButStayOneLine) {
    TempDir dir;
    OperationLog log;
    log.SetFolder(dir.path());
    log.SetClockForTesting([] { return LocalTime(2021, 6, 1, 12, 0, 0); });
    log.Write("%s", std::string(5000, 'x').c_str());
    log.Write("next");
    std::string text = ReadFile(dir / "KSOlog_20210601.log");
    auto first = text.find('\n');
    EXPECT_EQ(first, 2047u - 1);
    EXPECT_EQ(text.substr(first + 1 + 20), "next\n");
}

TEST(OperationLog, ConcurrentWritersNeverInterleave) {
    TempDir dir;
    OperationLog log;
    log.SetFolder(dir.path());
    // Read once: mktime re-reads the time zone on every call, which is not
    // the writers' business.
    const std::time_t noon = LocalTime(2021, 6, 1, 12, 0, 0);
    log.SetClockForTesting([noon] { return noon; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i)
                log.Write("thread %d line %d %s", t, i, "payload-payload");
        });
    }
    for (auto& th : threads)
        th.join();
    std::string text = ReadFile(dir / "KSOlog_20210601.log");
    // Every line whole and each written exactly once.
    std::set<std::pair<int, int>> seen;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string got = text.substr(start, nl - start);
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(got.c_str(), "2021-06-01 12:00:00 thread %d line %d", &t, &i), 2)
            << got;
        ASSERT_EQ(got, "2021-06-01 12:00:00 thread " + std::to_string(t) + " line " +
                           std::to_string(i) + " payload-payload");
        EXPECT_TRUE(seen.emplace(t, i).second) << got;
    }
    EXPECT_EQ(start, text.size());
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_TRUE(seen.begin()->first == 0 && seen.rbegin()->first == 3);
}

}  // namespace
}  // namespace skiv
