#pragma once
// Finds SavedVariables files that the game could not load back: a game that
// crashed or was killed while writing them leaves them cut short or empty,
// and a save would carry that damage to every computer of the member.
//
// Looks at every WTF/**/SavedVariables/*.lua under the game folder (links
// are not followed) and checks each with the Lua syntax check, reading it
// in pieces. Nothing is changed on disk. Runs on the calling thread.

#include <string>
#include <vector>

#include "platform/log_sink.h"

namespace skiv {

struct DamagedSavedVariables {
    std::string path;    // relative to the game folder, '/' separated
    int line = 0;        // where loading stops; 0 for an empty or unreadable file
    std::string reason;  // the syntax check's wording, or why it was not read
};

// The damaged files in the order the walk meets them; empty when all load.
std::vector<DamagedSavedVariables> FindDamagedSavedVariables(const std::string& gameFolder);

// The question put to the player before such a save: the files (the first
// ten, then how many more) and what saving them means.
std::string DamagedSavedVariablesQuestion(const std::vector<DamagedSavedVariables>& damaged);

}  // namespace skiv
