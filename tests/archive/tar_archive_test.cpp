// The archive writer and reader against the byte layout of the format.

#include <gtest/gtest.h>

#include <cstring>

#include "archive/tar_archive.h"
#include "archive/tar_reader.h"
#include "platform/fs.h"
#include "support/faults.h"
#include "support/temp_dir.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::int32_t IntAt(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(v);
}

// A zero-padded string field: the text, then only zeros to the width.
void ExpectField(const std::string& bytes, std::size_t at, std::size_t width,
                 const std::string& text) {
    EXPECT_EQ(bytes.substr(at, text.size()), text);
    EXPECT_EQ(bytes.substr(at + text.size(), width - text.size()),
              std::string(width - text.size(), '\0'));
}

TEST(TarWriter, EmptyArchiveIsHeadOnly) {
    TempDir dir;
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    ASSERT_EQ(tar.WriteArchive("a.kso"), WriteOutcome::Ok);
    std::string bytes = ReadFile(dir / "a.kso");
    ASSERT_EQ(bytes.size(), 516u);
    EXPECT_EQ(bytes, std::string(516, '\0'));
}

TEST(TarWriter, LayoutOfTwoFilesIsByteExact) {
    TempDir dir;
    WriteFile(dir / "Interface/AddOns/x.lua", "abc");
    WriteFile(dir / "WTF/Config.wtf", "12345");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir / "Interface/AddOns");  // no final slash: one is added
    ASSERT_EQ(tar.AddFile("x.lua", "Interface/AddOns/", dir / "Interface/AddOns/"),
              WriteOutcome::Ok);
    tar.SetSourceFolder(dir / "WTF/");
    ASSERT_EQ(tar.AddFile("Config.wtf", "WTF/", dir / "WTF/"), WriteOutcome::Ok);
    ASSERT_EQ(tar.WriteArchive("t.kso", dir.path()), WriteOutcome::Ok);

    std::string b = ReadFile(dir / "t.kso");
    ASSERT_EQ(b.size(), 2084u);
    EXPECT_EQ(IntAt(b, 512), 2);
    // First entry at 516, second at 1296.
    EXPECT_EQ(IntAt(b, 516), 2076);
    EXPECT_EQ(IntAt(b, 520), 3);
    ExpectField(b, 516 + 8, 256, "x.lua");
    ExpectField(b, 516 + 264, 256, "Interface\\AddOns\\");  // '\' on every platform
    ExpectField(b, 516 + 520, 260, dir / "Interface/AddOns/");
    EXPECT_EQ(IntAt(b, 1296), 2079);
    EXPECT_EQ(IntAt(b, 1300), 5);
    ExpectField(b, 1296 + 264, 256, "WTF\\");
    EXPECT_EQ(b.substr(2076), "abc12345");
}

// Names inside an archive are code page 949 on every platform, so a set
// saved on one computer unpacks under the same names on another. The bytes
// come from iconv -t CP949, not from the code under test.
TEST(TarWriter, KoreanNamesAreCodePage949InTheArchiveAndUtf8WhenRead) {
    TempDir dir;
    const std::string folder = "WTF/Account/NAME/서버/캐릭터/SavedVariables/";
    WriteFile(dir / (folder + "설정.lua"), "settings");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir / folder);
    ASSERT_EQ(tar.AddFile("설정.lua", folder, dir / folder), WriteOutcome::Ok);
    ASSERT_EQ(tar.WriteArchive("k.kso", dir.path()), WriteOutcome::Ok);

    const std::string b = ReadFile(dir / "k.kso");
    ExpectField(b, 516 + 8, 256, "\xbc\xb3\xc1\xa4.lua");  // 설정
    ExpectField(b, 516 + 264, 256,
                "WTF\\Account\\NAME\\\xbc\xad\xb9\xf6\\\xc4\xb3\xb8\xaf\xc5\xcd"
                "\\SavedVariables\\");  // 서버, 캐릭터

    ArchiveReader reader;
    ASSERT_EQ(reader.Open(dir / "k.kso"), ReadOutcome::Ok);
    TarEntry e;
    ASSERT_EQ(reader.Entry(0, e), ReadOutcome::Ok);
    EXPECT_EQ(e.folder, folder);
    EXPECT_EQ(e.fileName, "설정.lua");
    EXPECT_EQ(e.sourceFolder, dir / folder);
    // A name code page 949 cannot express has no form in the archive.
    EXPECT_EQ(tar.AddFile("\xf0\x9f\x98\x80.lua", "", dir.path()), WriteOutcome::CannotOpen);
}

TEST(TarWriter, ZeroByteFileSharesTheNextOffset) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "ten", "0123456789");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    ASSERT_EQ(tar.AddFile("empty", "", dir.path()), WriteOutcome::Ok);
    ASSERT_EQ(tar.AddFile("ten", "", dir.path()), WriteOutcome::Ok);
    ASSERT_EQ(tar.WriteArchive("t.kso"), WriteOutcome::Ok);
    std::string b = ReadFile(dir / "t.kso");
    EXPECT_EQ(IntAt(b, 516), IntAt(b, 516 + 780));
    EXPECT_EQ(IntAt(b, 516), 516 + 2 * 780);
    EXPECT_EQ(b.size(), 516u + 2 * 780 + 10);
}

TEST(TarWriter, RefusesWhatItCannotRecord) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    EXPECT_EQ(tar.AddFile("missing", "", dir.path()), WriteOutcome::CannotOpen);
    EXPECT_EQ(tar.AddFile(std::string(300, 'n'), "", dir.path()), WriteOutcome::CannotOpen);
    EXPECT_EQ(tar.AddFile("f", std::string(256, 'd') + "/", dir.path()), WriteOutcome::CannotOpen);
    {
        test::HeldFile held(dir / "f");  // another program holds it without sharing
        EXPECT_EQ(tar.AddFile("f", "", dir.path()), WriteOutcome::CannotOpen);
    }
    EXPECT_EQ(tar.Header().count, 0);
    EXPECT_EQ(tar.AddFile("f", "", dir.path()), WriteOutcome::Ok);
}

TEST(TarWriter, StopsAtTheEntryLimit) {
    TempDir dir;
    WriteFile(dir / "f", "x");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    for (int i = 0; i < kTarMaxEntries; ++i)
        ASSERT_EQ(tar.AddFile("f", "", dir.path()), WriteOutcome::Ok);
    EXPECT_EQ(tar.AddFile("f", "", dir.path()), WriteOutcome::Full);
    EXPECT_EQ(tar.Header().count, kTarMaxEntries);
}

TEST(TarWriter, RewritingTruncatesAndChangedFilesKeepOffsets) {
    TempDir dir;
    WriteFile(dir / "t.kso", std::string(10000, 'z'));
    WriteFile(dir / "a", "aaaa");
    WriteFile(dir / "b", "bb");
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    ASSERT_EQ(tar.AddFile("a", "", dir.path()), WriteOutcome::Ok);
    ASSERT_EQ(tar.AddFile("b", "", dir.path()), WriteOutcome::Ok);
    // Between sizing and writing, a shrinks to nothing and b grows.
    test::RemoveTree(dir / "a");
    WriteFile(dir / "b", "bbbbbbbb");
    ASSERT_EQ(tar.WriteArchive("t.kso"), WriteOutcome::Ok);
    std::string b = ReadFile(dir / "t.kso");
    ASSERT_EQ(b.size(), 516u + 2 * 780 + 6);
    EXPECT_EQ(b.substr(516 + 2 * 780), std::string(4, '\0') + "bb");
}

TEST(TarWriter, FullDiskIsAFailure) {
    TempDir dir;
    WriteFile(dir / "big", test::RandomBytes(64 * 1024, 1));
    ArchiveWriter tar;
    tar.SetSourceFolder(dir.path());
    ASSERT_EQ(tar.AddFile("big", "", dir.path()), WriteOutcome::Ok);
    test::FileSizeCeiling ceiling(8 * 1024);
    EXPECT_EQ(tar.WriteArchive("t.kso"), WriteOutcome::CannotOpen);
}

class TarReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "src/one", "first file");
        WriteFile(dir / "src/two", test::RandomBytes(300000, 7));
        ArchiveWriter tar;
        tar.SetSourceFolder(dir / "src");
        ASSERT_EQ(tar.AddFile("one", "Interface/A/B/", dir / "src"), WriteOutcome::Ok);
        ASSERT_EQ(tar.AddFile("two", "", dir / "src"), WriteOutcome::Ok);
        ASSERT_EQ(tar.WriteArchive("t.kso", dir.path()), WriteOutcome::Ok);
        archive = dir / "t.kso";
    }
    TempDir dir;
    std::string archive;
};

TEST_F(TarReaderTest, ReadsBackWhatWasWritten) {
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(archive), ReadOutcome::Ok);
    EXPECT_EQ(reader.Header().count, 2);
    TarEntry one, two;
    ASSERT_EQ(reader.Entry(0, one), ReadOutcome::Ok);
    EXPECT_EQ(one.fileName, "one");
    EXPECT_EQ(one.folder, "Interface/A/B/");  // native separators again
    EXPECT_EQ(one.dataOffset, 516 + 2 * 780);
    ASSERT_EQ(reader.Entry(1, two), ReadOutcome::Ok);
    EXPECT_EQ(two.dataSize, 300000);
    ASSERT_EQ(reader.Extract(two, dir / "out"), ReadOutcome::Ok);
    EXPECT_EQ(ReadFile(dir / "out"), ReadFile(dir / "src/two"));
    // An existing longer file is replaced, not overlaid.
    WriteFile(dir / "out1", std::string(50, 'q'));
    ASSERT_EQ(reader.Extract(one, dir / "out1"), ReadOutcome::Ok);
    EXPECT_EQ(ReadFile(dir / "out1"), "first file");
}

TEST_F(TarReaderTest, ReportsMissingAndShortArchives) {
    ArchiveReader reader;
    EXPECT_EQ(reader.Open(dir / "nope.kso"), ReadOutcome::NoArchive);
    WriteFile(dir / "short", std::string(100, 'x'));
    ASSERT_EQ(reader.Open(dir / "short"), ReadOutcome::Ok);
    EXPECT_EQ(reader.Header().count, 0);  // the rest of the head reads as zeros
    TarEntry e;
    EXPECT_EQ(reader.Entry(0, e), ReadOutcome::NoArchive);
    ASSERT_EQ(reader.Open(archive), ReadOutcome::Ok);
    EXPECT_EQ(reader.Entry(2, e), ReadOutcome::NoArchive);
    EXPECT_EQ(reader.Entry(-1, e), ReadOutcome::NoArchive);
    ASSERT_EQ(reader.Entry(0, e), ReadOutcome::Ok);
    EXPECT_EQ(reader.Extract(e, dir / "no/such/folder/out"), ReadOutcome::NoOutput);
}

TEST_F(TarReaderTest, DamagedTableIsNeverFollowedOutsideTheFile) {
    std::string b = ReadFile(archive);
    // Claim a million entries: only the two records present are readable.
    b[512] = 0x40;
    b[513] = 0x42;
    b[514] = 0x0f;
    b[515] = 0;
    WriteFile(dir / "count.kso", b);
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(dir / "count.kso"), ReadOutcome::Ok);
    EXPECT_EQ(reader.Header().count, 1000000);
    EXPECT_LT(reader.ReadableEntries(), 1000000);
    TarEntry e;
    EXPECT_EQ(reader.Entry(reader.ReadableEntries(), e), ReadOutcome::NoArchive);

    // An entry whose bytes run past the end of the file is not copied.
    std::string c = ReadFile(archive);
    c[516 + 780 + 7] = '\x01';  // second entry's size grows by 16 MiB
    WriteFile(dir / "size.kso", c);
    ASSERT_EQ(reader.Open(dir / "size.kso"), ReadOutcome::Ok);
    ASSERT_EQ(reader.Entry(1, e), ReadOutcome::Ok);
    EXPECT_EQ(reader.Extract(e, dir / "o"), ReadOutcome::CannotCopy);
    std::string d = ReadFile(archive);
    d[516 + 3] = '\xff';  // negative offset
    WriteFile(dir / "neg.kso", d);
    ASSERT_EQ(reader.Open(dir / "neg.kso"), ReadOutcome::Ok);
    ASSERT_EQ(reader.Entry(0, e), ReadOutcome::Ok);
    EXPECT_EQ(reader.Extract(e, dir / "o"), ReadOutcome::CannotCopy);
}

TEST(TarReader, EntryPathsMustStayBelowTheBase) {
    EXPECT_TRUE(IsSafeEntryPath("Interface/A/", "x.lua"));
    EXPECT_TRUE(IsSafeEntryPath("", "x.lua"));
    EXPECT_TRUE(IsSafeEntryPath("WTF/..hidden/", "..x"));
    EXPECT_FALSE(IsSafeEntryPath("../", "x"));
    EXPECT_FALSE(IsSafeEntryPath("Interface/../../", "x"));
    EXPECT_FALSE(IsSafeEntryPath("/etc/", "passwd"));
    EXPECT_FALSE(IsSafeEntryPath("WTF/", ".."));
    EXPECT_FALSE(IsSafeEntryPath("WTF/", "a/b"));
    EXPECT_FALSE(IsSafeEntryPath("WTF/", ""));
    // A backslash-separated folder from the archive is converted first.
    EXPECT_FALSE(IsSafeEntryPath(FromArchiveFolder("..\\..\\"), "x"));
}

}  // namespace
}  // namespace skiv

namespace skiv {
namespace {

TEST(TarWriter, FailedRewriteKeepsThePreviousArchive) {
    test::TempDir dir;
    test::WriteFile(dir / "small", "s");
    test::WriteFile(dir / "big", test::RandomBytes(64 * 1024, 2));
    ArchiveWriter first;
    first.SetSourceFolder(dir.path());
    ASSERT_EQ(first.AddFile("small", "", dir.path()), WriteOutcome::Ok);
    ASSERT_EQ(first.WriteArchive("backup.kso"), WriteOutcome::Ok);
    const std::string before = test::ReadFile(dir / "backup.kso");

    ArchiveWriter second;
    second.SetSourceFolder(dir.path());
    ASSERT_EQ(second.AddFile("big", "", dir.path()), WriteOutcome::Ok);
    {
        test::FileSizeCeiling ceiling(16 * 1024);
        EXPECT_EQ(second.WriteArchive("backup.kso"), WriteOutcome::CannotOpen);
    }
    EXPECT_EQ(test::ReadFile(dir / "backup.kso"), before);
    EXPECT_FALSE(fs::Exists(dir / "backup.kso.part"));
}

}  // namespace
}  // namespace skiv
