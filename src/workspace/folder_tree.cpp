// The folder walks: pack a sub-folder into the running flow's archive, delete
// a tree, delete the add-on set.

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/controller.h"

namespace skiv {

int CAddOnController::AddFileToTar(const std::string& relativeFolder) {
    std::vector<fs::FolderId> ancestors;
    return AddFileToTarWalk(relativeFolder, ancestors);
}

int CAddOnController::AddFileToTarWalk(const std::string& relativeFolder,
                                       std::vector<fs::FolderId>& ancestors) {
    std::string folder = m_session.gameFolder + relativeFolder;
    auto listing = fs::DirListing::Open(folder);
    if (!listing) {
        m_log.Write("[AddFileToTar]FindFirstFile Fail:(%d)", fs::LastError());
        return rc::kCannotListFolder;
    }
    // Links are followed, but a link back to a folder of the walk is not.
    if (auto id = fs::GetFolderId(folder)) {
        if (std::find(ancestors.begin(), ancestors.end(), *id) != ancestors.end())
            return 0;
        ancestors.push_back(*id);
    }
    const std::size_t depth = ancestors.size();
    fs::DirItem item;
    int result = 0;
    while (result == 0 && listing->Next(item)) {
        // A '\' in a name would unpack as a folder separator on Windows.
        if (item.name.find('\\') != std::string::npos) {
            if (item.name[0] != '.' || !item.isFolder) {
                m_log.Write("[AddFileToTar]AddFile Skip:(%s%s)", folder.c_str(), item.name.c_str());
            }
            continue;
        }
        if (item.isFolder) {
            // "." and ".." and every folder whose name starts with a dot.
            if (item.name[0] == '.')
                continue;
            result = AddFileToTarWalk(relativeFolder + item.name + fs::kSep, ancestors);
            continue;
        }
        // Only regular files are packed: reading a pipe would wait for a
        // writer that never comes, and a socket or device has no content.
        if (!item.isFile) {
            m_log.Write("[AddFileToTar]AddFile Skip:(%s%s)", folder.c_str(), item.name.c_str());
            continue;
        }
        m_session.tarArchive->SetSourceFolder(folder);
        int r = m_session.tarArchive->AddFile(item.name, relativeFolder, folder);
        if (r != 0) {
            m_log.Write("[AddFileToTar]AddFile Fail:(%d)", r);
            result = r;
        }
        CrashPoint("pack.file");
    }
    ancestors.resize(depth > 0 ? depth - 1 : 0);
    return result;
}

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
int CAddOnController::DeleteFolder(const std::string& relativeFolder) {
    std::string folder = m_session.gameFolder + relativeFolder;
    if (fs::IsLink(folder)) {
        std::string link = folder;
        while (link.size() > 1 && link.back() == fs::kSep)
            link.pop_back();
        if (fs::DeleteFile(link)) {
            m_log.Write("[DeleteFolder]DeleteLink:(%s)", link.c_str());
        } else {
            m_log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(), link.c_str());
        }
        return 0;
    }
    // A link swapped in after the check fails the listing instead.
    auto listing = fs::DirListing::OpenNoFollow(folder);
    if (!listing) {
        m_log.Write("[DeleteFolder]FindFirstFile Fail:(%d)(%s)", fs::LastError(),
                    (folder + "*.*").c_str());
        return rc::kCannotListFolder;
    }
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.isFolder && !item.isLink) {
            if (item.name == "." || item.name == "..")
                continue;
            if (int r = DeleteFolder(relativeFolder + item.name + fs::kSep))
                return r;
            continue;
        }
        std::string path = folder + item.name;
        // A link is removed as a link: what it points to is not ours to touch.
        if (item.isLink) {
            if (!fs::DeleteFile(path)) {
                m_log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(),
                            path.c_str());
            }
            continue;
        }
        if (auto attrs = fs::GetAttributes(path)) {
            if (attrs->readOnly && !fs::SetReadOnly(path, false)) {
                m_log.Write("[DeleteFolder]SetFileAttributes Fail:(%d)(%s)", fs::LastError(),
                            path.c_str());
            }
        } else {
            m_log.Write("[DeleteFolder]GetFileAttributes Fail:(%d)(%s)", fs::LastError(),
                        path.c_str());
        }
        if (!fs::DeleteFile(path)) {
            m_log.Write("[DeleteFolder]DeleteFile Fail:(%d)(%s)", fs::LastError(), path.c_str());
        }
        CrashPoint("delete.file");
    }
    listing.reset();
    if (!fs::RemoveFolder(folder)) {
        m_log.Write("[DeleteFolder]RemoveDirectory:(%d)(%s)", fs::LastError(), folder.c_str());
    }
    return 0;
}

int CAddOnController::DeleteCurAddOn(bool alsoCacheAndFonts) {
    auto del = [this](const char* folder) {
        if (int r = DeleteFolder(folder))
            m_log.Write("[DeleteCurAddOn]DeleteFolder Fail:(%d)", r);
    };
    del("Interface/");
    del("WTF/");
    if (alsoCacheAndFonts || m_session.fileType == kTypeFull) {
        del("Cache/");
        del("Fonts/");
    }
    return 0;
}

}  // namespace skiv
