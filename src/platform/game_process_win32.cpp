// The running-game check on Windows: the system's process list, names
// compared without regard to case. Every session's processes are listed;
// the game of another user on the same machine also holds the folder.

#include <windows.h>
// Needs windows.h first.
#include <tlhelp32.h>

#include "platform/game_process.h"
#include "platform/win32_text.h"

namespace skiv {

std::optional<std::string> FindRunningGame() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::optional<std::string> found;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
         more = ::Process32NextW(snapshot, &entry)) {
        for (const std::string& name : GameExecutableNames()) {
            if (::lstrcmpiW(entry.szExeFile, win32::Wide(name).c_str()) == 0) {
                found = name;
                break;
            }
        }
    }
    ::CloseHandle(snapshot);
    return found;
}

}  // namespace skiv
