#pragma once
// The window operations the controller calls. The desktop window, the
// command line and the tests each implement them.
//
// Every operation may be called from a worker thread; an implementation with
// a GUI thread must carry the call there and block until it is done (a
// message box blocks the calling worker until dismissed).

#include <optional>
#include <string>
#include <string_view>

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
};

}  // namespace skiv
