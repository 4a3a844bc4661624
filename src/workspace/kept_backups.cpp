#include "workspace/kept_backups.h"

#include "platform/crash_point.h"
#include "platform/fs.h"

namespace skiv {

namespace {

constexpr const char* kNewBackupName = "SkivAddonBackup.new.kso";
// Numbers looked at when listing: generous beyond any rule, so a rule made
// smaller later still finds and drops the older ones.
constexpr int kMaxNumber = 32;

}  // namespace

std::string BackupArchiveName(int number) {
    if (number <= 1)
        return "SkivAddonBackup.kso";
    return "SkivAddonBackup." + std::to_string(number) + ".kso";
}

std::vector<KeptBackup> ListBackups(const std::string& backupFolder) {
    std::vector<KeptBackup> kept;
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string path = backupFolder + BackupArchiveName(n);
        if (!fs::Exists(path) || fs::IsLink(path) || fs::IsFolder(path))
            continue;
        kept.push_back(
            {n, path, fs::FileSize(path).value_or(0), fs::ModifiedTime(path).value_or(0)});
    }
    return kept;
}

ResultCode WriteKeptBackup(AddOnSet& set, const std::string& backupFolder, int position,
                           const KeepRule& rule, LogSink& log) {
    if (ResultCode r = set.Write(kNewBackupName, backupFolder); r != ResultCode::Ok)
        return r;
    CrashPoint("backup.after-write");
    // The row holds only our own files: anything else under one of its
    // names (a link planted there, say) is removed as itself, never
    // followed or moved along.
    for (int n = 1; n <= kMaxNumber; ++n) {
        const std::string path = backupFolder + BackupArchiveName(n);
        if (fs::IsLink(path))
            fs::DeleteFile(path);
    }
    const int keep = rule.keep < 1 ? 1 : rule.keep;
    if (position > keep)
        position = keep;
    // Shift from the oldest up, so every rename goes to a free name.
    const std::vector<KeptBackup> kept = ListBackups(backupFolder);
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        if (it->number < position)
            break;
        const int to = it->number + 1;
        const bool moved = to <= keep && fs::Rename(it->path, backupFolder + BackupArchiveName(to));
        if (!moved && !fs::DeleteFile(it->path))
            log.Write("[BackupAddOn]DeleteFile Fail:(%d)(%s)", fs::LastError(), it->path.c_str());
        CrashPoint("backup.shift");
    }
    if (!fs::Rename(backupFolder + kNewBackupName, backupFolder + BackupArchiveName(position))) {
        log.Write("[BackupAddOn]MoveFile Fail:(%d)", fs::LastError());
        return ResultCode::ArchiveCannotOpen;
    }
    // The byte limit: the newest always stays, then as many as fit.
    std::int64_t total = 0;
    for (const KeptBackup& b : ListBackups(backupFolder)) {
        total += b.bytes;
        if (b.number > 1 && total > rule.bytesLimit)
            fs::DeleteFile(b.path);
    }
    fs::SyncFolder(backupFolder);
    return ResultCode::Ok;
}

void RecoverKeptBackups(const std::string& backupFolder) {
    const std::string fresh = backupFolder + kNewBackupName;
    if (!fs::Exists(fresh))
        return;
    // A kill during the shift leaves one number free below the highest:
    // the new backup takes it, so no backup is lost (the order of the two
    // beside the gap may be off by one). With no gap the shift never began,
    // and the game folder still holds what the new backup holds.
    const std::vector<KeptBackup> kept = ListBackups(backupFolder);
    int expected = 1;
    for (const KeptBackup& b : kept) {
        if (b.number != expected)
            break;
        ++expected;
    }
    if (!kept.empty() && expected < kept.back().number)
        fs::Rename(fresh, backupFolder + BackupArchiveName(expected));
    else if (kept.empty())
        fs::Rename(fresh, backupFolder + BackupArchiveName(1));
    else
        fs::DeleteFile(fresh);
}

}  // namespace skiv
