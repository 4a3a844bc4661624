#include "platform/console.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/win32_text.h"

namespace skiv::console {

namespace {
bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}
}  // namespace

bool StdinIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool StderrIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(win32::Utf8(wide[i]));
    ::LocalFree(wide);
    return args;
}

EchoOff::EchoOff() {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(in, &mode))
        return;
    m_saved = mode;
    m_changed = ::SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
    if (m_changed)
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), static_cast<DWORD>(m_saved));
}

}  // namespace skiv::console
