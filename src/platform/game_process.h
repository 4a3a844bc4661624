#pragma once
// Whether the game is running for this user. Its executables are looked
// for by name among the user's processes; under a compatibility layer the
// process carries the Windows executable's name (or has it as its first
// argument), so the same names serve there.
//
// The back end is per platform: game_process_posix.cpp reads /proc.

#include <optional>
#include <string>
#include <vector>

namespace skiv {

// The executable names of the game and of its old launcher, compared
// without regard to ASCII case.
const std::vector<std::string>& GameExecutableNames();

// The name of one running game process of this user, or nullopt when none
// runs (or the process list cannot be read).
std::optional<std::string> FindRunningGame();

}  // namespace skiv
