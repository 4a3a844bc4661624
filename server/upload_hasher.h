#pragma once
// The whole-package check of a delta upload, started early. A commit must
// hash every byte of the package in manifest order before the version
// becomes current (the manifest's size and SHA-256 of the whole must hold).
// After a 1% change nearly all of those bytes are pieces the store already
// had when the upload began, so they are hashed on a background thread
// while the client is still sending the rest; the commit then only goes on
// from where that thread stopped.
//
// The background work is an optimisation only: an upload this instance did
// not begin, one evicted from the table, or one whose background reads
// failed, is hashed in full at the commit, as before.
//
// Threads: every call is safe from any thread. One background thread does
// the early hashing, so open uploads cost the service at most one core
// however many there are. Check() runs on the caller's thread and takes the
// upload away from the background thread first. The opener is called from
// both and must outlive the hasher.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "package_shelf.h"

namespace skiv::server {

class UploadHasher {
public:
    struct Piece {
        std::string name;  // as stored
        std::int64_t bytes = 0;
        bool operator==(const Piece& o) const { return name == o.name && bytes == o.bytes; }
    };
    // The stored piece `name`, or nullopt when it is not (yet) there.
    using Opener = std::function<std::optional<StoredPackage>(const std::string& name)>;

    // Uploads tracked at once; the oldest beyond them are hashed at commit.
    static constexpr std::size_t kDefaultUploads = 64;

    explicit UploadHasher(Opener open, std::size_t maxUploads = kDefaultUploads);
    ~UploadHasher();
    UploadHasher(const UploadHasher&) = delete;
    UploadHasher& operator=(const UploadHasher&) = delete;

    // An upload began: its pieces in manifest order. Uploads past their
    // expiry are dropped here.
    void Begin(const std::string& token, std::vector<Piece> pieces, std::int64_t expiresAt,
               std::int64_t now);
    // The piece `name` was placed in the store: uploads waiting for it go on.
    void Arrived(const std::string& name);

    // True when `pieces`, read in order, are packageBytes long and hash to
    // packageSha; false when they are not, or a piece is gone, short or
    // damaged. Uses the early work for `token` when it was made from the
    // same pieces, and forgets the token either way. Throws PieceError
    // (Unavailable) when the store cannot be read.
    bool Check(const std::string& token, const std::vector<Piece>& pieces,
               std::int64_t packageBytes, const std::string& packageSha);

    // Uploads being tracked (for tests).
    std::size_t Tracked();

private:
    struct Upload;
    enum class Step { Done, Absent, Bad };
    // Hashes upload's pieces from where it stopped. `stop` ends it early
    // between pieces (background work of an upload being committed).
    Step Advance(Upload& upload, const std::function<bool()>& stop);
    void Run();

    const Opener m_open;
    const std::size_t m_max;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::unordered_map<std::string, std::shared_ptr<Upload>> m_uploads;
    std::deque<std::string> m_order;  // tokens, oldest first, for eviction
    std::deque<std::string> m_queue;  // tokens with work the thread may do
    std::thread m_thread;             // last: started when the above exist
};

}  // namespace skiv::server
