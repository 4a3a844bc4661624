// Whole save, install and roll-back runs against the real service.

#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <atomic>
#include <future>

#include "archive/tar_reader.h"
#include "e2e_fixture.h"
#include "service/exchanges.h"

namespace skiv::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// What a save packs: everything but dot folders.
TreeSnapshot Packed(const std::string& folder) {
    TreeSnapshot s = SnapshotTree(folder);
    std::erase_if(s, [](const auto& kv) { return kv.first.find(".git/") != std::string::npos; });
    return s;
}

TEST_F(EndToEnd, SaveInstallRollBackAndResetAcrossTwoComputers) {
    auto a = NewComputer();
    MakeAddOnSet(a->game, 1, true);
    a->LogIn();
    ASSERT_TRUE(a->ctl.Session().loggedIn) << a->window.LastMessage();
    EXPECT_EQ(a->window.ViewMode(), ViewMode::LoggedInNoData);
    EXPECT_EQ(a->ctl.Session().fileType, kTypeNone);

    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->window.LastMessage(), "애드온이 모두 저장되었습니다") << a->LogLines().size();
    EXPECT_EQ(a->ctl.Session().fileType, kTypeBasic);
    EXPECT_EQ(a->ctl.Session().fileSize, *fs::FileSize(a->game + "Backup/SkivAddon.ksp"));
    EXPECT_EQ(a->window.ViewMode(), ViewMode::LoggedInWithData);
    EXPECT_TRUE(ProgressInRange(a->window.Progress()));
    EXPECT_EQ(a->window.Progress().back(), 0);

    // Another computer with a set of its own, Cache and Fonts included.
    auto b = NewComputer();
    MakeAddOnSet(b->game, 50, true);
    const TreeSnapshot before = SnapshotTree(b->game);
    b->LogIn();
    ASSERT_TRUE(b->ctl.Session().loggedIn);
    EXPECT_EQ(b->window.ViewMode(), ViewMode::LoggedInWithData);
    EXPECT_EQ(b->ctl.Session().fileType, kTypeBasic);

    b->Press(&Controller::InstallSet);
    ASSERT_EQ(b->window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(b->window.Messages().front(),
              "회선속도와 컴퓨터 사양에따라 시간이 오래걸릴수 있습니다.");
    EXPECT_EQ(SnapshotTree(b->game + "Interface"), Packed(a->game + "Interface"));
    EXPECT_EQ(SnapshotTree(b->game + "WTF"), SnapshotTree(a->game + "WTF"));
    // Type 1: B's own Cache and Fonts stay.
    EXPECT_EQ(SnapshotTree(b->game + "Cache"),
              TreeSnapshot({{"WDB/data.wdb", before.at("Cache/WDB/data.wdb")}}));
    EXPECT_TRUE(b->ctl.Session().backupMade);
    EXPECT_TRUE(ProgressInRange(b->window.Progress()));

    // The backup holds B's old four folders.
    ArchiveReader backup;
    ASSERT_EQ(backup.Open(b->game + "Backup/SkivAddonBackup.kso"), ReadOutcome::Ok);
    std::set<std::string> folders;
    for (int i = 0; i < backup.Header().count; ++i) {
        TarEntry e;
        ASSERT_EQ(backup.Entry(i, e), ReadOutcome::Ok);
        folders.insert(e.folder.substr(0, e.folder.find('/')));
    }
    EXPECT_EQ(folders, (std::set<std::string>{"Cache", "Fonts", "Interface", "WTF"}));

    // Roll back: B is exactly as before, but for what the pack leaves out.
    b->Press(&Controller::RollBack);
    ASSERT_EQ(b->window.LastMessage(), "되돌리기가 완료되었습니다.");
    TreeSnapshot after = SnapshotTree(b->game);
    TreeSnapshot expected = before;
    std::erase_if(expected,
                  [](const auto& kv) { return kv.first.find(".git/") != std::string::npos; });
    std::erase_if(after, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
    EXPECT_EQ(after, expected);

    // Reset: the four folders are gone.
    b->window.SetTaskOptions({.rollBack = RollBackChoice::DeleteOnly});
    b->Press(&Controller::RollBack);
    EXPECT_EQ(b->window.LastMessage(), "초기화가 완료되었습니다.");
    for (const char* f : {"Interface", "WTF", "Cache", "Fonts"})
        EXPECT_FALSE(fs::Exists(b->game + f));
}

TEST_F(EndToEnd, FullSetReplacesCacheAndFontsAndChosenFolderInstallLeavesTheGameAlone) {
    auto a = NewComputer();
    MakeAddOnSet(a->game, 7, true);
    a->LogIn();
    a->window.SetTaskOptions({.saveScope = SaveScope::WithCacheAndFonts});
    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->window.LastMessage(), "애드온이 모두 저장되었습니다");
    EXPECT_EQ(a->ctl.Session().fileType, kTypeFull);

    auto b = NewComputer();
    WriteFile(b->game + "Cache/only-on-b", "b");
    WriteFile(b->game + "Interface/b.lua", "b");
    b->LogIn();
    b->Press(&Controller::InstallSet);
    ASSERT_EQ(b->window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(SnapshotTree(b->game + "Cache"), SnapshotTree(a->game + "Cache"));
    EXPECT_EQ(SnapshotTree(b->game + "Fonts"), SnapshotTree(a->game + "Fonts"));

    // Into a chosen folder: the game folder, its backup and backupMade stay.
    auto c = NewComputer();
    WriteFile(c->game + "Interface/mine.lua", "mine");
    c->LogIn();
    TempDir chosen;
    c->window.SetTaskOptions({.installIntoFolder = true});
    c->window.QueueFolder(chosen.path());
    const TreeSnapshot gameBefore = SnapshotTree(c->game);
    c->Press(&Controller::InstallSet);
    ASSERT_EQ(c->window.LastMessage(), "애드온이 모두 세팅되었습니다");
    EXPECT_EQ(SnapshotTree(c->game), gameBefore);
    EXPECT_FALSE(c->ctl.Session().backupMade);
    EXPECT_TRUE(fs::Exists(chosen / "Backup/SkivAddon.ksp"));
    EXPECT_TRUE(fs::Exists(chosen / "Backup/SkivAddonTar.kso"));
    EXPECT_EQ(SnapshotTree(chosen / "WTF"), SnapshotTree(a->game + "WTF"));
}

TEST_F(EndToEnd, LoginRefusalsShowTheirMessages) {
    auto a = NewComputer();
    a->LogIn(kMember, "wrong password");
    EXPECT_EQ(a->window.LastMessage(), "아이디 또는 패스워드가 올바르지 않습니다");
    EXPECT_THAT(a->LogLines(), Contains("[OnBnClickedBtnLogin]Login Fail:(1023)"));
    a->LogIn("nobody", kPassword);
    EXPECT_EQ(a->window.LastMessage(), "아이디 또는 패스워드가 올바르지 않습니다");
    svc.Suspend(kMember);
    a->LogIn();
    EXPECT_EQ(a->window.LastMessage(), "해당 아이디는 정지상태입니다. 관리자에게 문의해 주세요");
    EXPECT_THAT(a->LogLines(), Contains("[OnBnClickedBtnLogin]Login Fail:(1024)"));
    EXPECT_FALSE(a->ctl.Session().loggedIn);
    svc.Resume(kMember);
    a->LogIn();
    EXPECT_TRUE(a->ctl.Session().loggedIn);
}

TEST_F(EndToEnd, UploadRefusalsKeepTheSessionFields) {
    auto a = NewComputer();
    MakeAddOnSet(a->game, 3, false);
    a->LogIn();
    a->Press(&Controller::SaveSet);
    ASSERT_EQ(a->window.LastMessage(), "애드온이 모두 저장되었습니다");
    const auto size = a->ctl.Session().fileSize;
    const auto date = a->ctl.Session().saveDate;

    // A wrong member key is an authentication failure of the classic upload.
    a->ctl.Session().deltaBase.clear();
    a->ctl.Session().memberKey = "0000";
    a->Press(&Controller::SaveSet);
    EXPECT_EQ(a->window.LastMessage(), "사용자 인증이 실패하였습니다.");
    EXPECT_THAT(a->LogLines(), Contains("[SaveAddOn]UploadFile Fail:(1030)"));
    EXPECT_EQ(a->ctl.Session().fileSize, size);
    EXPECT_EQ(a->ctl.Session().saveDate, date);
}

class SmallLimit : public EndToEnd {
protected:
    SmallLimit() : EndToEnd({"--max-package-mb", "1"}) {}
};

TEST_F(SmallLimit, TooLargePackageIsRefusedAndNothingChanges) {
    auto a = NewComputer();
    MakeAddOnSet(a->game, 4, false);
    WriteFile(a->game + "Interface/AddOns/Big/big.blp", RandomBytes(2 * 1024 * 1024, 9));
    a->LogIn();
    a->Press(&Controller::SaveSet);
    EXPECT_EQ(a->window.LastMessage(), "파일 사이즈가 제한용량을 초과하였습니다.");
    EXPECT_EQ(a->ctl.Session().fileType, kTypeNone);
    EXPECT_EQ(a->ctl.Session().fileSize, 0);
    EXPECT_THAT(a->LogLines(), Contains("[OnBnClickedBtnSave]애드온 저장 실패:(1029)"));
}

TEST_F(EndToEnd, InstallFailuresReportTheirCodeAndTouchNothing) {
    auto b = NewComputer();
    MakeAddOnSet(b->game, 11, false);
    const test::TreeSnapshot before = test::SnapshotTree(b->game);
    auto addOns = [&b] {
        test::TreeSnapshot tree = test::SnapshotTree(b->game);
        std::erase_if(tree, [](const auto& kv) { return kv.first.rfind("Backup/", 0) == 0; });
        return tree;
    };
    b->LogIn();
    // The classic download: it fetches after the delete (delta installs
    // fetch first, see delta_e2e_test.cpp).
    b->ctl.Session().deltaBase.clear();
    // Nothing stored: the command refuses.
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->window.LastMessage(), "서버에 저장된 애드온이 없습니다");
    // Forced past the check, the download meets 404 before anything is
    // backed up or replaced: the set stays and there is nothing to roll
    // back to.
    b->ctl.Session().fileType = kTypeBasic;
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->window.LastMessage(), "애드온 세팅 실패:(1035)");
    EXPECT_EQ(addOns(), before);
    EXPECT_FALSE(fs::Exists(b->game + "Backup/SkivAddonBackup.kso"));
    b->Press(&Controller::RollBack);
    EXPECT_EQ(b->window.LastMessage(), "백업된 애드온이 없습니다");

    // A stored package that is not an archive: its table is refused before
    // the set is touched.
    WriteFile(b->game + "junk.ksp", RandomBytes(5000, 77));
    const SessionState& s = b->ctl.Session();
    ASSERT_EQ(UploadExchange({s.uploadUrl, s.memberId, s.memberKey, b->game + "junk.ksp", 1},
                             b->log, [](int) {}),
              ResultCode::Ok);
    b->LogIn();  // the service's record of the new package
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->window.LastMessage(), "애드온 세팅 실패:(1)");
    test::TreeSnapshot now = addOns();
    now.erase("junk.ksp");
    EXPECT_EQ(now, before);
}

TEST_F(EndToEnd, ServiceNotRunningIsAConnectionFailure) {
    auto a = NewComputer();
    svc.Stop();
    a->LogIn();
    EXPECT_FALSE(a->ctl.Session().loggedIn);
    auto lines = a->LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back() == "[OnBnClickedBtnLogin]Login Fail:(1015)" ||
                lines.back() == "[OnBnClickedBtnLogin]Login Fail:(1016)")
        << lines.back();
    EXPECT_THAT(a->window.LastMessage(), HasSubstr("로그인 실패:(101"));
}

TEST_F(EndToEnd, SecondTaskWhileAWorkerRunsIsRefused) {
    auto a = NewComputer();
    MakeAddOnSet(a->game, 5, false);
    a->LogIn();
    std::promise<void> reached, release;
    auto released = release.get_future().share();
    std::atomic<bool> once{false};
    a->window.OnProgress([&](int p) {
        if (p == 2 && !once.exchange(true)) {
            reached.set_value();
            released.wait();
        }
    });
    a->ctl.SaveSet();
    reached.get_future().wait();
    a->ctl.InstallSet();
    a->ctl.RollBack();
    release.set_value();
    a->ctl.WaitForWorker();
    auto messages = a->window.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "다른 작업이 진행중입니다"), 2);
    EXPECT_EQ(messages.back(), "애드온이 모두 저장되었습니다");
}

// Links planted where a save or an install keeps its own files: Backup/ of
// the game folder or of a chosen folder, and the files inside it. Every
// task still goes through, in a real Backup/, and nothing outside changes.
class ClientFilesTest : public EndToEnd {};

TEST_F(ClientFilesTest, SaveAndInstallNeverWriteThroughLinksInBackup) {
    TempDir outside;
    WriteFile(outside / "victim.txt", "untouched");
    WriteFile(outside / "elsewhere/keep.txt", "keep");
    const TreeSnapshot before = SnapshotTree(outside.path());
    auto plant = [](const std::string& target, const std::string& link) {
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
    };
    auto realFolder = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    const std::string saved = "애드온이 모두 저장되었습니다";
    const std::string installed = "애드온이 모두 세팅되었습니다";

    // A save with Backup/ a link to a folder elsewhere, then one with the
    // package's name a link to a file elsewhere.
    auto a = NewComputer();
    MakeAddOnSet(a->game, 3, false);
    plant(outside / "elsewhere", a->game + "Backup");
    a->LogIn();
    a->Press(&Controller::SaveSet);
    EXPECT_EQ(a->window.LastMessage(), saved);
    EXPECT_TRUE(realFolder(a->game + "Backup"));
    ::unlink((a->game + "Backup/SkivAddon.ksp").c_str());
    plant(outside / "victim.txt", a->game + "Backup/SkivAddon.ksp");
    a->Press(&Controller::SaveSet);
    EXPECT_EQ(a->window.LastMessage(), saved);

    // An install into the game with every file of Backup/ a link.
    auto b = NewComputer();
    WriteFile(b->game + "WTF/old.txt", "old");
    ASSERT_TRUE(fs::EnsureFolder(b->game + "Backup"));
    for (const char* name : {"SkivAddon.ksp", "SkivAddonTar.kso", "SkivAddonBackup.kso"})
        plant(outside / "victim.txt", b->game + "Backup/" + name);
    b->LogIn();
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->window.LastMessage(), installed);
    EXPECT_EQ(SnapshotTree(b->game + "WTF"), SnapshotTree(a->game + "WTF"));

    // An install into a chosen folder whose Backup/ is a link.
    TempDir chosen;
    plant(outside / "elsewhere", chosen / "Backup");
    b->window.SetTaskOptions({.installIntoFolder = true});
    b->window.QueueFolder(chosen.path());
    b->Press(&Controller::InstallSet);
    EXPECT_EQ(b->window.LastMessage(), installed);
    EXPECT_TRUE(realFolder(chosen / "Backup"));
    EXPECT_EQ(SnapshotTree(chosen / "WTF"), SnapshotTree(a->game + "WTF"));

    EXPECT_EQ(SnapshotTree(outside.path()), before);
}

}  // namespace
}  // namespace skiv::test
