#pragma once
// The window operations the controller calls. The desktop window, the
// command line and the tests each implement them.
//
// Every operation may be called from a worker thread; an implementation with
// a GUI thread must carry the call there and block until it is done (a
// message box blocks the calling worker until dismissed).

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skiv {

// What the window shows: the login fields, or the member panel without or
// with a stored set.
enum class ViewMode { LoggedOut = 0, LoggedInNoData = 1, LoggedInWithData = 2 };

// What a save packs: Interface and WTF (stored type 1), or also Cache and
// Fonts (stored type 2).
enum class SaveScope { Basic, WithCacheAndFonts };

// What the roll-back command does: restore the last install's backup, or
// only delete the set (a reset).
enum class RollBackChoice { RestoreBackup, DeleteOnly };

// The user's choices for the tasks. The window keeps each choice's options
// mutually exclusive and starts at the defaults below.
struct TaskOptions {
    bool launchAfterInstall = false;  // start the launcher after an install
    bool installIntoFolder = false;   // install into a chosen folder, no backup
    SaveScope saveScope = SaveScope::Basic;
    RollBackChoice rollBack = RollBackChoice::RestoreBackup;
    // The stored version an install fetches: 0 the current one (the only
    // one a service without versions keeps), else n as the version list
    // numbers them (1 = newest).
    int installVersion = 0;
};

// One installed game flavor offered when several are found.
struct FlavorChoice {
    std::string flavor;  // the flavor folder's name ("_classic_"); empty for the one-folder layout
    std::string name;    // its name as shown (Korean)
    std::string folder;  // its game folder, ending with '/'
};

// One kept install backup a roll back can restore; 1 is the newest.
struct BackupChoice {
    int number = 1;
    std::int64_t bytes = 0;
    std::string date;  // "YYYY-MM-DD HH:MM", local time
};

class WindowOps {
public:
    virtual ~WindowOps() = default;

    // Modal OK box titled "Kelbo Skiv Addon"; blocks until dismissed.
    virtual void ShowMessage(std::string_view text) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) = 0;
    // Member information panel: whether a set is stored, its size units
    // (see Controller::SizeUnits) and its date text.
    virtual void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) = 0;
    virtual void SetViewMode(ViewMode mode) = 0;
    // Progress bar position 0-100.
    virtual void SetProgress(int position) = 0;

    virtual std::string GetIdText() = 0;
    virtual std::string GetPasswordText() = 0;
    // The options as the user has set them now.
    virtual TaskOptions GetTaskOptions() = 0;

    // Modal folder chooser opened at initialFolder; the chosen folder ends
    // with '/', nullopt when the user cancelled.
    virtual std::optional<std::string> ChooseFolder(std::string_view initialFolder) = 0;

    // Starts a program through the shell ("open" verb); the result is not
    // checked.
    virtual void StartProgram(std::string_view file, std::string_view workFolder) = 0;

    // Modal list of the installed game flavors, `preselected` marked at
    // first; the index chosen, nullopt when the user cancelled.
    virtual std::optional<std::size_t> ChooseFlavor(const std::vector<FlavorChoice>& choices,
                                                    std::size_t preselected) = 0;

    // Starts a Windows program of the Wine prefix `winePrefix` (Linux; the
    // prefix is empty for the machine's own programs, as on Windows). A
    // window that cannot tell prefixes apart starts it as StartProgram does.
    virtual void StartProgramIn(std::string_view file, std::string_view workFolder,
                                std::string_view winePrefix) {
        (void)winePrefix;
        StartProgram(file, workFolder);
    }

    // Which kept backup a roll back restores: the number of one of
    // `backups` (newest first, never empty), or nullopt when the user
    // declines them all. With one backup there is nothing to choose; with
    // more, each is offered in turn through AskYesNo, newest first.
    virtual std::optional<int> ChooseBackup(const std::vector<BackupChoice>& backups) {
        if (backups.size() == 1)
            return backups.front().number;
        for (const BackupChoice& b : backups) {
            char text[256];
            std::snprintf(text, sizeof text,
                          "%d번째 백업 (%s, %.1f MB)으로 되돌리시겠습니까?\n아니오를 누르면 "
                          "이전 백업을 묻습니다.",
                          b.number, b.date.c_str(), static_cast<double>(b.bytes) / 1048576.0);
            if (AskYesNo(text, "Kelbo Skiv Addon", true))
                return b.number;
        }
        return std::nullopt;
    }
};

}  // namespace skiv
