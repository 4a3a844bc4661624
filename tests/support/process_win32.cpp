#include <cstdio>
#include <stdexcept>

#include "support/process.h"
#include "support/temp_dir.h"

namespace skiv::test {

// Under Windows the command line goes to cmd.exe; only its output is kept
// (the standard error joins it through "2>&1").
ProcessResult RunCommand(const std::string& commandLine, const std::string& input) {
    if (!input.empty())
        throw std::runtime_error("RunCommand: no input on Windows");
    ProcessResult result;
    std::FILE* pipe = ::_popen((commandLine + " 2>&1").c_str(), "rb");
    if (!pipe)
        return result;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe))
        result.output.append(buf, n);
    result.status = ::_pclose(pipe);
    return result;
}

std::string ShellQuote(const std::string& s) {
    return "\"" + s + "\"";
}

std::string CliPath() {
    return BinaryDir() + "/src/cli/skivaddon-cli.exe";
}

}  // namespace skiv::test
