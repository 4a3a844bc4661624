#pragma once
// The console of the command-line program: whether its streams are a
// terminal, typing without echo, and its arguments as the program's UTF-8.
//
// On Windows the arguments come from the wide command line and the console
// shows UTF-8 (its output code page is set by Utf8Arguments); piped streams
// carry the program's UTF-8 bytes on every platform.

#include <string>
#include <vector>

namespace skiv::console {

bool StdinIsTerminal();
bool StderrIsTerminal();

// The program's arguments (argv[0] included) as UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Turns off the echo of typed characters on a terminal standard input while
// it lives; nothing when standard input is not a terminal.
class EchoOff {
public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_changed = false;
    unsigned long m_saved = 0;
};

}  // namespace skiv::console
