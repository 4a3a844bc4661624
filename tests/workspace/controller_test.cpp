// The commands' checks and messages, game folder discovery, and the flows'
// local steps, with a scripted window and no service.

#include <gmock/gmock.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <future>

#include "controller_fixture.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "support/faults.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/game_folder.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class CommandTest : public test::ControllerFixture {
protected:
    void LogIn() { ctl.Session().loggedIn = true; }
    void RunWorkerToEnd() { ctl.WaitForWorker(); }
};

TEST_F(CommandTest, SizeUnitsUseTheOddUnitAndNeverShowZero) {
    EXPECT_EQ(Controller::SizeUnits(0), 1);
    EXPECT_EQ(Controller::SizeUnits(1232895), 1);
    EXPECT_EQ(Controller::SizeUnits(2465792), 2);
    EXPECT_EQ(Controller::SizeUnits(3000000), 2);
}

TEST_F(CommandTest, LoginNeedsBothFieldsAndKeepsTheTypedId) {
    window.SetId("player");
    ctl.Login();
    EXPECT_EQ(window.LastMessage(), "ID와 패스워드를 입력해주세요");
    EXPECT_EQ(ctl.Session().memberId, "player");
    EXPECT_TRUE(window.ChooserOpenedAt().empty());  // nothing else was tried
    EXPECT_FALSE(ctl.Session().loggedIn);
}

TEST_F(CommandTest, TaskCommandsRefuseBeforeLoginAndWhileBusy) {
    ctl.SaveSet();
    ctl.InstallSet();
    ctl.RollBack();
    EXPECT_THAT(window.Messages(), ElementsAre("먼저 로그인을 해주세요", "먼저 로그인을 해주세요",
                                               "먼저 로그인을 해주세요"));
    // A save held at its first progress step keeps the controller busy.
    LogIn();
    window.ClearRecords();
    WriteFile(game + "Interface/a", "a");
    WriteFile(game + "WTF/w", "w");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    std::atomic<bool> first{true};
    window.OnProgress([&](int) {
        if (first.exchange(false)) {
            entered.set_value();
            released.wait();
        }
    });
    ctl.SaveSet();
    entered.get_future().wait();
    ctl.SaveSet();
    EXPECT_THAT(window.Messages(), ElementsAre("다른 작업이 진행중입니다"));
    EXPECT_EQ(ctl.WorkersStarted(), 1u);
    release.set_value();
    ctl.WaitForWorker();
    window.OnProgress(nullptr);
}

TEST_F(CommandTest, SaveNeedsBothRequiredFoldersAndAConfirmation) {
    LogIn();
    WriteFile(game + "Interface/a", "a");
    ctl.SaveSet();
    EXPECT_EQ(window.LastMessage(), "필수 폴더가 존재하지 않습니다");
    WriteFile(game + "WTF/w", "w");
    window.QueueAnswer(false);
    ctl.SaveSet();
    ASSERT_EQ(window.Questions().size(), 1u);
    EXPECT_EQ(window.Questions()[0].title, "Kelbo Skiv Addon");
    EXPECT_FALSE(window.Questions()[0].questionIcon);
    EXPECT_FALSE(ctl.IsBusy());
    EXPECT_FALSE(fs::Exists(game + "Backup"));
}

TEST_F(CommandTest, InstallNeedsAStoredSetAndWarnsAboutTime) {
    LogIn();
    ctl.InstallSet();
    EXPECT_EQ(window.LastMessage(), "서버에 저장된 애드온이 없습니다");
    // With a backup made earlier the warning becomes a question; No stops.
    ctl.Session().fileType = kTypeBasic;
    ctl.Session().backupMade = true;
    window.QueueAnswer(false);
    ctl.InstallSet();
    ASSERT_EQ(window.Questions().size(), 1u);
    EXPECT_THAT(window.Questions()[0].text, HasSubstr("기존 백업된 파일이"));
    EXPECT_FALSE(ctl.IsBusy());
}

TEST_F(CommandTest, RollBackNeedsABackupButResetDoesNot) {
    LogIn();
    ctl.RollBack();
    EXPECT_EQ(window.LastMessage(), "백업된 애드온이 없습니다");
    window.SetTaskOptions({.rollBack = RollBackChoice::DeleteOnly});
    WriteFile(game + "Interface/a", "a");
    ctl.RollBack();
    RunWorkerToEnd();
    ASSERT_EQ(window.Questions().size(), 1u);
    EXPECT_EQ(window.Questions()[0].title, "Kelbo 스키브 애드온");
    EXPECT_TRUE(window.Questions()[0].questionIcon);
    EXPECT_EQ(window.Questions()[0].text, "초기화 상태로 되돌려줍니다. 초기화를 하시겠습니까?");
    EXPECT_EQ(window.LastMessage(), "초기화가 완료되었습니다.");
    EXPECT_FALSE(fs::Exists(game + "Interface"));
    EXPECT_EQ(window.Progress().back(), 0);
    EXPECT_FALSE(ctl.IsBusy());
}

TEST_F(CommandTest, RollbackWithAnUnreadableBackupDeletesNothing) {
    LogIn();
    ctl.Session().backupMade = true;
    WriteFile(game + "Interface/keep.lua", "keep");
    ctl.RollBack();
    RunWorkerToEnd();
    EXPECT_EQ(window.LastMessage(), "되돌리기 실패:(1) - 관리자에게 문의해 주세요");
    EXPECT_EQ(ReadFile(game + "Interface/keep.lua"), "keep");
    EXPECT_THAT(LogLines(),
                ElementsAre("[UnTarFile]GetTarInfo Fail:(1)", "[SetBackupAddOn]UnTarFile Fail:(1)",
                            "[RollbackAddOn]SetBackupAddOn Fail:(1)",
                            "[OnBnClickedBtnSetup]애드온 되돌리기 실패:(1)"));
}

TEST_F(CommandTest, BackupThenRollBackRestoresTheFolders) {
    WriteFile(game + "Interface/AddOns/A/a.lua", "a1");
    WriteFile(game + "WTF/Config.wtf", "w1");
    WriteFile(game + "Cache/c", "c1");
    AddOnSet backup(game, log);
    ASSERT_EQ(backup.Collect(SaveScope::WithCacheAndFonts, [](const std::string&, ResultCode) {}),
              ResultCode::Ok);
    ASSERT_TRUE(fs::EnsureFolder(game + "Backup/"));
    ASSERT_EQ(backup.Write(flow::kBackupArchiveName, game + "Backup/"), ResultCode::Ok);
    AddOnSet::Delete(game, true, log);
    WriteFile(game + "Interface/stray.lua", "installed later");
    for (int round = 0; round < 2; ++round) {  // twice gives the same result
        ASSERT_EQ(flow::RollBack({ctl.Session(), window, log}), ResultCode::Ok);
        EXPECT_EQ(ReadFile(game + "Interface/AddOns/A/a.lua"), "a1");
        EXPECT_EQ(ReadFile(game + "Cache/c"), "c1");
        EXPECT_FALSE(fs::Exists(game + "Interface/stray.lua"));
    }
}

TEST_F(CommandTest, SaveStopsAtAHeldFileBeforeUploading) {
    WriteFile(game + "Interface/a", "a");
    WriteFile(game + "WTF/held.txt", "h");
    test::HeldFile held(game + "WTF/held.txt");
    LogIn();
    ctl.SaveSet();
    ctl.WaitForWorker();
    EXPECT_EQ(ctl.LastWorkerResult(), ResultCode::ArchiveCannotOpen);
    EXPECT_EQ(window.LastMessage(), "내 세팅저장 실패:(-1) - 관리자에게 문의해 주세요");
    EXPECT_FALSE(fs::Exists(game + "Backup/SkivAddon.ksp"));
    EXPECT_EQ(ctl.Session().fileType, kTypeNone);
    auto lines = LogLines();
    EXPECT_EQ(lines.back(), "[OnBnClickedBtnSave]애드온 저장 실패:(-1)");
    EXPECT_EQ(window.Progress().front(), 2);
    EXPECT_EQ(window.Progress().back(), 0);
}

// Both warnings come before anything is sent: a "no" ends the save with no
// package made and no failure message, the files named in the question.
TEST_F(CommandTest, SaveWarnsBeforeSendingDamagedSavedVariablesOrAShrunkSet) {
    const std::string sv = game + "WTF/Account/A/서버/캐릭터/SavedVariables/";
    WriteFile(game + "Interface/AddOns/a.lua", "a");
    WriteFile(sv + "Good.lua", "GoodDB = {\n\t[\"x\"] = 1,\n}\n");
    WriteFile(sv + "Cut.lua", "CutDB = {\n\t[\"x\"] = \"unfinish");
    WriteFile(sv + "Empty.lua", "");
    LogIn();
    window.QueueAnswer(true);   // save?
    window.QueueAnswer(false);  // damaged files: stop
    ctl.SaveSet();
    ctl.WaitForWorker();
    EXPECT_EQ(ctl.LastWorkerResult(), ResultCode::SaveDeclined);
    ASSERT_EQ(window.Questions().size(), 2u);
    const std::string asked = window.Questions()[1].text;  // Questions() is a copy
    EXPECT_THAT(asked, HasSubstr("SavedVariables/Cut.lua (2번째 줄)"));
    EXPECT_THAT(asked, HasSubstr("SavedVariables/Empty.lua\n"));
    EXPECT_EQ(asked.find("Good.lua"), std::string::npos);
    EXPECT_TRUE(window.Messages().empty());
    EXPECT_FALSE(fs::Exists(game + "Backup/SkivAddon.ksp"));

    WriteFile(sv + "Cut.lua", "CutDB = {}\n");
    WriteFile(sv + "Empty.lua", "EmptyDB = nil\n");
    ctl.Session().fileType = kTypeBasic;
    ctl.Session().fileSize = 50 * 1024 * 1024;
    ctl.Session().packageCheck = PackageCheck{std::string(64, '0'), 10175, -1};
    window.ClearRecords();
    window.QueueAnswer(true);   // save?
    window.QueueAnswer(false);  // much smaller than the stored set: stop
    ctl.SaveSet();
    ctl.WaitForWorker();
    EXPECT_EQ(ctl.LastWorkerResult(), ResultCode::SaveDeclined);
    ASSERT_EQ(window.Questions().size(), 2u);
    EXPECT_THAT(window.Questions()[1].text, HasSubstr("파일 10,175개, 50.0 MB인데"));
    EXPECT_THAT(window.Questions()[1].text, HasSubstr("지금 저장할 설정은 파일 "));
    EXPECT_TRUE(window.Messages().empty());
}

TEST_F(CommandTest, InstallCancelledAtTheChooserIsSilent) {
    LogIn();
    ctl.Session().fileType = kTypeBasic;
    window.SetTaskOptions({.installIntoFolder = true});
    ctl.InstallSet();
    ctl.WaitForWorker();
    EXPECT_EQ(ctl.LastWorkerResult(), ResultCode::LoadFolderDeclined);
    // Only the command's warning; the task itself says nothing.
    EXPECT_THAT(window.Messages(),
                ElementsAre("회선속도와 컴퓨터 사양에따라 시간이 오래걸릴수 있습니다."));
    EXPECT_EQ(window.Progress().back(), 0);
    EXPECT_THAT(LogLines(),
                ElementsAre("[SetUserLoadPath]애드온을 로딩할 폴더를 선택하지 않았습니다",
                            "[LoadAddOn]SetUserLoadPath Fail:(1010)"));
}

class DiscoveryTest : public test::ControllerFixture {
protected:
    DiscoveryTest() : prefixEnv("WINEPREFIX", prefix.path()), programFilesEnv("ProgramFiles", "") {
        ::unsetenv("ProgramFiles");
    }
    void WriteRegistry(const std::string& installPathValue) {
        WriteFile(
            prefix / "system.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
            "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\World of Warcraft] 1700000000\n"
            "#time=1d9\n\"InstallPath\"=\"" +
                installPathValue + "\"\n");
    }
    test::TempDir prefix;
    ScopedEnv prefixEnv, programFilesEnv;
    std::string folder;
};

TEST_F(DiscoveryTest, InstallPathWithItsFinalSeparatorIsUsedUnchanged) {
    fs::CreateFolder(prefix / "dosdevices");
    ASSERT_EQ(::symlink((prefix / "drive_c").c_str(), (prefix / "dosdevices/c:").c_str()), 0);
    WriteFile(prefix / "drive_c/Games/World of Warcraft/Launcher.exe", "");
    WriteRegistry("C:\\\\Games\\\\World of Warcraft\\\\");
    ASSERT_EQ(FindGameFolder(window, log, folder), ResultCode::Ok);
    EXPECT_EQ(folder, prefix / "dosdevices/c:/Games/World of Warcraft/");
    EXPECT_TRUE(window.ChooserOpenedAt().empty());
}

TEST_F(DiscoveryTest, InstallPathWithoutTheSeparatorOpensTheChooser) {
    WriteFile(prefix / "drive_c/WoW/Launcher.exe", "");
    fs::CreateFolder(prefix / "dosdevices");
    ASSERT_EQ(::symlink((prefix / "drive_c").c_str(), (prefix / "dosdevices/c:").c_str()), 0);
    WriteRegistry("C:\\\\WoW");
    window.QueueFolder(prefix / "drive_c/WoW/");
    ASSERT_EQ(FindGameFolder(window, log, folder), ResultCode::Ok);
    ASSERT_EQ(window.ChooserOpenedAt().size(), 1u);
    // Opened at Program Files of the prefix, computed though it does not exist.
    EXPECT_EQ(window.ChooserOpenedAt()[0], prefix / "drive_c/Program Files (x86)/");
    EXPECT_EQ(folder, prefix / "drive_c/WoW/");
}

TEST_F(DiscoveryTest, DefaultFolderUnderProgramFilesNeedsNoRegistry) {
    ScopedEnv pf("ProgramFiles", prefix / "PF");
    WriteFile(prefix / "PF/World of Warcraft/Launcher.exe/inside", "a folder named so counts");
    ASSERT_EQ(FindGameFolder(window, log, folder), ResultCode::Ok);
    EXPECT_EQ(folder, prefix / "PF/World of Warcraft/");
}

TEST_F(DiscoveryTest, WrongChoiceAndCancelGiveTheirCodes) {
    window.QueueFolder(gameDir.path());  // no Launcher.exe there
    EXPECT_EQ(FindGameFolder(window, log, folder), ResultCode::NoLauncherInChoice);
    EXPECT_EQ(window.LastMessage(), "월드 오브 워크래프트 설치 폴더가 잘못 선택되었습니다");
    EXPECT_EQ(FindGameFolder(window, log, folder), ResultCode::ChooserCancelled);
    EXPECT_EQ(window.LastMessage(), "월드 오브 워크래프트 설치 폴더를 선택해야만 합니다");
    EXPECT_THAT(LogLines(),
                ElementsAre("[GetWowPath]월드 오브 워크래프트의 설치 폴더가 잘못 선택되었습니다"));

    window.SetId("id");
    window.SetPassword("pw");
    ctl.Login();
    EXPECT_EQ(window.LastMessage(), "월드 오브 워크래프트 폴더가 지정되지 않았습니다:(1002)");
    EXPECT_EQ(LogLines().back(), "[OnBnClickedBtnLogin]GetWowPath Fail:(1002)");
}

TEST_F(DiscoveryTest, FlavorLayoutNotFoundNamesWhatWasLookedFor) {
    test::TempDir home;
    ScopedEnv homeEnv("HOME", home.path());
    // Flavor folders without their executables: close to a root, not one.
    fs::EnsureFolder(gameDir / "_retail_");
    fs::EnsureFolder(gameDir / "_retail_/Interface");
    window.QueueFolder(gameDir.path());
    EXPECT_EQ(FindGameFolder(window, log, folder), ResultCode::NoLauncherInChoice);
    EXPECT_THAT(window.LastMessage(), HasSubstr("Wow.exe, WowClassic.exe"));

    // A flavor asked for by name that is not installed.
    WriteFile(gameDir / "_retail_/Wow.exe", "MZ");
    GameInstall install;
    EXPECT_EQ(FindGameInstall(window, log, {"classic", gameDir.path()}, install),
              ResultCode::NoLauncherInChoice);
    EXPECT_EQ(window.LastMessage(),
              "월드 오브 워크래프트의 _classic_ 폴더(클래식)를 찾을 수 없습니다");
    ASSERT_EQ(FindGameInstall(window, log, {"retail", gameDir.path()}, install), ResultCode::Ok);
    EXPECT_EQ(install.folder, gameDir / "_retail_/");
    EXPECT_EQ(install.program, gameDir / "_retail_/Wow.exe");
}

TEST(RegistryKeyTest, ReadsEscapesAndPrefersTheWow64View) {
    RegistryKey key;
    ASSERT_TRUE(key.LoadFromText(
        "[Software\\\\Blizzard Entertainment\\\\World of Warcraft] 1\n\"InstallPath\"=\"native\"\n"
        "[Software\\\\Wow6432Node\\\\Blizzard Entertainment\\\\World of Warcraft] 1\n"
        "\"InstallPath\"=\"D:\\\\\\xc6d4\\\"q\\\"\\\\\"\n\"Other\"=dword:00000001\n",
        "SOFTWARE\\Blizzard Entertainment\\World of Warcraft"));
    EXPECT_EQ(key.QueryString("installpath"), "D:\\월\"q\"\\");
    EXPECT_EQ(key.QueryString("Other"), std::nullopt);
    EXPECT_EQ(RegistryKey::MapWindowsPath("D:\\Games\\WoW\\", "/p"), "/p/dosdevices/d:/Games/WoW/");
    RegistryKey none;
    EXPECT_FALSE(none.LoadFromText("[Other] 1\n\"InstallPath\"=\"x\"\n", "SOFTWARE\\Missing"));
    EXPECT_EQ(none.QueryString("InstallPath"), std::nullopt);
}

}  // namespace
}  // namespace skiv
