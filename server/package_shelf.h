#pragma once
// The folder of stored packages. A new package is first written to a
// temporary file under incoming/, then moved into the shelf under a fresh
// name; the store's row is switched to that name in one transaction and
// only then is the old file removed. A crash at any point therefore leaves
// either the old package or the new one described, never a mix; files no
// row names are swept at the next start.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

struct StoredPackage {
    FileHandle file;
    std::int64_t size = 0;
};

class PackageShelf {
public:
    // Creates `folder` and its incoming/ sub-folder as needed and removes
    // leftovers of interrupted uploads. Throws std::runtime_error.
    explicit PackageShelf(std::string folder);

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
    std::optional<StoredPackage> Open(const std::string& name) const;
    // Removes a stored package; a missing file is fine.
    void Remove(const std::string& name) const;
    // Removes every stored file whose name is not in `keep`.
    void Sweep(const std::vector<std::string>& keep) const;
    // Bytes of every stored package (the temporary files not included).
    std::int64_t StoredBytes() const;

    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;    // ends with '/'
    std::string m_incoming;  // ends with '/'
};

}  // namespace skiv::server
