// Faults of the player's own disk, through skivaddon-cli against the real
// service: a disk that fills up while an install downloads, a game folder
// the program may not write, a file held by another program while an
// install deletes, and a game folder whose path has spaces and Korean
// names.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "archive/tar_reader.h"
#include "faults/fault_fixture.h"
#include "platform/result_codes.h"
#include "support/faults.h"
#include "support/process.h"

namespace skiv::test {
namespace {

namespace stdfs = std::filesystem;

constexpr const char* kInstalled = "애드온이 모두 세팅되었습니다";

class DiskFault : public ::testing::Test {
protected:
    DiskFault() {
        ::setenv("WINEPREFIX", prefix.path().c_str(), 1);
        ::unsetenv("ProgramFiles");
        // The child's own names come after this process's environment, and
        // the first of two equal names wins: the transfer tests in this
        // program leave theirs behind.
        ::unsetenv("SKIVADDON_CA_FILE");
        ::unsetenv("SKIVADDON_SERVICE_URL");
        svc.AddMember(kFaultMember, kFaultPassword);
    }

    // Saves the set of `seed` from a computer of its own; returns it as the
    // service then holds it.
    TreeSnapshot StoreSet(unsigned seed, std::size_t big) {
        const std::string other = computers / ("other " + std::to_string(seed) + "/");
        MakeAddOns(other, seed, big);
        ChildResult r = RunAccount(svc, {"--game-folder", other, "save"});
        EXPECT_TRUE(r.Exited(0)) << r.Describe();
        return Packable(BasicPart(SnapshotTree(other)));
    }

    TreeSnapshot Stored() { return StoredSet(svc); }

    TempDir prefix, computers;
    ServiceLauncher svc;
};

bool Says(const ChildResult& r, const std::string& text) {
    return r.output.find(text) != std::string::npos;
}

std::string FailedWith(const char* command, int code) {
    return std::string("skivaddon-cli: ") + command + " failed: (" + std::to_string(code) + ")";
}

// ---- a disk that fills up during the download ------------------------------

TEST_F(DiskFault, DiskFullDuringDownloadFailsAndLeavesTheSetAsItWas) {
    // The package is random data, well past the ceiling.
    constexpr std::uint64_t kCeiling = 256 * 1024;
    const TreeSnapshot stored = StoreSet(1, 900 * 1024);
    const std::string game = computers / "game/";
    MakeAddOns(game, 2, 2000);
    const TreeSnapshot before = SnapshotTree(game);

    ChildResult r;
    {
        FileSizeCeiling ceiling(kCeiling);  // inherited by the child
        // The classic download, which comes after the backup and delete.
        r = RunAccount(svc, {"--game-folder", game, "install"}, {"SKIVADDON_NO_DELTA=1"});
    }
    // The failing write is the package's, not a later step's.
    ASSERT_TRUE(r.Exited(1)) << r.Describe();
    EXPECT_TRUE(Says(r, FailedWith("install", Number(ResultCode::PackageWriteFailed))))
        << r.Describe();
    EXPECT_FALSE(Says(r, kInstalled)) << r.Describe();

    // The download comes before anything else: the set is exactly as it
    // was, and the cut package is not passed off as whole.
    const TreeSnapshot after = SnapshotTree(game);
    EXPECT_EQ(AddOnPart(after), AddOnPart(before));
    EXPECT_LE(after.at("Backup/SkivAddon.ksp").size(), kCeiling);
    EXPECT_FALSE(after.count("Backup/SkivAddonTar.kso"));
    EXPECT_EQ(Stored(), stored);

    // With room again the next install goes through over the cut package.
    ChildResult again = RunAccount(svc, {"--game-folder", game, "install"});
    ASSERT_TRUE(again.Exited(0)) << again.Describe();
    EXPECT_EQ(BasicPart(SnapshotTree(game)), stored);
}

// ---- a game folder the program may not write -------------------------------

// A place the unprivileged child can use: everything readable by all, the
// service's CA copied out of its private data folder, a log folder and a
// prefix of its own.
class ReadOnlyFolder : public DiskFault {
protected:
    void SetUp() override {
        // Permission bits do not stop root, and a file's owner may always
        // make it writable again: the game folder must belong to someone
        // else than the program, so the program runs as nobody.
        if (::geteuid() != 0)
            GTEST_SKIP()
                << "needs root to run skivaddon-cli as another user than the folder's owner";
        asNobody = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        stdfs::permissions(place.path(), stdfs::perms::owner_all | stdfs::perms::group_read |
                                             stdfs::perms::group_exec | stdfs::perms::others_read |
                                             stdfs::perms::others_exec);
        game = place / "게임 폴더/";
        stdfs::copy_file(svc.CaFile(), place / "ca.pem");
        for (const char* writable : {"state", "prefix"}) {
            stdfs::create_directories(place / writable);
            stdfs::permissions(place / writable, stdfs::perms::all);
        }
        // In this process's environment, which the child inherits and
        // which comes before any name added for the child alone.
        ::setenv("WINEPREFIX", (place / "prefix").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (place / "state").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

    // Makes every folder 0555 and every file 0444 under `root`.
    static void MakeReadOnly(const std::string& root) {
        using stdfs::perms;
        for (const auto& e : stdfs::recursive_directory_iterator(root))
            stdfs::permissions(e.path(),
                               e.is_directory()
                                   ? perms::owner_read | perms::owner_exec | perms::group_read |
                                         perms::group_exec | perms::others_read | perms::others_exec
                                   : perms::owner_read | perms::group_read | perms::others_read);
        stdfs::permissions(root, perms::owner_read | perms::owner_exec | perms::group_read |
                                     perms::group_exec | perms::others_read | perms::others_exec);
    }

    // RunAccount with the readable copy of the CA.
    ChildResult RunAsNobody(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--id", kFaultMember, "--password-stdin", "--yes"};
        all.insert(all.end(), args.begin(), args.end());
        return RunCliProcess(
            all, std::string(kFaultPassword) + "\n",
            {"SKIVADDON_SERVICE_URL=" + svc.BaseUrl(), "SKIVADDON_CA_FILE=" + place / "ca.pem"},
            asNobody);
    }

    TempDir place;
    std::string game;
    std::vector<std::string> asNobody;
};

TEST_F(ReadOnlyFolder, SaveReadsOnlyAndInstallFailsWithoutLosingAFile) {
    MakeAddOns(game, 3, 40 * 1024);
    // The program's own Backup/ stays writable: it is where a save builds
    // its package.
    stdfs::create_directories(game + "Backup");
    MakeReadOnly(game);
    stdfs::permissions(game + "Backup", stdfs::perms::all);
    const TreeSnapshot before = SnapshotTree(game);

    ChildResult save = RunAsNobody({"--game-folder", game, "save"});
    ASSERT_TRUE(save.Exited(0)) << save.Describe();
    EXPECT_EQ(Stored(), Packable(BasicPart(before)));
    EXPECT_EQ(AddOnPart(SnapshotTree(game)), AddOnPart(before));

    const TreeSnapshot stored = StoreSet(4, 30 * 1024);
    ChildResult install = RunAsNobody({"--game-folder", game, "install"});
    ASSERT_TRUE(install.Exited(1)) << install.Describe();
    // The new set cannot be staged beside the old one: nothing is replaced.
    EXPECT_TRUE(Says(install, FailedWith("install", Number(ResultCode::CannotCreateFolder))))
        << install.Describe();
    EXPECT_FALSE(Says(install, kInstalled)) << install.Describe();
    // Every add-on file is still there with its bytes, dot files included,
    // and the backup holds the set as well.
    EXPECT_EQ(AddOnPart(SnapshotTree(game)), AddOnPart(before));
    bool ok = false;
    EXPECT_EQ(UnpackWithCli(game + "Backup/SkivAddonBackup.kso", ok), Packable(AddOnPart(before)));
    EXPECT_TRUE(ok);
    EXPECT_EQ(Stored(), stored);
}

TEST_F(ReadOnlyFolder, SaveWithNowhereToWriteFailsAndKeepsTheStoredSet) {
    MakeAddOns(game, 5, 4000);
    MakeReadOnly(game);  // no Backup/ and no right to make one
    const TreeSnapshot before = SnapshotTree(game);
    const TreeSnapshot stored = StoreSet(6, 4000);

    ChildResult save = RunAsNobody({"--game-folder", game, "save"});
    ASSERT_TRUE(save.Exited(1)) << save.Describe();
    EXPECT_TRUE(Says(save, FailedWith("save", Number(ResultCode::CannotCreateFolder))))
        << save.Describe();
    EXPECT_EQ(SnapshotTree(game), before);
    EXPECT_EQ(Stored(), stored);
}

// ---- a file held by another program while an install deletes -------------

// A file the pack walk leaves out (it lies under a dot folder) goes with
// its folder when the install swaps the set: held by another program it
// cannot be deleted, so what is left of the old folder is set aside under
// a name of its own rather than block the next swap. The install and the
// roll back go through around it, and the roll back restores the set.
TEST_F(DiskFault, HeldFileSurvivesAnInstallAndItsRollBack) {
    StoreSet(7, 60 * 1024);
    const std::string game = computers / "held/";
    MakeAddOns(game, 8, 5000);
    const TreeSnapshot before = SnapshotTree(game);
    const std::string heldName = "Interface/AddOns/.git/HEAD";
    ASSERT_TRUE(before.count(heldName));

    HeldFile held(game + heldName);
    ChildResult r = RunAccount(svc, {"--game-folder", game, "install", "rollback"});
    ASSERT_TRUE(r.Exited(0)) << r.Describe();
    EXPECT_TRUE(Says(r, kInstalled)) << r.Describe();
    const TreeSnapshot after = SnapshotTree(game);
    EXPECT_EQ(AddOnPart(after), Packable(AddOnPart(before)));
    EXPECT_EQ(after.at("SkivAddonReplaced.1/" + heldName), before.at(heldName));
}

// ---- spaces and Korean names in the game folder's path ---------------------

TEST_F(DiskFault, KoreanPathWithSpacesSavesInstallsAndRollsBackByteForByte) {
    const std::string from = computers / "월드 오브 게임/Game Folder/";
    const std::string to = computers / "다른 컴퓨터/게임 폴더 (2)/";
    const std::string third = computers / "세 번째 컴퓨터/월드 오브 게임/";
    MakeAddOns(from, 9, 120 * 1024);
    MakeAddOns(to, 10, 7000);
    MakeAddOns(third, 11, 3000);
    const TreeSnapshot beforeFrom = SnapshotTree(from);
    const TreeSnapshot set = Packable(AddOnPart(beforeFrom));
    const TreeSnapshot beforeTo = SnapshotTree(to), beforeThird = SnapshotTree(third);

    ChildResult save = RunAccount(svc, {"--with-cache-fonts", "--game-folder", from, "save"});
    ASSERT_TRUE(save.Exited(0)) << save.Describe();

    ChildResult install = RunAccount(svc, {"--game-folder", to, "install"});
    ASSERT_TRUE(install.Exited(0)) << install.Describe();
    // A full set replaces all four folders, and only them.
    EXPECT_EQ(AddOnPart(SnapshotTree(to)), set);
    EXPECT_EQ(SnapshotTree(to).at("Launcher.exe"), beforeTo.at("Launcher.exe"));
    bool ok = false;
    EXPECT_EQ(UnpackWithCli(to + "Backup/SkivAddonBackup.kso", ok), Packable(AddOnPart(beforeTo)));
    EXPECT_TRUE(ok);

    // A roll back needs the backup of an install in the same session.
    ChildResult cycle = RunAccount(svc, {"--game-folder", third, "install", "rollback"});
    ASSERT_TRUE(cycle.Exited(0)) << cycle.Describe();
    EXPECT_TRUE(Says(cycle, "되돌리기가 완료되었습니다.")) << cycle.Describe();
    EXPECT_EQ(AddOnPart(SnapshotTree(third)), Packable(AddOnPart(beforeThird)));

    // The saving computer was only read.
    EXPECT_EQ(AddOnPart(SnapshotTree(from)), AddOnPart(beforeFrom));
}

}  // namespace
}  // namespace skiv::test
