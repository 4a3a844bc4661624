#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"

namespace skiv::flow {

namespace {

// Nothing is deleted before the backup is known to be readable: a roll back
// with a lost backup must not leave the player with no add-ons.
ResultCode CheckBackup(const Context& c, const std::string& archive) {
    ArchiveReader probe;
    ResultCode r = ToResultCode(probe.Open(archive));
    const char* step = "GetTarInfo";
    if (r == ResultCode::Ok &&
        (probe.Header().count < 0 || probe.ReadableEntries() < probe.Header().count)) {
        r = ResultCode::UnpackNoArchive;
        step = "GetFileInfo";
    }
    if (r != ResultCode::Ok) {
        c.log.Write("[UnTarFile]%s Fail:(%d)", step, Number(r));
        c.log.Write("[SetBackupAddOn]UnTarFile Fail:(%d)", Number(r));
        c.log.Write("[RollbackAddOn]SetBackupAddOn Fail:(%d)", Number(r));
    }
    return r;
}

}  // namespace

ResultCode RollBack(const Context& c) {
    const std::string& game = c.session.gameFolder;
    const std::string archive = game + "Backup/" + kBackupArchiveName;
    if (ResultCode r = CheckBackup(c, archive); r != ResultCode::Ok)
        return r;
    AddOnSet::Delete(game, true, c.log);
    CrashPoint("rollback.after-delete");
    if (ResultCode r = UnpackArchive(archive, game, c.log); r != ResultCode::Ok) {
        c.log.Write("[SetBackupAddOn]UnTarFile Fail:(%d)", Number(r));
        c.log.Write("[RollbackAddOn]SetBackupAddOn Fail:(%d)", Number(r));
        return r;
    }
    return ResultCode::Ok;
}

ResultCode Reset(const Context& c) {
    AddOnSet::Delete(c.session.gameFolder, true, c.log);
    CrashPoint("rollback.after-delete");
    return ResultCode::Ok;
}

}  // namespace skiv::flow
