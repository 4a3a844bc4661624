#pragma once
// The folder of stored packages. A new package is first written to a
// temporary file under incoming/, then moved into the shelf under a fresh
// name; the store's row is switched to that name in one transaction and
// only then is the old file removed. A crash at any point therefore leaves
// either the old package or the new one described, never a mix; files no
// row names are swept at the next start.
//
// The shelf may instead keep what it stores as objects of a bucket
// (ObjectStore): new files are still received into incoming/ here, then
// uploaded under their name; an object appears whole or not at all, so
// the same order of writes holds. Readers see either back end the same way.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "object_store.h"

namespace skiv::server {

// An open file descriptor; move-only, closed on destruction.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int fd() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void Close() noexcept;

private:
    int m_fd = -1;
};

// A running SHA-256 of the bytes written so far.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream&&) noexcept;
    Sha256Stream& operator=(Sha256Stream&&) noexcept;
    void Update(const char* data, std::size_t size);
    // Lower-case hex of everything so far; the stream can go on.
    std::string Hex() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A package (or piece) being received, hashed while it is written. Removed
// from disk on destruction unless PackageShelf::Place or PlaceAs took it
// over.
class IncomingFile {
public:
    IncomingFile(FileHandle file, std::string path)
        : m_file(std::move(file)), m_path(std::move(path)) {}
    IncomingFile(IncomingFile&& other) noexcept;
    IncomingFile& operator=(IncomingFile&& other) noexcept;
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;
    ~IncomingFile();

    // Appends all bytes; false (errno kept) on a write failure.
    bool Write(const char* data, std::size_t size);
    std::int64_t size() const { return m_size; }
    const std::string& path() const { return m_path; }
    int fd() const { return m_file.fd(); }
    // SHA-256 of the bytes written, lower-case hex.
    std::string Sha256() const { return m_hash.Hex(); }
    // Flushes the bytes to disk. Throws std::runtime_error.
    void Flush();

private:
    friend class PackageShelf;
    void Discard() noexcept;
    FileHandle m_file;
    std::string m_path;
    std::int64_t m_size = 0;
    Sha256Stream m_hash;
    bool m_flushed = false;
};

// A stored file that could not be read as it should.
class PieceError : public std::runtime_error {
public:
    enum class Kind {
        Damaged,      // its bytes do not match the hash its name carries
        Unavailable,  // a read fault, or the object store unreachable
    };
    PieceError(Kind kind, const std::string& what) : std::runtime_error(what), m_kind(kind) {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Reads one stored file. A piece's content name carries its SHA-256; a
// verifying reader (the bucket's: its objects cross a network and another
// system's disks) hashes what the sequential Read hands out and, when that
// ends the file, hands out the last bytes only if the whole matched, so a
// damaged piece never reaches anyone complete. The folder's reader does
// not: a changed byte there reaches the client, whose package check names
// it. Not thread-safe: one user at a time.
class PieceReader {
public:
    PieceReader(std::string name, std::int64_t size, bool verify);
    virtual ~PieceReader() = default;
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    const std::string& name() const { return m_name; }
    std::int64_t size() const { return m_size; }
    // The next bytes, at most `n`; 0 at the end. Throws PieceError: Damaged
    // at the end of a verified piece whose hash differs (logged),
    // Unavailable on a read fault or a file that ends early.
    std::size_t Read(char* buf, std::size_t n);
    // Bytes at `offset`, unchecked; 0 at or past the end. Throws PieceError.
    virtual std::size_t ReadAt(std::int64_t offset, char* buf, std::size_t n) = 0;
    // True when a read may wait on the network, so a caller on an event
    // loop hands it to a worker.
    virtual bool Remote() const { return false; }

    // The SHA-256 a content name ("p.<member>.<sha>", "s.<sha>") carries;
    // empty for other names.
    static std::string ShaOfName(const std::string& name);

private:
    std::string m_name;
    std::int64_t m_size;
    std::string m_sha;
    std::int64_t m_at = 0;
    Sha256Stream m_hash;
};

struct StoredPackage {
    std::unique_ptr<PieceReader> reader;
    std::int64_t size = 0;
};

class PackageShelf {
public:
    // Creates `folder` and its incoming/ sub-folder as needed and removes
    // leftovers of interrupted uploads. Throws std::runtime_error.
    explicit PackageShelf(std::string folder);
    // The same, but what is stored goes to `objects`; `folder` keeps only
    // the incoming files.
    PackageShelf(std::string folder, std::unique_ptr<ObjectStore> objects);
    ~PackageShelf();

    // A new empty temporary file. Throws std::runtime_error.
    IncomingFile Begin();
    // Flushes the file to disk, moves it into the shelf under a new name for
    // `memberId` and flushes the folder. Returns the name. Throws
    // std::runtime_error; the temporary file is then removed.
    std::string Place(IncomingFile incoming, const std::string& memberId);
    // The same under a name the caller chose (a piece's content name); an
    // existing file of that name is replaced. Throws std::runtime_error.
    void PlaceAs(IncomingFile incoming, const std::string& name);
    // A new temporary file holding `size` bytes of `from` at `offset`.
    // Throws std::runtime_error.
    IncomingFile CopyRange(int from, std::int64_t offset, std::int64_t size);
    // Names of every stored file.
    std::vector<std::string> Names() const;
    // Opens a stored package for reading; nullopt when it is not there.
    // Throws PieceError (Unavailable) when the object store cannot say.
    std::optional<StoredPackage> Open(const std::string& name) const;
    // Removes a stored package; a missing file is fine. Never throws: a
    // file left behind is swept at the next start.
    void Remove(const std::string& name) const;
    // Removes every stored file whose name is not in `keep`.
    void Sweep(const std::vector<std::string>& keep) const;
    // Bytes of every stored package (the temporary files not included).
    std::int64_t StoredBytes() const;

    const std::string& folder() const { return m_folder; }
    // The bucket, or null when the folder keeps the files.
    ObjectStore* objects() const { return m_objects.get(); }

private:
    void Upload(IncomingFile& incoming, const std::string& name);

    std::string m_folder;    // ends with '/'
    std::string m_incoming;  // ends with '/'
    std::unique_ptr<ObjectStore> m_objects;
};

}  // namespace skiv::server
