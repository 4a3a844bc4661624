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
    bool loggedIn = false;
    std::string memberId;
    std::string memberKey;  // the service's key for uploads
    std::string uploadUrl;
    std::string downloadUrl;
    // The stored set.
    std::int32_t fileSize = 0;
    std::string saveDate;
    std::int32_t fileType = kTypeNone;
    // Base address of the service's delta exchanges ("<delta>" of the login
    // reply); empty when it offers none and the classic ones are used.
    std::string deltaBase;
    // What the last save or install moved and reused: bytes sent or
    // fetched, pieces compressed afresh and pieces taken from the cache.
    std::int64_t lastSentBytes = 0;
    std::int64_t lastFetchedBytes = 0;
    int lastPiecesCompressed = 0;
    int lastPiecesReused = 0;
    // An install has packed the game's set into Backup/ in this session.
    bool backupMade = false;
};

}  // namespace skiv
