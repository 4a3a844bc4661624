// The game's executable names, shared by the process back ends.

#include "platform/game_process.h"

namespace skiv {

const std::vector<std::string>& GameExecutableNames() {
    static const std::vector<std::string> names{"Wow.exe", "WowClassic.exe", "WowT.exe", "WowB.exe",
                                                "Launcher.exe"};
    return names;
}

}  // namespace skiv
