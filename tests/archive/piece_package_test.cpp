// The package in pieces: what gzip makes of it, what a save after a few
// changes compresses again, and caches that must not be trusted.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/piece_cache.h"
#include "archive/piece_package.h"
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

// A small target so that a few dozen files make many pieces, and one file
// spans several.
constexpr std::int64_t kTarget = 16 * 1024;

class PiecePackage : public ::testing::Test {
protected:
    void SetUp() override {
        game = dir / "game/";
        for (int i = 0; i < 40; ++i) {
            const std::string folder = i < 30 ? "Interface/AddOns/A" + std::to_string(i / 6) + "/"
                                              : "WTF/Account/SavedVariables/";
            std::filesystem::create_directories(game + folder);
            WriteFile(game + folder + "f" + std::to_string(i) + ".lua",
                      test::RandomBytes(500 + 300 * i, i) + std::string(2000, 'x'));
        }
        WriteFile(game + "Interface/AddOns/A0/big.blp", test::RandomBytes(70 * 1024, 99));
    }

    // The set's archive as the archive writer writes it, and its package.
    struct Made {
        PackagePlan plan;
        PackageResult result;
        std::string archive;
    };
    Made Make(const std::string& package, const PieceCache* cache) {
        ArchiveWriter writer;
        std::vector<std::string> files;
        for (auto& e : std::filesystem::recursive_directory_iterator(game))
            if (e.is_regular_file())
                files.push_back(e.path().string());
        std::sort(files.begin(), files.end());
        for (const std::string& f : files) {
            const std::string rel = f.substr(game.size());
            const std::string folder = rel.substr(0, rel.rfind('/') + 1);
            writer.SetSourceFolder(game + folder);
            EXPECT_EQ(writer.AddFile(rel.substr(folder.size()), folder, game + folder),
                      WriteOutcome::Ok);
        }
        Made m;
        m.plan = PlanPackage(writer, kTarget);
        EXPECT_EQ(WritePackage(m.plan, package, cache, m.result, log), ResultCode::Ok);
        EXPECT_EQ(writer.WriteArchive("archive", dir.path()), WriteOutcome::Ok);
        m.archive = ReadFile(dir / "archive");
        return m;
    }

    std::string Gunzip(const std::string& package) {
        auto r = test::RunCommand("gzip -dc " + test::ShellQuote(package) + " > " +
                                  test::ShellQuote(dir / "gunzipped"));
        EXPECT_EQ(r.status, 0) << r.output;
        return ReadFile(dir / "gunzipped");
    }

    TempDir dir;
    RecordingLog log;
    std::string game;
};

TEST_F(PiecePackage, GunzipsToTheArchiveAndASecondSaveCompressesOnlyWhatChanged) {
    const std::string cacheFolder = PieceCache::FolderFor(game, dir / "cache");
    Made first = Make(dir / "p1", nullptr);
    EXPECT_EQ(Gunzip(dir / "p1"), first.archive);
    ASSERT_GT(first.plan.pieces.size(), 8u);
    EXPECT_EQ(first.result.compressed, int(first.plan.pieces.size()));
    // Add-on pieces may be shared, saved variables never; no piece mixes.
    for (const Piece& p : first.plan.pieces)
        for (const PieceSpan& s : p.spans)
            EXPECT_EQ(p.shared, s.path.rfind("Interface/AddOns/", 0) == 0) << s.path;
    ASSERT_TRUE(PieceCache::Store(cacheFolder, game, first.plan, first.result, dir / "p1", log));

    // One file grows; another gets new bytes of the same size under its old
    // modification time, which its change stamp (or, without one, the
    // content check) still gives away.
    const std::string grown = game + "WTF/Account/SavedVariables/f35.lua";
    WriteFile(grown, ReadFile(grown) + "-- more");
    const std::string same = game + "Interface/AddOns/A1/f7.lua";
    const auto time = std::filesystem::last_write_time(same);
    std::string bytes = ReadFile(same);
    bytes[10] ^= 1;
    WriteFile(same, bytes);
    std::filesystem::last_write_time(same, time);

    PieceCache cache;
    ASSERT_TRUE(cache.Load(cacheFolder, game));
    Made second = Make(dir / "p2", &cache);
    EXPECT_EQ(cache.ChangedFiles(second.plan), 1);  // the time-keeping change is not counted
    Made fresh = Make(dir / "p3", nullptr);
    // The table, the grown file's piece and the silently changed one.
    EXPECT_EQ(second.result.compressed, 3);
    EXPECT_EQ(second.result.reused, int(second.plan.pieces.size()) - 3);
    EXPECT_EQ(ReadFile(dir / "p2"), ReadFile(dir / "p3"));
    EXPECT_EQ(second.result.sha256, fresh.result.sha256);
    EXPECT_EQ(Gunzip(dir / "p2"), fresh.archive);
}

TEST_F(PiecePackage, CutCorruptedOrForeignCachesAreNotTrusted) {
    const std::string cacheFolder = PieceCache::FolderFor(game, dir / "cache");
    Made first = Make(dir / "p1", nullptr);
    ASSERT_TRUE(PieceCache::Store(cacheFolder, game, first.plan, first.result, dir / "p1", log));
    const std::string index = ReadFile(cacheFolder + "index");
    PieceCache cache;

    // Another game folder's cache, a cut index, a cut package.
    EXPECT_FALSE(cache.Load(cacheFolder, dir / "other/"));
    WriteFile(cacheFolder + "index", index.substr(0, index.size() - 40));
    EXPECT_FALSE(cache.Load(cacheFolder, game));
    WriteFile(cacheFolder + "index", index);
    const std::string package = ReadFile(cacheFolder + "package");
    std::filesystem::remove(cacheFolder + "package");
    WriteFile(cacheFolder + "package", package.substr(0, package.size() - 1));
    EXPECT_FALSE(cache.Load(cacheFolder, game));

    // A flipped byte inside one cached piece: that piece is made afresh and
    // the package is still the right one.
    std::string corrupt = package;
    const Piece& victim = first.plan.pieces[3];
    corrupt[std::size_t(victim.offset + victim.bytes / 2)] ^= 0x40;
    std::filesystem::remove(cacheFolder + "package");
    WriteFile(cacheFolder + "package", corrupt);
    ASSERT_TRUE(cache.Load(cacheFolder, game));
    Made second = Make(dir / "p2", &cache);
    EXPECT_EQ(second.result.compressed, 2);  // the table and the corrupted piece
    EXPECT_EQ(ReadFile(dir / "p2"), ReadFile(dir / "p1"));
}

}  // namespace
}  // namespace skiv
