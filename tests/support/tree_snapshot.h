#pragma once
// The files under a folder as relative path -> content, for comparing trees
// byte for byte.

#include <map>
#include <string>

namespace skiv::test {

using TreeSnapshot = std::map<std::string, std::string>;

// Relative paths use '/'; a missing folder gives an empty snapshot.
TreeSnapshot SnapshotTree(const std::string& folder);

}  // namespace skiv::test
