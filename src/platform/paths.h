#pragma once
// Where things are: the program's own folder, the Program Files folder that
// the game's default location hangs off, and the user's desktop.
// Paths are UTF-8 with '/' separators on every system.

#include <string>

namespace skiv::paths {

// Folder of the running program, ending with '/'.
std::string GetProgramFolder();

// The Wine prefix the Windows services are read from: $WINEPREFIX, else
// ~/.wine. Named even when it does not exist. No trailing '/'. Empty on
// Windows, where the services are the system's own.
std::string GetWinePrefix();

// $ProgramFiles, else the prefix's "drive_c/Program Files (x86)" (or
// "drive_c/Program Files" for a 32-bit prefix). No trailing '/'; empty only
// when no home folder can be found. On Windows the 32-bit programs' folder
// ("C:/Program Files (x86)" on 64-bit Windows).
std::string GetProgramFilesFolder();

// The user's desktop folder (XDG), not created when missing; ends with '/'.
std::string GetDesktopFolder();

// $HOME, else the password database's entry; empty when neither is known.
// On Windows the user's profile folder.
std::string GetHomeFolder();

// The per-user folder for the program's files when its own folder cannot
// take them (the log): $XDG_STATE_HOME, else ~/.local/state; on Windows
// %LOCALAPPDATA%. Not created; ends with '/'; "/" alone when unknown.
std::string GetStateFolder();

}  // namespace skiv::paths

namespace skiv::paths {

// The user's cache folder, ending with '/': $XDG_CACHE_HOME, else
// ~/.cache (%LOCALAPPDATA% on Windows). Not created; empty when no home
// folder can be found.
std::string GetCacheFolder();

// This computer's name as the system reports it; empty when it cannot.
std::string ThisComputerName();

}  // namespace skiv::paths
