#include "workspace/staged_set.h"

#include <optional>
#include <sstream>

#include "platform/crash_point.h"
#include "platform/fs.h"
#include "workspace/addon_set.h"

namespace skiv {

namespace {

// Written into the staging once it is complete; lists the folders to swap.
constexpr const char* kReadyMarker = ".ready";

bool Present(const std::string& path) {
    return fs::Exists(path) || fs::IsLink(path);
}

// Removes game + relative with its tree when it is there.
void RemoveTree(const std::string& game, const std::string& relative, LogSink& log) {
    if (Present(game + relative))
        DeleteFolder(game, relative, log);
}

bool IsEmptyFolder(const std::string& path) {
    auto listing = fs::DirListing::OpenNoFollow(path);
    if (!listing)
        return false;
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.name != "." && item.name != "..")
            return false;
    }
    return true;
}

bool WriteMarker(const std::string& path, const std::vector<std::string>& folders) {
    auto file = fs::NoShareFile::CreateNew(path);
    if (!file)
        return false;
    std::string text;
    for (const std::string& f : folders)
        text += f + "\n";
    return file->WriteAll(text.data(), text.size()) && file->Sync();
}

std::vector<std::string> ReadMarker(const std::string& path, bool& ok) {
    const std::optional<std::string> text = fs::ReadWholeFile(path, 64 * 1024);
    ok = text.has_value();
    std::istringstream in(text.value_or(""));
    std::vector<std::string> folders;
    std::string line;
    while (std::getline(in, line)) {
        // Only the add-on folders are ever swapped: a marker naming
        // anything else is not ours to follow.
        for (const std::string& known : AddOnSet::Folders(SaveScope::WithCacheAndFonts)) {
            if (line == known)
                folders.push_back(line);
        }
    }
    return folders;
}

bool Move(const std::string& from, const std::string& to, LogSink& log) {
    if (fs::Rename(from, to))
        return true;
    log.Write("[SwapAddOn]MoveFile Fail:(%d)(%s)", fs::LastError(), from.c_str());
    return false;
}

// One folder's swap, safe to repeat after a kill at any point of it: the
// game's folder is moved aside unless an earlier run did so already, then
// the staged one moved in when the staging has it. A game without the
// folder gets an empty one set aside in its place, so that a repeat never
// takes the folder just moved in for the game's own.
bool SwapOne(const std::string& game, const std::string& folder, LogSink& log) {
    const std::string aside = game + kReplacedFolder + folder;
    const std::string staged = game + kStagingFolder + folder;
    if (!Present(aside)) {
        const bool moved =
            Present(game + folder) ? Move(game + folder, aside, log) : fs::CreateFolder(aside);
        if (!moved)
            return false;
    }
    if (Present(staged) && !Move(staged, game + folder, log))
        return false;
    CrashPoint("swap.folder");
    return true;
}

// Ends a swap: the marker first, so that what is left is "replaced alone".
bool Finish(const std::string& game, LogSink& log) {
    const std::string staging = game + kStagingFolder;
    fs::DeleteFile(staging + kReadyMarker);
    CrashPoint("swap.after-unmark");
    RemoveTree(game, kStagingFolder, log);
    fs::SyncFolder(game);
    CrashPoint("swap.after-staging-removed");
    RemoveTree(game, kReplacedFolder, log);
    // A file another program holds cannot be deleted: what is left of the
    // old folders is set aside under a name of its own, so it neither
    // blocks the next swap nor is lost.
    const std::string replaced = game + kReplacedFolder;
    if (Present(replaced)) {
        for (int n = 1; n < 1000; ++n) {
            const std::string aside = game + "SkivAddonReplaced." + std::to_string(n);
            if (!Present(aside) && fs::Rename(replaced, aside)) {
                log.Write("[SwapAddOn]Leftover Kept:(%s)", aside.c_str());
                break;
            }
        }
    }
    return !Present(staging) && !Present(replaced);
}

}  // namespace

ResultCode StageArchive(const std::string& archive, const std::string& game, LogSink& log) {
    if (RecoverStaged(game, log) == Leftover::Stuck || !fs::CreateFolder(game + kStagingFolder)) {
        log.Write("[StageAddOn]Staging 디렉토리 생성실패:(%d)", fs::LastError());
        return ResultCode::CannotCreateFolder;
    }
    const ResultCode r = UnpackArchive(archive, game + kStagingFolder, log);
    if (r != ResultCode::Ok)
        DiscardStaged(game, log);
    return r;
}

void DiscardStaged(const std::string& game, LogSink& log) {
    RemoveTree(game, kStagingFolder, log);
}

ResultCode SwapStaged(const std::string& game, const std::vector<std::string>& folders,
                      LogSink& log) {
    const std::string staging = game + kStagingFolder;
    // The marker goes down once the staged set is complete, and is on the
    // disk before the first rename.
    if (!fs::SyncFolder(staging) || !WriteMarker(staging + kReadyMarker, folders) ||
        !fs::SyncFolder(staging) ||
        (!Present(game + kReplacedFolder) && !fs::CreateFolder(game + kReplacedFolder))) {
        log.Write("[SwapAddOn]Staging Mark Fail:(%d)", fs::LastError());
        DiscardStaged(game, log);
        return ResultCode::CannotCreateFolder;
    }
    CrashPoint("swap.after-mark");
    std::vector<bool> staged;
    for (const std::string& f : folders)
        staged.push_back(Present(staging + f));
    for (std::size_t i = 0; i < folders.size(); ++i) {
        if (SwapOne(game, folders[i], log))
            continue;
        // Back out in reverse: each new folder returns to the staging and
        // each old one to its place. A kill during this leaves the marker,
        // so the next start finishes the swap instead: either way one whole
        // set is in place.
        for (std::size_t j = i + 1; j-- > 0;) {
            const std::string& f = folders[j];
            if (staged[j] && !Present(staging + f))
                fs::Rename(game + f, staging + f);
            if (Present(game + kReplacedFolder + f))
                fs::Rename(game + kReplacedFolder + f, game + f);
        }
        fs::DeleteFile(staging + kReadyMarker);
        RemoveTree(game, kStagingFolder, log);
        RemoveTree(game, kReplacedFolder, log);
        return ResultCode::CannotCreateFolder;
    }
    fs::SyncFolder(game);
    CrashPoint("swap.after-swap");
    Finish(game, log);
    return ResultCode::Ok;
}

Leftover RecoverStaged(const std::string& game, LogSink& log) {
    const std::string staging = game + kStagingFolder;
    const bool staged = Present(staging);
    const bool replaced = Present(game + kReplacedFolder);
    if (!staged && !replaced)
        return Leftover::None;
    // An empty staging without marker beside the replaced folders is the
    // end of a finished swap (its folders all moved in, the marker just
    // deleted); without them it is a staging about to be filled.
    const bool swapEnded = replaced && IsEmptyFolder(staging);
    if (staged && !Present(staging + kReadyMarker) && !swapEnded) {
        // Cut before the marker: nothing of the game's set was moved.
        log.Write("[RecoverAddOn]Staging Cleaned");
        DiscardStaged(game, log);
        RemoveTree(game, kReplacedFolder, log);
        return Present(staging) ? Leftover::Stuck : Leftover::Cleaned;
    }
    if (staged && Present(staging + kReadyMarker)) {
        bool ok = false;
        const std::vector<std::string> folders = ReadMarker(staging + kReadyMarker, ok);
        if (!ok || (!replaced && !fs::CreateFolder(game + kReplacedFolder)))
            return Leftover::Stuck;
        for (const std::string& f : folders) {
            if (!SwapOne(game, f, log))
                return Leftover::Stuck;
        }
    }
    log.Write("[RecoverAddOn]Swap Finished");
    return Finish(game, log) ? Leftover::Finished : Leftover::Stuck;
}

}  // namespace skiv
