#pragma once
// A read-only view of the machine-wide registry of the Wine prefix
// ($WINEPREFIX, else ~/.wine; HKEY_LOCAL_MACHINE lives in system.reg), seen as
// a 32-bit program sees it: "Software\Wow6432Node\..." is tried before the
// plain key. No prefix, key or value reads as missing.
//
// On Windows the key is the system's own (RegOpenKeyExW, the 32-bit view
// first, then the 64-bit one); the prefix is not used and MapWindowsPath
// only turns '\' into '/'.

#include <map>
#include <optional>
#include <string>

namespace skiv {

class RegistryKey {
public:
    RegistryKey() = default;

    // Opens the key under HKEY_LOCAL_MACHINE (path with '\' separators,
    // e.g. "SOFTWARE\Blizzard Entertainment\World of Warcraft"). The key's
    // values are read once here. False when the prefix or key is missing.
    bool Open(const std::string& subKey, const std::string& prefix);
    bool IsOpen() const { return m_open; }
    void Close();

    // A string value as the registry holds it (UTF-8); nullopt when missing
    // or not a string. Values of 2048 bytes or more read as missing.
    std::optional<std::string> QueryString(const std::string& name) const;

    // Maps a Windows path ("C:\Games\WoW\") to the prefix's Unix path through
    // dosdevices/ ("<prefix>/dosdevices/c:/Games/WoW/"), following the drive
    // link; a path without a drive letter is returned with '\' turned to '/'.
    static std::string MapWindowsPath(const std::string& windowsPath, const std::string& prefix);

    // Parses the text of a .reg file for one key; exposed for tests and fuzzing.
    bool LoadFromText(const std::string& text, const std::string& subKey);

private:
    bool m_open = false;
    std::map<std::string, std::string> m_values;  // lower-case name -> string value
};

}  // namespace skiv
