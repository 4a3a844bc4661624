#include <windows.h>

#include <shlobj.h>

#include <string>

#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/win32_text.h"

namespace skiv::paths {

namespace {

// A known folder as a program path ending with '/'; empty when unknown.
std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path)
        result = win32::ProgramPath(path);
    ::CoTaskMemFree(path);
    return result;
}

std::string Env(const wchar_t* name) {
    wchar_t buf[2048];
    const DWORD n = ::GetEnvironmentVariableW(name, buf, static_cast<DWORD>(std::size(buf)));
    if (n == 0 || n >= std::size(buf))
        return {};
    return win32::ProgramPath(std::wstring(buf, n));
}

std::string WithoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

std::string GetProgramFolder() {
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
        if (n == 0)
            return "./";
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);  // cut: a longer path, try a bigger buffer
    }
    return win32::ProgramPath(exe.substr(0, exe.find_last_of(L"\\/")));
}

std::string GetWinePrefix() {
    return {};
}

std::string GetProgramFilesFolder() {
    // The game is a 32-bit program: its folder is the 32-bit programs' one.
    std::string folder = KnownFolder(FOLDERID_ProgramFilesX86);
    if (folder.empty())
        folder = Env(L"ProgramFiles");
    return folder.empty() ? folder : WithoutSlash(folder);
}

std::string GetDesktopFolder() {
    std::string desktop = KnownFolder(FOLDERID_Desktop);
    return desktop.empty() ? fs::WithSlash(GetHomeFolder() + "/Desktop") : desktop;
}

std::string GetHomeFolder() {
    std::string home = KnownFolder(FOLDERID_Profile);
    if (home.empty())
        home = Env(L"USERPROFILE");
    return home.empty() ? home : WithoutSlash(home);
}

std::string GetStateFolder() {
    std::string local = KnownFolder(FOLDERID_LocalAppData);
    if (local.empty())
        local = Env(L"LOCALAPPDATA");
    return fs::WithSlash(local);
}

std::string GetCacheFolder() {
    // Windows keeps caches and state alike under the local application data.
    return GetStateFolder();
}

std::string ThisComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size))
        return {};
    return win32::Utf8(std::wstring(name, size));
}

}  // namespace skiv::paths
