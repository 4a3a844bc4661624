#pragma once
// The computer's "drives" for the folder chooser: on Linux the mount
// points of real file systems stand in for drive letters.

#include <QString>
#include <vector>

namespace skiv::app {

enum DriveType : int {
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

struct DriveRoot {
    QString path;  // mount point, ending with '/'
    int type = kDriveFixed;
};

// Mount points that are folders on real file systems (no proc, sysfs,
// cgroup and the like), sorted by path, each with its drive type: remote
// for network file systems, CD-ROM for optical ones, RAM disk for tmpfs,
// removable under /media and /run/media, fixed otherwise.
std::vector<DriveRoot> MountedDrives();

// The drive type a mount of fsType at mountPoint is shown as.
int DriveTypeOf(const QString& fsType, const QString& mountPoint);

}  // namespace skiv::app
