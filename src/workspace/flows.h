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

// Fetches the stored set and unpacks it: into the game folder after packing
// the game's set into Backup/ and deleting it, or into a folder the user
// chooses (the game folder untouched). LoadFolderDeclined when the user
// cancels the chooser.
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

// Replaces the set with the last install's backup; deletes nothing when the
// backup cannot be read.
ResultCode RollBack(const Context& c);

// Deletes the set, Cache and Fonts included; restores nothing.
ResultCode Reset(const Context& c);

}  // namespace skiv::flow
