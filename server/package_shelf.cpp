#include "package_shelf.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "secrets.h"

namespace skiv::server {

namespace {

[[noreturn]] void Throw(const std::string& what, int err) {
    throw std::runtime_error(what + ": " + std::strerror(err));
}

void EnsureFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        Throw("cannot create " + path, errno);
}

void SyncFolder(const std::string& path) {
    FileHandle dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid() || ::fsync(dir.fd()) != 0)
        Throw("cannot flush folder " + path, errno);
}

// Shelf names are made here and contain no separators; anything else is
// refused rather than opened.
bool SafeName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name[0] != '.';
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return out;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::lstat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            out.push_back(name);
    }
    ::closedir(dir);
    return out;
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileHandle::~FileHandle() {
    Close();
}

void FileHandle::Close() noexcept {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

IncomingFile::IncomingFile(IncomingFile&& other) noexcept
    : m_file(std::move(other.m_file)),
      m_path(std::exchange(other.m_path, std::string())),
      m_size(other.m_size) {}

IncomingFile& IncomingFile::operator=(IncomingFile&& other) noexcept {
    if (this != &other) {
        Discard();
        m_file = std::move(other.m_file);
        m_path = std::exchange(other.m_path, std::string());
        m_size = other.m_size;
    }
    return *this;
}

IncomingFile::~IncomingFile() {
    Discard();
}

void IncomingFile::Discard() noexcept {
    m_file.Close();
    if (!m_path.empty())
        ::unlink(m_path.c_str());
    m_path.clear();
}

bool IncomingFile::Write(const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(m_file.fd(), data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        m_size += n;
    }
    return true;
}

PackageShelf::PackageShelf(std::string folder) : m_folder(std::move(folder)) {
    if (m_folder.empty() || m_folder.back() != '/')
        m_folder += '/';
    m_incoming = m_folder + "incoming/";
    EnsureFolder(m_folder);
    EnsureFolder(m_incoming);
    for (const auto& name : ListFiles(m_incoming))
        ::unlink((m_incoming + name).c_str());
}

IncomingFile PackageShelf::Begin() {
    std::string path = m_incoming + RandomHex(12) + ".part";
    FileHandle file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file.valid())
        Throw("cannot create " + path, errno);
    return IncomingFile(std::move(file), path);
}

std::string PackageShelf::Place(IncomingFile incoming, const std::string& memberId) {
    if (::fsync(incoming.m_file.fd()) != 0)
        Throw("cannot flush " + incoming.path(), errno);
    incoming.m_file.Close();
    std::string stem = memberId;
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string name = stem + "-" + RandomHex(8) + ".ksp";
    if (::rename(incoming.path().c_str(), (m_folder + name).c_str()) != 0)
        Throw("cannot move package into " + m_folder, errno);
    incoming.m_path.clear();  // now owned by the shelf
    try {
        SyncFolder(m_folder);
    } catch (...) {
        Remove(name);
        throw;
    }
    return name;
}

std::optional<StoredPackage> PackageShelf::Open(const std::string& name) const {
    if (!SafeName(name))
        return std::nullopt;
    FileHandle file(::open((m_folder + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid())
        return std::nullopt;
    struct stat st;
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return StoredPackage{std::move(file), static_cast<std::int64_t>(st.st_size)};
}

void PackageShelf::Remove(const std::string& name) const {
    if (SafeName(name))
        ::unlink((m_folder + name).c_str());
}

void PackageShelf::Sweep(const std::vector<std::string>& keep) const {
    for (const auto& name : ListFiles(m_folder)) {
        if (std::find(keep.begin(), keep.end(), name) == keep.end())
            Remove(name);
    }
}

std::int64_t PackageShelf::StoredBytes() const {
    std::int64_t total = 0;
    for (const auto& name : ListFiles(m_folder)) {
        struct stat st;
        if (::lstat((m_folder + name).c_str(), &st) == 0)
            total += static_cast<std::int64_t>(st.st_size);
    }
    return total;
}

}  // namespace skiv::server
