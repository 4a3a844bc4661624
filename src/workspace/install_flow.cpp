#include "archive/gzip_package.h"
#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "platform/sha256.h"
#include "service/exchanges.h"
#include "workspace/addon_set.h"
#include "workspace/flows.h"
#include "workspace/game_folder.h"
#include "workspace/kept_backups.h"
#include "workspace/staged_set.h"

namespace skiv::flow {

// Packs all four folders of the game's set into a kept backup in Backup/,
// so that a roll back can restore what the install replaces.
ResultCode BackUp(const Context& c, int position) {
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
    const KeepRule rule{c.session.keepBackups, c.session.backupBytesLimit};
    if (r = WriteKeptBackup(set, backup, position, rule, c.log); r != ResultCode::Ok)
        c.log.Write("[BackupAddOn]AddFileToTar Fail:(%d)", Number(r));
    return r;
}

// Checks the whole table of an unpacked-to-be archive before anything is
// replaced: the reader's code, logged as the unpacking would log it.
ResultCode CheckArchiveTable(const std::string& archive, LogSink& log, std::int64_t* count) {
    ArchiveReader probe;
    ResultCode r = ToResultCode(probe.Open(archive));
    const char* step = "GetTarInfo";
    if (r == ResultCode::Ok &&
        (probe.Header().count < 0 || probe.ReadableEntries() < probe.Header().count)) {
        r = ResultCode::UnpackNoArchive;
        step = "GetFileInfo";
    }
    if (r != ResultCode::Ok)
        log.Write("[UnTarFile]%s Fail:(%d)", step, Number(r));
    else if (count)
        *count = probe.Header().count;
    return r;
}

namespace {

// The downloaded package against what the service recorded at upload.
// Without a record (an older service) there is nothing to check against.
ResultCode CheckPackage(const Context& c, const std::optional<PackageCheck>& check,
                        const std::string& package) {
    if (!check)
        return ResultCode::Ok;
    const std::optional<std::string> digest = Sha256OfFile(package);
    if (!digest || *digest != check->sha256) {
        c.log.Write("[CheckPackage]SHA256 Mismatch:(%s)(%s)", check->sha256.c_str(),
                    digest ? digest->c_str() : "unreadable");
        return ResultCode::PackageMismatch;
    }
    return ResultCode::Ok;
}

// The decompressed archive against the recorded entry count and size.
ResultCode CheckArchive(const Context& c, const std::optional<PackageCheck>& check,
                        const std::string& archive, std::int64_t count) {
    if (!check)
        return ResultCode::Ok;
    const std::int64_t bytes = fs::FileSize(archive).value_or(-1);
    if ((check->entries >= 0 && check->entries != count) ||
        (check->bytes >= 0 && check->bytes != bytes)) {
        c.log.Write("[CheckPackage]Archive Mismatch:(%lld %lld)(%lld %lld)",
                    static_cast<long long>(check->entries), static_cast<long long>(check->bytes),
                    static_cast<long long>(count), static_cast<long long>(bytes));
        return ResultCode::PackageMismatch;
    }
    return ResultCode::Ok;
}

}  // namespace

// Everything that can fail without harm comes first: the download (or the
// assembly from pieces), its check, the decompression and the archive's
// table. Only then is the game's set backed up and the new one unpacked
// beside it and swapped in, so a failure at any step leaves the old set or
// the new one, never a mix.
ResultCode InstallSet(const Context& c, bool intoChosenFolder, int version) {
    c.window.SetProgress(5);
    ProgressToEnd end{c.window};
    SessionState& s = c.session;
    auto fail = [&c](const char* step, ResultCode r) {
        c.log.Write("[LoadAddOn]%s Fail:(%d)", step, Number(r));
        return r;
    };
    auto unpackFail = [&](ResultCode r) {
        c.log.Write("[SetMyAddOn]UnTarFile Fail:(%d)", Number(r));
        return fail("SetMyAddOn", r);
    };
    std::string target = s.gameFolder;
    if (intoChosenFolder) {
        if (ResultCode r = ChooseInstallFolder(c.window, c.log, target); r != ResultCode::Ok)
            return fail("SetUserLoadPath", r);
    }
    // With the delta exchanges the package is assembled from pieces and
    // checked whole against its manifest; the classic download is checked
    // against what the service recorded at upload.
    const bool delta = !s.deltaBase.empty();
    if (version > 0 && !delta)
        return fail("DownloadFile", ResultCode::DeltaNoVersion);
    Manifest manifest;
    c.window.SetProgress(10);
    ResultCode r = ResultCode::Ok;
    if (delta) {
        if (r = FetchDeltaPackage(c, target, version, manifest); r != ResultCode::Ok)
            return fail("DownloadFile", r);
        CrashPoint("install.after-fetch");
    } else {
        r = DownloadExchange({s.downloadUrl, s.memberId, s.fileSize, target}, c.log,
                             [&c](int p) { c.window.SetProgress(p); });
        if (r != ResultCode::Ok)
            return fail("DownloadFile", r);
    }
    CrashPoint("install.after-download");
    const std::optional<PackageCheck> check = delta ? std::nullopt : s.packageCheck;
    const std::string package = target + "Backup/" + kPackageName;
    if (r = CheckPackage(c, check, package); r != ResultCode::Ok)
        return fail("CheckPackage", r);
    const std::string archive = target + "Backup/" + kSetArchiveName;
    if (r = DecompressFile(package, archive, c.log); r != ResultCode::Ok) {
        c.log.Write("[SetMyAddOn]DecompressFile Fail:(%d)", Number(r));
        return fail("SetMyAddOn", r);
    }
    CrashPoint("install.after-decompress");
    std::int64_t count = 0;
    if (r = CheckArchiveTable(archive, c.log, &count); r != ResultCode::Ok)
        return unpackFail(r);
    if (r = CheckArchive(c, check, archive, count); r != ResultCode::Ok)
        return fail("CheckPackage", r);
    if (intoChosenFolder) {
        // The chosen folder is the player's own: unpacked over in place.
        if (r = UnpackArchive(archive, target, c.log); r != ResultCode::Ok)
            return unpackFail(r);
        return ResultCode::Ok;
    }
    if (r = BackUp(c, 1); r != ResultCode::Ok)
        return fail("BackupAddOn", r);
    s.backupMade = true;
    CrashPoint("install.after-backup");
    if (r = StageArchive(archive, s.gameFolder, c.log); r != ResultCode::Ok)
        return unpackFail(r);
    CrashPoint("install.after-stage");
    // The stored set's scope says which folders it replaces.
    if (r = SwapStaged(s.gameFolder,
                       AddOnSet::Folders(s.fileType == kTypeFull ? SaveScope::WithCacheAndFonts
                                                                 : SaveScope::Basic),
                       c.log);
        r != ResultCode::Ok)
        return fail("SetMyAddOn", r);
    if (delta)
        RememberInstalledPieces(c, archive, manifest);
    return ResultCode::Ok;
}

}  // namespace skiv::flow
