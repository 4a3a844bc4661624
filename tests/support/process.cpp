#include "support/process.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "support/temp_dir.h"

namespace skiv::test {

ProcessResult RunCommand(const std::string& commandLine, const std::string& input) {
    ProcessResult r;
    TempDir dir;
    std::string inFile = dir / "stdin";
    std::ofstream(inFile, std::ios::binary) << input;
    std::string cmd = "(" + commandLine + ") <" + ShellQuote(inFile) + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf;
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
        r.output.append(buf.data(), n);
    int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string CliPath() {
    return BinaryDir() + "/src/cli/skivaddon-cli";
}

}  // namespace skiv::test
