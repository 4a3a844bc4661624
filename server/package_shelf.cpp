#include "package_shelf.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

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

struct Sha256Stream::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256Stream::Sha256Stream() : m_state(std::make_unique<State>()) {
    if (!m_state->ctx || EVP_DigestInit_ex(m_state->ctx, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 unavailable");
}
Sha256Stream::~Sha256Stream() = default;
Sha256Stream::Sha256Stream(Sha256Stream&&) noexcept = default;
Sha256Stream& Sha256Stream::operator=(Sha256Stream&&) noexcept = default;

void Sha256Stream::Update(const char* data, std::size_t size) {
    EVP_DigestUpdate(m_state->ctx, data, size);
}

std::string Sha256Stream::Hex() const {
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    const bool ok = copy && EVP_MD_CTX_copy_ex(copy, m_state->ctx) == 1 &&
                    EVP_DigestFinal_ex(copy, digest, &n) == 1;
    EVP_MD_CTX_free(copy);
    if (!ok)
        throw std::runtime_error("SHA-256 failed");
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

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
      m_size(other.m_size),
      m_hash(std::move(other.m_hash)),
      m_flushed(other.m_flushed) {}

IncomingFile& IncomingFile::operator=(IncomingFile&& other) noexcept {
    if (this != &other) {
        Discard();
        m_file = std::move(other.m_file);
        m_path = std::exchange(other.m_path, std::string());
        m_size = other.m_size;
        m_hash = std::move(other.m_hash);
        m_flushed = other.m_flushed;
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
    m_hash.Update(data, size);
    m_flushed = false;
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

void IncomingFile::Flush() {
    if (!m_flushed && ::fsync(m_file.fd()) != 0)
        Throw("cannot flush " + m_path, errno);
    m_flushed = true;
}

PackageShelf::PackageShelf(std::string folder) : m_folder(std::move(folder)) {
    if (m_folder.empty() || m_folder.back() != '/')
        m_folder += '/';
    m_incoming = m_folder + "incoming/";
    EnsureFolder(m_folder);
    EnsureFolder(m_incoming);
    // A file being received holds a lock until it is placed or dropped;
    // one that can be locked here is a leftover of a process that died. A
    // file another instance on this folder is receiving stays.
    for (const auto& name : ListFiles(m_incoming)) {
        const std::string path = m_incoming + name;
        FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (file.valid() && ::flock(file.fd(), LOCK_EX | LOCK_NB) != 0)
            continue;
        ::unlink(path.c_str());
    }
}

IncomingFile PackageShelf::Begin() {
    std::string path = m_incoming + RandomHex(12) + ".part";
    FileHandle file(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file.valid())
        Throw("cannot create " + path, errno);
    // Held until the file is placed or removed; see the constructor.
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        Throw("cannot lock " + path, error);
    }
    return IncomingFile(std::move(file), path);
}

std::string PackageShelf::Place(IncomingFile incoming, const std::string& memberId) {
    incoming.Flush();
    std::string stem = memberId;
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string name = stem + "-" + RandomHex(8) + ".ksp";
    if (::rename(incoming.path().c_str(), (m_folder + name).c_str()) != 0)
        Throw("cannot move package into " + m_folder, errno);
    // Closed (and unlocked) only once it has left incoming/.
    incoming.m_file.Close();
    incoming.m_path.clear();  // now owned by the shelf
    try {
        SyncFolder(m_folder);
    } catch (...) {
        Remove(name);
        throw;
    }
    return name;
}

void PackageShelf::PlaceAs(IncomingFile incoming, const std::string& name) {
    if (!SafeName(name))
        throw std::runtime_error("bad shelf name " + name);
    incoming.Flush();
    if (::rename(incoming.path().c_str(), (m_folder + name).c_str()) != 0)
        Throw("cannot move piece into " + m_folder, errno);
    incoming.m_file.Close();
    incoming.m_path.clear();  // now owned by the shelf
    try {
        SyncFolder(m_folder);
    } catch (...) {
        Remove(name);
        throw;
    }
}

IncomingFile PackageShelf::CopyRange(int from, std::int64_t offset, std::int64_t size) {
    IncomingFile out = Begin();
    std::vector<char> buf(64 * 1024);
    while (size > 0) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(size, static_cast<std::int64_t>(buf.size())));
        const ssize_t n = ::pread(from, buf.data(), want, static_cast<off_t>(offset));
        if (n <= 0)
            Throw("cannot read " + out.path(), n < 0 ? errno : EIO);
        if (!out.Write(buf.data(), static_cast<std::size_t>(n)))
            Throw("cannot write " + out.path(), errno);
        offset += n;
        size -= n;
    }
    return out;
}

std::vector<std::string> PackageShelf::Names() const {
    return ListFiles(m_folder);
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
