#include <windows.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/registry.h"
#include "platform/win32_text.h"

namespace skiv {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Closes a key on scope exit.
struct KeyGuard {
    HKEY key = nullptr;
    ~KeyGuard() {
        if (key)
            ::RegCloseKey(key);
    }
};

}  // namespace

bool RegistryKey::Open(const std::string& subKey, const std::string& /*prefix*/) {
    Close();
    // The 32-bit view first (HKLM\Software\Wow6432Node\... on 64-bit
    // Windows), where a 32-bit installer writes; then the 64-bit one.
    KeyGuard key;
    const std::wstring name = win32::Wide(subKey);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                        &key.key) != ERROR_SUCCESS &&
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                        &key.key) != ERROR_SUCCESS) {
        key.key = nullptr;
        return false;
    }
    m_open = true;
    // The string values are read once, as the prefix's text is elsewhere.
    DWORD maxName = 0, maxData = 0;
    if (::RegQueryInfoKeyW(key.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
        return true;
    }
    std::vector<wchar_t> valueName(maxName + 1);
    std::vector<BYTE> data(maxData + sizeof(wchar_t));
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        DWORD dataLength = maxData;
        DWORD type = 0;
        const LSTATUS status = ::RegEnumValueW(key.key, i, valueName.data(), &nameLength, nullptr,
                                               &type, data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        // A stored string need not end with its NUL; one is added.
        std::wstring value(reinterpret_cast<const wchar_t*>(data.data()),
                           dataLength / sizeof(wchar_t));
        if (!value.empty() && value.back() == L'\0')
            value.pop_back();
        m_values[Lower(win32::Utf8(std::wstring(valueName.data(), nameLength)))] =
            win32::Utf8(value);
    }
    return true;
}

std::string RegistryKey::MapWindowsPath(const std::string& windowsPath,
                                        const std::string& /*prefix*/) {
    std::string path = windowsPath;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace skiv
