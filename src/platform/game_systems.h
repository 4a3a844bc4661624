#pragma once
// The systems a Windows game may be installed in, and the folder this
// program keeps its own settings in.
//
// On Linux a system is a Wine prefix: the default one (the prefix the
// registry and Program Files of paths.h refer to), ~/.wine, and the prefixes
// the game managers make (Lutris under ~/Games/*, Bottles under
// ~/.local/share/bottles/bottles/*, Proton under each Steam library's
// steamapps/compatdata/*/pfx). On Windows the one system is the machine.

#include <string>
#include <vector>

namespace skiv::platform {

struct GameSystem {
    // The Wine prefix, no trailing '/'; empty for the machine itself. Passed
    // to RegistryKey::Open and to StartProgramIn as it is.
    std::string prefix;
    // Where it was found, for lists: "WINEPREFIX", "Wine", "Lutris",
    // "Bottles", "Proton" or "Windows".
    std::string kind;
    // Its Program Files folders (64- and 32-bit), no trailing '/', whether
    // or not they exist.
    std::vector<std::string> programFiles;
    // Its ProgramData folder, no trailing '/'.
    std::string programData;
};

// The default system first, then every other one that exists, each prefix
// once. Never empty while a home folder is known.
std::vector<GameSystem> FindGameSystems();

// This program's settings folder ($XDG_CONFIG_HOME/skivaddon/, else
// ~/.config/skivaddon/; %APPDATA%\skivaddon\ on Windows), ending with the
// separator; not created here.
std::string GetSettingsFolder();

}  // namespace skiv::platform
