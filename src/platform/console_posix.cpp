#include <termios.h>
#include <unistd.h>

#include "platform/console.h"

namespace skiv::console {

namespace {
termios g_saved{};
}

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) != 0;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

// One EchoOff at a time (the password prompt), so the saved state lives here.
EchoOff::EchoOff() {
    if (!StdinIsTerminal() || ::tcgetattr(STDIN_FILENO, &g_saved) != 0)
        return;
    termios quiet = g_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    m_changed = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
}

EchoOff::~EchoOff() {
    if (m_changed)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
}

}  // namespace skiv::console
