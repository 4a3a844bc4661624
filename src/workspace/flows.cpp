// The save, install and roll-back flows. Each failing step logs one line
// and ends its flow with its code; the workers turn codes into messages.

#include <ctime>

#include "archive/tar_reader.h"
#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/controller.h"

namespace skiv {

namespace {

constexpr const char* kArchiveName = "SkivAddonTar.kso";
constexpr const char* kBackupName = "SkivAddonBackup.kso";
constexpr const char* kPackageName = "SkivAddon.ksp";

// Deletes the flow's archive object on every path out of a flow.
struct ArchiveScope {
    explicit ArchiveScope(SessionState& s) : session(s) {
        session.tarArchive = std::make_unique<CTarArchive>();
    }
    ~ArchiveScope() { session.tarArchive.reset(); }
    SessionState& session;
};

std::string NowText() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return buf;
}

}  // namespace

int CAddOnController::SaveAddOn() {
    SetProgress(2);
    int result = 0;
    {
        ArchiveScope scope(m_session);
        result = [&]() -> int {
            const bool full = Options().saveScope == SaveScope::WithCacheAndFonts;
            std::vector<const char*> folders{"Interface/", "WTF/"};
            if (full)
                folders.insert(folders.end(), {"Cache/", "Fonts/"});
            for (const char* folder : folders) {
                int r = AddFileToTar(folder);
                if (r == 0)
                    continue;
                m_log.Write("[SaveAddOn]AddFileToTar Fail:(%d)", r);
                if (r != rc::kCannotListFolder)
                    return r;
            }
            CrashPoint("save.after-pack");
            const int type = full ? kTypeFull : kTypeBasic;
            const std::string backup = m_session.gameFolder + "Backup/";
            if (!fs::EnsureFolder(backup)) {
                m_log.Write("[SaveAddOn]Backup 디렉토리 생성실패");
                return rc::kCannotCreateFolder;
            }
            SetProgress(5);
            if (int r = m_session.tarArchive->WriteArchive(kArchiveName, backup)) {
                m_log.Write("[SaveAddOn]AddFileToTar Fail:(%d)", r);
                return r;
            }
            CrashPoint("save.after-archive");
            SetProgress(7);
            const std::string archive = backup + kArchiveName;
            const std::string package = backup + kPackageName;
            if (int r = CompressFile(archive, package)) {
                m_log.Write("[SaveAddOn]CompressFile Fail:(%d)", r);
                return r;
            }
            CrashPoint("save.after-compress");
            SetProgress(10);
            if (int r = UploadFile(package, type)) {
                m_log.Write("[SaveAddOn]UploadFile Fail:(%d)", r);
                return r;
            }
            CrashPoint("save.after-upload");
            m_session.fileType = type;
            if (auto size = fs::FileSize(package); size && *size <= INT32_MAX) {
                m_session.fileSize = static_cast<std::int32_t>(*size);
            }
            m_session.saveDate = NowText();
            return 0;
        }();
    }
    SetProgress(100);
    return result;
}

int CAddOnController::LoadAddOn() {
    SetProgress(5);
    m_session.loadFolder = m_session.gameFolder;
    auto fail = [this](const char* step, int r) {
        m_log.Write("[LoadAddOn]%s Fail:(%d)", step, r);
        SetProgress(100);
        return r;
    };
    if (Options().installIntoFolder) {
        if (int r = SetUserLoadPath())
            return fail("SetUserLoadPath", r);
    } else {
        if (int r = BackupAddOn())
            return fail("BackupAddOn", r);
        m_session.backupMade = true;
        CrashPoint("install.after-backup");
        if (int r = DeleteCurAddOn(false))
            return fail("DeleteCurAddOn", r);
        CrashPoint("install.after-delete");
    }
    SetProgress(10);
    if (int r = DownloadFile())
        return fail("DownloadFile", r);
    CrashPoint("install.after-download");
    if (int r = SetMyAddOn())
        return fail("SetMyAddOn", r);
    SetProgress(100);
    return 0;
}

int CAddOnController::BackupAddOn() {
    ArchiveScope scope(m_session);
    for (const char* folder : {"Interface/", "WTF/", "Cache/", "Fonts/"}) {
        int r = AddFileToTar(folder);
        if (r == 0)
            continue;
        m_log.Write("[BackupAddOn]AddFileToTar Fail:(%d)", r);
        if (r != rc::kCannotListFolder)
            return r;
    }
    CrashPoint("backup.after-pack");
    const std::string backup = m_session.gameFolder + "Backup/";
    if (!fs::EnsureFolder(backup)) {
        m_log.Write("[BackupAddOn]Backup 디렉토리 생성실패");
        return rc::kCannotCreateFolder;
    }
    if (int r = m_session.tarArchive->WriteArchive(kBackupName, backup)) {
        m_log.Write("[BackupAddOn]AddFileToTar Fail:(%d)", r);
        return r;
    }
    return 0;
}

int CAddOnController::SetMyAddOn() {
    const std::string folder = m_session.loadFolder + "Backup/";
    const std::string archive = folder + kArchiveName;
    const std::string package = folder + kPackageName;
    if (int r = DecompressFile(package, archive)) {
        m_log.Write("[SetMyAddOn]DecompressFile Fail:(%d)", r);
        return r;
    }
    CrashPoint("install.after-decompress");
    if (int r = UnTarFile(archive, false)) {
        m_log.Write("[SetMyAddOn]UnTarFile Fail:(%d)", r);
        return r;
    }
    return 0;
}

int CAddOnController::RollbackAddOn() {
    const bool restore = Options().rollBack == RollBackChoice::RestoreBackup;
    // Nothing is deleted before the backup is known to be readable: a roll
    // back with a lost backup must not leave the player with no add-ons.
    if (restore) {
        const std::string archive = m_session.gameFolder + "Backup/" + kBackupName;
        CTarReader probe;
        int r = probe.Open(archive);
        const char* step = "GetTarInfo";
        if (r == 0 &&
            (probe.Header().count < 0 || probe.ReadableEntries() < probe.Header().count)) {
            r = kUnTarNoArchive;
            step = "GetFileInfo";
        }
        if (r != 0) {
            m_log.Write("[UnTarFile]%s Fail:(%d)", step, r);
            m_log.Write("[SetBackupAddOn]UnTarFile Fail:(%d)", r);
            m_log.Write("[RollbackAddOn]SetBackupAddOn Fail:(%d)", r);
            return r;
        }
    }
    if (int r = DeleteCurAddOn(true)) {
        m_log.Write("[RollbackAddOn]DeleteCurAddOn Fail:(%d)", r);
        return r;
    }
    CrashPoint("rollback.after-delete");
    if (Options().rollBack == RollBackChoice::RestoreBackup) {
        if (int r = SetBackupAddOn()) {
            m_log.Write("[RollbackAddOn]SetBackupAddOn Fail:(%d)", r);
            return r;
        }
    }
    return 0;
}

int CAddOnController::SetBackupAddOn() {
    const std::string archive = m_session.gameFolder + "Backup/" + kBackupName;
    if (int r = UnTarFile(archive, true)) {
        m_log.Write("[SetBackupAddOn]UnTarFile Fail:(%d)", r);
        return r;
    }
    return 0;
}

}  // namespace skiv
