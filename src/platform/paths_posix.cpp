#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/fs.h"

namespace skiv::paths {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// A prefix created for 32-bit Windows marks its registry files "#arch=win32".
bool IsWin32Prefix(const std::string& prefix) {
    std::ifstream in(prefix + "/system.reg");
    std::string line;
    for (int i = 0; i < 10 && std::getline(in, line); ++i) {
        if (line.rfind("#arch=win32", 0) == 0)
            return true;
    }
    return false;
}

// Expands "$HOME/..." as the XDG user-dirs file writes it.
std::string ExpandHome(std::string value, const std::string& home) {
    constexpr std::string_view kHome = "$HOME";
    if (value.rfind(kHome, 0) == 0)
        value = home + value.substr(kHome.size());
    return value;
}

}  // namespace

std::string GetHomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

std::string GetProgramFolder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string GetWinePrefix() {
    std::string prefix = Env("WINEPREFIX");
    if (prefix.empty()) {
        std::string home = GetHomeFolder();
        if (home.empty())
            return {};
        prefix = home + "/.wine";
    }
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.pop_back();
    return prefix;
}

std::string GetProgramFilesFolder() {
    std::string v = Env("ProgramFiles");
    if (!v.empty()) {
        // Values longer than a Windows path buffer are treated as missing.
        if (v.size() < 1024)
            return v;
    }
    std::string prefix = GetWinePrefix();
    if (prefix.empty())
        return {};
    return prefix +
           (IsWin32Prefix(prefix) ? "/drive_c/Program Files" : "/drive_c/Program Files (x86)");
}

std::string GetDesktopFolder() {
    std::string home = GetHomeFolder();
    std::string desktop = Env("XDG_DESKTOP_DIR");
    if (desktop.empty()) {
        std::string config = Env("XDG_CONFIG_HOME");
        if (config.empty())
            config = home + "/.config";
        std::ifstream in(config + "/user-dirs.dirs");
        std::string line;
        while (std::getline(in, line)) {
            constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
            if (line.rfind(kKey, 0) != 0)
                continue;
            std::string value = line.substr(kKey.size());
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            desktop = ExpandHome(value, home);
        }
    }
    if (desktop.empty())
        desktop = home + "/Desktop";
    return fs::WithSlash(desktop);
}

std::string ThisComputerName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

}  // namespace skiv::paths

namespace skiv::paths {

std::string GetStateFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return fs::WithSlash(xdg);
    return fs::WithSlash(GetHomeFolder() + "/.local/state");
}

std::string GetCacheFolder() {
    std::string cache = Env("XDG_CACHE_HOME");
    // A relative XDG_CACHE_HOME is ignored, as the XDG rules require.
    if (cache.empty() || cache[0] != '/') {
        std::string home = GetHomeFolder();
        if (home.empty())
            return {};
        cache = home + "/.cache";
    }
    if (cache.back() != '/')
        cache += '/';
    return cache;
}

}  // namespace skiv::paths
