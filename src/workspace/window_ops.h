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

// Control IDs of the option check boxes.
enum CheckBox : int {
    kCheckLaunch = 1006,      // start the launcher after an install
    kCheckIntoFolder = 1008,  // install into a chosen folder
    kCheckScopeBasic = 1009,  // save Interface and WTF (type 1)
    kCheckScopeFull = 1010,   // save also Cache and Fonts (type 2)
    kCheckRollback = 1011,    // roll back to the last install's backup
    kCheckReset = 1012,       // delete the set, restore nothing
};

// View modes of the window.
enum ViewMode : int { kLoggedOut = 0, kLoggedInNoData = 1, kLoggedInWithData = 2 };

class IWindowOps {
public:
    virtual ~IWindowOps() = default;

    // Modal OK box titled "Kelbo Skiv Addon"; blocks until dismissed.
    virtual void ShowMessage(std::string_view text) = 0;
    // Modal Yes/No question; true for Yes.
    virtual bool AskYesNo(std::string_view text, std::string_view title, bool questionIcon) = 0;
    // Member information panel: whether a set is stored, its size units
    // (see CAddOnController::SizeUnits) and its date text.
    virtual void ShowMemberInfo(bool hasData, int sizeUnits, std::string_view date) = 0;
    virtual void SetViewMode(int mode) = 0;
    // Progress bar position 0-100.
    virtual void SetProgress(int position) = 0;

    virtual std::string GetIdText() = 0;
    virtual std::string GetPasswordText() = 0;

    // Check state of a box of CheckBox: 1 is checked, anything else is not.
    virtual int GetCheck(int id) = 0;
    virtual void SetCheck(int id, int state) = 0;

    // Modal folder chooser opened at initialFolder; the chosen folder ends
    // with '/', nullopt when the user cancelled.
    virtual std::optional<std::string> ChooseFolder(std::string_view initialFolder) = 0;

    // Starts a program through the shell ("open" verb); the result is not
    // checked.
    virtual void StartProgram(std::string_view file, std::string_view workFolder) = 0;
};

}  // namespace skiv
