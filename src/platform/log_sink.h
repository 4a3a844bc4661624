#pragma once
// A sink for the operation log's one-line failure reports.
//
// Layers below the controller (archive, service exchanges) report failures
// through this interface so that they never depend on the controller's
// concrete log. Implementations must be safe to call from any thread.

#include <cstdarg>

namespace skiv {

class LogSink {
public:
    virtual ~LogSink() = default;
    // printf-style; true when the line was handed to the file, false when
    // it was dropped.
    virtual bool VWrite(const char* fmt, va_list args) = 0;

    bool Write(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, fmt);
        bool r = VWrite(fmt, args);
        va_end(args);
        return r;
    }
};

// Drops every line; for callers that have no log (tools, benchmarks).
class NullLogSink final : public LogSink {
public:
    bool VWrite(const char*, va_list) override { return true; }
};

}  // namespace skiv
