#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

#include "platform/game_process.h"

namespace skiv {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The last component of a path with '/' or '\' separators.
std::string BaseName(const std::string& path) {
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::optional<std::string> GameName(const std::string& candidate) {
    for (const std::string& name : GameExecutableNames()) {
        if (SameName(BaseName(candidate), name))
            return name;
    }
    return std::nullopt;
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buf[4096];
    in.read(buf, sizeof buf);
    text.assign(buf, static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace


std::optional<std::string> FindRunningGame() {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return std::nullopt;
    const uid_t me = ::getuid();
    std::optional<std::string> found;
    while (!found) {
        const dirent* d = ::readdir(proc);
        if (!d)
            break;
        if (!std::isdigit(static_cast<unsigned char>(d->d_name[0])))
            continue;
        const std::string dir = std::string("/proc/") + d->d_name + "/";
        struct stat st;
        // Only this user's processes: another user's game writes another
        // user's files.
        if (::stat(dir.c_str(), &st) != 0 || st.st_uid != me)
            continue;
        std::string comm = ReadSmallFile(dir + "comm");
        if (!comm.empty() && comm.back() == '\n')
            comm.pop_back();
        found = GameName(comm);
        if (found)
            break;
        // The name the process gave itself is cut at 15 bytes, and a
        // loader may run under its own name: the first argument tells.
        const std::string cmdline = ReadSmallFile(dir + "cmdline");
        found = GameName(cmdline.substr(0, cmdline.find('\0')));
    }
    ::closedir(proc);
    return found;
}

}  // namespace skiv
