// The gzip package: round trips, foreign input and the failure codes.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdarg>
#include <vector>

#include "archive/gzip_package.h"
#include "support/faults.h"
#include "support/log_lines.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::RecordingLog;
using test::TempDir;
using test::WriteFile;

TEST(GzipPackage, RoundTripsByteForByte) {
    TempDir dir;
    RecordingLog log;
    for (std::size_t size : {std::size_t(0), std::size_t(128 * 100), std::size_t(1000003)}) {
        std::string data = test::RandomBytes(size, static_cast<unsigned>(size));
        WriteFile(dir / "a", data);
        ASSERT_EQ(CompressFile(dir / "a", dir / "p", log), ResultCode::Ok);
        std::string pkg = ReadFile(dir / "p");
        ASSERT_GE(pkg.size(), 18u);  // a valid gzip member even when empty
        EXPECT_EQ(static_cast<unsigned char>(pkg[0]), 0x1f);
        EXPECT_EQ(static_cast<unsigned char>(pkg[1]), 0x8b);
        ASSERT_EQ(DecompressFile(dir / "p", dir / "b", log), ResultCode::Ok);
        EXPECT_EQ(ReadFile(dir / "b"), data);
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST(GzipPackage, PackageIsReadableByPlainZlib) {
    TempDir dir;
    RecordingLog log;
    WriteFile(dir / "a", std::string(5000, 'k'));
    ASSERT_EQ(CompressFile(dir / "a", dir / "p", log), ResultCode::Ok);
    gzFile f = gzopen((dir / "p").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string out(6000, '\0');
    int n = gzread(f, out.data(), 6000);
    gzclose(f);
    EXPECT_EQ(n, 5000);
}

TEST(GzipPackage, InteroperatesWithTheSystemGzipBothWays) {
    TempDir dir;
    RecordingLog log;
    const std::string data = test::RandomBytes(300000, 4) + std::string(100000, 'a');
    WriteFile(dir / "a", data);
    ASSERT_EQ(CompressFile(dir / "a", dir / "ours.gz", log), ResultCode::Ok);
    auto r = test::RunCommand("gzip -dc " + test::ShellQuote(dir / "ours.gz") + " > " +
                              test::ShellQuote(dir / "theirs.out"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadFile(dir / "theirs.out"), data);
    r = test::RunCommand("gzip -9c " + test::ShellQuote(dir / "a") + " > " +
                         test::ShellQuote(dir / "theirs.gz"));
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(DecompressFile(dir / "theirs.gz", dir / "ours.out", log), ResultCode::Ok);
    EXPECT_EQ(ReadFile(dir / "ours.out"), data);
}

TEST(GzipPackage, DataThatIsNotGzipIsCopied) {
    TempDir dir;
    RecordingLog log;
    WriteFile(dir / "plain", "not gzip at all");
    ASSERT_EQ(DecompressFile(dir / "plain", dir / "out", log), ResultCode::Ok);
    EXPECT_EQ(ReadFile(dir / "out"), "not gzip at all");
}

TEST(GzipPackage, MissingFilesGiveTheirCodes) {
    TempDir dir;
    RecordingLog log;
    EXPECT_EQ(CompressFile(dir / "none", dir / "p", log), ResultCode::CannotOpenFile);
    EXPECT_EQ(DecompressFile(dir / "none", dir / "o", log), ResultCode::CannotOpenGzip);
    WriteFile(dir / "a", "x");
    EXPECT_EQ(CompressFile(dir / "a", dir / "no/folder/p", log), ResultCode::CannotOpenGzip);
    ASSERT_EQ(CompressFile(dir / "a", dir / "p", log), ResultCode::Ok);
    EXPECT_EQ(DecompressFile(dir / "p", dir / "no/folder/o", log), ResultCode::CannotOpenFile);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "[CompressFile]fopen Fail", "[DecompressFile]gzopen Fail",
                             "[CompressFile]gzopen Fail", "[DecompressFile]fopen Fail"}));
}

TEST(GzipPackage, TruncatedPackageIsAReadFailure) {
    TempDir dir;
    RecordingLog log;
    WriteFile(dir / "a", test::RandomBytes(200000, 3));
    ASSERT_EQ(CompressFile(dir / "a", dir / "p", log), ResultCode::Ok);
    std::string pkg = ReadFile(dir / "p");
    WriteFile(dir / "cut", pkg.substr(0, pkg.size() / 2));
    EXPECT_EQ(DecompressFile(dir / "cut", dir / "o", log), ResultCode::GzReadFailed);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("[DecompressFile]gzread Fail:(-", 0), 0u) << log.lines[0];
}

TEST(GzipPackage, FullDiskIsNeverSuccess) {
    TempDir dir;
    RecordingLog log;
    WriteFile(dir / "a", test::RandomBytes(400000, 9));  // incompressible
    ASSERT_EQ(CompressFile(dir / "a", dir / "p", log), ResultCode::Ok);
    test::FileSizeCeiling ceiling(64 * 1024);
    EXPECT_EQ(CompressFile(dir / "a", dir / "p2", log), ResultCode::GzWriteFailed);
    EXPECT_EQ(DecompressFile(dir / "p", dir / "o", log), ResultCode::WriteFailed);
}

}  // namespace
}  // namespace skiv
