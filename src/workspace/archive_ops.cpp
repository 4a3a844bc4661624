// Archive and package operations of the controller: they add the session's
// folders and log lines to the archive layer.

#include "archive/gzip_package.h"
#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/controller.h"

namespace skiv {

int CAddOnController::CompressFile(const std::string& source, const std::string& target) {
    return skiv::CompressFile(source, target, m_log);
}

int CAddOnController::DecompressFile(const std::string& source, const std::string& target) {
    return skiv::DecompressFile(source, target, m_log);
}

int CAddOnController::MakeUnTarDir(const std::string& relativeFolder, bool toGameFolder) {
    const std::string& base = toGameFolder ? m_session.gameFolder : m_session.loadFolder;
    for (std::size_t i = 0; i < relativeFolder.size(); ++i) {
        if (relativeFolder[i] != fs::kSep)
            continue;
        std::string prefix = base + relativeFolder.substr(0, i + 1);
        // Walked from the base without following links: a link inside the
        // target (Interface pointing elsewhere, say) refuses the folder.
        if (prefix.size() >= 1024 ||
            !fs::EnsureFolderBelow(base, relativeFolder.substr(0, i + 1))) {
            m_log.Write("[MakeUnTarDir]Backup 디렉토리 생성실패");
            return rc::kCannotCreateFolder;
        }
    }
    return 0;
}

int CAddOnController::UnTarFile(const std::string& archivePath, bool toGameFolder) {
    // The table is read once; entries are unpacked in table order.
    CTarReader reader;
    if (int r = reader.Open(archivePath)) {
        m_log.Write("[UnTarFile]GetTarInfo Fail:(%d)", r);
        return r;
    }
    const std::string& base = toGameFolder ? m_session.gameFolder : m_session.loadFolder;
    const std::int32_t count = reader.Header().count;
    // A negative count is no archive of ours; unpacking "nothing" from it
    // would report an install that installed nothing as a success.
    if (count < 0) {
        m_log.Write("[UnTarFile]GetFileInfo Fail:(%d)", kUnTarNoArchive);
        return kUnTarNoArchive;
    }
    // An entry that cannot be written is skipped so the rest still lands
    // (a roll back restores all it can), but the unpacking does not count
    // as done: the set on disk is not the one in the archive.
    int skipped = 0;
    std::string madeFolder;
    for (std::int32_t i = 0; i < count; ++i) {
        TarEntry entry;
        if (int r = reader.Entry(i, entry)) {
            m_log.Write("[UnTarFile]GetFileInfo Fail:(%d)", r);
            return r;
        }
        // An entry that would climb out of the base is refused and skipped.
        if (!IsSafeEntryPath(entry.folder, entry.fileName)) {
            m_log.Write("[UnTarFile]UnTar Fail:(%d)", kUnTarUnsafeName);
            if (skipped == 0)
                skipped = kUnTarUnsafeName;
            continue;
        }
        // Entries come grouped by folder: a folder made for the previous
        // entry needs no second round of mkdir calls.
        if (entry.folder != madeFolder) {
            if (int r = MakeUnTarDir(entry.folder, toGameFolder)) {
                m_log.Write("[UnTarFile]MakeTarDir Fail:(%d)", r);
                return r;
            }
            madeFolder = entry.folder;
        }
        int r = reader.Extract(entry, base + entry.folder + entry.fileName);
        CrashPoint("unpack.file");
        if (r == 0)
            continue;
        m_log.Write("[UnTarFile]UnTar Fail:(%d)", r);
        // A full disk fails the whole unpacking at once: every later write
        // would fail as well.
        if (r == kUnTarWriteFailed)
            return r;
        if (skipped == 0)
            skipped = r;
    }
    return skipped;
}

}  // namespace skiv
