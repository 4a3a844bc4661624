// Delta exchanges with the real service: saves send only the pieces it
// lacks, installs fetch only the pieces the computer's cache lacks, older
// versions install by number, and a corrupted cache changes nothing.

#include <filesystem>

#include "e2e_fixture.h"

namespace skiv::test {
namespace {

class DeltaEndToEnd : public EndToEnd {
protected:
    DeltaEndToEnd() { ::setenv("XDG_CACHE_HOME", cacheHome.path().c_str(), 1); }
    TempDir cacheHome;
};

void MakeBigSet(const std::string& game, unsigned seed) {
    for (int a = 0; a < 12; ++a)
        for (int f = 0; f < 8; ++f)
            WriteFile(
                game + "Interface/AddOns/A" + std::to_string(a) + "/f" + std::to_string(f) + ".lua",
                RandomBytes(30000, seed + a * 8 + f));
    for (int f = 0; f < 6; ++f)
        WriteFile(game + "WTF/Account/ME/SavedVariables/S" + std::to_string(f) + ".lua",
                  RandomBytes(20000, seed + 500 + f));
}

TEST_F(DeltaEndToEnd, SavesAndInstallsMoveOnlyChangedPiecesAndOlderVersionsInstall) {
    auto a = NewComputer();
    MakeBigSet(a->game, 1);
    const TreeSnapshot first = SnapshotTree(a->game + "WTF");
    a->LogIn();
    ASSERT_FALSE(a->ctl.Session().deltaBase.empty());
    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->ctl.LastWorkerResult(), ResultCode::Ok) << a->window.LastMessage();
    const std::int64_t full = *fs::FileSize(a->game + "Backup/SkivAddon.ksp");
    EXPECT_EQ(a->ctl.Session().lastSentBytes, full);

    // One saved-variables file changes: the table and its piece go out.
    WriteFile(a->game + "WTF/Account/ME/SavedVariables/S2.lua", RandomBytes(20100, 77));
    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->ctl.LastWorkerResult(), ResultCode::Ok) << a->window.LastMessage();
    EXPECT_EQ(a->ctl.Session().lastPiecesCompressed, 2);
    EXPECT_LT(a->ctl.Session().lastSentBytes, full / 10);

    // Another computer installs the whole; after a further save it fetches
    // only the difference.
    auto b = NewComputer();
    b->LogIn();
    b->Press(&Controller::InstallSet);
    ASSERT_EQ(b->ctl.LastWorkerResult(), ResultCode::Ok) << b->window.LastMessage();
    EXPECT_EQ(SnapshotTree(b->game + "Interface"), SnapshotTree(a->game + "Interface"));
    EXPECT_EQ(SnapshotTree(b->game + "WTF"), SnapshotTree(a->game + "WTF"));
    EXPECT_GE(b->ctl.Session().lastFetchedBytes, full - 100);

    WriteFile(a->game + "Interface/AddOns/A3/f1.lua", RandomBytes(30000, 78));
    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->ctl.LastWorkerResult(), ResultCode::Ok);
    b->Press(&Controller::InstallSet);
    ASSERT_EQ(b->ctl.LastWorkerResult(), ResultCode::Ok) << b->window.LastMessage();
    EXPECT_EQ(SnapshotTree(b->game + "Interface"), SnapshotTree(a->game + "Interface"));
    EXPECT_LT(b->ctl.Session().lastFetchedBytes, full / 10);

    std::vector<VersionInfo> versions;
    ASSERT_EQ(b->ctl.ListVersions(versions), ResultCode::Ok);
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[0].changed, 1);
    EXPECT_EQ(versions[2].changed, -1);

    // B's cache is corrupted; the oldest version still installs right.
    for (auto& e : std::filesystem::recursive_directory_iterator(cacheHome.path())) {
        if (e.path().filename() == "package") {
            std::string bytes = ReadFile(e.path());
            for (std::size_t i = 100; i < bytes.size(); i += 997)
                bytes[i] ^= 0x55;
            std::filesystem::remove(e.path());
            WriteFile(e.path(), bytes);
        }
    }
    TaskOptions options;
    options.installVersion = 3;
    b->window.SetTaskOptions(options);
    b->Press(&Controller::InstallSet);
    ASSERT_EQ(b->ctl.LastWorkerResult(), ResultCode::Ok) << b->window.LastMessage();
    EXPECT_EQ(SnapshotTree(b->game + "WTF"), first);

    // A version that is not kept: nothing of the game folder is touched.
    const TreeSnapshot before = SnapshotTree(b->game);
    options.installVersion = 9;
    b->window.SetTaskOptions(options);
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->ctl.LastWorkerResult(), ResultCode::DeltaNoVersion);
    EXPECT_EQ(SnapshotTree(b->game), before);
}

}  // namespace
}  // namespace skiv::test
