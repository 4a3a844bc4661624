#include "workspace/operation_log.h"

#include <cstdarg>
#include <cstdlib>

#include "platform/fs.h"
#include "platform/paths.h"

namespace skiv {

namespace {
constexpr std::size_t kLineBuffer = 2048;
}

OperationLog::OperationLog() : m_clock([] { return std::time(nullptr); }) {}

OperationLog::~OperationLog() {
    if (m_file)
        std::fclose(m_file);
}

void OperationLog::SetFolder(const std::string& folder) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_folder = folder.empty() ? folder : fs::WithSlash(folder);
}

bool OperationLog::VWrite(const char* fmt, va_list args) {
    // One clock reading names the file and stamps the line.
    std::time_t now = m_clock();
    std::tm tm{};
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    if (localtime_r(&now, &tm)) {
        year = tm.tm_year + 1900;
        month = tm.tm_mon + 1;
        day = tm.tm_mday;
        hour = tm.tm_hour;
        minute = tm.tm_min;
        second = tm.tm_sec;
    }
    char name[1024];
    std::snprintf(name, sizeof name, "%sKSOlog_%04d%02d%02d.log", m_folder.c_str(), year, month,
                  day);

    std::lock_guard<std::recursive_mutex> guard(m_lock);
    // A new day, or a file deleted under us, is noticed by its absence.
    bool exists = fs::Exists(name);
    if (!exists || name != m_fileName) {
        if (m_file)
            std::fclose(m_file);
        m_file = nullptr;
        m_fileName.clear();
    }
    if (!m_file) {
        m_file = fs::OpenFile(name, "ab").release();
        if (!m_file)
            return false;
        m_fileName = name;
    }

    char message[kLineBuffer];
    std::vsnprintf(message, sizeof message, fmt, args);
    char line[kLineBuffer];
    int n = std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d %s\n", year, month, day,
                          hour, minute, second, message);
    if (n < 0)
        return true;
    std::size_t len = static_cast<std::size_t>(n);
    if (len >= sizeof line) {
        // Cut at the buffer's end but keep the line's terminating line feed.
        len = sizeof line - 1;
        line[len - 1] = '\n';
    }
    std::fwrite(line, 1, len, m_file);
    std::fflush(m_file);
    return true;
}

std::string OperationLog::DefaultFolder() {
    std::string beside = paths::GetProgramFolder() + "Log/";
    if (fs::EnsureFolder(beside) && fs::CanWriteIn(beside))
        return beside;

    std::string folder = paths::GetStateFolder();
    // Create each level; existing ones are fine.
    for (const char* part : {"", "skivaddon/", "skivaddon/Log/"}) {
        std::string p = folder + part;
        if (*part == '\0') {
            // ~/.local and ~/.local/state may both be missing.
            std::string parent = p.substr(0, p.size() - 1);
            parent = parent.substr(0, parent.rfind('/'));
            fs::EnsureFolder(parent);
        }
        fs::EnsureFolder(p);
    }
    return folder + "skivaddon/Log/";
}

}  // namespace skiv
