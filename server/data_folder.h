#pragma once
// The service's data folder holds the member database, the packages and
// the TLS key: nobody but the service's own user may write it, and
// nobody else should read it.

#include <string>
#include <vector>

namespace skiv::server {

// Creates `dir` (mode 0700) when missing. Throws std::runtime_error when it
// cannot, when it is not a folder, or when other users (group or others)
// can write it. Makes the database files private (0600) when they are not.
// Returns warnings for the log: the folder can be read or entered by other
// users.
std::vector<std::string> PrepareDataFolder(const std::string& dir);

}  // namespace skiv::server
