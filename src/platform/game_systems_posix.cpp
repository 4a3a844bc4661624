#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/fs.h"
#include "platform/game_systems.h"
#include "platform/paths.h"

namespace skiv::platform {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string NoSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Sub-folders of folder, in the order the file system lists them.
std::vector<std::string> SubFolders(const std::string& folder) {
    std::vector<std::string> out;
    auto listing = fs::DirListing::Open(folder);
    if (!listing)
        return out;
    fs::DirItem item;
    while (listing->Next(item)) {
        if (item.isFolder && item.name != "." && item.name != "..")
            out.push_back(fs::WithSlash(folder) + item.name);
    }
    return out;
}

// The Steam libraries: the usual install places and every "path" of their
// libraryfolders.vdf (one `"path"  "/some/where"` pair a line).
std::vector<std::string> SteamLibraries(const std::string& home) {
    std::vector<std::string> out;
    for (const char* base : {"/.local/share/Steam", "/.steam/steam", "/.steam/root",
                             "/.var/app/com.valvesoftware.Steam/.local/share/Steam"}) {
        const std::string library = home + base;
        out.push_back(library);
        std::ifstream in(library + "/steamapps/libraryfolders.vdf");
        std::string line;
        while (std::getline(in, line)) {
            const auto key = line.find("\"path\"");
            if (key == std::string::npos)
                continue;
            const auto open = line.find('"', key + 6);
            const auto close = open == std::string::npos ? open : line.find('"', open + 1);
            if (close != std::string::npos)
                out.push_back(line.substr(open + 1, close - open - 1));
        }
    }
    return out;
}

GameSystem PrefixSystem(const std::string& prefix, std::string kind) {
    return {prefix,
            std::move(kind),
            {prefix + "/drive_c/Program Files (x86)", prefix + "/drive_c/Program Files"},
            prefix + "/drive_c/ProgramData"};
}

}  // namespace

std::vector<GameSystem> FindGameSystems() {
    std::vector<GameSystem> out;
    std::set<std::string> seen;
    // Prefixes are compared by their real path, so a link to one is not a
    // second system.
    auto known = [&](const std::string& prefix) {
        char* real = ::realpath(prefix.c_str(), nullptr);
        std::string key = real ? real : prefix;
        std::free(real);
        return !seen.insert(key).second;
    };
    const std::string home = NoSlash(paths::GetHomeFolder());
    const std::string prefix = paths::GetWinePrefix();
    if (!prefix.empty()) {
        GameSystem def = PrefixSystem(prefix, Env("WINEPREFIX").empty() ? "Wine" : "WINEPREFIX");
        // The default system's Program Files is the one the chooser opens at.
        const std::string programFiles = paths::GetProgramFilesFolder();
        if (!programFiles.empty() && programFiles != def.programFiles[0] &&
            programFiles != def.programFiles[1])
            def.programFiles.insert(def.programFiles.begin(), programFiles);
        known(prefix);
        out.push_back(std::move(def));
    }
    if (home.empty())
        return out;
    auto add = [&](const std::string& candidate, const char* kind) {
        const std::string p = NoSlash(candidate);
        if (fs::IsFolder(p + "/drive_c/") && !known(p))
            out.push_back(PrefixSystem(p, kind));
    };
    add(home + "/.wine", "Wine");
    for (const auto& game : SubFolders(home + "/Games"))
        add(game, "Lutris");
    for (const auto& bottle : SubFolders(home + "/.local/share/bottles/bottles"))
        add(bottle, "Bottles");
    for (const auto& library : SteamLibraries(home)) {
        for (const auto& app : SubFolders(library + "/steamapps/compatdata"))
            add(app + "/pfx", "Proton");
    }
    return out;
}

std::string GetSettingsFolder() {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty())
        config = NoSlash(paths::GetHomeFolder()) + "/.config";
    return fs::WithSlash(NoSlash(config)) + "skivaddon/";
}

}  // namespace skiv::platform
