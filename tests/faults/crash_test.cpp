// skivaddon-cli killed with SIGKILL at each step of a save, an install and a
// roll back (SKIVADDON_CRASH_AT), against the real service. Whatever the
// step, the player's set must stay recoverable: from the game folder, from
// the backup archive (byte for byte through `skivaddon-cli unpack`), and the
// service must hold one whole stored set, never a part of one.

#include <signal.h>

#include <filesystem>

#include "faults/fault_fixture.h"
#include "platform/fs.h"
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
// the same process first (the install's before the roll back's).
enum class Base { None, InstallSwaps, StoredEntries };

// What the game folder holds once the next start has settled what the
// kill left: the set from before, or the new one whole.
enum class Holds { Before, New };

struct CrashCase {
    const char* point;
    int hit;  // 0: the first hit, no count given
    Base base;
    Holds holds;
    const char* told;           // what the next start tells the player, or nullptr
    bool newSetStored = false;  // save: the service holds the new set by then
    bool delta = false;         // through the delta exchanges, else the classic ones
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

constexpr const char* kCleaned = "지난번 애드온 교체(설치 또는 되돌리기)가 끝나지 않았습니다";
constexpr const char* kFinished = "도중에 멈춰 교체를 마저 끝냈습니다";

// The next start: a login (the roll back it asks for is refused, as no
// install ran in that session); what it printed.
std::string NextStart(const ServiceLauncher& svc, const std::string& game) {
    ChildResult r = RunAccount(svc, {"--game-folder", game, "rollback"});
    EXPECT_TRUE(r.Exited(1)) << r.Describe();
    EXPECT_NE(r.output.find("백업된 애드온이 없습니다"), std::string::npos) << r.Describe();
    return r.output;
}

void ExpectSettled(const std::string& game, const CrashCase& c, const std::string& told,
                   const TreeSnapshot& before, const TreeSnapshot& newSet) {
    const TreeSnapshot after = SnapshotTree(game);
    EXPECT_EQ(AddOnPart(after), c.holds == Holds::Before ? AddOnPart(before) : newSet);
    for (const char* gone : {"SkivAddonStaging/", "SkivAddonReplaced/"})
        EXPECT_FALSE(fs::Exists(game + gone)) << gone;
    if (c.told) {
        EXPECT_NE(told.find(c.told), std::string::npos) << told;
    } else {
        EXPECT_EQ(told.find("지난번 애드온 교체"), std::string::npos) << told;
    }
}

// ---- install -------------------------------------------------------------

class InstallCrash : public CrashFixture, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(InstallCrash, NextStartLeavesTheOldSetOrTheNewOne) {
    const CrashCase& c = GetParam();
    const std::string game = computers / "게임 폴더 B/";
    MakeAddOns(game, 20, kBig);
    // A backup left by an earlier install: kept, whatever the step.
    const std::string earlier = computers / "earlier/";
    MakeAddOns(earlier, 40, 1000);
    std::filesystem::create_directories(game + "Backup");
    ASSERT_TRUE(
        RunCliProcess({"pack", earlier, game + "Backup/SkivAddonBackup.kso"}, "").Exited(0));
    const std::string earlierBackup = ReadFile(game + "Backup/SkivAddonBackup.kso");
    const TreeSnapshot before = SnapshotTree(game);
    // The stored set is of type 1: Cache/ and Fonts/ stay as they were.
    TreeSnapshot newSet = AddOnPart(before);
    std::erase_if(newSet, [](const auto& kv) {
        return kv.first.rfind("Interface/", 0) == 0 || kv.first.rfind("WTF/", 0) == 0;
    });
    newSet.insert(storedBefore.begin(), storedBefore.end());

    const std::string point = std::string(c.point) + (c.hit ? ":" + std::to_string(c.hit) : "");
    ChildResult r = RunAccount(svc, {"--game-folder", game, "install"}, CrashEnv(c));
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << point << ": " << r.Describe();

    ExpectSettled(game, c, NextStart(svc, game), before, newSet);
    // The earlier backup is never lost: still the newest, or the next one
    // when this install's own backup got in.
    const std::string second = game + "Backup/SkivAddonBackup.2.kso";
    if (fs::Exists(second)) {
        EXPECT_EQ(ReadFile(second), earlierBackup);
        bool ok = false;
        EXPECT_EQ(UnpackWithCli(game + "Backup/SkivAddonBackup.kso", ok),
                  Packable(AddOnPart(before)));
        EXPECT_TRUE(ok);
    } else {
        EXPECT_EQ(c.holds, Holds::Before);
        EXPECT_EQ(ReadFile(game + "Backup/SkivAddonBackup.kso"), earlierBackup);
    }
    EXPECT_EQ(Stored(), storedBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InstallCrash,
    ::testing::Values(
        CrashCase{"download.chunk", 5, Base::None, Holds::Before, nullptr},
        CrashCase{"install.after-download", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"decompress.chunk", 2, Base::None, Holds::Before, nullptr},
        CrashCase{"install.after-decompress", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"pack.file", 2, Base::None, Holds::Before, nullptr},
        CrashCase{"backup.after-pack", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"backup.after-write", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"backup.shift", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"install.after-backup", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"unpack.file", 3, Base::None, Holds::Before, kCleaned},
        CrashCase{"install.after-stage", 0, Base::None, Holds::Before, kCleaned},
        CrashCase{"swap.after-mark", 0, Base::None, Holds::New, kFinished},
        CrashCase{"swap.folder", 1, Base::None, Holds::New, kFinished},
        CrashCase{"swap.after-swap", 0, Base::None, Holds::New, kFinished},
        CrashCase{"swap.after-unmark", 0, Base::None, Holds::New, kFinished},
        CrashCase{"swap.after-staging-removed", 0, Base::None, Holds::New, kFinished},
        CrashCase{"delete.file", 3, Base::None, Holds::New, kFinished},
        // The delta install fetches and checks the package
        // before it backs up or deletes anything.
        CrashCase{"fetch.piece", 3, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"install.after-fetch", 0, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"install.after-download", 0, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"unpack.file", 3, Base::None, Holds::Before, kCleaned, false, true}),
    PrintCase);

// A game folder without WTF/: the staged WTF/ is swapped in where there
// was none, and a kill right after must not make the next start take it
// for the game's own and set it aside.
TEST_F(CrashFixture, KillAfterSwappingInAFolderTheGameLackedKeepsIt) {
    const std::string game = computers / "no wtf/";
    MakeAddOns(game, 60, 1000);
    std::filesystem::remove_all(game + "WTF");
    ChildResult r =
        RunAccount(svc, {"--game-folder", game, "install"}, {"SKIVADDON_CRASH_AT=swap.folder:2"});
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << r.Describe();
    const std::string told = NextStart(svc, game);
    EXPECT_NE(told.find(kFinished), std::string::npos) << told;
    EXPECT_EQ(BasicPart(SnapshotTree(game)), storedBefore);
    EXPECT_FALSE(fs::Exists(game + "SkivAddonReplaced/"));
}

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
    ::testing::Values(
        CrashCase{"pack.file", 3, Base::None, Holds::Before, nullptr},
        CrashCase{"save.after-pack", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"save.after-archive", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"compress.chunk", 2, Base::None, Holds::Before, nullptr},
        CrashCase{"save.after-compress", 0, Base::None, Holds::Before, nullptr},
        CrashCase{"upload.chunk", 100, Base::None, Holds::Before, nullptr},
        CrashCase{"save.after-upload", 0, Base::None, Holds::Before, nullptr, true},
        CrashCase{"compress.chunk", 2, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"delta.after-missing", 0, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"delta.piece", 2, Base::None, Holds::Before, nullptr, false, true},
        CrashCase{"save.after-upload", 0, Base::None, Holds::Before, nullptr, true, true}),
    PrintCase);

// ---- roll back -----------------------------------------------------------

class RollbackCrash : public CrashFixture, public ::testing::WithParamInterface<CrashCase> {};

// Install and roll back run in one process (the roll back needs the backup
// of this run); the crash comes during the roll back. The next start leaves
// the installed set or the one the backup restores, whole.
TEST_P(RollbackCrash, NextStartLeavesTheInstalledSetOrTheRestoredOne) {
    const CrashCase& c = GetParam();
    const std::string game = computers / "roll back/";
    MakeAddOns(game, 50, kBig);
    const TreeSnapshot before = SnapshotTree(game);
    TreeSnapshot installed = AddOnPart(before);
    std::erase_if(installed, [](const auto& kv) {
        return kv.first.rfind("Interface/", 0) == 0 || kv.first.rfind("WTF/", 0) == 0;
    });
    installed.insert(storedBefore.begin(), storedBefore.end());

    int hit = c.hit;
    if (c.base == Base::InstallSwaps)
        hit += 2;  // Interface/ and WTF/
    if (c.base == Base::StoredEntries)
        hit += static_cast<int>(storedBefore.size());
    const std::string point = std::string(c.point) + (hit ? ":" + std::to_string(hit) : "");
    ChildResult r = RunAccount(svc, {"--game-folder", game, "install", "rollback"},
                               {"SKIVADDON_CRASH_AT=" + point});
    ASSERT_TRUE(r.KilledBy(SIGKILL)) << point << ": " << r.Describe();
    // The install finished before the roll back began.
    EXPECT_NE(r.output.find("애드온이 모두 세팅되었습니다"), std::string::npos) << r.output;

    const std::string told = NextStart(svc, game);
    const TreeSnapshot after = SnapshotTree(game);
    EXPECT_EQ(AddOnPart(after), c.holds == Holds::Before ? installed : Packable(AddOnPart(before)));
    if (c.told) {
        EXPECT_NE(told.find(c.told), std::string::npos) << told;
    }
    // The install's backup stays the newest, whatever the step.
    bool ok = false;
    EXPECT_EQ(UnpackWithCli(game + "Backup/SkivAddonBackup.kso", ok), Packable(AddOnPart(before)));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Stored(), storedBefore);
}

// Holds::Before here is the installed set: what the roll back replaces.
INSTANTIATE_TEST_SUITE_P(
    Steps, RollbackCrash,
    ::testing::Values(CrashCase{"unpack.file", 3, Base::StoredEntries, Holds::Before, kCleaned},
                      CrashCase{"rollback.after-stage", 0, Base::None, Holds::Before, kCleaned},
                      CrashCase{"rollback.after-backup", 0, Base::None, Holds::Before, kCleaned},
                      CrashCase{"swap.folder", 2, Base::InstallSwaps, Holds::New, kFinished}),
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
