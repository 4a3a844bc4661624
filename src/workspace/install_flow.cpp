#include "archive/gzip_package.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/game_folder.h"

namespace skiv::flow {

namespace {

// Packs all four folders of the game's set into Backup/, so that a roll
// back can restore what the install replaces.
ResultCode BackUp(const Context& c) {
    const std::string& game = c.session.gameFolder;
    AddOnSet set(game, c.log);
    ResultCode r =
        set.Collect(SaveScope::WithCacheAndFonts, [&](const std::string&, ResultCode code) {
            c.log.Write("[BackupAddOn]AddFileToTar Fail:(%d)", Number(code));
        });
    if (r != ResultCode::Ok)
        return r;
    CrashPoint("backup.after-pack");
    const std::string backup = game + "Backup/";
    if (!fs::EnsureOwnFolder(backup)) {
        c.log.Write("[BackupAddOn]Backup 디렉토리 생성실패");
        return ResultCode::CannotCreateFolder;
    }
    if (r = set.Write(kBackupArchiveName, backup); r != ResultCode::Ok)
        c.log.Write("[BackupAddOn]AddFileToTar Fail:(%d)", Number(r));
    return r;
}

// Unpacks the fetched package in target's Backup/ into target.
ResultCode Unpack(const Context& c, const std::string& target) {
    const std::string archive = target + "Backup/" + kSetArchiveName;
    ResultCode r = DecompressFile(target + "Backup/" + kPackageName, archive, c.log);
    if (r != ResultCode::Ok) {
        c.log.Write("[SetMyAddOn]DecompressFile Fail:(%d)", Number(r));
        return r;
    }
    CrashPoint("install.after-decompress");
    if (r = UnpackArchive(archive, target, c.log); r != ResultCode::Ok)
        c.log.Write("[SetMyAddOn]UnTarFile Fail:(%d)", Number(r));
    return r;
}

}  // namespace

ResultCode InstallSet(const Context& c, bool intoChosenFolder, int version) {
    c.window.SetProgress(5);
    ProgressToEnd end{c.window};
    SessionState& s = c.session;
    auto fail = [&c](const char* step, ResultCode r) {
        c.log.Write("[LoadAddOn]%s Fail:(%d)", step, Number(r));
        return r;
    };
    std::string target = s.gameFolder;
    if (intoChosenFolder) {
        if (ResultCode r = ChooseInstallFolder(c.window, c.log, target); r != ResultCode::Ok)
            return fail("SetUserLoadPath", r);
    }
    // With delta exchanges the package is assembled and checked whole
    // before anything is backed up or deleted.
    const bool delta = !s.deltaBase.empty();
    if (version > 0 && !delta)
        return fail("DownloadFile", ResultCode::DeltaNoVersion);
    Manifest manifest;
    if (delta) {
        c.window.SetProgress(10);
        if (ResultCode r = FetchDeltaPackage(c, target, version, manifest); r != ResultCode::Ok)
            return fail("DownloadFile", r);
        CrashPoint("install.after-fetch");
    }
    if (!intoChosenFolder) {
        if (ResultCode r = BackUp(c); r != ResultCode::Ok)
            return fail("BackupAddOn", r);
        s.backupMade = true;
        CrashPoint("install.after-backup");
        // The stored set's scope says which folders it replaces.
        AddOnSet::Delete(s.gameFolder, s.fileType == kTypeFull, c.log);
        CrashPoint("install.after-delete");
    }
    if (!delta) {
        c.window.SetProgress(10);
        ResultCode r = DownloadExchange({s.downloadUrl, s.memberId, s.fileSize, target}, c.log,
                                        [&c](int p) { c.window.SetProgress(p); });
        if (r != ResultCode::Ok)
            return fail("DownloadFile", r);
    }
    CrashPoint("install.after-download");
    if (ResultCode r = Unpack(c, target); r != ResultCode::Ok)
        return fail("SetMyAddOn", r);
    if (delta && !intoChosenFolder)
        RememberInstalledPieces(c, target + "Backup/" + kSetArchiveName, manifest);
    return ResultCode::Ok;
}

}  // namespace skiv::flow
