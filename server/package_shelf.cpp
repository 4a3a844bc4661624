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
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "log_text.h"
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

// A file of the folder, read with pread.
class FolderReader final : public PieceReader {
public:
    FolderReader(std::string name, FileHandle file, std::int64_t size)
        : PieceReader(std::move(name), size, false), m_file(std::move(file)) {}

    std::size_t ReadAt(std::int64_t offset, char* buf, std::size_t n) override {
        if (offset >= size())
            return 0;
        for (;;) {
            const ssize_t got = ::pread(m_file.fd(), buf, n, static_cast<off_t>(offset));
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                throw PieceError(PieceError::Kind::Unavailable,
                                 "cannot read " + name() + ": " + std::strerror(errno));
        }
    }

private:
    FileHandle m_file;
};

// An object of the bucket, fetched a bounded window at a time by ranged
// requests, so a reader holds at most one window however large the object.
class ObjectReader final : public PieceReader {
public:
    static constexpr std::size_t kWindow = 1 << 20;

    ObjectReader(std::string name, ObjectStore& store, std::int64_t size)
        : PieceReader(std::move(name), size, true), m_store(store) {}

    std::size_t ReadAt(std::int64_t offset, char* buf, std::size_t n) override {
        if (offset >= size())
            return 0;
        if (offset < m_windowAt || offset >= m_windowAt + static_cast<std::int64_t>(m_filled)) {
            m_window.resize(kWindow);
            m_filled = 0;
            m_windowAt = offset;
            try {
                m_filled = m_store.Read(name(), offset, m_window.data(), m_window.size());
            } catch (const ObjectStoreError& e) {
                throw PieceError(PieceError::Kind::Unavailable, e.what());
            }
            if (m_filled == 0)
                throw PieceError(PieceError::Kind::Unavailable, name() + " ended early");
        }
        const std::size_t from = static_cast<std::size_t>(offset - m_windowAt);
        const std::size_t take = std::min(n, m_filled - from);
        std::memcpy(buf, m_window.data() + from, take);
        return take;
    }
    bool Remote() const override { return true; }

private:
    ObjectStore& m_store;
    std::vector<char> m_window;
    std::int64_t m_windowAt = 0;
    std::size_t m_filled = 0;
};

bool IsHex64(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](unsigned char c) {
               return std::isdigit(c) || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

PieceReader::PieceReader(std::string name, std::int64_t size, bool verify)
    : m_name(std::move(name)), m_size(size), m_sha(verify ? ShaOfName(m_name) : std::string()) {}

std::string PieceReader::ShaOfName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (name.rfind("p.", 0) != 0 && name.rfind("s.", 0) != 0))
        return {};
    std::string sha = name.substr(dot + 1);
    return IsHex64(sha) ? sha : std::string();
}

std::size_t PieceReader::Read(char* buf, std::size_t n) {
    if (m_at >= m_size || n == 0)
        return 0;
    n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(n), m_size - m_at));
    const std::size_t got = ReadAt(m_at, buf, n);
    if (got == 0)
        throw PieceError(PieceError::Kind::Unavailable, m_name + " is shorter than recorded");
    if (!m_sha.empty())
        m_hash.Update(buf, got);
    m_at += static_cast<std::int64_t>(got);
    if (m_at == m_size && !m_sha.empty() && m_hash.Hex() != m_sha) {
        std::fprintf(stderr, "piece %s refused: its bytes do not match its hash\n",
                     EscapeForLog(m_name).c_str());
        throw PieceError(PieceError::Kind::Damaged, m_name + " does not match its hash");
    }
    return got;
}

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

PackageShelf::PackageShelf(std::string folder, std::unique_ptr<ObjectStore> objects)
    : PackageShelf(std::move(folder)) {
    m_objects = std::move(objects);
}

PackageShelf::~PackageShelf() = default;

void PackageShelf::Upload(IncomingFile& incoming, const std::string& name) {
    // The bucket keeps its own copies; the temporary file needs no flush,
    // and goes when `incoming` does.
    m_objects->Put(name, incoming.path(), incoming.size(), incoming.Sha256());
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
    std::string stem = memberId;
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string name = stem + "-" + RandomHex(8) + ".ksp";
    if (m_objects) {
        Upload(incoming, name);
        return name;
    }
    incoming.Flush();
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
    if (m_objects)
        return Upload(incoming, name);
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
    if (!m_objects)
        return ListFiles(m_folder);
    std::vector<std::string> out;
    for (auto& e : m_objects->List())
        out.push_back(std::move(e.key));
    return out;
}

std::optional<StoredPackage> PackageShelf::Open(const std::string& name) const {
    if (!SafeName(name))
        return std::nullopt;
    if (m_objects) {
        std::optional<std::int64_t> size;
        try {
            size = m_objects->Size(name);
        } catch (const ObjectStoreError& e) {
            throw PieceError(PieceError::Kind::Unavailable, e.what());
        }
        if (!size)
            return std::nullopt;
        return StoredPackage{std::make_unique<ObjectReader>(name, *m_objects, *size), *size};
    }
    FileHandle file(::open((m_folder + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid())
        return std::nullopt;
    struct stat st;
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto size = static_cast<std::int64_t>(st.st_size);
    return StoredPackage{std::make_unique<FolderReader>(name, std::move(file), size), size};
}

void PackageShelf::Remove(const std::string& name) const {
    if (!SafeName(name))
        return;
    if (!m_objects) {
        ::unlink((m_folder + name).c_str());
        return;
    }
    try {
        m_objects->Remove(name);
    } catch (const ObjectStoreError& e) {
        std::fprintf(stderr, "warning: %s (swept at the next start)\n", e.what());
    }
}

void PackageShelf::Sweep(const std::vector<std::string>& keep) const {
    for (const auto& name : Names()) {
        if (std::find(keep.begin(), keep.end(), name) == keep.end())
            Remove(name);
    }
}

std::int64_t PackageShelf::StoredBytes() const {
    std::int64_t total = 0;
    if (m_objects) {
        for (const auto& e : m_objects->List())
            total += e.size;
        return total;
    }
    for (const auto& name : ListFiles(m_folder)) {
        struct stat st;
        if (::lstat((m_folder + name).c_str(), &st) == 0)
            total += static_cast<std::int64_t>(st.st_size);
    }
    return total;
}

}  // namespace skiv::server
