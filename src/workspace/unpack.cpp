// Unpacking an archive into a folder: the install's set into the game
// folder or a chosen folder, and a roll back's backup into the game folder.

#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/addon_set.h"

namespace skiv {

namespace {

// Makes every folder of relativeFolder below base, outermost first.
ResultCode MakeFolders(const std::string& base, const std::string& relativeFolder, LogSink& log) {
    for (std::size_t i = 0; i < relativeFolder.size(); ++i) {
        if (relativeFolder[i] != fs::kSep)
            continue;
        std::string prefix = base + relativeFolder.substr(0, i + 1);
        // Walked from the base without following links: a link inside the
        // target (Interface pointing elsewhere, say) refuses the folder.
        if (prefix.size() >= 1024 ||
            !fs::EnsureFolderBelow(base, relativeFolder.substr(0, i + 1))) {
            log.Write("[MakeUnTarDir]Backup 디렉토리 생성실패");
            return ResultCode::CannotCreateFolder;
        }
    }
    return ResultCode::Ok;
}

}  // namespace

ResultCode UnpackArchive(const std::string& archivePath, const std::string& base, LogSink& log) {
    // The table is read once; entries are unpacked in table order.
    ArchiveReader reader;
    if (ReadOutcome r = reader.Open(archivePath); r != ReadOutcome::Ok) {
        log.Write("[UnTarFile]GetTarInfo Fail:(%d)", Number(ToResultCode(r)));
        return ToResultCode(r);
    }
    const std::int32_t count = reader.Header().count;
    // A negative count is no archive of ours; unpacking "nothing" from it
    // would report an install that installed nothing as a success.
    if (count < 0) {
        log.Write("[UnTarFile]GetFileInfo Fail:(%d)", Number(ResultCode::UnpackNoArchive));
        return ResultCode::UnpackNoArchive;
    }
    // An entry that cannot be written is skipped so the rest still lands
    // (a roll back restores all it can), but the unpacking does not count
    // as done: the set on disk is not the one in the archive.
    ResultCode skipped = ResultCode::Ok;
    std::string madeFolder;
    for (std::int32_t i = 0; i < count; ++i) {
        TarEntry entry;
        if (ReadOutcome r = reader.Entry(i, entry); r != ReadOutcome::Ok) {
            log.Write("[UnTarFile]GetFileInfo Fail:(%d)", Number(ToResultCode(r)));
            return ToResultCode(r);
        }
        // An entry that would climb out of the base is refused and skipped.
        if (!IsSafeEntryPath(entry.folder, entry.fileName)) {
            log.Write("[UnTarFile]UnTar Fail:(%d)", Number(ResultCode::UnpackUnsafeName));
            if (skipped == ResultCode::Ok)
                skipped = ResultCode::UnpackUnsafeName;
            continue;
        }
        // Entries come grouped by folder: a folder made for the previous
        // entry needs no second round of mkdir calls.
        if (entry.folder != madeFolder) {
            if (ResultCode r = MakeFolders(base, entry.folder, log); r != ResultCode::Ok) {
                log.Write("[UnTarFile]MakeTarDir Fail:(%d)", Number(r));
                return r;
            }
            madeFolder = entry.folder;
        }
        const ResultCode r =
            ToResultCode(reader.Extract(entry, base + entry.folder + entry.fileName));
        CrashPoint("unpack.file");
        if (r == ResultCode::Ok)
            continue;
        log.Write("[UnTarFile]UnTar Fail:(%d)", Number(r));
        // A full disk fails the whole unpacking at once: every later write
        // would fail as well.
        if (r == ResultCode::UnpackWriteFailed)
            return r;
        if (skipped == ResultCode::Ok)
            skipped = r;
    }
    return skipped;
}

}  // namespace skiv
