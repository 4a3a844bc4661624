#pragma once
// Reading back what was logged: a sink that keeps its lines, and the lines
// an operation log wrote into its folder.

#include <cstdarg>
#include <string>
#include <vector>

#include "platform/log_sink.h"

namespace skiv::test {

class RecordingLog final : public LogSink {
public:
    bool VWrite(const char* fmt, va_list args) override;
    std::vector<std::string> lines;
};

// Every line of every log file in folder, without the time stamps.
std::vector<std::string> LogLinesIn(const std::string& folder);

}  // namespace skiv::test
