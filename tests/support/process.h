#pragma once
// Runs a shell command line to completion and collects its output.

#include <string>

namespace skiv::test {

struct ProcessResult {
    int status = -1;     // exit status; -1 when it did not exit normally
    std::string output;  // standard output and standard error together
};

// `input` is written to the command's standard input (then closed).
ProcessResult RunCommand(const std::string& commandLine, const std::string& input = {});

// Single-quotes a string for the shell.
std::string ShellQuote(const std::string& s);

// The built skivaddon-cli.
std::string CliPath();

}  // namespace skiv::test
