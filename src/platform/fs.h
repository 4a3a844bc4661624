#pragma once
// File-system stand-ins for the Windows calls the upper layers were shaped
// around (FindFirstFile, Get/SetFileAttributes, CreateDirectory, DeleteFile,
// RemoveDirectory, CreateFile without sharing). Every failing call leaves the
// system error (errno) for the caller to log.
//
// Paths are byte strings as the file system gives them (UTF-8 on Linux).
// Folder paths handed to this layer may or may not end with '/'.
//
// On Windows paths are UTF-8 with '/' or '\' separators, turned into the
// wide-character calls' UTF-16 here (long ones get the "\\?\" prefix);
// LastError is GetLastError's number, and the "exclusive lock" below is the
// share mode 0 of CreateFile, so another open of the file fails outright.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace skiv::fs {

constexpr char kSep = '/';

// The system error of the last failing call on this thread.
int LastError();

// Appends the native separator unless the path already ends with one.
std::string WithSlash(std::string path);

struct DirItem {
    std::string name;
    bool isFolder = false;  // a link counts as what it points to
    bool isLink = false;    // a symbolic link (to a file, a folder, or nothing)
    bool isFile = false;    // a regular file; a link counts as what it points to
};

// Identity of a folder (device and inode), for walks that must not loop.
struct FolderId {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FolderId&) const = default;
};
std::optional<FolderId> GetFolderId(const std::string& path);

// Lists one folder, hidden entries included, "." and ".." too (as the
// Windows listing reports them). Move-only owner of the listing handle.
class DirListing {
public:
    // Fails (nullopt, LastError set) when the folder cannot be listed.
    static std::optional<DirListing> Open(const std::string& folder);
    // The same, but fails (ELOOP / ENOTDIR) when folder itself is a link.
    static std::optional<DirListing> OpenNoFollow(const std::string& folder);
    DirListing(DirListing&& other) noexcept;
    DirListing& operator=(DirListing&& other) noexcept;
    DirListing(const DirListing&) = delete;
    DirListing& operator=(const DirListing&) = delete;
    ~DirListing();

    // Next item in the order the file system gives them; false at the end.
    bool Next(DirItem& item);

private:
    explicit DirListing(void* dir, std::string folder);
    void* m_dir = nullptr;  // DIR*
    std::string m_folder;
};

struct Attributes {
    bool isFolder = false;
    bool readOnly = false;  // no write permission bit for the owner
};

// True when the path names an existing file or folder.
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
// True when the path itself (a final '/' ignored) is a symbolic link.
bool IsLink(const std::string& path);
std::optional<Attributes> GetAttributes(const std::string& path);
// Clears or sets the read-only state, keeping the other permission bits.
bool SetReadOnly(const std::string& path, bool readOnly);

// Creates one folder. Fails with EEXIST when something of that name exists.
bool CreateFolder(const std::string& path);
// Creates one folder; an existing folder counts as success.
bool EnsureFolder(const std::string& path);
// Creates one folder the program keeps its own files in (a task's Backup/):
// a symbolic link standing in its place is removed as a link first, what it
// points to untouched, so the files written there stay below its parent.
// An existing real folder counts as success; a file of that name fails
// (EEXIST). The parent is taken as given.
bool EnsureOwnFolder(const std::string& path);
bool RemoveFolder(const std::string& path);

// Creates the folders of relative (native separators, '/'-ended or not)
// below base, outermost first; existing folders count as success. base is
// opened as given (it may be, or pass through, a link: it is the folder the
// player chose); below it every component is opened from its parent's
// handle without following links, so a link or a file standing where a
// folder is expected fails the call (ELOOP / ENOTDIR) instead of leading
// outside base.
bool EnsureFolderBelow(const std::string& base, const std::string& relative);

// Renames a file or folder within one file system; an existing target
// folder is not replaced (fails), so a rename never merges two trees. A
// link is moved as a link.
bool Rename(const std::string& from, const std::string& to);
// Flushes a folder's entries (the renames and creates in it) to stable
// storage.
bool SyncFolder(const std::string& path);

// Deletes a file. Like Windows, fails (EBUSY) while another process holds
// the file with an exclusive lock (see OpenNoShare).
bool DeleteFile(const std::string& path);

// Renames the file from to to, replacing an existing file to (atomically
// where the file system can): how a whole ".part" file takes its name.
bool RenameReplacing(const std::string& from, const std::string& to);

// True when a new file can be made in the folder (it is tried).
bool CanWriteIn(const std::string& folder);

// What tells a later look that a file is still the one seen now: its size,
// its modification time, and where the file system keeps them its status
// change time (moved by every write, even one that sets the modification
// time back: ctime on POSIX, ChangeTime on NTFS) and its identity on its
// volume (inode, file index). Times in ns since 1970 (UTC).
inline constexpr std::int64_t kNoStamp = INT64_MIN;
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modified = kNoStamp;
    std::int64_t changed = kNoStamp;  // kNoStamp where not kept (FAT)
    std::int64_t identity = 0;
};
// The stamp of the file at path (links followed); nullopt (LastError set)
// when it cannot be read.
std::optional<FileStamp> StampOf(const std::string& path);

// Makes `to` a second name of the file `from` (same volume); false
// (LastError set) where the file system cannot.
bool HardLink(const std::string& from, const std::string& to);

// Size of an existing file; nullopt (LastError set) when it cannot be read.
std::optional<std::int64_t> FileSize(const std::string& path);
// Last modification of a file or folder, in seconds since 1970 (UTC);
// nullopt (LastError set) when it cannot be read.
std::optional<std::int64_t> ModifiedTime(const std::string& path);

// Closes a FILE* on destruction.
struct FileCloser {
    void operator()(std::FILE* f) const noexcept {
        if (f)
            std::fclose(f);
    }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

UniqueFile OpenFile(const std::string& path, const char* mode);

// Opens a regular file for reading ("rb"). A pipe, socket or device fails
// (EINVAL) without blocking, whoever holds its other end.
UniqueFile OpenRegularRead(const std::string& path);

// The whole of a small regular file (a marker, an index, a settings file),
// opened through the platform's file names (so UTF-8 names work on Windows
// too, which narrow-string streams there do not). nullopt when it cannot be
// opened or read, or holds more than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes);
// Makes text the whole content of path: written beside it, then renamed
// over it, so a reader sees the old content or the new, never a part.
bool WriteWholeFile(const std::string& path, std::string_view text);

// Creates or truncates the regular file base + relative for writing ("wb").
// The folders of relative must exist; they are walked from base's handle
// without following links, and the file itself is opened without following
// one: a link anywhere below base fails the call (ELOOP / ENOTDIR), so
// nothing outside base is written. A pipe or device in the file's place
// fails (EINVAL) without blocking.
UniqueFile CreateFileBelow(const std::string& base, const std::string& relative);

// An existing file opened for reading with no sharing: fails (EWOULDBLOCK)
// while another process holds an exclusive advisory lock on it, and holds
// such a lock itself while open. Move-only owner of the descriptor.
class NoShareFile {
public:
    // Regular files only: a pipe, socket or device fails (EINVAL) without
    // blocking.
    static std::optional<NoShareFile> OpenRead(const std::string& path);
    // Creates a new file for writing, locked exclusively: whatever has the
    // name (a stale file, or a link, which is removed as a link) is removed
    // first, and the create fails (EEXIST) rather than open anything that
    // appears in between.
    static std::optional<NoShareFile> CreateNew(const std::string& path);
    NoShareFile(NoShareFile&& other) noexcept;
    NoShareFile& operator=(NoShareFile&& other) noexcept;
    NoShareFile(const NoShareFile&) = delete;
    NoShareFile& operator=(const NoShareFile&) = delete;
    ~NoShareFile();

    int fd() const { return m_fd; }
    // Hands the descriptor (and with it the lock) to the caller, who must
    // close it; this object is left empty.
    int Release();
    std::optional<std::int64_t> Size() const;
    // The open file's stamp (see StampOf).
    std::optional<FileStamp> Stamp() const;
    // Writes all bytes (retrying short writes); false with LastError set.
    bool WriteAll(const void* data, std::size_t size);
    // Flushes to stable storage.
    bool Sync();
    void Close();

private:
    explicit NoShareFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

}  // namespace skiv::fs
