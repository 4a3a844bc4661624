#pragma once
// The state of one session: who is logged in, what the service holds for
// that member, where the game is, and which task runs.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/tar_archive.h"

namespace skiv {

// Stored type of a set.
enum FileType : std::int32_t { kTypeNone = 0, kTypeBasic = 1, kTypeFull = 2 };

struct SessionState {
    std::string gameFolder;  // ends with '/'; set by GetWowPath
    bool loggedIn = false;
    std::unique_ptr<CTarArchive> tarArchive;  // only while a flow runs
    std::atomic<bool> busy{false};            // a worker runs
    std::string loadFolder;                   // target of the running install, ends with '/'
    std::string memberId;
    std::int32_t fileSize = 0;
    std::string saveDate;
    std::int32_t fileType = kTypeNone;
    std::string memberKey;
    bool backupMade = false;
    std::string uploadUrl;
    std::string downloadUrl;
};

}  // namespace skiv
