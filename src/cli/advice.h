#pragma once
// What skivaddon-cli adds to a message for the faults a player can fix
// alone, and the window's message for the archive commands' codes.

#include <string>
#include <string_view>

#include "platform/result_codes.h"

namespace skiv::cli {

// One line on what to do after the window's message `message`, or empty
// when the message names nothing the player can fix. serviceUrl is the
// address the command line talked to.
std::string AdviceFor(std::string_view message, std::string_view serviceUrl);

// The window's message for a failed archive command: the packing and
// compressing commands fail as a save does, the others as an install does.
std::string ArchiveCommandMessage(std::string_view command, ResultCode code);

}  // namespace skiv::cli
