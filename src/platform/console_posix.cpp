#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "platform/console.h"

namespace skiv::console {

namespace {
int Descriptor(Stream stream) {
    switch (stream) {
        case Stream::In:
            return STDIN_FILENO;
        case Stream::Out:
            return STDOUT_FILENO;
        case Stream::Err:
            break;
    }
    return STDERR_FILENO;
}
}  // namespace

bool IsTerminal(Stream stream) {
    return ::isatty(Descriptor(stream)) != 0;
}

EchoOff::EchoOff() {
    static_assert(sizeof(termios) <= sizeof(m_saved));
    termios old{};
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &old) != 0)
        return;
    std::memcpy(m_saved, &old, sizeof old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    m_active = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
}

EchoOff::~EchoOff() {
    if (!m_active)
        return;
    termios old{};
    std::memcpy(&old, m_saved, sizeof old);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
}

Arguments::Arguments(int argc, char** argv) : m_args(argv, argv + argc) {
    for (std::string& a : m_args)
        m_argv.push_back(a.data());
    m_argv.push_back(nullptr);
}

void UseUtf8Output() {}

}  // namespace skiv::console
