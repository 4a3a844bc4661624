// The staged swap backing out when a rename fails half way: every folder
// goes back where it was, and neither working folder is left.

#include <gtest/gtest.h>

#include "platform/fs.h"
#include "support/log_lines.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "workspace/staged_set.h"

namespace skiv {
namespace {

using test::WriteFile;

TEST(StagedSetTest, FailedRenameMidSwapPutsEveryFolderBack) {
    test::TempDir dir;
    const std::string game = dir.path() + "/";
    test::RecordingLog log;
    for (const char* f : {"Interface/a.lua", "WTF/Config.wtf"}) {
        WriteFile(game + f, std::string("old ") + f);
        WriteFile(game + kStagingFolder + f, std::string("new ") + f);
    }
    // Something the swap cannot move over stands where WTF/ must go aside:
    // Interface/ is swapped, WTF/ cannot be.
    WriteFile(game + kReplacedFolder + "WTF/stray", "stray");

    EXPECT_EQ(SwapStaged(game, {"Interface/", "WTF/"}, log), ResultCode::CannotCreateFolder);
    EXPECT_EQ(test::ReadFile(game + "Interface/a.lua"), "old Interface/a.lua");
    EXPECT_EQ(test::ReadFile(game + "WTF/Config.wtf"), "old WTF/Config.wtf");
    for (const char* gone : {kStagingFolder, kReplacedFolder})
        EXPECT_FALSE(fs::Exists(game + gone)) << gone;
    EXPECT_EQ(RecoverStaged(game, log), Leftover::None);
    EXPECT_EQ(test::SnapshotTree(game).size(), 2u);
    EXPECT_FALSE(log.lines.empty());  // the failing rename is logged
}

}  // namespace
}  // namespace skiv
