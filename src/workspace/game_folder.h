#pragma once
// Where the game is, and where an install into a folder of the user's
// choosing goes. Both may open the window's folder chooser and so run on
// whichever thread the window allows (any, for WindowOps).

#include <string>
#include <vector>

#include "platform/log_sink.h"
#include "platform/result_codes.h"
#include "workspace/game_installs.h"
#include "workspace/window_ops.h"

namespace skiv {

// A choice made before discovery (the command line's): a flavor by its
// folder name, a game folder (a flavor folder, a root or the one-folder
// layout). Empty fields choose nothing.
struct GamePick {
    std::string flavor;
    std::string folder;
};

// Every install discovery finds without asking: the one-folder layout at
// the registry's "InstallPath" (used unchanged) or the default folder under
// Program Files first, then the flavor installs (game_installs.h).
std::vector<GameInstall> FindGameInstalls(LogSink& log);

// The game's folder from its registry key or the default under Program
// Files; where neither holds the launcher, the user chooses. Sets folder
// (ending with '/') on Ok; NoProgramFiles, ChooserCancelled or
// NoLauncherInChoice otherwise, the last two with a message shown.
ResultCode FindGameFolder(WindowOps& window, LogSink& log, std::string& folder);

// The same for both layouts: with one install found it is the one; with
// several the window's flavor list asks (the last choice marked, and the
// new one remembered); with none the user chooses a folder, which may also
// be a flavor folder or a root holding flavor folders. `pick` narrows the
// installs first; a flavor it names that is not installed is
// NoLauncherInChoice with a message naming it.
ResultCode FindGameInstall(WindowOps& window, LogSink& log, const GamePick& pick,
                           GameInstall& install);

// Asks for the target of an install into a folder, starting at the desktop.
// Sets folder (ending with '/') on Ok; LoadFolderDeclined when the user
// cancelled or chose nothing.
ResultCode ChooseInstallFolder(WindowOps& window, LogSink& log, std::string& folder);

}  // namespace skiv
