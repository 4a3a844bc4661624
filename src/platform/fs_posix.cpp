#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

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
    if (e->d_type == DT_DIR) {
        item.isFolder = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        // Symbolic links are followed, as a Windows listing reports the target kind.
        struct stat st {};
        item.isFolder = ::stat((m_folder + item.name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    } else {
        item.isFolder = false;
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

bool RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 || Fail();
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

// ---- NoShareFile ----------------------------------------------------------

std::optional<NoShareFile> NoShareFile::OpenRead(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Fail();
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        t_lastError = S_ISDIR(st.st_mode) ? EISDIR : errno;
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

std::optional<NoShareFile> NoShareFile::CreateWrite(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        Fail();
        return std::nullopt;
    }
    if (!LockExclusive(fd) || ::ftruncate(fd, 0) != 0) {
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

void NoShareFile::Close() {
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
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
