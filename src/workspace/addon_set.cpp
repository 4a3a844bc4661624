#include "workspace/addon_set.h"

#include <algorithm>

#include "platform/crash_point.h"

namespace skiv {

std::vector<std::string> AddOnSet::Folders(SaveScope scope) {
    if (scope == SaveScope::WithCacheAndFonts)
        return {"Interface/", "WTF/", "Cache/", "Fonts/"};
    return {"Interface/", "WTF/"};
}

ResultCode AddOnSet::Collect(SaveScope scope, const FolderFailure& onFailure) {
    for (const std::string& folder : Folders(scope)) {
        ResultCode r = AddFolder(folder);
        if (r == ResultCode::Ok)
            continue;
        onFailure(folder, r);
        if (r != ResultCode::CannotListFolder)
            return r;
    }
    return ResultCode::Ok;
}

ResultCode AddOnSet::AddFolder(const std::string& relativeFolder) {
    std::vector<fs::FolderId> ancestors;
    return Walk(relativeFolder, ancestors);
}

ResultCode AddOnSet::Walk(const std::string& relativeFolder, std::vector<fs::FolderId>& ancestors) {
    std::string folder = m_gameFolder + relativeFolder;
    auto listing = fs::DirListing::Open(folder);
    if (!listing) {
        m_log.Write("[AddFileToTar]FindFirstFile Fail:(%d)", fs::LastError());
        return ResultCode::CannotListFolder;
    }
    // Links are followed, but a link back to a folder of the walk is not.
    if (auto id = fs::GetFolderId(folder)) {
        if (std::find(ancestors.begin(), ancestors.end(), *id) != ancestors.end())
            return ResultCode::Ok;
        ancestors.push_back(*id);
    }
    const std::size_t depth = ancestors.size();
    // Names in byte order, whatever order the file system lists them in: the
    // same set gives the same archive (and the same pieces) on every
    // computer and after every install.
    std::vector<fs::DirItem> items;
    for (fs::DirItem next; listing->Next(next);)
        items.push_back(std::move(next));
    std::sort(items.begin(), items.end(),
              [](const fs::DirItem& a, const fs::DirItem& b) { return a.name < b.name; });
    ResultCode result = ResultCode::Ok;
    for (const fs::DirItem& item : items) {
        if (result != ResultCode::Ok)
            break;
        // A '\' in a name would unpack as a folder separator on Windows; a
        // name code page 949 cannot express has no form in the archive.
        if (item.name.find('\\') != std::string::npos || !ToArchiveName(item.name)) {
            if (item.name[0] != '.' || !item.isFolder) {
                m_log.Write("[AddFileToTar]AddFile Skip:(%s%s)", folder.c_str(), item.name.c_str());
            }
            continue;
        }
        if (item.isFolder) {
            // "." and ".." and every folder whose name starts with a dot.
            if (item.name[0] == '.')
                continue;
            result = Walk(relativeFolder + item.name + fs::kSep, ancestors);
            continue;
        }
        // Only regular files are packed: reading a pipe would wait for a
        // writer that never comes, and a socket or device has no content.
        if (!item.isFile) {
            m_log.Write("[AddFileToTar]AddFile Skip:(%s%s)", folder.c_str(), item.name.c_str());
            continue;
        }
        m_archive.SetSourceFolder(folder);
        result = ToResultCode(m_archive.AddFile(item.name, relativeFolder, folder));
        if (result != ResultCode::Ok)
            m_log.Write("[AddFileToTar]AddFile Fail:(%d)", Number(result));
        CrashPoint("pack.file");
    }
    ancestors.resize(depth > 0 ? depth - 1 : 0);
    return result;
}

void AddOnSet::Delete(const std::string& gameFolder, bool withCacheAndFonts, LogSink& log) {
    const SaveScope scope = withCacheAndFonts ? SaveScope::WithCacheAndFonts : SaveScope::Basic;
    for (const std::string& folder : Folders(scope)) {
        if (ResultCode r = DeleteFolder(gameFolder, folder, log); r != ResultCode::Ok)
            log.Write("[DeleteCurAddOn]DeleteFolder Fail:(%d)", Number(r));
    }
}

}  // namespace skiv
