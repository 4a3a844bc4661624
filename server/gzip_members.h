#pragma once
// Finds where the members of a gzip stream end, and counts the tar archive
// inside, so that a package received whole can be kept as the same pieces
// a delta upload would name.

#include <cstdint>
#include <vector>

namespace skiv::server {

struct GzipScan {
    bool ok = false;                 // a sequence of complete gzip members, nothing after
    std::vector<std::int64_t> ends;  // offset just past each member
    std::int64_t entries = -1;       // archive entries (long-name and pax records not counted)
    std::int64_t unpacked = -1;      // bytes of the regular files in the archive
};

class PieceReader;

// Reads the whole of `reader` (with ReadAt; its position is untouched).
// Never throws; ok = false for anything that is not a whole gzip stream,
// or that could not be read.
GzipScan ScanGzipMembers(PieceReader& reader);
// The same for `size` bytes of the local file `fd`.
GzipScan ScanGzipMembers(int fd, std::int64_t size);

}  // namespace skiv::server
