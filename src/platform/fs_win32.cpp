// windows.h first, and its DeleteFile macro gone before fs.h names the
// function of this layer.
#include <windows.h>
#undef DeleteFile

#include <fcntl.h>
#include <io.h>

#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/win32_text.h"

namespace skiv::fs {

namespace {
thread_local int t_lastError = 0;

bool Fail() {
    t_lastError = static_cast<int>(::GetLastError());
    return false;
}

bool FailWith(DWORD error) {
    t_lastError = static_cast<int>(error);
    return false;
}

std::wstring W(const std::string& path) {
    return win32::FileSystemPath(path);
}

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(W(path).c_str());
}

bool IsReparse(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Closes a handle on scope exit unless released.
struct HandleGuard {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~HandleGuard() {
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
    }
    HANDLE release() { return std::exchange(h, INVALID_HANDLE_VALUE); }
};

// Refuses anything but a file on a disk (a pipe, console or folder fails
// with ERROR_INVALID_PARAMETER, as EINVAL does elsewhere).
bool RequireRegular(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    return true;
}

// Hands a handle to the C runtime as a descriptor; -1 (handle closed) on failure.
int ToDescriptor(HandleGuard& h, int flags) {
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.h), flags | _O_BINARY);
    if (fd < 0) {
        FailWith(ERROR_TOO_MANY_OPEN_FILES);
        return -1;
    }
    h.release();
    return fd;
}

UniqueFile ToFile(HandleGuard& h, int flags, const char* mode) {
    int fd = ToDescriptor(h, flags);
    if (fd < 0)
        return nullptr;
    std::FILE* f = ::_fdopen(fd, mode);
    if (!f) {
        ::_close(fd);
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return UniqueFile(f);
}

// Splits relative at either separator into its non-empty components.
std::vector<std::string> Components(const std::string& relative) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : relative) {
        if (c == '/' || c == '\\') {
            if (!part.empty())
                parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(std::move(part));
    return parts;
}

bool ValidComponent(const std::string& name) {
    return name != "." && name != ".." && name.find(':') == std::string::npos;
}

// Walks (and with create, makes) the folders below base. Each one must be
// a real folder, not a link or junction: one of those fails the call with
// ERROR_CANT_RESOLVE_FILENAME. Windows has no opening relative to a folder
// handle, so the check precedes the use; making links there takes rights a
// player's process does not have by default.
bool WalkBelow(const std::string& base, const std::vector<std::string>& folders, bool create,
               std::string& reached) {
    reached = base.empty() ? std::string(".") : base;
    const DWORD baseAttributes = AttributesOf(reached);
    if (baseAttributes == INVALID_FILE_ATTRIBUTES)
        return Fail();
    if (!(baseAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FailWith(ERROR_DIRECTORY);
    for (const std::string& name : folders) {
        if (!ValidComponent(name))
            return FailWith(ERROR_INVALID_NAME);
        reached = WithSlash(reached) + name;
        if (create && !::CreateDirectoryW(W(reached).c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return Fail();
        }
        const DWORD a = AttributesOf(reached);
        if (a == INVALID_FILE_ATTRIBUTES)
            return Fail();
        if (IsReparse(a))
            return FailWith(ERROR_CANT_RESOLVE_FILENAME);
        if (!(a & FILE_ATTRIBUTE_DIRECTORY))
            return FailWith(ERROR_DIRECTORY);
    }
    return true;
}

// The state of one listing: the search handle and the item found ahead.
struct Search {
    HANDLE h = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data{};
    bool pending = false;  // data holds an item not yet handed out
    ~Search() {
        if (h != INVALID_HANDLE_VALUE)
            ::FindClose(h);
    }
};

std::string Trimmed(const std::string& folder) {
    std::string path = folder.empty() ? std::string(".") : folder;
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

}  // namespace

int LastError() {
    return t_lastError;
}

std::string WithSlash(std::string path) {
    if (path.empty() || (path.back() != kSep && path.back() != '\\'))
        path.push_back(kSep);
    return path;
}

// ---- DirListing -----------------------------------------------------------

DirListing::DirListing(void* dir, std::string folder) : m_dir(dir), m_folder(std::move(folder)) {}

std::optional<DirListing> DirListing::Open(const std::string& folder) {
    const std::string path = Trimmed(folder);
    const DWORD a = AttributesOf(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        Fail();
        return std::nullopt;
    }
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        FailWith(ERROR_DIRECTORY);
        return std::nullopt;
    }
    auto search = std::make_unique<Search>();
    search->h = ::FindFirstFileExW(W(WithSlash(path) + "*").c_str(), FindExInfoBasic, &search->data,
                                   FindExSearchNameMatch, nullptr, 0);
    if (search->h == INVALID_HANDLE_VALUE) {
        // A drive's empty root lists nothing at all, not even "." and "..".
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            Fail();
            return std::nullopt;
        }
    } else {
        search->pending = true;
    }
    return DirListing(search.release(), WithSlash(folder));
}

std::optional<DirListing> DirListing::OpenNoFollow(const std::string& folder) {
    if (IsReparse(AttributesOf(Trimmed(folder)))) {
        FailWith(ERROR_CANT_RESOLVE_FILENAME);
        return std::nullopt;
    }
    return Open(folder);
}

DirListing::DirListing(DirListing&& other) noexcept
    : m_dir(std::exchange(other.m_dir, nullptr)), m_folder(std::move(other.m_folder)) {}

DirListing& DirListing::operator=(DirListing&& other) noexcept {
    if (this != &other) {
        delete static_cast<Search*>(m_dir);
        m_dir = std::exchange(other.m_dir, nullptr);
        m_folder = std::move(other.m_folder);
    }
    return *this;
}

DirListing::~DirListing() {
    delete static_cast<Search*>(m_dir);
}

bool DirListing::Next(DirItem& item) {
    auto* search = static_cast<Search*>(m_dir);
    if (!search || search->h == INVALID_HANDLE_VALUE)
        return false;
    if (!search->pending && !::FindNextFileW(search->h, &search->data)) {
        t_lastError =
            ::GetLastError() == ERROR_NO_MORE_FILES ? 0 : static_cast<int>(::GetLastError());
        return false;
    }
    search->pending = false;
    const WIN32_FIND_DATAW& d = search->data;
    item.name = win32::Utf8(d.cFileName);
    const bool reparse = d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    item.isLink = reparse && (d.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
                              d.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
    item.isFolder = d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    item.isFile = !item.isFolder && !(d.dwFileAttributes & FILE_ATTRIBUTE_DEVICE);
    if (item.isLink) {
        // A link counts as what it points to; a dangling one as neither.
        HandleGuard target{::CreateFileW(W(m_folder + item.name).c_str(), 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr)};
        BY_HANDLE_FILE_INFORMATION info{};
        const bool known =
            target.h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(target.h, &info);
        item.isFolder = known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        item.isFile = known && !item.isFolder;
    }
    return true;
}

// ---- attributes and folders -----------------------------------------------

std::optional<FolderId> GetFolderId(const std::string& path) {
    HandleGuard h{::CreateFileW(W(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (h.h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h.h, &info)) {
        Fail();
        return std::nullopt;
    }
    return FolderId{info.dwVolumeSerialNumber,
                    (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool Exists(const std::string& path) {
    return AttributesOf(path) != INVALID_FILE_ATTRIBUTES || Fail();
}

bool IsFolder(const std::string& path) {
    const DWORD a = AttributesOf(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return Fail();
    return a & FILE_ATTRIBUTE_DIRECTORY;
}

bool IsLink(const std::string& path) {
    const DWORD a = AttributesOf(Trimmed(path));
    if (a == INVALID_FILE_ATTRIBUTES)
        return Fail();
    return IsReparse(a);
}

std::optional<Attributes> GetAttributes(const std::string& path) {
    const DWORD a = AttributesOf(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        Fail();
        return std::nullopt;
    }
    return fs::Attributes{(a & FILE_ATTRIBUTE_DIRECTORY) != 0, (a & FILE_ATTRIBUTE_READONLY) != 0};
}

bool SetReadOnly(const std::string& path, bool readOnly) {
    DWORD a = AttributesOf(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return Fail();
    a = readOnly ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~DWORD(FILE_ATTRIBUTE_READONLY));
    // Only the settable bits go back; none left means "normal".
    a &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return ::SetFileAttributesW(W(path).c_str(), a ? a : FILE_ATTRIBUTE_NORMAL) || Fail();
}

bool CreateFolder(const std::string& path) {
    return ::CreateDirectoryW(W(path).c_str(), nullptr) || Fail();
}

bool EnsureFolder(const std::string& path) {
    if (::CreateDirectoryW(W(path).c_str(), nullptr))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail();
    return IsFolder(path) || FailWith(ERROR_ALREADY_EXISTS);
}

bool EnsureOwnFolder(const std::string& path) {
    const std::string name = Trimmed(path);
    const DWORD a = AttributesOf(name);
    if (IsReparse(a)) {
        // The link goes, never what it points to.
        const bool removed = (a & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(W(name).c_str())
                                                            : ::DeleteFileW(W(name).c_str());
        if (!removed)
            return Fail();
    }
    if (::CreateDirectoryW(W(name).c_str(), nullptr))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail();
    const DWORD now = AttributesOf(name);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY) && !IsReparse(now))
        return true;
    return FailWith(ERROR_ALREADY_EXISTS);
}

bool RemoveFolder(const std::string& path) {
    return ::RemoveDirectoryW(W(path).c_str()) || Fail();
}

bool EnsureFolderBelow(const std::string& base, const std::string& relative) {
    std::string reached;
    return WalkBelow(base, Components(relative), true, reached);
}

bool DeleteFile(const std::string& path) {
    // A file held open without sharing fails here (ERROR_SHARING_VIOLATION).
    const DWORD a = AttributesOf(path);
    if (IsReparse(a) && (a & FILE_ATTRIBUTE_DIRECTORY))
        return ::RemoveDirectoryW(W(path).c_str()) || Fail();
    return ::DeleteFileW(W(path).c_str()) || Fail();
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return ::MoveFileExW(W(from).c_str(), W(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           Fail();
}

bool Rename(const std::string& from, const std::string& to) {
    auto bare = [](std::string p) {
        while (p.size() > 3 && (p.back() == '/' || p.back() == '\\'))
            p.pop_back();
        return p;
    };
    // Without MOVEFILE_REPLACE_EXISTING an existing target fails the move,
    // file or folder alike: the install's swap never overwrites a set.
    return ::MoveFileExW(W(bare(from)).c_str(), W(bare(to)).c_str(), MOVEFILE_WRITE_THROUGH) ||
           Fail();
}

bool SyncFolder(const std::string&) {
    // NTFS journals a folder's entries with the rename itself, and a
    // folder cannot be flushed by handle without backup rights; the moves
    // above are written through.
    return true;
}

std::optional<std::int64_t> ModifiedTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data)) {
        Fail();
        return std::nullopt;
    }
    const std::uint64_t ticks = (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime;
    // 100 ns ticks since 1601 to seconds since 1970.
    return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

bool CanWriteIn(const std::string& folder) {
    // Access rights, read-only media and virtualised folders all show in
    // whether a file can really be made; it goes again when closed.
    wchar_t probe[MAX_PATH];
    const std::wstring wide = W(Trimmed(folder));
    if (!::GetTempFileNameW(wide.c_str(), L"ksw", 0, probe))
        return Fail();
    ::DeleteFileW(probe);
    return true;
}

std::optional<std::int64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data)) {
        Fail();
        return std::nullopt;
    }
    return static_cast<std::int64_t>((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

UniqueFile OpenFile(const std::string& path, const char* mode) {
    // fopen's modes over CreateFileW with every sharing flag, so that, as
    // on Linux, others may read, write, rename and delete the file while it
    // is open here (the C runtime's own fopen refuses deletion).
    const std::string m = mode ? mode : "";
    const bool plus = m.find('+') != std::string::npos;
    DWORD access = 0, disposition = 0;
    int flags = 0;
    switch (m.empty() ? '\0' : m[0]) {
        case 'r':
            access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
            disposition = OPEN_EXISTING;
            flags = plus ? _O_RDWR : _O_RDONLY;
            break;
        case 'w':
            access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
            disposition = CREATE_ALWAYS;
            flags = plus ? _O_RDWR : _O_WRONLY;
            break;
        case 'a':
            access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
            disposition = OPEN_ALWAYS;
            flags = (plus ? _O_RDWR : _O_WRONLY) | _O_APPEND;
            break;
        default:
            FailWith(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
    HandleGuard h{::CreateFileW(W(path).c_str(), access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return nullptr;
    }
    std::string crtMode = m;
    if (crtMode.find('b') == std::string::npos)
        crtMode += 'b';  // no line-end translation: bytes as given
    return ToFile(h, flags, crtMode.c_str());
}

UniqueFile OpenRegularRead(const std::string& path) {
    HandleGuard h{::CreateFileW(W(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return nullptr;
    }
    if (!RequireRegular(h.h))
        return nullptr;
    return ToFile(h, _O_RDONLY, "rb");
}

UniqueFile CreateFileBelow(const std::string& base, const std::string& relative) {
    std::vector<std::string> parts = Components(relative);
    if (parts.empty() || !ValidComponent(parts.back())) {
        FailWith(ERROR_INVALID_NAME);
        return nullptr;
    }
    const std::string name = parts.back();
    parts.pop_back();
    std::string folder;
    if (!WalkBelow(base, parts, false, folder))
        return nullptr;
    const std::string path = WithSlash(folder) + name;
    if (IsReparse(AttributesOf(path))) {
        FailWith(ERROR_CANT_RESOLVE_FILENAME);
        return nullptr;
    }
    HandleGuard h{::CreateFileW(W(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return nullptr;
    }
    // Truncated only once known to be a plain file of ours.
    if (!RequireRegular(h.h))
        return nullptr;
    if (!::SetEndOfFile(h.h)) {
        Fail();
        return nullptr;
    }
    return ToFile(h, _O_WRONLY, "wb");
}

// ---- NoShareFile ----------------------------------------------------------

std::optional<NoShareFile> NoShareFile::OpenRead(const std::string& path) {
    HandleGuard h{::CreateFileW(W(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return std::nullopt;
    }
    if (!RequireRegular(h.h))
        return std::nullopt;
    const int fd = ToDescriptor(h, _O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    return NoShareFile(fd);
}

std::optional<NoShareFile> NoShareFile::CreateNew(const std::string& path) {
    // A stale file goes (a link as a link); one another process holds stays,
    // and so does this call's failure.
    if (!DeleteFile(path) && t_lastError != ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    HandleGuard h{::CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return std::nullopt;
    }
    const int fd = ToDescriptor(h, _O_WRONLY);
    if (fd < 0)
        return std::nullopt;
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
        ::_close(std::exchange(m_fd, -1));
}

namespace {
HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}
}  // namespace

namespace {
// FILETIME counts 100 ns steps since 1601.
std::int64_t NsSince1970(std::int64_t fileTime) {
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    return (fileTime - k1601To1970) * 100;
}

std::optional<FileStamp> StampOfHandle(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) {
        Fail();
        return std::nullopt;
    }
    FileStamp s;
    s.size = std::int64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    s.modified = NsSince1970(std::int64_t(info.ftLastWriteTime.dwHighDateTime) << 32 |
                             info.ftLastWriteTime.dwLowDateTime);
    s.identity = std::int64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    // NTFS keeps a change time that every write moves; FAT does not (0).
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) &&
        basic.ChangeTime.QuadPart > 0) {
        s.changed = NsSince1970(basic.ChangeTime.QuadPart);
    }
    return s;
}
}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
    // Attributes only: a file another program holds without sharing is
    // still stamped.
    HandleGuard h{::CreateFileW(W(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (h.h == INVALID_HANDLE_VALUE) {
        Fail();
        return std::nullopt;
    }
    return StampOfHandle(h.h);
}

bool HardLink(const std::string& from, const std::string& to) {
    return ::CreateHardLinkW(W(to).c_str(), W(from).c_str(), nullptr) || Fail();
}

std::optional<FileStamp> NoShareFile::Stamp() const {
    return StampOfHandle(HandleOf(m_fd));
}

std::optional<std::int64_t> NoShareFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(HandleOf(m_fd), &size)) {
        Fail();
        return std::nullopt;
    }
    return static_cast<std::int64_t>(size.QuadPart);
}

bool NoShareFile::WriteAll(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(HandleOf(m_fd), p, chunk, &written, nullptr))
            return Fail();
        p += written;
        size -= written;
    }
    return true;
}

bool NoShareFile::Sync() {
    return ::FlushFileBuffers(HandleOf(m_fd)) || Fail();
}

}  // namespace skiv::fs
