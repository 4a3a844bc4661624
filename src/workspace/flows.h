#pragma once
// The four tasks the controller runs on its worker: save, install, roll
// back and reset. Each is a function with its own local state; it reads
// and updates the session's facts, moves the window's progress bar, and
// writes one log line per failing step before ending with that step's code.
// None shows a message: the controller turns the outcome into one.

#include "platform/result_codes.h"
#include "service/delta_exchange.h"
#include "workspace/operation_log.h"
#include "workspace/session.h"
#include "workspace/window_ops.h"

namespace skiv::flow {

// The files a task leaves in the game's (or the chosen folder's) Backup/.
inline constexpr const char* kSetArchiveName = "SkivAddonTar.kso";  // the set as saved or fetched
inline constexpr const char* kBackupArchiveName =
    "SkivAddonBackup.kso";                                    // the set before an install
inline constexpr const char* kPackageName = "SkivAddon.ksp";  // the compressed set

// What a task works with. All three outlive the task.
struct Context {
    SessionState& session;
    WindowOps& window;
    LogSink& log;
};

// Moves the progress bar to its end when a task leaves, by any path.
struct ProgressToEnd {
    WindowOps& window;
    ~ProgressToEnd() { window.SetProgress(100); }
};

// Packs the set of the scope into Backup/, compresses it and uploads it;
// on Ok the session holds the new stored set's type, size and date.
ResultCode SaveSet(const Context& c, SaveScope scope);

// Fetches the stored set, checks it against what the service recorded and
// reads its whole table; only then is the game's set backed up and the new
// set unpacked beside it and swapped in (see workspace/staged_set.h). Into
// a chosen folder it unpacks in place, the game folder untouched.
// PackageMismatch when the download differs from the record;
// LoadFolderDeclined when the user cancels the chooser.
// version: 0 the current stored set by the classic download (or the delta
// exchanges when the service offers them), n > 0 that stored version.
ResultCode InstallSet(const Context& c, bool intoChosenFolder, int version = 0);
// Assembles version (0: the current one) as target's Backup/SkivAddon.ksp
// from the piece cache and the service, and checks it whole against the
// manifest (m) before it takes that name; nothing else is touched.
ResultCode FetchDeltaPackage(const Context& c, const std::string& target, int version, Manifest& m);
// Makes the unpacked archive's files, cut as a save would cut them, the
// game folder's piece cache; passed over when they do not match m.
void RememberInstalledPieces(const Context& c, const std::string& archive, const Manifest& m);

// Replaces the set with a kept install backup (1: the newest); the set is
// backed up first, as kept backup 2, so the roll back can be undone.
// Touches nothing when the backup cannot be read.
ResultCode RollBack(const Context& c, int backupNumber = 1);

// Deletes the set, Cache and Fonts included; restores nothing.
ResultCode Reset(const Context& c);

// Shared by install and roll back. Packs the game's four folders into a
// kept backup at `position` (see workspace/kept_backups.h).
ResultCode BackUp(const Context& c, int position);
// Opens an archive and checks its whole table; the reader's code, logged
// as the unpacking logs it. The entry count in *count when given.
ResultCode CheckArchiveTable(const std::string& archive, LogSink& log, std::int64_t* count);

}  // namespace skiv::flow
