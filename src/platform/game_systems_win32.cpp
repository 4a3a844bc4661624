#include <windows.h>

#include <shlobj.h>

#include "platform/game_systems.h"
#include "platform/win32_text.h"

namespace skiv::platform {

namespace {

// A known folder with '/' separators, no trailing '/'; empty when unknown.
std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path) {
        result = win32::ProgramPath(path);
        result.pop_back();
    }
    ::CoTaskMemFree(path);
    return result;
}

}  // namespace

std::vector<GameSystem> FindGameSystems() {
    // The machine itself: the 32-bit programs' folder first, where the
    // game installs.
    GameSystem machine;
    machine.kind = "Windows";
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesX64}) {
        std::string folder = KnownFolder(*id);
        if (!folder.empty() && (machine.programFiles.empty() || machine.programFiles[0] != folder))
            machine.programFiles.push_back(std::move(folder));
    }
    machine.programData = KnownFolder(FOLDERID_ProgramData);
    return {machine};
}

std::string GetSettingsFolder() {
    const std::string appData = KnownFolder(FOLDERID_RoamingAppData);
    return appData.empty() ? appData : appData + "/skivaddon/";
}

}  // namespace skiv::platform
