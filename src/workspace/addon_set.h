#pragma once
// The add-on set of a game folder: which of its folders belong to the set,
// how they are packed into one archive, and how they are deleted.
//
// Folders are relative to the game folder and end with '/'. Save packs the
// set of the chosen scope, the install's backup packs all four folders, and
// the command line's pack does what save does; each passes over a folder
// that cannot be listed (a player without Cache/, say) and stops at any
// other failure.

#include <functional>
#include <string>
#include <vector>

#include "archive/tar_archive.h"
#include "platform/fs.h"
#include "platform/log_sink.h"
#include "platform/result_codes.h"
#include "workspace/window_ops.h"

namespace skiv {

class AddOnSet {
public:
    // Interface/ and WTF/; with Cache/ and Fonts/ for the wider scope.
    static std::vector<std::string> Folders(SaveScope scope);

    AddOnSet(std::string gameFolder, LogSink& log)
        : m_gameFolder(std::move(gameFolder)), m_log(log) {}

    // Told of each folder that failed to pack, with its code; the packing
    // goes on only past CannotListFolder.
    using FolderFailure = std::function<void(const std::string& folder, ResultCode code)>;
    // Adds every file of the scope's folders to the archive.
    ResultCode Collect(SaveScope scope, const FolderFailure& onFailure);
    // Adds the files below one folder. Dot folders are passed over, links
    // are followed but never back into the walk; CannotListFolder when the
    // folder cannot be listed, or the writer's code for a file it refuses.
    ResultCode AddFolder(const std::string& relativeFolder);
    // Writes what was collected as folder + name.
    ResultCode Write(const std::string& name, const std::string& folder) {
        return ToResultCode(m_archive.WriteArchive(name, folder));
    }
    const ArchiveWriter& Archive() const { return m_archive; }

    // Deletes Interface/ and WTF/, and Cache/ and Fonts/ when
    // withCacheAndFonts. A folder that fails is logged and passed over.
    static void Delete(const std::string& gameFolder, bool withCacheAndFonts, LogSink& log);

private:
    ResultCode Walk(const std::string& relativeFolder, std::vector<fs::FolderId>& ancestors);

    std::string m_gameFolder;
    LogSink& m_log;
    ArchiveWriter m_archive;
};

// Deletes gameFolder + relativeFolder with its whole tree; never follows a
// link. Ok, or CannotListFolder when the folder cannot be listed.
ResultCode DeleteFolder(const std::string& gameFolder, const std::string& relativeFolder,
                        LogSink& log);

// Unpacks the archive under base (ending with '/'), creating folders as
// needed. An entry that cannot be written or would leave base is skipped and
// its code returned at the end; a full disk or a folder that cannot be made
// stops at once.
ResultCode UnpackArchive(const std::string& archivePath, const std::string& base, LogSink& log);

}  // namespace skiv
