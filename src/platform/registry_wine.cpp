#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace skiv {

bool RegistryKey::Open(const std::string& subKey, const std::string& prefix) {
    Close();
    std::ifstream in(prefix + "/system.reg", std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    return LoadFromText(ss.str(), subKey);
}

std::string RegistryKey::MapWindowsPath(const std::string& windowsPath, const std::string& prefix) {
    std::string path = windowsPath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        std::string drive(1, static_cast<char>(std::tolower(static_cast<unsigned char>(path[0]))));
        std::string rest = path.substr(2);
        if (!rest.empty() && rest[0] == '/')
            rest.erase(0, 1);
        return prefix + "/dosdevices/" + drive + ":/" + rest;
    }
    return path;
}

}  // namespace skiv
