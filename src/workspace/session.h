#pragma once
// The facts of one session: who is logged in, where the game is, and what
// the service holds for that member. Written by the login and by a finished
// save or install; the tasks' working state lives in the flows, not here.

#include <cstdint>
#include <optional>
#include <string>

#include "service/tag_reply.h"

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
    // The flavor and game version the stored set was saved from; empty
    // when the service does not say.
    std::string savedFlavor;
    std::string savedGameVersion;
    // What the service recorded of the stored package at upload, when it
    // says; a download must match it before anything in the game changes.
    std::optional<PackageCheck> packageCheck;
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
    // Install backups kept in Backup/: at most this many, and older ones
    // dropped once all together pass the byte limit (the newest is always
    // kept).
    int keepBackups = 3;
    std::int64_t backupBytesLimit = std::int64_t(4) << 30;
};

}  // namespace skiv
