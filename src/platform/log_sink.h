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
    // printf-style; 0 when the line was handed to the file, -1 when it was dropped.
    virtual int VWrite(const char* fmt, va_list args) = 0;

    int Write(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, fmt);
        int r = VWrite(fmt, args);
        va_end(args);
        return r;
    }
};

// Drops every line; for callers that have no log (tools, benchmarks).
class NullLogSink final : public LogSink {
public:
    int VWrite(const char*, va_list) override { return 0; }
};

}  // namespace skiv
