#include "app/drive_list.h"

#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <algorithm>

namespace skiv::app {

namespace {

bool IsPseudo(const QString& fs) {
    static const QSet<QString> pseudo = {
        QStringLiteral("proc"),     QStringLiteral("sysfs"),      QStringLiteral("devpts"),
        QStringLiteral("devtmpfs"), QStringLiteral("securityfs"), QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),  QStringLiteral("mqueue"),     QStringLiteral("hugetlbfs"),
        QStringLiteral("pstore"),   QStringLiteral("bpf"),        QStringLiteral("configfs"),
        QStringLiteral("fusectl"),  QStringLiteral("autofs"),     QStringLiteral("binfmt_misc"),
        QStringLiteral("nsfs"),     QStringLiteral("efivarfs"),   QStringLiteral("rpc_pipefs"),
        QStringLiteral("squashfs"), QStringLiteral("selinuxfs"),  QStringLiteral("overlay_meta"),
    };
    return pseudo.contains(fs) || fs.startsWith(QLatin1String("cgroup"));
}

}  // namespace

int DriveTypeOf(const QString& fsType, const QString& mountPoint) {
    const QString fs = fsType.toLower();
    if (fs.startsWith(QLatin1String("nfs")) || fs == QLatin1String("cifs") ||
        fs.startsWith(QLatin1String("smb")) || fs.contains(QLatin1String("sshfs")) ||
        fs == QLatin1String("9p") || fs == QLatin1String("afs"))
        return kDriveRemote;
    if (fs == QLatin1String("iso9660") || fs == QLatin1String("udf"))
        return kDriveCdRom;
    if (fs == QLatin1String("tmpfs") || fs == QLatin1String("ramfs"))
        return kDriveRamDisk;
    if (mountPoint.startsWith(QLatin1String("/media/")) ||
        mountPoint.startsWith(QLatin1String("/run/media/")))
        return kDriveRemovable;
    return kDriveFixed;
}

std::vector<DriveRoot> MountedDrives() {
    std::vector<DriveRoot> drives;
    QSet<QString> seen;
    for (const QStorageInfo& s : QStorageInfo::mountedVolumes()) {
        if (!s.isValid() || !s.isReady())
            continue;
        const QString fs = QString::fromLatin1(s.fileSystemType());
        QString root = s.rootPath();
        if (IsPseudo(fs) || !QFileInfo(root).isDir())
            continue;
        if (root.startsWith(QLatin1String("/proc")) || root.startsWith(QLatin1String("/sys")) ||
            root.startsWith(QLatin1String("/dev")))
            continue;
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
        if (seen.contains(root))
            continue;
        seen.insert(root);
        drives.push_back({root, DriveTypeOf(fs, root)});
    }
    std::sort(drives.begin(), drives.end(),
              [](const DriveRoot& a, const DriveRoot& b) { return a.path < b.path; });
    return drives;
}

}  // namespace skiv::app
