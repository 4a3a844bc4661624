#include "support/log_lines.h"

#include <cstdio>
#include <sstream>

#include "platform/fs.h"
#include "support/temp_dir.h"

namespace skiv::test {

bool RecordingLog::VWrite(const char* fmt, va_list args) {
    char buf[2048];
    std::vsnprintf(buf, sizeof buf, fmt, args);
    lines.emplace_back(buf);
    return true;
}

std::vector<std::string> LogLinesIn(const std::string& folder) {
    std::vector<std::string> out;
    auto listing = fs::DirListing::Open(folder);
    fs::DirItem item;
    while (listing && listing->Next(item)) {
        if (item.isFolder)
            continue;
        std::istringstream in(ReadFile(fs::WithSlash(folder) + item.name));
        for (std::string line; std::getline(in, line);)
            out.push_back(line.substr(20));
    }
    return out;
}

}  // namespace skiv::test
