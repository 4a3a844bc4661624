// The delete walk of the add-on set's folders.

#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/addon_set.h"

namespace skiv {

// Deletes the folder's tree below the game folder and the folder itself.
// No link is followed at any depth: a link found where a folder is expected
// (GAME/Interface pointing to a folder elsewhere, say) is removed as a link,
// and what it points to stays as it was. Removing rather than refusing keeps
// reset, install and roll back whole: the backup was packed through the link,
// so a roll back restores those files into a real folder inside the game
// folder, and no later unpacking meets the link (unpacking never writes
// through one). Refusing would leave the link in place and fail every
// install after it. The removal is logged, so the player can tell where the
// old add-ons still are.
ResultCode DeleteFolder(const std::string& gameFolder, const std::string& relativeFolder,
                        LogSink& log) {
    std::string folder = gameFolder + relativeFolder;
    if (fs::IsLink(folder)) {
        std::string link = folder;
        while (link.size() > 1 && link.back() == fs::kSep)
            link.pop_back();
        if (fs::DeleteFile(link)) {
            log.Write("[DeleteFolder]DeleteLink:(%s)", link.c_str());
        } else {
            log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(), link.c_str());
        }
        return ResultCode::Ok;
    }
    // A link swapped in after the check fails the listing instead.
    auto listing = fs::DirListing::OpenNoFollow(folder);
    if (!listing) {
        log.Write("[DeleteFolder]FindFirstFile Fail:(%d)(%s)", fs::LastError(),
                  (folder + "*.*").c_str());
        return ResultCode::CannotListFolder;
    }
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.isFolder && !item.isLink) {
            if (item.name == "." || item.name == "..")
                continue;
            ResultCode r = DeleteFolder(gameFolder, relativeFolder + item.name + fs::kSep, log);
            if (r != ResultCode::Ok)
                return r;
            continue;
        }
        std::string path = folder + item.name;
        // A link is removed as a link: what it points to is not ours to touch.
        if (item.isLink) {
            if (!fs::DeleteFile(path)) {
                log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(), path.c_str());
            }
            continue;
        }
        if (auto attrs = fs::GetAttributes(path)) {
            if (attrs->readOnly && !fs::SetReadOnly(path, false)) {
                log.Write("[DeleteFolder]SetFileAttributes Fail:(%d)(%s)", fs::LastError(),
                          path.c_str());
            }
        } else {
            log.Write("[DeleteFolder]GetFileAttributes Fail:(%d)(%s)", fs::LastError(),
                      path.c_str());
        }
        if (!fs::DeleteFile(path)) {
            log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(), path.c_str());
        }
        CrashPoint("delete.file");
    }
    listing.reset();
    if (!fs::RemoveFolder(folder)) {
        log.Write("[DeleteFolder]RemoveDirectory:(%d)(%s)", fs::LastError(), folder.c_str());
    }
    return ResultCode::Ok;
}

}  // namespace skiv
