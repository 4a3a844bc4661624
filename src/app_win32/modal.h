#pragma once
// Every modal box, the folder chooser and every hand-over to the shell go
// through here, so that a test can answer them instead of a person.
//
// Without an installed hook the real thing happens: a box in the window's
// font with Korean buttons runs its own modal loop, the folder chooser lists
// the drives and folders of this computer, the shell opens a program or an
// address. Hooks are process-wide, installed before the window starts and
// called on the GUI thread.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skiv::win32 {

class Skin;

enum class BoxKind { Message, YesNo };

struct ModalHooks {
    // The answer of a box: true for OK or Yes; nullopt shows the real box.
    std::function<std::optional<bool>(BoxKind kind, const std::wstring& text,
                                      const std::wstring& caption)>
        box;
    // The folder "chosen" (ending with '\\'), nullopt for cancel; or the
    // real chooser, when showChooser.
    struct FolderAnswer {
        bool showChooser = false;
        std::optional<std::wstring> folder;
    };
    std::function<FolderAnswer(const std::wstring& initialFolder)> folder;
    // The version chosen from the versions box (0: closed), or the real
    // box, when showBox; told the lines and version numbers it would list.
    struct VersionAnswer {
        bool showBox = false;
        int chosen = 0;
    };
    std::function<VersionAnswer(const std::vector<std::wstring>& lines,
                                const std::vector<int>& numbers)>
        versions;
    // A real box or chooser is up and painted (a test may look at it and
    // press its buttons).
    std::function<void(HWND dialog)> shown;
    // A program started or an address opened through the shell.
    std::function<void(const std::wstring& file, const std::wstring& workFolder)> open;
};
ModalHooks& Hooks();

// Shows a box owned by owner (may be null) and returns the answer; the
// owner is disabled meanwhile.
bool RunBox(HWND owner, BoxKind kind, std::wstring_view text, std::wstring_view caption,
            bool questionIcon, HFONT font, UINT dpi);

// The folder chooser opened at initialFolder ('/' or '\' separators); the
// chosen folder ends with '\', nullopt when cancelled.
std::optional<std::wstring> RunFolderChooser(HWND owner, const Skin& skin, HFONT font, UINT dpi,
                                             std::wstring_view initialFolder);

// The versions box: lines[i] shows version numbers[i], newest first; the
// first row starts chosen. Install (the link, OK, Enter or a double click)
// returns the chosen row's number; Close (the link, Escape) returns 0.
// fonts: the list's, the title's and the links'.
struct VersionsBoxFonts {
    HFONT list, title, link;
};
int RunVersionsBox(HWND owner, const Skin& skin, VersionsBoxFonts fonts, UINT dpi,
                   const std::vector<std::wstring>& lines, const std::vector<int>& numbers);

// "WINDOWS" -> "Windows"; a name with a lower-case ASCII letter, or none at
// all ("C:"), keeps its case.
std::wstring CapitalizeIfAllUpper(std::wstring name);

// Opens a file, program or address through the shell ("open" verb).
void OpenInShell(std::wstring_view file, std::wstring_view workFolder);

// Runs a modal loop for dialog until done is set; owner is disabled
// meanwhile. A WM_QUIT ends the loop and is posted again.
// Writes a window as it shows now (children included) as a 24-bit BMP.
bool SaveWindowImage(HWND window, const std::wstring& file);

void RunModalLoop(HWND owner, HWND dialog, const bool& done);

}  // namespace skiv::win32
