#include "http/form/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Vutra {
namespace {

// A handle is the descriptor plus one, so descriptor 0 is not null.
HANDLE ToHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(fd) + 1);
}

int ToFd(HANDLE h) {
    if (!h || h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(h) - 1);
}

}  // namespace

HANDLE OpenFileForRead(const char* szPath) {
    if (!szPath) {
        errno = EFAULT;
        return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(szPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return INVALID_HANDLE_VALUE;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(st.st_mode)) {  // a folder opens on Linux but is no file
        ::close(fd);
        errno = EISDIR;
        return INVALID_HANDLE_VALUE;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return ToHandle(fd);
}

bool ReadFileHandle(HANDLE hFile, void* pbyBuff, std::uint32_t cbToRead, std::uint32_t* pcbRead) {
    const int fd = ToFd(hFile);
    if (fd < 0)
        return false;
    for (;;) {
        const ssize_t r = ::read(fd, pbyBuff, cbToRead);
        if (r >= 0) {
            *pcbRead = static_cast<std::uint32_t>(r);
            return true;
        }
        if (errno != EINTR)
            return false;
    }
}

bool RewindFileHandle(HANDLE hFile) {
    const int fd = ToFd(hFile);
    return fd >= 0 && ::lseek(fd, 0, SEEK_SET) == 0;
}

bool FileHandleSize(HANDLE hFile, std::uint64_t* pcbSize) {
    const int fd = ToFd(hFile);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    *pcbSize = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void CloseFileHandle(HANDLE hFile) noexcept {
    const int fd = ToFd(hFile);
    if (fd >= 0)
        ::close(fd);
}

}  // namespace Vutra
