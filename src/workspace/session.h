#pragma once
// The facts of one session: who is logged in, where the game is, and what
// the service holds for that member. Written by the login and by a finished
// save or install; the tasks' working state lives in the flows, not here.

#include <cstdint>
#include <string>

namespace skiv {

// Stored type of a set, as the service reports it.
enum FileType : std::int32_t { kTypeNone = 0, kTypeBasic = 1, kTypeFull = 2 };

struct SessionState {
    std::string gameFolder;  // ends with '/'; found at login
    // The game flavor of gameFolder ("_classic_"; empty for the one-folder
    // layout), the game's version there, what the launch option starts and
    // the Wine prefix the game lives in (empty when none). Found at login.
    std::string flavor;
    std::string gameVersion;
    std::string gameProgram;
    std::string winePrefix;
    bool loggedIn = false;
    std::string memberId;
    std::string memberKey;  // the service's key for uploads
    std::string uploadUrl;
    std::string downloadUrl;
    // The stored set.
    std::int32_t fileSize = 0;
    std::string saveDate;
    std::int32_t fileType = kTypeNone;
    // Entries of the stored set's archive when the service tells them;
    // -1 when it does not.
    std::int64_t storedEntryCount = -1;
    // The flavor and game version the stored set was saved from; empty
    // when the service does not say.
    std::string savedFlavor;
    std::string savedGameVersion;
    // An install has packed the game's set into Backup/ in this session.
    bool backupMade = false;
};

}  // namespace skiv
