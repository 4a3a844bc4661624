// skivaddon-cli killed with SIGKILL at each step of a save, an install and a
// roll back (SKIVADDON_CRASH_AT), against the real service. Whatever the
// step, the player's set must stay recoverable: from the game folder, from
// the backup archive (byte for byte through `skivaddon-cli unpack`), and the
// service must hold one whole stored set, never a part of one.

#include <signal.h>

#include <filesystem>

#include "faults/fault_fixture.h"
#include "support/process.h"

namespace skiv::test {
namespace {

constexpr std::size_t kBig = 300 * 1024;  // many download, upload and gzip chunks

class CrashFixture : public ::testing::Test {
protected:
    CrashFixture() {
        ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
        ::unsetenv("ProgramFiles");
        svc.AddMember(kFaultMember, kFaultPassword);
        // The set the service holds before each test: saved from a third
        // computer.
        const std::string other = computers / "other/";
        MakeAddOns(other, 30, kBig);
        storedBefore = Packable(BasicPart(SnapshotTree(other)));
        ChildResult r = RunAccount(svc, {"--game-folder", other, "save"});
        if (!r.Exited(0))
            throw std::runtime_error("first save failed: " + r.Describe());
    }

    TreeSnapshot Stored() { return StoredSet(svc); }

    TempDir prefix, computers;
    ServiceLauncher svc;
    TreeSnapshot storedBefore;
};

// Where a hit count starts: some points are reached by an earlier stage of
// the same process first (the install's delete before the roll back's).
enum class Base { None, InstallDeletes, StoredEntries };

struct CrashCase {
    const char* point;
    int hit;  // 0: the first hit, no count given
    Base base;
    bool backupWritten;  // the crash comes after the backup archive was renamed into place
    bool newSetStored;   // save: the service holds the new set by then
    bool delta = false;  // through the delta exchanges, else the classic ones
};

// The crash point, and the classic exchanges unless the case is a delta one.
std::vector<std::string> CrashEnv(const CrashCase& c) {
    std::vector<std::string> env = {"SKIVADDON_CRASH_AT=" + std::string(c.point) +
                                    (c.hit ? ":" + std::to_string(c.hit) : "")};
    if (!c.delta)
        env.push_back("SKIVADDON_NO_DELTA=1");
    return env;
}

std::string PrintCase(const ::testing::TestParamInfo<CrashCase>& info) {
    std::string name = std::string(info.param.delta ? "delta_" : "") + info.param.point;
    for (char& c : name)
        if (c == '.' || c == '-')
            c = '_';
    return name + (info.param.hit ? "_" + std::to_string(info.param.hit) : "");
}

// ---- install -------------------------------------------------------------

class InstallCrash : public CrashFixture, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(InstallCrash, LeavesTheSetRecoverable) {
    const CrashCase& c = GetParam();
    const std::string game = computers / "게임 폴더 B/";
    MakeAddOns(game, 20, kBig);
    // A backup left by an earlier install: it must survive a crash that
    // comes before the new one is complete.
    const std::string earlier = computers / "earlier/";
    MakeAddOns(earlier, 40, 1000);
    std::filesystem::create_directories(game + "Backup");
    ASSERT_TRUE(
        RunCliProcess({"pack", earlier, game + "Backup/SkivAddonBackup.kso"}, "").Exited(0));
    const std::string earlierBackup = ReadFile(game + "Backup/SkivAddonBackup.kso");
    const TreeSnapshot before = SnapshotTree(game);

    const std::string point = std::string(c.point) + (c.hit ? ":" + std::to_string(c.hit) : "");
    ChildResult r = RunAccount(svc, {"--game-folder", game, "install"}, CrashEnv(c));
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << point << ": " << r.Describe();

    const TreeSnapshot after = SnapshotTree(game);
    // The stored set is of type 1: Cache/ and Fonts/ are never touched.
    EXPECT_EQ(AddOnPart(after).size() - BasicPart(after).size(),
              AddOnPart(before).size() - BasicPart(before).size());
    for (const char* kept : {"Cache/WDB/data.wdb", "Fonts/ARIALN.TTF"})
        EXPECT_EQ(after.at(kept), before.at(kept)) << kept;

    const std::string backup = game + "Backup/SkivAddonBackup.kso";
    if (!c.backupWritten) {
        // Nothing deleted yet, and the earlier backup is whole.
        EXPECT_EQ(AddOnPart(after), AddOnPart(before));
        EXPECT_EQ(ReadFile(backup), earlierBackup);
    } else {
        bool ok = false;
        TreeSnapshot restored = UnpackWithCli(backup, ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(restored, Packable(AddOnPart(before)));
    }
    EXPECT_EQ(Stored(), storedBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InstallCrash,
    ::testing::Values(CrashCase{"pack.file", 2, Base::None, false, false},
                      CrashCase{"backup.after-pack", 0, Base::None, false, false},
                      CrashCase{"install.after-backup", 0, Base::None, true, false},
                      CrashCase{"delete.file", 3, Base::None, true, false},
                      CrashCase{"install.after-delete", 0, Base::None, true, false},
                      CrashCase{"download.chunk", 5, Base::None, true, false},
                      CrashCase{"install.after-download", 0, Base::None, true, false},
                      CrashCase{"decompress.chunk", 2, Base::None, true, false},
                      CrashCase{"install.after-decompress", 0, Base::None, true, false},
                      CrashCase{"unpack.file", 3, Base::None, true, false},
                      // The delta install fetches and checks the package
                      // before it backs up or deletes anything.
                      CrashCase{"fetch.piece", 3, Base::None, false, false, true},
                      CrashCase{"install.after-fetch", 0, Base::None, false, false, true},
                      CrashCase{"install.after-download", 0, Base::None, true, false, true},
                      CrashCase{"unpack.file", 3, Base::None, true, false, true}),
    PrintCase);

// ---- save ----------------------------------------------------------------

class SaveCrash : public CrashFixture, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(SaveCrash, StoresOneWholeSetAndAllowsTheNextSave) {
    const CrashCase& c = GetParam();
    const std::string game = computers / "save here/";
    MakeAddOns(game, 10, kBig);
    const TreeSnapshot before = SnapshotTree(game);
    const TreeSnapshot newSet = Packable(BasicPart(before));
    ASSERT_NE(newSet, storedBefore);

    const std::string point = std::string(c.point) + (c.hit ? ":" + std::to_string(c.hit) : "");
    ChildResult r = RunAccount(svc, {"--game-folder", game, "save"}, CrashEnv(c));
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << point << ": " << r.Describe();

    // A save reads the add-ons only.
    EXPECT_EQ(AddOnPart(SnapshotTree(game)), AddOnPart(before));
    EXPECT_EQ(Stored(), c.newSetStored ? newSet : storedBefore);

    // What the killed save left in Backup/ (a cut package, a half archive)
    // does not stop the next one.
    ChildResult again = RunAccount(svc, {"--game-folder", game, "save"});
    ASSERT_TRUE(again.Exited(0)) << again.Describe();
    EXPECT_EQ(Stored(), newSet);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SaveCrash,
    ::testing::Values(CrashCase{"pack.file", 3, Base::None, false, false},
                      CrashCase{"save.after-pack", 0, Base::None, false, false},
                      CrashCase{"save.after-archive", 0, Base::None, false, false},
                      CrashCase{"compress.chunk", 2, Base::None, false, false},
                      CrashCase{"save.after-compress", 0, Base::None, false, false},
                      CrashCase{"upload.chunk", 100, Base::None, false, false},
                      CrashCase{"save.after-upload", 0, Base::None, false, true},
                      CrashCase{"compress.chunk", 2, Base::None, false, false, true},
                      CrashCase{"delta.after-missing", 0, Base::None, false, false, true},
                      CrashCase{"delta.piece", 2, Base::None, false, false, true},
                      CrashCase{"save.after-upload", 0, Base::None, false, true, true}),
    PrintCase);

// ---- roll back -----------------------------------------------------------

class RollbackCrash : public CrashFixture, public ::testing::WithParamInterface<CrashCase> {};

// Install and roll back run in one process (the roll back needs the backup
// of this run); the crash comes during the roll back.
TEST_P(RollbackCrash, BackupStillRestoresTheSet) {
    const CrashCase& c = GetParam();
    const std::string game = computers / "roll back/";
    MakeAddOns(game, 50, kBig);
    const TreeSnapshot before = SnapshotTree(game);

    int hit = c.hit;
    if (c.base == Base::InstallDeletes)
        hit += static_cast<int>(CountFiles(game + "Interface") + CountFiles(game + "WTF"));
    if (c.base == Base::StoredEntries)
        hit += static_cast<int>(storedBefore.size());
    const std::string point = std::string(c.point) + (hit ? ":" + std::to_string(hit) : "");
    ChildResult r = RunAccount(svc, {"--game-folder", game, "install", "rollback"},
                               {"SKIVADDON_CRASH_AT=" + point});
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << point << ": " << r.Describe();
    // The install finished before the roll back began.
    EXPECT_NE(r.output.find("애드온이 모두 세팅되었습니다"), std::string::npos) << r.output;

    bool ok = false;
    TreeSnapshot restored = UnpackWithCli(game + "Backup/SkivAddonBackup.kso", ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(restored, Packable(AddOnPart(before)));
    EXPECT_EQ(Stored(), storedBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RollbackCrash,
    ::testing::Values(CrashCase{"delete.file", 2, Base::InstallDeletes, true, false},
                      CrashCase{"rollback.after-delete", 0, Base::None, true, false},
                      CrashCase{"unpack.file", 3, Base::StoredEntries, true, false}),
    PrintCase);

// ---- the facility itself ------------------------------------------------

TEST(CrashPointFacility, UnarmedOrMalformedPointsKillNothing) {
    // Archive commands reach the pack and unpack points; with no variable,
    // another point's name or a malformed count they run to the end.
    TempDir t;
    MakeAddOns(t / "g/", 1, 1000);
    for (const char* armed : {"", "install.after-backup", "pack.file:x", "pack.file:0"}) {
        ChildResult r = RunCliProcess({"pack", t / "g", t / "a.kso"}, "",
                                      {std::string("SKIVADDON_CRASH_AT=") + armed});
        EXPECT_TRUE(r.Exited(0)) << armed << ": " << r.Describe();
    }
    ChildResult killed =
        RunCliProcess({"pack", t / "g", t / "b.kso"}, "", {"SKIVADDON_CRASH_AT=pack.file:2"});
    EXPECT_TRUE(killed.KilledBy(SIGKILL)) << killed.Describe();
}

}  // namespace
}  // namespace skiv::test
