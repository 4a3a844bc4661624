// The add-on set's pack and delete walks, and the unpacking.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <future>

#include "archive/tar_reader.h"
#include "controller_fixture.h"
#include "platform/fs.h"
#include "support/faults.h"
#include "support/tree_snapshot.h"
#include "workspace/addon_set.h"
#include "workspace/game_folder.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::WriteFile;
using ::testing::ElementsAre;

class FolderTreeTest : public test::ControllerFixture {
protected:
    std::vector<std::string> Packed() {
        std::vector<std::string> names;
        for (const auto& e : set.Archive().Entries())
            names.push_back(e.folder + e.fileName);
        std::sort(names.begin(), names.end());
        return names;
    }
    AddOnSet set{game, log};
};

TEST_F(FolderTreeTest, PackWalkSkipsDotFoldersButNotDotFiles) {
    WriteFile(game + "Interface/AddOns/A/a.lua", "a");
    WriteFile(game + "Interface/AddOns/A/.hidden", "h");
    WriteFile(game + "Interface/AddOns/.git/config", "g");
    WriteFile(game + "Interface/.svn/x/y", "s");
    fs::CreateFolder(game + "Interface/Empty");
    ASSERT_EQ(set.AddFolder("Interface/"), ResultCode::Ok);
    EXPECT_THAT(Packed(), ElementsAre("Interface/AddOns/A/.hidden", "Interface/AddOns/A/a.lua"));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(FolderTreeTest, PackWalkReportsMissingFolderAndNestedLockOnce) {
    EXPECT_EQ(set.AddFolder("Fonts/"), ResultCode::CannotListFolder);
    EXPECT_THAT(LogLines(), ElementsAre("[AddFileToTar]FindFirstFile Fail:(2)"));

    WriteFile(game + "WTF/a/b/c/locked.txt", "x");
    test::HeldFile held(game + "WTF/a/b/c/locked.txt");
    EXPECT_EQ(set.AddFolder("WTF/"), ResultCode::ArchiveCannotOpen);
    auto lines = LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[AddFileToTar]AddFile Fail:(-1)"), 1);
}

TEST_F(FolderTreeTest, DeleteWalkRemovesReadOnlyFilesDotFoldersAndEmptyFolders) {
    WriteFile(game + "WTF/ro.txt", "r");
    ASSERT_EQ(::chmod((game + "WTF/ro.txt").c_str(), 0444), 0);
    WriteFile(game + "WTF/.cache/deep/f", "d");
    fs::CreateFolder(game + "WTF/empty");
    EXPECT_EQ(DeleteFolder(game, "WTF/", log), ResultCode::Ok);
    EXPECT_FALSE(fs::Exists(game + "WTF"));
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(FolderTreeTest, HeldFileSurvivesDeleteAndIsLogged) {
    WriteFile(game + "Interface/keep.lua", "k");
    WriteFile(game + "Interface/go.lua", "g");
    {
        test::HeldFile held(game + "Interface/keep.lua");
        EXPECT_EQ(DeleteFolder(game, "Interface/", log), ResultCode::Ok);
    }
    EXPECT_TRUE(fs::Exists(game + "Interface/keep.lua"));
    EXPECT_FALSE(fs::Exists(game + "Interface/go.lua"));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[DeleteFolder]DeleteFile Fail:(16)(" + game + "Interface/keep.lua)");
    EXPECT_EQ(lines[1].rfind("[DeleteFolder]RemoveDirectory:(", 0), 0u);
}

TEST_F(FolderTreeTest, SetDeleteHonoursTheScope) {
    for (const char* f : {"Interface/i", "WTF/w", "Cache/c", "Fonts/f"})
        WriteFile(game + f, "x");
    AddOnSet::Delete(game, false, log);
    EXPECT_FALSE(fs::Exists(game + "Interface"));
    EXPECT_TRUE(fs::Exists(game + "Cache/c"));
    EXPECT_TRUE(fs::Exists(game + "Fonts/f"));

    // Missing folders are logged twice each and do not fail.
    AddOnSet::Delete(game, true, log);
    EXPECT_FALSE(fs::Exists(game + "Cache"));
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "[DeleteFolder]FindFirstFile Fail:(2)(" + game + "Interface/*.*)");
    EXPECT_EQ(lines[1], "[DeleteCurAddOn]DeleteFolder Fail:(1004)");
}

class UnpackTest : public test::ControllerFixture {
protected:
    // An archive of the given (folder, name, content) entries, written raw.
    std::string MakeArchive(const std::vector<std::array<std::string, 3>>& files) {
        std::string body;
        std::vector<TarEntry> entries;
        std::int32_t offset = std::int32_t(kTarHeaderSize + kTarEntrySize * files.size());
        for (const auto& [folder, name, content] : files) {
            TarEntry e;
            e.folder = folder;
            e.fileName = name;
            e.dataOffset = offset;
            e.dataSize = std::int32_t(content.size());
            offset += e.dataSize;
            entries.push_back(e);
            body += content;
        }
        TarHeader head;
        head.count = std::int32_t(files.size());
        auto h = EncodeHeader(head);
        std::string bytes(h.begin(), h.end());
        for (const auto& e : entries) {
            auto r = EncodeEntry(e);
            bytes.append(r.begin(), r.end());
        }
        std::string path = archiveDir.path() + "a.kso";
        WriteFile(path, bytes + body);
        return path;
    }
    test::TempDir archiveDir, loadDir;
};

// A name code page 949 cannot express is passed over like one with a
// backslash; Korean names travel and come back as they were.
TEST_F(UnpackTest, KoreanNamesPackAndUnpackAndInexpressibleOnesAreSkipped) {
    const std::string saved = "WTF/Account/NAME/서버/캐릭터/SavedVariables/";
    WriteFile(game + saved + "x.lua", "settings");
    WriteFile(game + "WTF/Account/smile\xf0\x9f\x98\x80.lua", "no such character in 949");
    AddOnSet set(game, log);
    ASSERT_EQ(set.AddFolder("WTF/"), ResultCode::Ok);
    ASSERT_EQ(set.Write("k.kso", archiveDir.path()), ResultCode::Ok);
    EXPECT_THAT(LogLines(), ElementsAre("[AddFileToTar]AddFile Skip:(" + game +
                                        "WTF/Account/smile\xf0\x9f\x98\x80.lua)"));
    ASSERT_EQ(UnpackArchive(archiveDir / "k.kso", loadDir.path(), log), ResultCode::Ok);
    EXPECT_EQ(test::SnapshotTree(loadDir.path()),
              (test::TreeSnapshot{{saved + "x.lua", "settings"}}));
}

TEST_F(UnpackTest, CreatesFoldersOutermostFirstUnderTheChosenBase) {
    std::string a = MakeArchive({{"Interface/A/B/", "deep.lua", "deep"}, {"", "top.txt", "top"}});
    ASSERT_EQ(UnpackArchive(a, loadDir.path(), log), ResultCode::Ok);
    EXPECT_EQ(ReadFile(loadDir / "Interface/A/B/deep.lua"), "deep");
    EXPECT_EQ(ReadFile(loadDir / "top.txt"), "top");
    EXPECT_FALSE(fs::Exists(game + "Interface"));
    ASSERT_EQ(UnpackArchive(a, game, log), ResultCode::Ok);  // and again, under the game folder
    EXPECT_EQ(ReadFile(game + "Interface/A/B/deep.lua"), "deep");
}

TEST_F(UnpackTest, MissingArchiveIsLoggedWithOne) {
    EXPECT_EQ(UnpackArchive(archiveDir / "none.kso", game, log), ResultCode::UnpackNoArchive);
    EXPECT_THAT(LogLines(), ElementsAre("[UnTarFile]GetTarInfo Fail:(1)"));
}

TEST_F(UnpackTest, EntriesClimbingOutOfTheBaseAreRefused) {
    std::string a = MakeArchive(
        {{"../", "evil", "x"}, {"Interface/../../", "evil2", "y"}, {"WTF/", "ok", "z"}});
    // The safe entry still lands; the unpacking reports the refusal.
    ASSERT_EQ(UnpackArchive(a, game, log), ResultCode::UnpackUnsafeName);
    EXPECT_FALSE(fs::Exists(gameDir.path() + "../evil"));
    EXPECT_EQ(ReadFile(game + "WTF/ok"), "z");
    EXPECT_THAT(LogLines(), ElementsAre("[UnTarFile]UnTar Fail:(5)", "[UnTarFile]UnTar Fail:(5)"));
}

TEST_F(UnpackTest, UnwritableEntryIsSkippedButFailsTheUnpackLikeAFullDisk) {
    WriteFile(game + "WTF/blocker/x", "folder where a file should go");
    std::string a = MakeArchive({{"WTF/", "blocker", "b"}, {"WTF/", "after", "a"}});
    // The entries after it are still written; the unpacking is not whole.
    EXPECT_EQ(UnpackArchive(a, game, log), ResultCode::UnpackNoOutput);
    EXPECT_EQ(ReadFile(game + "WTF/after"), "a");
    EXPECT_THAT(LogLines(), ElementsAre("[UnTarFile]UnTar Fail:(3)"));

    std::string big = MakeArchive(
        {{"Interface/", "big", test::RandomBytes(300000, 5)}, {"Interface/", "next", "n"}});
    test::FileSizeCeiling ceiling(100000);
    EXPECT_EQ(UnpackArchive(big, game, log), ResultCode::UnpackWriteFailed);
    EXPECT_FALSE(fs::Exists(game + "Interface/next"));
}

TEST_F(UnpackTest, FolderThatCannotBeCreatedStopsWith1003) {
    WriteFile(game + "Interface", "a file where the folder should be");
    std::string a = MakeArchive({{"WTF/", "first", "1"}, {"Interface/X/", "f", "2"}});
    EXPECT_EQ(UnpackArchive(a, game, log), ResultCode::CannotCreateFolder);
    EXPECT_EQ(ReadFile(game + "WTF/first"), "1");
    EXPECT_THAT(LogLines(), ElementsAre("[MakeUnTarDir]Backup 디렉토리 생성실패",
                                        "[UnTarFile]MakeTarDir Fail:(1003)"));
}

}  // namespace
}  // namespace skiv

namespace skiv {
namespace {

class LinkTest : public FolderTreeTest {};

TEST_F(LinkTest, DeleteRemovesLinksNotWhatTheyPointTo) {
    test::TempDir outside;
    WriteFile(outside / "precious/data", "keep me");
    WriteFile(outside / "file.txt", "me too");
    WriteFile(game + "Interface/own.lua", "x");
    ASSERT_EQ(::symlink((outside / "precious").c_str(), (game + "Interface/dirlink").c_str()), 0);
    ASSERT_EQ(::symlink((outside / "file.txt").c_str(), (game + "Interface/filelink").c_str()), 0);
    ASSERT_EQ(::chmod((outside / "file.txt").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (game + "Interface/dangling").c_str()), 0);
    EXPECT_EQ(DeleteFolder(game, "Interface/", log), ResultCode::Ok);
    EXPECT_FALSE(fs::Exists(game + "Interface"));
    EXPECT_EQ(ReadFile(outside / "precious/data"), "keep me");
    EXPECT_EQ(ReadFile(outside / "file.txt"), "me too");
    EXPECT_TRUE(fs::GetAttributes(outside / "file.txt")->readOnly);  // untouched
}

TEST_F(LinkTest, PackFollowsLinksButNeverLoops) {
    test::TempDir outside;
    WriteFile(outside / "shared/lib.lua", "lib");
    WriteFile(game + "Interface/AddOns/A/a.lua", "a");
    ASSERT_EQ(::symlink((game + "Interface").c_str(), (game + "Interface/AddOns/A/loop").c_str()),
              0);
    ASSERT_EQ(::symlink((outside / "shared").c_str(), (game + "Interface/AddOns/Shared").c_str()),
              0);
    ASSERT_EQ(set.AddFolder("Interface/"), ResultCode::Ok);
    std::vector<std::string> names;
    for (const auto& e : set.Archive().Entries())
        names.push_back(e.folder + e.fileName);
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("Interface/AddOns/A/a.lua", "Interface/AddOns/Shared/lib.lua"));
}

TEST_F(LinkTest, NamesWithBackslashesAreRefusedWithALogLine) {
    WriteFile(game + "WTF/ok.txt", "ok");
    WriteFile(game + "WTF/bad\\name.txt", "would unpack elsewhere");
    WriteFile(game + "WTF/bad\\folder/x.txt", "x");
    ASSERT_EQ(set.AddFolder("WTF/"), ResultCode::Ok);
    ASSERT_EQ(set.Archive().Entries().size(), 1u);
    EXPECT_EQ(set.Archive().Entries()[0].fileName, "ok.txt");
    EXPECT_EQ(LogLines().size(), 2u);
}

}  // namespace
}  // namespace skiv

namespace skiv {
namespace {

// Links, pipes and empty choices met by the client's own file handling:
// nothing outside the chosen folders is deleted or written, and nothing
// blocks the worker.
class ClientFilesTest : public UnpackTest {
protected:
    // Every file and folder below root, relative, links not followed.
    static std::vector<std::string> Tree(const std::string& root) {
        std::vector<std::string> out;
        std::vector<std::string> todo{""};
        while (!todo.empty()) {
            std::string rel = todo.back();
            todo.pop_back();
            auto listing = fs::DirListing::Open(root + rel);
            fs::DirItem item;
            while (listing && listing->Next(item)) {
                if (item.name == "." || item.name == "..")
                    continue;
                out.push_back(rel + item.name);
                if (item.isFolder && !item.isLink)
                    todo.push_back(rel + item.name + "/");
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // Runs step with a bound: a step blocked on a pipe is released by
    // opening the pipe's other end, and the test fails instead of hanging.
    template <class Step>
    auto Bounded(Step step, const std::vector<std::string>& pipes) {
        auto done = std::async(std::launch::async, step);
        if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
            return done.get();
        ADD_FAILURE() << "blocked on a pipe";
        for (const auto& p : pipes) {
            int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        return done.get();
    }
};

TEST_F(ClientFilesTest, ResetAndReinstallThroughALinkedInterfaceStayInsideTheGameFolder) {
    test::TempDir outside;
    WriteFile(outside / "AddOns/Mine/mine.lua", "player's own");
    WriteFile(outside / "top.txt", "top");
    const auto before = Tree(outside.path());
    ASSERT_EQ(::symlink(outside.path().c_str(), (game + "Interface").c_str()), 0);
    WriteFile(game + "WTF/w.txt", "w");

    // The delete the reset, install and roll back share.
    AddOnSet::Delete(game, true, log);
    EXPECT_EQ(Tree(outside.path()), before);
    EXPECT_EQ(ReadFile(outside / "AddOns/Mine/mine.lua"), "player's own");
    struct stat st {};
    EXPECT_NE(::lstat((game + "Interface").c_str(), &st), 0);
    EXPECT_FALSE(fs::Exists(game + "WTF"));
    auto lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "[DeleteFolder]DeleteLink:(" + game + "Interface)");

    // What is unpacked afterwards lands in a real folder of the game.
    std::string a = MakeArchive({{"Interface/AddOns/New/", "new.lua", "new"}});
    ASSERT_EQ(UnpackArchive(a, game, log), ResultCode::Ok);
    ASSERT_EQ(::lstat((game + "Interface").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(ReadFile(game + "Interface/AddOns/New/new.lua"), "new");
    EXPECT_EQ(Tree(outside.path()), before);
}

TEST_F(ClientFilesTest, UnpackingAndArchivingNeverWriteThroughPlantedLinks) {
    test::TempDir outside;
    WriteFile(outside / "victim.txt", "untouched");
    const auto before = Tree(outside.path());
    const std::string target = loadDir.path();
    ASSERT_EQ(::symlink(outside.path().c_str(), (target + "Interface").c_str()), 0);
    WriteFile(target + "WTF/real.txt", "r");
    ASSERT_EQ(::symlink((outside / "victim.txt").c_str(), (target + "WTF/file.txt").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (target + "WTF/Deep").c_str()), 0);

    // A linked file or folder refuses its entry; the rest still lands; a
    // linked folder where a folder must be made stops the unpacking.
    std::string a = MakeArchive({{"WTF/", "file.txt", "through the file link"},
                                 {"", "ok.txt", "ok"},
                                 {"Interface/", "through.txt", "through the folder link"}});
    EXPECT_EQ(UnpackArchive(a, target, log), ResultCode::CannotCreateFolder);
    EXPECT_EQ(ReadFile(target + "ok.txt"), "ok");
    // Extracting one entry straight through the folder link.
    ArchiveReader reader;
    TarEntry e;
    ASSERT_EQ(reader.Open(a), ReadOutcome::Ok);
    ASSERT_EQ(reader.Entry(2, e), ReadOutcome::Ok);
    EXPECT_EQ(reader.Extract(e, target + "Interface/through.txt"), ReadOutcome::NoOutput);
    std::string deep = MakeArchive({{"WTF/Deep/Sub/", "x.txt", "x"}});
    EXPECT_EQ(UnpackArchive(deep, target, log), ResultCode::CannotCreateFolder);

    // The archive's part file planted as a link is replaced, not followed.
    ASSERT_EQ(::symlink((outside / "victim.txt").c_str(), (target + "set.kso.part").c_str()), 0);
    ArchiveWriter archive;
    archive.SetSourceFolder(target + "WTF/");
    ASSERT_EQ(archive.AddFile("real.txt", "WTF/", target + "WTF/"), WriteOutcome::Ok);
    ASSERT_EQ(archive.WriteArchive("set.kso", target), WriteOutcome::Ok);
    EXPECT_FALSE(fs::Exists(target + "set.kso.part"));
    ASSERT_EQ(reader.Open(target + "set.kso"), ReadOutcome::Ok);
    EXPECT_EQ(reader.Entry(0, e), ReadOutcome::Ok);

    EXPECT_EQ(Tree(outside.path()), before);
    EXPECT_EQ(ReadFile(outside / "victim.txt"), "untouched");
}

TEST_F(ClientFilesTest, PackingSkipsPipesAndLogsThem) {
    WriteFile(game + "Interface/a.lua", "a");
    WriteFile(game + "Interface/b.lua", "b");
    const std::string pipe = game + "Interface/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    AddOnSet set(game, log);
    EXPECT_EQ(Bounded([&] { return set.AddFolder("Interface/"); }, {pipe}), ResultCode::Ok);
    EXPECT_THAT(LogLines(), ElementsAre("[AddFileToTar]AddFile Skip:(" + pipe + ")"));
    ASSERT_EQ(set.Archive().Entries().size(), 2u);

    // A packed file that became a pipe before the archive is written reads
    // as vanished (zeros) instead of blocking the write.
    const std::string swapped = game + "Interface/b.lua";
    ASSERT_EQ(::unlink(swapped.c_str()), 0);
    ASSERT_EQ(::mkfifo(swapped.c_str(), 0600), 0);
    EXPECT_EQ(Bounded([&] { return set.Write("set.kso", game); }, {swapped}), ResultCode::Ok);
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(game + "set.kso"), ReadOutcome::Ok);
    for (int i = 0; i < 2; ++i) {
        TarEntry e;
        ASSERT_EQ(reader.Entry(i, e), ReadOutcome::Ok);
        ASSERT_EQ(reader.Extract(e, game + "out"), ReadOutcome::Ok);
        EXPECT_EQ(ReadFile(game + "out"), e.fileName == "a.lua" ? "a" : std::string(1, '\0'));
    }
}

TEST_F(ClientFilesTest, AnEmptyFolderChoiceIsDeclinedNotTheRoot) {
    std::string folder = game;
    window.QueueFolder(std::string());
    EXPECT_EQ(ChooseInstallFolder(window, log, folder), ResultCode::LoadFolderDeclined);
    EXPECT_EQ(folder, game);
    EXPECT_THAT(LogLines(),
                ElementsAre("[SetUserLoadPath]애드온을 로딩할 폴더를 선택하지 않았습니다"));
}

}  // namespace
}  // namespace skiv
