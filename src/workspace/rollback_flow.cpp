#include "platform/crash_point.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/kept_backups.h"
#include "workspace/staged_set.h"

namespace skiv::flow {

namespace {

ResultCode RestoreFail(const Context& c, ResultCode r) {
    c.log.Write("[SetBackupAddOn]UnTarFile Fail:(%d)", Number(r));
    c.log.Write("[RollbackAddOn]SetBackupAddOn Fail:(%d)", Number(r));
    return r;
}

}  // namespace

// The chosen backup is unpacked beside the set first (so the shift of the
// kept backups cannot move it away), then the set is backed up, so the
// roll back can itself be undone, and only then swapped in.
ResultCode RollBack(const Context& c, int backupNumber) {
    const std::string& game = c.session.gameFolder;
    const std::string archive = game + "Backup/" + BackupArchiveName(backupNumber);
    // Nothing is touched before the backup is known to be readable.
    if (ResultCode r = CheckArchiveTable(archive, c.log, nullptr); r != ResultCode::Ok)
        return RestoreFail(c, r);
    if (ResultCode r = StageArchive(archive, game, c.log); r != ResultCode::Ok)
        return RestoreFail(c, r);
    CrashPoint("rollback.after-stage");
    if (ResultCode r = BackUp(c, 2); r != ResultCode::Ok) {
        c.log.Write("[RollbackAddOn]BackupAddOn Fail:(%d)", Number(r));
        DiscardStaged(game, c.log);
        return r;
    }
    CrashPoint("rollback.after-backup");
    if (ResultCode r = SwapStaged(game, AddOnSet::Folders(SaveScope::WithCacheAndFonts), c.log);
        r != ResultCode::Ok)
        return RestoreFail(c, r);
    return ResultCode::Ok;
}

ResultCode Reset(const Context& c) {
    AddOnSet::Delete(c.session.gameFolder, true, c.log);
    CrashPoint("rollback.after-delete");
    return ResultCode::Ok;
}

}  // namespace skiv::flow
