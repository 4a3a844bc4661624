#include "support/tree_snapshot.h"

#include <filesystem>

#include "support/temp_dir.h"

namespace skiv::test {

TreeSnapshot SnapshotTree(const std::string& folder) {
    namespace stdfs = std::filesystem;
    TreeSnapshot out;
    std::error_code ec;
    if (!stdfs::is_directory(folder, ec))
        return out;
    for (auto it = stdfs::recursive_directory_iterator(folder, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file())
            continue;
        out[stdfs::relative(it->path(), folder).string()] = ReadFile(it->path().string());
    }
    return out;
}

}  // namespace skiv::test
