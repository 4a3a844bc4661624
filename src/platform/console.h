#pragma once
// The text console of the command-line program: whether a standard stream
// is a terminal, typing without echo, the arguments as UTF-8, and UTF-8
// output on a Windows console.

#include <string>
#include <vector>

namespace skiv::console {

enum class Stream { In, Out, Err };

// True when the stream is an interactive terminal (a console on Windows),
// not a file or a pipe.
bool IsTerminal(Stream stream);

// While alive, what is typed on the terminal of standard input is not
// echoed. Does nothing when standard input is not a terminal.
class EchoOff {
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    // True when echo was turned off (and is turned back on at the end).
    bool active() const { return m_active; }

private:
    bool m_active = false;
    unsigned long m_saved[16] = {};  // the terminal's settings before
};

// The program's arguments as UTF-8, the program's own name first, with an
// argv-shaped view that lives as long as this object. On Linux they are
// argv as given; on Windows they come from the wide command line (argv is
// in the ANSI code page there).
class Arguments {
public:
    Arguments(int argc, char** argv);
    int argc() const { return static_cast<int>(m_args.size()); }
    char** argv() { return m_argv.data(); }

private:
    std::vector<std::string> m_args;
    std::vector<char*> m_argv;
};

// Makes a console show the program's UTF-8 output as text (Windows sets the
// console's output code page); elsewhere nothing to do.
void UseUtf8Output();

}  // namespace skiv::console
