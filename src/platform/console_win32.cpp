#include <windows.h>

#include <shellapi.h>

#include <io.h>

#include "platform/console.h"
#include "platform/win32_text.h"

namespace skiv::console {

namespace {
HANDLE Handle(Stream stream) {
    switch (stream) {
        case Stream::In:
            return ::GetStdHandle(STD_INPUT_HANDLE);
        case Stream::Out:
            return ::GetStdHandle(STD_OUTPUT_HANDLE);
        case Stream::Err:
            break;
    }
    return ::GetStdHandle(STD_ERROR_HANDLE);
}
}  // namespace

bool IsTerminal(Stream stream) {
    // A console answers GetConsoleMode; a file or pipe does not.
    DWORD mode = 0;
    return ::GetConsoleMode(Handle(stream), &mode) != 0;
}

EchoOff::EchoOff() {
    const HANDLE in = Handle(Stream::In);
    DWORD mode = 0;
    if (!::GetConsoleMode(in, &mode))
        return;
    m_saved[0] = mode;
    m_active = ::SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
    if (m_active)
        ::SetConsoleMode(Handle(Stream::In), static_cast<DWORD>(m_saved[0]));
}

Arguments::Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i)
            m_args.push_back(win32::Utf8(wide[i]));
        ::LocalFree(wide);
    } else {
        m_args.assign(argv, argv + argc);
    }
    for (std::string& a : m_args)
        m_argv.push_back(a.data());
    m_argv.push_back(nullptr);
}

void UseUtf8Output() {
    ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace skiv::console
