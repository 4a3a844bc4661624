#pragma once
// Where things are: the program's own folder, the Program Files folder that
// the game's default location hangs off, and the user's desktop.

#include <string>

namespace skiv::paths {

// Folder of the running program, ending with '/'.
std::string GetProgramFolder();

// The Wine prefix the Windows services are read from: $WINEPREFIX, else
// ~/.wine. Named even when it does not exist. No trailing '/'.
std::string GetWinePrefix();

// $ProgramFiles, else the prefix's "drive_c/Program Files (x86)" (or
// "drive_c/Program Files" for a 32-bit prefix). No trailing '/'; empty only
// when no home folder can be found.
std::string GetProgramFilesFolder();

// The user's desktop folder (XDG), not created when missing; ends with '/'.
std::string GetDesktopFolder();

// $HOME, else the password database's entry; empty when neither is known.
std::string GetHomeFolder();

}  // namespace skiv::paths

namespace skiv::paths {

// The user's cache folder, ending with '/': $XDG_CACHE_HOME, else
// ~/.cache (%LOCALAPPDATA% on Windows). Not created; empty when no home
// folder can be found.
std::string GetCacheFolder();

}  // namespace skiv::paths
