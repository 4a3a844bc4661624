#pragma once
// The local piece cache of one game folder: the package of its last save
// or install, and an index of that package's pieces with the file runs
// each covers (path, size, modification time, and where kept the status
// change time and inode). A save takes a piece from here when its planned
// runs are the same and, where those stamps are not kept, the files' bytes
// still check against the CRC-32 in the piece's gzip trailer; the piece's
// own bytes are checked against its SHA-256 when copied. So a cache that is
// cut, corrupted or made for another folder is passed over (Load fails or
// single pieces are compressed afresh), never trusted into a package.
//
// Layout: <cache folder>/skivaddon/pieces/<16 hex digits naming the game
// folder>/{index,package}. Both are replaced by renames, the package first.

#include <string>
#include <unordered_map>
#include <vector>

#include "archive/piece_package.h"
#include "platform/log_sink.h"

namespace skiv {

class PieceCache {
public:
    // The cache folder of gameFolder, ending with '/'; under cacheRoot when
    // given, else under the platform's cache folder.
    static std::string FolderFor(const std::string& gameFolder, const std::string& cacheRoot = {});

    // Reads folder's index. False, and the cache stays empty, when it is
    // missing, malformed, cut short, of another game folder, or when the
    // package beside it is not the size the index records.
    bool Load(const std::string& folder, const std::string& gameFolder);
    bool Loaded() const { return m_loaded; }

    // A cached piece with the same runs of the same file versions.
    const Piece* FindSame(const Piece& planned) const;
    // A cached piece with these compressed bytes.
    const Piece* FindHash(const std::string& sha256) const;
    const std::string& PackagePath() const { return m_package; }

    // Files added, changed or gone against the cached package; -1 when no
    // cache was loaded.
    int ChangedFiles(const PackagePlan& plan) const;

    // Makes packagePath (written from plan) the cache of gameFolder in
    // folder: the package is hard-linked when it can be, else copied.
    // False when either could not be stored; the old cache may be gone then.
    static bool Store(const std::string& folder, const std::string& gameFolder,
                      const PackagePlan& plan, const PackageResult& result,
                      const std::string& packagePath, LogSink& log);

private:
    static std::string SpanKey(const PieceSpan& s);

    bool m_loaded = false;
    std::string m_package;
    std::vector<Piece> m_pieces;
    std::unordered_map<std::string, std::size_t> m_bySpans;  // first span's key
    std::unordered_map<std::string, std::size_t> m_byHash;
    std::unordered_map<std::string, std::pair<std::int64_t, std::int64_t>> m_files;
};

}  // namespace skiv
