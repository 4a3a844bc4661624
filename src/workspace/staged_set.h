#pragma once
// Replacing the add-on set without a moment where the game folder holds a
// mix of two sets, or none. The new set is unpacked into a staging folder
// inside the game folder (the same file system, so a folder moves by a
// rename); once it is complete a marker naming the folders to replace is
// written, and each folder is then swapped: the game's own moved aside into
// a replaced-folder, the staged one moved in. Only after the last swap are
// the staging and the replaced folders removed.
//
// A process killed on the way leaves one of these, which RecoverStaged
// (run at the next login, and before every new staging) settles:
//   staging without marker  -> the unpacking was cut: staging removed, the
//                              game's set was never touched;
//   staging with marker     -> the swap had begun or was about to: it is
//                              finished, so the new set is in place;
//   replaced-folder alone   -> the swap was done: the old folders removed.

#include <string>
#include <vector>

#include "platform/log_sink.h"
#include "platform/result_codes.h"

namespace skiv {

inline constexpr const char* kStagingFolder = "SkivAddonStaging/";
inline constexpr const char* kReplacedFolder = "SkivAddonReplaced/";

// Unpacks archive into a fresh staging folder of game (ending with '/'),
// settling any leftover first. On failure the staging is removed and the
// code is CannotCreateFolder or UnpackArchive's; the game's set is
// untouched either way.
ResultCode StageArchive(const std::string& archive, const std::string& game, LogSink& log);

// Swaps the staged folders in for `folders` (relative, '/'-ended) of game:
// a folder the staging lacks is removed from the game (the new set has
// none). CannotCreateFolder when a rename fails; the folders already
// swapped are then moved back and the staging removed.
ResultCode SwapStaged(const std::string& game, const std::vector<std::string>& folders,
                      LogSink& log);

// Removes a staging that will not be swapped in.
void DiscardStaged(const std::string& game, LogSink& log);

enum class Leftover {
    None,      // nothing was left
    Cleaned,   // a cut unpacking removed; the set is as before the install
    Finished,  // a begun swap finished; the new set is in place
    Stuck,     // something could not be settled; it stays for the next try
};

// Settles what a killed install or roll back left in game (see above).
Leftover RecoverStaged(const std::string& game, LogSink& log);

}  // namespace skiv
