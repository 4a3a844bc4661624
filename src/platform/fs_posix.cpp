#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

namespace skiv::fs {

namespace {
thread_local int t_lastError = 0;

bool Fail() {
    t_lastError = errno;
    return false;
}

// Takes an exclusive advisory lock without waiting; the stand-in for
// Windows' share mode 0.
bool LockExclusive(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Closes a descriptor on scope exit unless released.
struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

// For a descriptor opened with O_NONBLOCK (so that a pipe cannot block the
// open): refuses anything but a regular file (EINVAL, or EISDIR for a
// folder) and then turns blocking I/O back on.
bool RequireRegular(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Fail();
    if (!S_ISREG(st.st_mode)) {
        t_lastError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    return (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) || Fail();
}

// Splits relative at '/' into its non-empty components.
std::vector<std::string> Components(const std::string& relative) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find(kSep, start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start)
            parts.push_back(relative.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Opens base, then each of folders below it from its parent's handle
// without following links; creates missing ones when create is set.
// Returns the innermost folder's descriptor, or -1 with LastError set.
int OpenFolderBelow(const std::string& base, const std::vector<std::string>& folders, bool create) {
    FdGuard dir{::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) {
        Fail();
        return -1;
    }
    for (const std::string& name : folders) {
        if (name == "." || name == "..") {
            t_lastError = EINVAL;
            return -1;
        }
        if (create && ::mkdirat(dir.fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
            Fail();
            return -1;
        }
        FdGuard next{
            ::openat(dir.fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (next.fd < 0) {
            Fail();
            return -1;
        }
        std::swap(dir.fd, next.fd);
    }
    return dir.release();
}
}  // namespace

int LastError() {
    return t_lastError;
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != kSep)
        path.push_back(kSep);
    return path;
}

// ---- DirListing -----------------------------------------------------------

DirListing::DirListing(void* dir, std::string folder) : m_dir(dir), m_folder(std::move(folder)) {}

std::optional<DirListing> DirListing::Open(const std::string& folder) {
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d) {
        Fail();
        return std::nullopt;
    }
    return DirListing(d, WithSlash(folder));
}

std::optional<DirListing> DirListing::OpenNoFollow(const std::string& folder) {
    // A final '/' would make the open follow a link; it is dropped.
    std::string path = folder.empty() ? std::string(".") : folder;
    while (path.size() > 1 && path.back() == kSep)
        path.pop_back();
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Fail();
        return std::nullopt;
    }
    DIR* d = ::fdopendir(fd);
    if (!d) {
        Fail();
        ::close(fd);
        return std::nullopt;
    }
    return DirListing(d, WithSlash(folder));
}

DirListing::DirListing(DirListing&& other) noexcept
    : m_dir(std::exchange(other.m_dir, nullptr)), m_folder(std::move(other.m_folder)) {}

DirListing& DirListing::operator=(DirListing&& other) noexcept {
    if (this != &other) {
        if (m_dir)
            ::closedir(static_cast<DIR*>(m_dir));
        m_dir = std::exchange(other.m_dir, nullptr);
        m_folder = std::move(other.m_folder);
    }
    return *this;
}

DirListing::~DirListing() {
    if (m_dir)
        ::closedir(static_cast<DIR*>(m_dir));
}

bool DirListing::Next(DirItem& item) {
    if (!m_dir)
        return false;
    errno = 0;
    dirent* e = ::readdir(static_cast<DIR*>(m_dir));
    if (!e) {
        t_lastError = errno;
        return false;
    }
    item.name = e->d_name;
    item.isLink = e->d_type == DT_LNK;
    if (e->d_type == DT_UNKNOWN) {
        struct stat lst {};
        item.isLink = ::lstat((m_folder + item.name).c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
    }
    item.isFolder = e->d_type == DT_DIR;
    item.isFile = e->d_type == DT_REG;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        // Symbolic links are followed, as a Windows listing reports the target kind.
        struct stat st {};
        const bool known = ::stat((m_folder + item.name).c_str(), &st) == 0;
        item.isFolder = known && S_ISDIR(st.st_mode);
        item.isFile = known && S_ISREG(st.st_mode);
    }
    return true;
}

// ---- attributes and folders -----------------------------------------------

std::optional<FolderId> GetFolderId(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 || Fail();
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Fail();
    return S_ISDIR(st.st_mode);
}

bool IsLink(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == kSep)
        p.pop_back();
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0)
        return Fail();
    return S_ISLNK(st.st_mode);
}

std::optional<Attributes> GetAttributes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return Attributes{S_ISDIR(st.st_mode), (st.st_mode & S_IWUSR) == 0};
}

bool SetReadOnly(const std::string& path, bool readOnly) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Fail();
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return ::chmod(path.c_str(), mode) == 0 || Fail();
}

bool CreateFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 || Fail();
}

bool EnsureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    if (errno == EEXIST && IsFolder(path))
        return true;
    if (errno == EEXIST)
        t_lastError = EEXIST;
    else
        Fail();
    return false;
}

bool EnsureOwnFolder(const std::string& path) {
    // A final '/' would make lstat look through a link; it is dropped.
    std::string name = path;
    while (name.size() > 1 && name.back() == kSep)
        name.pop_back();
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::unlink(name.c_str()) != 0)
        return Fail();
    if (::mkdir(name.c_str(), 0777) == 0)
        return true;
    if (errno != EEXIST)
        return Fail();
    // Something took the name since: only a real folder will do.
    if (::lstat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    t_lastError = EEXIST;
    return false;
}

bool RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 || Fail();
}

bool Rename(const std::string& from, const std::string& to) {
    auto bare = [](std::string p) {
        while (p.size() > 1 && p.back() == kSep)
            p.pop_back();
        return p;
    };
    // No replacing of anything that exists: the install's swap must never
    // overwrite a folder the player still has.
    struct stat st;
    if (::lstat(bare(to).c_str(), &st) == 0) {
        t_lastError = EEXIST;
        return false;
    }
    return ::rename(bare(from).c_str(), bare(to).c_str()) == 0 || Fail();
}

bool SyncFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Fail();
    const bool ok = ::fsync(fd) == 0 || Fail();
    ::close(fd);
    return ok;
}

bool EnsureFolderBelow(const std::string& base, const std::string& relative) {
    const int fd = OpenFolderBelow(base, Components(relative), true);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool DeleteFile(const std::string& path) {
    // A file another process holds exclusively cannot be deleted, as on Windows.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd >= 0) {
        bool locked = LockExclusive(fd);
        int err = errno;
        ::close(fd);
        if (!locked && (err == EWOULDBLOCK || err == EAGAIN)) {
            t_lastError = EBUSY;
            return false;
        }
    }
    return ::unlink(path.c_str()) == 0 || Fail();
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail();
}

bool CanWriteIn(const std::string& folder) {
    return ::access(folder.c_str(), W_OK) == 0 || Fail();
}

std::optional<std::int64_t> ModifiedTime(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_mtime);
}

std::optional<std::int64_t> FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

UniqueFile OpenFile(const std::string& path, const char* mode) {
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (!f)
        Fail();
    return UniqueFile(f);
}

namespace {
UniqueFile Adopt(FdGuard& fd, const char* mode) {
    std::FILE* f = ::fdopen(fd.fd, mode);
    if (!f) {
        Fail();
        return nullptr;
    }
    fd.release();
    return UniqueFile(f);
}
}  // namespace

UniqueFile OpenRegularRead(const std::string& path) {
    FdGuard fd{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (fd.fd < 0) {
        Fail();
        return nullptr;
    }
    if (!RequireRegular(fd.fd))
        return nullptr;
    return Adopt(fd, "rb");
}

UniqueFile CreateFileBelow(const std::string& base, const std::string& relative) {
    std::vector<std::string> parts = Components(relative);
    if (parts.empty() || parts.back() == "." || parts.back() == "..") {
        t_lastError = EINVAL;
        return nullptr;
    }
    const std::string name = parts.back();
    parts.pop_back();
    FdGuard dir{OpenFolderBelow(base, parts, false)};
    if (dir.fd < 0)
        return nullptr;
    FdGuard fd{::openat(dir.fd, name.c_str(),
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666)};
    if (fd.fd < 0) {
        Fail();
        return nullptr;
    }
    // Truncated only once known to be a regular file of ours.
    if (!RequireRegular(fd.fd))
        return nullptr;
    if (::ftruncate(fd.fd, 0) != 0) {
        Fail();
        return nullptr;
    }
    return Adopt(fd, "wb");
}

// ---- NoShareFile ----------------------------------------------------------

std::optional<NoShareFile> NoShareFile::OpenRead(const std::string& path) {
    // Non-blocking open: a pipe would otherwise wait here for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail();
        return std::nullopt;
    }
    if (!RequireRegular(fd)) {
        ::close(fd);
        return std::nullopt;
    }
    if (!LockExclusive(fd)) {
        Fail();
        ::close(fd);
        return std::nullopt;
    }
    return NoShareFile(fd);
}

std::optional<NoShareFile> NoShareFile::CreateNew(const std::string& path) {
    // A stale file goes (a link as a link, never what it points to); one
    // another writer holds stays, and so does this call's failure (EBUSY).
    if (!DeleteFile(path) && t_lastError != ENOENT)
        return std::nullopt;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        Fail();
        return std::nullopt;
    }
    if (!LockExclusive(fd)) {
        Fail();
        ::close(fd);
        return std::nullopt;
    }
    return NoShareFile(fd);
}

NoShareFile::NoShareFile(NoShareFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

NoShareFile& NoShareFile::operator=(NoShareFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

NoShareFile::~NoShareFile() {
    Close();
}

int NoShareFile::Release() {
    return std::exchange(m_fd, -1);
}

void NoShareFile::Close() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

namespace {
FileStamp StampFrom(const struct stat& st) {
    constexpr std::int64_t kNs = 1000000000;
    FileStamp s;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.modified = std::int64_t(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
    s.changed = std::int64_t(st.st_ctim.tv_sec) * kNs + st.st_ctim.tv_nsec;
    s.identity = static_cast<std::int64_t>(st.st_ino);
    return s;
}
}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return StampFrom(st);
}

bool HardLink(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0 || Fail();
}

std::optional<FileStamp> NoShareFile::Stamp() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return StampFrom(st);
}

std::optional<std::int64_t> NoShareFile::Size() const {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        Fail();
        return std::nullopt;
    }
    return static_cast<std::int64_t>(st.st_size);
}

bool NoShareFile::WriteAll(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail();
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool NoShareFile::Sync() {
    return ::fsync(m_fd) == 0 || Fail();
}

}  // namespace skiv::fs
