#include "platform/win32_text.h"

#include <windows.h>

#include <algorithm>

namespace skiv::win32 {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string Utf8(const wchar_t* wide) {
    return Utf8(std::wstring(wide ? wide : L""));
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FileSystemPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    // Below the limit (less room for a file name a call may append), or
    // already prefixed: as it is.
    constexpr std::size_t kPlainLimit = MAX_PATH - 12;
    if (path.size() < kPlainLimit || path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    // The prefix turns off the calls' own clean-up ("..", "."), so the
    // path is made absolute and clean first.
    const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring full(n, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (written == 0 || written >= n)
        return path;
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string ProgramPath(const std::wstring& windowsPath) {
    std::string path = Utf8(windowsPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    return path;
}

}  // namespace skiv::win32
