#pragma once
// The package in pieces: the archive's head and table, then its files'
// bytes, cut at entry boundaries into runs ("pieces") that are each
// compressed as one complete gzip member. The package is the members in
// order, so any gzip reader, DecompressFile included, reads it as one
// stream and gets the archive ArchiveWriter would have written.
//
// Pieces are compressed on a pool of threads (one per core) and written by
// the calling thread in order; at most a few pieces per thread are held at
// once, so memory does not grow with the set. A piece whose files have not
// changed since the cached package was made is copied from there instead of
// being compressed again (see PieceCache): its files are not read again when
// their size, times and inode say they are the ones the piece was made of.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/tar_archive.h"
#include "platform/fs.h"
#include "platform/log_sink.h"
#include "platform/result_codes.h"

namespace skiv {

// Uncompressed bytes a piece aims at; a file at least this large is cut
// into pieces of its own of this size.
inline constexpr std::int64_t kPieceTarget = 256 * 1024;
// The deflate level of every piece. Measured on the scale-1.0 generated set
// in 256 KiB runs (libdeflate, one core): level 6 took 7.3 s for 1.009x the
// size of `gzip -6`, level 4 4.9 s for 1.017x, level 3 4.6 s for 1.019x.
inline constexpr int kPieceLevel = 4;

inline constexpr std::int64_t kUnknownTime = fs::kNoStamp;

// A run of one file's bytes inside a piece.
struct PieceSpan {
    std::string path;                   // relative to the game folder, '/' separators
    std::string source;                 // where the bytes are read from (not cached)
    std::int64_t fileSize = 0;          // the entry's size in the archive's table
    std::int64_t mtime = kUnknownTime;  // modification time when planned (ns)
    // Where the file system keeps them: the status change time (ns), which
    // every write moves, even one that sets the modification time back, and
    // the file's identity (inode, file index). kUnknownTime where not kept.
    std::int64_t changed = kUnknownTime;
    std::int64_t inode = 0;
    std::int64_t offset = 0;  // first byte of the run in the file
    std::int64_t length = 0;
    bool operator==(const PieceSpan& o) const {
        return path == o.path && fileSize == o.fileSize && mtime == o.mtime &&
               changed == o.changed && inode == o.inode && offset == o.offset && length == o.length;
    }
};

struct Piece {
    std::vector<PieceSpan> spans;  // empty for the head and table piece
    bool shared = false;           // every entry lies under Interface/AddOns/
    std::int64_t rawBytes = 0;     // archive bytes it holds
    // Known once written (or read from a manifest or the cache):
    std::string sha256;       // of the compressed bytes
    std::uint32_t crc32 = 0;  // of the compressed bytes: checks a cached copy cheaply
    std::int64_t bytes = 0;   // compressed bytes
    std::int64_t offset = 0;  // within the package
    bool reused = false;      // copied from the cache, not compressed
};

struct PackagePlan {
    std::vector<std::uint8_t> table;  // head and table, as the archive starts
    std::vector<Piece> pieces;        // pieces[0] holds the table
    int files = 0;
    std::int64_t archiveBytes = 0;
};

// Plans the pieces of what the writer has collected; each file's
// modification time is read now.
PackagePlan PlanPackage(const ArchiveWriter& archive, std::int64_t target = kPieceTarget);
// The same for an archive's head and entries (an unpacked package's, say),
// each entry's bytes read from its sourceFolder + fileName.
PackagePlan PlanPackage(const TarHeader& head, const std::vector<TarEntry>& entries,
                        std::int64_t target = kPieceTarget);

struct PackageResult {
    std::string sha256;  // of the whole package
    std::int64_t bytes = 0;
    int compressed = 0;  // pieces compressed in this run
    int reused = 0;      // pieces copied from the cache
};

class PieceCache;

// Writes the plan's package as target (a new file: whatever had the name
// goes first) and fills each piece's hash, size and offset. A file that
// vanished or changed size since it was collected is cut or padded with
// zeros, as ArchiveWriter does. Ok, CannotOpenGzip (the target),
// GzWriteFailed (a write), AllocFailed.
ResultCode WritePackage(PackagePlan& plan, const std::string& target, const PieceCache* cache,
                        PackageResult& out, LogSink& log);

// The CRC-32 and length a gzip member's trailer records; false when bytes
// is too short to be a member.
bool MemberTrailer(const std::uint8_t* bytes, std::size_t size, std::uint32_t& crc,
                   std::uint32_t& length);

}  // namespace skiv
