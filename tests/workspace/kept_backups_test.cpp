// Kept install backups: the row of numbered archives, its limits, the
// repair after a killed shift, and a roll back that picks an older one
// through the window's questions and can itself be undone.

#include <gmock/gmock.h>

#include "controller_fixture.h"
#include "platform/fs.h"
#include "workspace/flows.h"
#include "workspace/kept_backups.h"

namespace skiv {
namespace {

using test::ReadFile;
using test::WriteFile;

class KeptBackupsTest : public test::ControllerFixture {
protected:
    // Makes the game's set hold one file with `text` and backs it up.
    ResultCode BackUpSet(const std::string& text, int position = 1) {
        WriteFile(game + "WTF/Config.wtf", text);
        return flow::BackUp({ctl.Session(), window, log}, position);
    }
    // The text of WTF/Config.wtf in each kept backup, newest first.
    std::vector<std::string> Row() {
        std::vector<std::string> texts;
        for (const KeptBackup& b : ListBackups(game + "Backup/")) {
            test::TempDir out;
            EXPECT_EQ(UnpackArchive(b.path, out.path() + "/", log), ResultCode::Ok);
            texts.push_back(std::to_string(b.number) + ":" + ReadFile(out / "WTF/Config.wtf"));
        }
        return texts;
    }
};

TEST_F(KeptBackupsTest, RowShiftsKeepsItsCountAndSizeAndSurvivesAKilledShift) {
    for (const char* t : {"a", "b", "c", "d"})
        ASSERT_EQ(BackUpSet(t), ResultCode::Ok);
    EXPECT_THAT(Row(), ::testing::ElementsAre("1:d", "2:c", "3:b"));
    // A roll back's own backup goes just below the newest.
    ASSERT_EQ(BackUpSet("r", 2), ResultCode::Ok);
    EXPECT_THAT(Row(), ::testing::ElementsAre("1:d", "2:r", "3:c"));

    // A byte limit below two backups keeps the newest only.
    ctl.Session().backupBytesLimit = fs::FileSize(game + "Backup/SkivAddonBackup.kso").value();
    ASSERT_EQ(BackUpSet("e"), ResultCode::Ok);
    EXPECT_THAT(Row(), ::testing::ElementsAre("1:e"));

    // A kill between the shift and the last rename: the new backup waits
    // under its own name and number 1 is free; the next start puts it back.
    ASSERT_TRUE(
        fs::Rename(game + "Backup/SkivAddonBackup.kso", game + "Backup/SkivAddonBackup.2.kso"));
    WriteFile(game + "Backup/SkivAddonBackup.new.kso",
              ReadFile(game + "Backup/SkivAddonBackup.2.kso"));
    RecoverKeptBackups(game + "Backup/");
    EXPECT_THAT(Row(), ::testing::ElementsAre("1:e", "2:e"));
    EXPECT_FALSE(fs::Exists(game + "Backup/SkivAddonBackup.new.kso"));
}

TEST_F(KeptBackupsTest, RollBackOffersEachBackupAndCanBeUndone) {
    ASSERT_EQ(BackUpSet("old"), ResultCode::Ok);
    ASSERT_EQ(BackUpSet("newer"), ResultCode::Ok);
    WriteFile(game + "WTF/Config.wtf", "now");
    ctl.Session().loggedIn = true;
    ctl.Session().backupMade = true;
    // Yes to the roll back, No to the newest backup, Yes to the older one.
    window.QueueAnswer(true);
    window.QueueAnswer(false);
    window.QueueAnswer(true);
    ctl.RollBack();
    ctl.WaitForWorker();
    EXPECT_EQ(window.LastMessage(), "되돌리기가 완료되었습니다.");
    ASSERT_EQ(window.Questions().size(), 3u);
    EXPECT_THAT(window.Questions()[1].text, ::testing::StartsWith("1번째 백업 ("));
    EXPECT_THAT(window.Questions()[2].text, ::testing::StartsWith("2번째 백업 ("));
    EXPECT_EQ(ReadFile(game + "WTF/Config.wtf"), "old");
    // The set it replaced is kept below the newest: the undo is a roll
    // back to backup 2.
    EXPECT_THAT(Row(), ::testing::ElementsAre("1:newer", "2:now", "3:old"));
    for (const char* gone : {"SkivAddonStaging", "SkivAddonReplaced"})
        EXPECT_FALSE(fs::Exists(game + gone)) << gone;

    // Declining every backup starts nothing.
    window.QueueAnswer(true);
    for (int i = 0; i < 3; ++i)
        window.QueueAnswer(false);
    const unsigned started = ctl.WorkersStarted();
    ctl.RollBack();
    EXPECT_EQ(ctl.WorkersStarted(), started);
    EXPECT_EQ(ReadFile(game + "WTF/Config.wtf"), "old");
}

}  // namespace
}  // namespace skiv
