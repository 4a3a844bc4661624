#pragma once
// The game installs on this computer, in both layouts the game has used:
// one folder holding "Launcher.exe" beside Interface/ and WTF/, and a root
// folder holding one flavor folder per game flavor ("_retail_",
// "_classic_", ...), each with its own executable, Interface/ and WTF/.
//
// Plain file reads only; nothing here talks to the window.

#include <optional>
#include <string>
#include <vector>

#include "platform/log_sink.h"

namespace skiv {

struct GameInstall {
    std::string folder;   // where Interface/ and WTF/ live; ends with '/'
    std::string flavor;   // the flavor folder's name; empty for the one-folder layout
    std::string root;     // the install's root folder (the folder itself in the old layout)
    std::string prefix;   // the Wine prefix it lives in (empty when none)
    std::string program;  // what the launch option starts: a full path
    std::string version;  // the game's version from the root's .build.info, or empty
};

// The flavor's name as the window shows it (Korean); the folder name itself
// for a flavor this program does not know.
std::string FlavorDisplayName(const std::string& flavor);

// "classic", "_classic_" -> "_classic_": the forms a user may type.
std::string NormalizeFlavor(const std::string& flavor);

// What one folder (ending with '/') holds: the old layout's one install, a
// flavor folder's one install, or the flavors of a root folder (in the
// game's own order). Empty when it is none of these.
std::vector<GameInstall> InstallsAt(const std::string& folder, const std::string& prefix);

// True when the folder shows some part of the flavor layout (a flavor
// folder's name, flavor folders or a game executable inside, the root's
// launcher) without being a valid install: the user chose close to one.
bool LooksLikeFlavorLayout(const std::string& folder);

// Every install of the flavor layout found from the registry value
// "InstallPath", the launcher's install database and the default folders
// under Program Files, in every game system (platform/game_systems.h); in
// the systems other than the default one the old layout as well. Each
// folder once, in the order found.
std::vector<GameInstall> FindFlavorInstalls(LogSink& log);

// The launcher's install database: UTF-8 text, one installed product a line,
// "PRODUCT|INSTALL PATH" with a Windows path ('#' lines and blank lines are
// comments). The install paths as written; a file that exists but cannot
// be read as such text is passed over with a log line.
std::vector<std::string> ReadInstallDatabase(const std::string& file, LogSink& log);
// Where a system keeps that database, below its ProgramData folder.
inline constexpr const char* kInstallDatabase = "/Blizzard Entertainment/Game Launcher/installs.db";

// The game folder the user chose among several last time (from this
// program's settings file), and remembering a new choice.
std::optional<std::string> RememberedGameFolder();
void RememberGameFolder(const std::string& folder, LogSink& log);

}  // namespace skiv
