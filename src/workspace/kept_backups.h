#pragma once
// The install backups kept in the game's Backup/ folder: the newest as
// "SkivAddonBackup.kso", older ones as "SkivAddonBackup.2.kso",
// "SkivAddonBackup.3.kso" and so on, numbered from the newest. A new backup
// is written whole under a name of its own first and only then shifted
// into the row, so a failed or killed backup leaves the kept ones as they
// were (at worst with one number missing, which the next start fills).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/log_sink.h"
#include "platform/result_codes.h"
#include "workspace/addon_set.h"

namespace skiv {

// "SkivAddonBackup.kso" for 1, "SkivAddonBackup.N.kso" beyond.
std::string BackupArchiveName(int number);

struct KeptBackup {
    int number = 0;
    std::string path;
    std::int64_t bytes = 0;
    std::int64_t modified = 0;  // unix seconds
};

// The kept backups in backupFolder (ending with '/'), newest first.
std::vector<KeptBackup> ListBackups(const std::string& backupFolder);

struct KeepRule {
    int keep = 3;                                     // at most this many
    std::int64_t bytesLimit = std::int64_t(4) << 30;  // older ones beyond it go
};

// Writes what `set` collected as a new kept backup at `position` (1: the
// newest; 2: just below it, for a roll back's own backup, so the install's
// backup stays the one a plain roll back restores), shifting older ones
// down and dropping those beyond the rule. The writer's code on failure,
// with the kept ones untouched.
ResultCode WriteKeptBackup(AddOnSet& set, const std::string& backupFolder, int position,
                           const KeepRule& rule, LogSink& log);

// Puts a backup a killed shift left under its temporary name back in its
// place.
void RecoverKeptBackups(const std::string& backupFolder);

}  // namespace skiv
