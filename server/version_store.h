#pragma once
// The package store: pieces kept by their SHA-256 in the shelf folder, and
// each member's versions as manifests with their ordered pieces, in the
// service's SQLite file. A version's package is the concatenation of its
// pieces; nothing assembled is kept.
//
// Pieces are private to their member ("p.<member>.<sha>") unless the
// client marked them shared (add-on code), which go to one pool for all
// members ("s.<sha>"). A member's private piece is never used to answer
// another member, so the store cannot tell anyone what another member
// holds; only pieces marked shared are deduplicated across members.
//
// Writes: a piece file is flushed and renamed into the shelf, then its row
// is added; a version's rows (and the member's current package columns)
// change in one transaction. A crash leaves the old version or the new one
// current; files without a row are removed by Recover().
//
// Collection: after every new version the member keeps its newest
// `keepVersions`; pieces no version needs are deleted unless a delta upload
// in flight (answered, not yet committed or expired) lists them, or a
// download or store holds them (pins). Pins are lease rows, so instances
// sharing the store respect each other's; a live process refreshes its
// leases, and those of one that died lapse after kLeaseSeconds. Placing
// pieces and collecting are serialised within a process, so a piece is
// never deleted under a row that was just written for it. Across
// processes, a collection looks once more for a row or lease of each
// piece just before it removes the file; what remains is the moment
// between that look and the removal.
//
// Thread safety: every call is safe from any thread.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "manifest.h"
#include "package_shelf.h"
#include "sql_db.h"
#include "upload_hasher.h"

namespace skiv::server {

// What a classic client checks its download against: the package's
// SHA-256 and the archive's entries and bytes as the upload counted them.
struct PackageCheckValues {
    std::string sha256;  // empty: none
    std::int64_t entries = -1;
    std::int64_t bytes = -1;
};

class VersionStore {
public:
    // Opens its own connections to the member database at `target` (a
    // SQLite file or a postgresql:// URL; the schema is MemberStore's, so
    // a MemberStore opens it first). Throws SqlError.
    VersionStore(const std::string& target, PackageShelf& shelf, int keepVersions,
                 int poolSize = 8);
    ~VersionStore();
    VersionStore(const VersionStore&) = delete;
    VersionStore& operator=(const VersionStore&) = delete;

    static std::string PieceName(const std::string& memberId, const std::string& sha, bool shared);

    // At start, before serving: takes the single packages of older files
    // into the store, drops expired uploads, removes files without rows
    // and collects. Throws on a storage fault. Without `sweepFiles` the
    // files without rows stay: another instance serving the same shelf
    // may have placed them a moment before their rows.
    void Recover(std::int64_t now, bool sweepFiles = true);

    // Holds piece files against collection while alive.
    class Pins {
    public:
        Pins(VersionStore& store, std::vector<std::string> names);
        ~Pins();
        Pins(const Pins&) = delete;
        Pins& operator=(const Pins&) = delete;

    private:
        VersionStore& m_store;
        std::vector<std::string> m_names;
    };

    // A stored piece by name, and its size.
    using PieceRef = UploadHasher::Piece;
    // A version ready to be streamed: its pieces in order, pinned.
    struct Stream {
        std::vector<PieceRef> pieces;
        std::int64_t size = 0;
        std::shared_ptr<Pins> pins;
        bool whole = true;  // false: a piece file is gone or of another size
    };
    // Version n of the member (1 = current); nullopt when it has none.
    std::optional<Stream> OpenVersion(const std::string& memberId, int n);
    std::optional<std::string> ManifestText(const std::string& memberId, int n);
    // "<n>\t<time>\t<bytes>\t<files>\t<changed>\t<computer>\n" per version,
    // newest first.
    std::string VersionList(const std::string& memberId);

    // Stores a whole package received by the classic upload as the
    // member's new current version, split into its gzip members when it is
    // a gzip stream, else as one private piece. Throws on a storage fault;
    // the previous version is then still current.
    // check is recorded in the same transaction as the version.
    void StoreWhole(const std::string& memberId, IncomingFile file, int fileType, std::int64_t now,
                    const PackageCheckValues& check = {});

    // Delta upload. Begin: records the upload under `token` until
    // `expiresAt` and returns the hashes of the pieces the store lacks for
    // this member, in manifest order, each once. A piece whose file went
    // missing counts as lacking, so the next upload repairs it.
    std::vector<std::string> BeginUpload(const std::string& memberId, const Manifest& manifest,
                                         const std::string& manifestText, const std::string& token,
                                         std::int64_t expiresAt, std::int64_t now);
    // The piece `sha` of a live upload of the member: its file name and size.
    std::optional<PieceRef> UploadPiece(const std::string& memberId, const std::string& token,
                                        const std::string& sha, std::int64_t now);
    // Stores a received piece under `name` unless it is there already.
    void PutPiece(IncomingFile file, const std::string& name);

    enum class CommitResult { Ok, UnknownUpload, PieceMissing, Mismatch };
    // Checks the upload's pieces are all present and assemble to the
    // manifest's package, then makes it the current version in one
    // transaction. Throws on a storage fault.
    CommitResult Commit(const std::string& memberId, const std::string& token, int fileType,
                        std::int64_t now);

    // Opens the piece `sha` of the member (its own, or the shared pool's).
    std::optional<StoredPackage> OpenMemberPiece(const std::string& memberId,
                                                 const std::string& sha);

    // Deletes pieces nobody needs (see above); returns how many.
    int Collect(std::int64_t now);

    PackageShelf& shelf() { return m_shelf; }

    static constexpr int kOpenUploadsPerMember = 4;
    // How long a whole package being stored keeps its pieces listed.
    static constexpr std::int64_t kWholeStoreSeconds = 3600;
    // A pin's lease row lasts this long unless refreshed (every third of it).
    static constexpr std::int64_t kLeaseSeconds = 60;

private:
    friend class Pins;
    struct NewVersion {
        std::string memberId;
        Manifest manifest;
        std::string manifestText;
        std::vector<std::string> names;  // piece file names, in order
        int fileType = 1;
        std::int64_t savedAt = 0;
        const std::string* token = nullptr;  // the delta upload it ends
        PackageCheckValues check;            // none for a delta upload
    };
    // The version's rows, the member's columns and the trim to m_keep in
    // one transaction; nullopt when `token` is no longer open.
    std::optional<std::int64_t> AddVersion(const NewVersion& v);
    bool PieceKnown(const std::string& name);
    // Every piece has its row; one read transaction.
    bool PiecesKnown(const std::vector<PieceRef>& pieces);

    void RefreshLeases();

    PackageShelf& m_shelf;
    const int m_keep;
    const std::string m_holder;  // this process's name on its lease rows
    std::mutex m_pieceMutex;     // placing pieces vs. collecting; the pins
    std::multiset<std::string> m_pins;
    SqlPool m_pool;
    UploadHasher m_hasher;  // after the shelf it reads, before the pool's users stop
    std::mutex m_stopMutex;
    std::condition_variable m_stop;
    bool m_stopping = false;
    std::thread m_refresher;  // last: started when everything above exists
};

}  // namespace skiv::server
