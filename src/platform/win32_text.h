#pragma once
// Text at the edge of the Win32 calls (Windows back ends only): the
// program's UTF-8 strings to and from the wide-character API's UTF-16.

#include <string>

namespace skiv::win32 {

// UTF-8 to UTF-16 and back; invalid input is replaced, never cut.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Utf8(const wchar_t* wide);

// A path for the file calls: separators turned to '\'; a path too long for
// the plain calls is made absolute and given the "\\?\" (or "\\?\UNC\")
// prefix, which lifts the MAX_PATH limit.
std::wstring FileSystemPath(const std::string& utf8);

// The folder at the end of a Windows path, with '/' separators and a final
// '/' (the program's own path form).
std::string ProgramPath(const std::wstring& windowsPath);

}  // namespace skiv::win32
