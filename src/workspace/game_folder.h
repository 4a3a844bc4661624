#pragma once
// Where the game is, and where an install into a folder of the user's
// choosing goes. Both may open the window's folder chooser and so run on
// whichever thread the window allows (any, for WindowOps).

#include <string>

#include "platform/log_sink.h"
#include "platform/result_codes.h"
#include "workspace/window_ops.h"

namespace skiv {

// The game's folder from its registry key or the default under Program
// Files; where neither holds the launcher, the user chooses. Sets folder
// (ending with '/') on Ok; NoProgramFiles, ChooserCancelled or
// NoLauncherInChoice otherwise, the last two with a message shown.
ResultCode FindGameFolder(WindowOps& window, LogSink& log, std::string& folder);

// Asks for the target of an install into a folder, starting at the desktop.
// Sets folder (ending with '/') on Ok; LoadFolderDeclined when the user
// cancelled or chose nothing.
ResultCode ChooseInstallFolder(WindowOps& window, LogSink& log, std::string& folder);

}  // namespace skiv
