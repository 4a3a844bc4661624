#include <cstdlib>

#include "platform/game_systems.h"

namespace skiv::platform {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

}  // namespace

std::vector<GameSystem> FindGameSystems() {
    GameSystem machine;
    machine.kind = "Windows";
    for (const char* name : {"ProgramFiles(x86)", "ProgramW6432", "ProgramFiles"}) {
        std::string folder = Env(name);
        if (!folder.empty())
            machine.programFiles.push_back(folder);
    }
    machine.programData = Env("ProgramData");
    if (machine.programData.empty())
        machine.programData = "C:\\ProgramData";
    return {machine};
}

std::string GetSettingsFolder() {
    std::string appData = Env("APPDATA");
    if (appData.empty())
        return {};
    return appData + "\\skivaddon\\";
}

}  // namespace skiv::platform
