// The folder walks: pack a sub-folder into the running flow's archive, delete
// a tree, delete the add-on set.

#include <cstring>

#include "platform/fs.h"
#include "workspace/controller.h"

namespace skiv {

int CAddOnController::AddFileToTar(const std::string& relativeFolder) {
    std::string folder = m_session.gameFolder + relativeFolder;
    auto listing = fs::DirListing::Open(folder);
    if (!listing) {
        m_log.Write("[AddFileToTar]FindFirstFile Fail:(%d)", fs::LastError());
        return rc::kCannotListFolder;
    }
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.isFolder) {
            // "." and ".." and every folder whose name starts with a dot.
            if (item.name[0] == '.') continue;
            if (int r = AddFileToTar(relativeFolder + item.name + fs::kSep)) return r;
            continue;
        }
        m_session.tarArchive->SetSourceFolder(folder);
        int r = m_session.tarArchive->AddFile(item.name, relativeFolder, folder);
        if (r != 0) {
            m_log.Write("[AddFileToTar]AddFile Fail:(%d)", r);
            return r;
        }
    }
    return 0;
}

int CAddOnController::DeleteFolder(const std::string& relativeFolder) {
    std::string folder = m_session.gameFolder + relativeFolder;
    auto listing = fs::DirListing::Open(folder);
    if (!listing) {
        m_log.Write("[DeleteFolder]FindFirstFile Fail:(%d)(%s)", fs::LastError(),
                    (folder + "*.*").c_str());
        return rc::kCannotListFolder;
    }
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.isFolder) {
            if (item.name == "." || item.name == "..") continue;
            if (int r = DeleteFolder(relativeFolder + item.name + fs::kSep)) return r;
            continue;
        }
        std::string path = folder + item.name;
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
    }
    listing.reset();
    if (!fs::RemoveFolder(folder)) {
        m_log.Write("[DeleteFolder]RemoveDirectory:(%d)(%s)", fs::LastError(), folder.c_str());
    }
    return 0;
}

int CAddOnController::DeleteCurAddOn(bool alsoCacheAndFonts) {
    auto del = [this](const char* folder) {
        if (int r = DeleteFolder(folder)) m_log.Write("[DeleteCurAddOn]DeleteFolder Fail:(%d)", r);
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
