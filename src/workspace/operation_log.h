#pragma once
// OperationLog: the daily failure log shared by every thread.
//
// One line per failing step, "YYYY-MM-DD HH:MM:SS message\n", in
// "<folder>KSOlog_YYYYMMDD.log". The day's file stays open between writes
// and is reopened only for the first write of the process and once per new
// day (or when the day's file was deleted meanwhile). A line that cannot be
// written is dropped; the log never reports to the user.

#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "platform/log_sink.h"

namespace skiv {

class OperationLog final : public LogSink {
public:
    // Reads the clock; tests replace it to cross midnight.
    using Clock = std::function<std::time_t()>;

    OperationLog();
    ~OperationLog() override;
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    // Folder of the log files; a missing final '/' is added. Call before the
    // first write.
    void SetFolder(const std::string& folder);
    const std::string& Folder() const { return m_folder; }

    // False when the day's file cannot be opened. Messages longer than 2047
    // bytes are cut.
    bool VWrite(const char* fmt, va_list args) override;

    void SetClockForTesting(Clock clock) { m_clock = std::move(clock); }

    // Picks the log folder: "Log/" beside the program, or, where that cannot
    // be created, $XDG_STATE_HOME/skivaddon/Log/ (default
    // ~/.local/state/skivaddon/Log/). Creates the folder; returns it with '/'.
    static std::string DefaultFolder();

private:
    std::recursive_mutex m_lock;  // guards m_file and m_fileName
    std::FILE* m_file = nullptr;
    std::string m_fileName;
    std::string m_folder;
    Clock m_clock;
};

}  // namespace skiv
