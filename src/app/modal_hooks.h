#pragma once
// Every modal box and every hand-over to the desktop goes through here, so
// that tests can answer them instead of a person.
//
// Without an installed hook the real thing happens: a QMessageBox runs its
// own modal loop, a FolderChooser is shown, an address goes to
// QDesktopServices, a program is started detached. Hooks are process-wide
// and are called on the GUI thread; install them before the window starts
// and remove them (pass nullptr) when the test ends.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "workspace/window_ops.h"

class QMessageBox;
class QWidget;

namespace skiv::app {

struct ModalBox {
    enum Kind { kMessage, kYesNo, kWarning };
    Kind kind = kMessage;
    QString text;
    QString caption;
    bool questionIcon = false;
    QWidget* owner = nullptr;  // null for a box raised by a worker thread
};

// Answer of a box: true for OK or Yes, false for No.
using BoxHook = std::function<bool(const ModalBox&)>;
// The folder the user "chose" (ending with '/'), nullopt for cancel.
using FolderHook = std::function<std::optional<QString>(const QString& initialFolder)>;
// Where an address went; returns whether opening succeeded.
enum class OpenTarget { kMail, kBrowser };
using OpenHook = std::function<bool(OpenTarget target, const QString& address)>;
// A program start: the file and its working folder.
using StartHook = std::function<void(const QString& file, const QString& workFolder)>;

// The flavor row the user "chose", nullopt for cancel.
using FlavorHook = std::function<std::optional<std::size_t>(const std::vector<FlavorChoice>&,
                                                            std::size_t preselected)>;

void SetBoxHook(BoxHook hook);
void SetFlavorHook(FlavorHook hook);
void SetFolderHook(FolderHook hook);
void SetOpenHook(OpenHook hook);
void SetStartHook(StartHook hook);

// The box RunModalBox shows, not yet shown; the caller owns it. A Yes
// button has QMessageBox::YesRole.
QMessageBox* CreateMessageBox(const ModalBox& box);
// Shows the box (or asks the hook) and returns the answer.
bool RunModalBox(const ModalBox& box);
// Runs the folder chooser at initialFolder (or asks the hook).
std::optional<QString> RunFolderChooser(const QString& initialFolder);
// Runs the flavor list (or asks the hook).
std::optional<std::size_t> RunFlavorChooser(const std::vector<FlavorChoice>& choices,
                                            std::size_t preselected, QWidget* owner);
// Opens an address with the desktop's handler for its kind.
bool OpenAddress(OpenTarget target, const QString& address);
// Starts a program: a Windows program through wine, anything else through
// the desktop's opener; a Windows program of another Wine prefix with
// WINEPREFIX set to it. The outcome is not reported.
void StartProgram(const QString& file, const QString& workFolder,
                  const QString& winePrefix = QString());

}  // namespace skiv::app
