#include "archive/tar_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/fs.h"

namespace skiv {

namespace {

void PutInt(std::uint8_t* p, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    p[0] = static_cast<std::uint8_t>(u);
    p[1] = static_cast<std::uint8_t>(u >> 8);
    p[2] = static_cast<std::uint8_t>(u >> 16);
    p[3] = static_cast<std::uint8_t>(u >> 24);
}

std::int32_t GetInt(const std::uint8_t* p) {
    std::uint32_t u = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                      std::uint32_t(p[3]) << 24;
    return static_cast<std::int32_t>(u);
}

// Copies a string into a zero-filled field, always leaving a terminator.
void PutString(std::uint8_t* p, std::size_t width, const std::string& s) {
    std::memcpy(p, s.data(), std::min(s.size(), width - 1));
}

// Reads a zero-terminated string; an unterminated field ends at its width.
std::string GetString(const std::uint8_t* p, std::size_t width) {
    const void* end = std::memchr(p, 0, width);
    std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - p) : width;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Names the writer accepted always convert; the source folder is only a
// record of where the files came from and keeps its bytes when it cannot.
std::string ArchiveText(const std::string& native) {
    return ToArchiveName(native).value_or(native);
}

std::string Replace(std::string s, char from, char to) {
    std::replace(s.begin(), s.end(), from, to);
    return s;
}

}  // namespace

std::array<std::uint8_t, kTarHeaderSize> EncodeHeader(const TarHeader& head) {
    std::array<std::uint8_t, kTarHeaderSize> out{};
    std::memcpy(out.data(), head.reserved.data(), head.reserved.size());
    PutInt(out.data() + 512, head.count);
    return out;
}

TarHeader DecodeHeader(const std::uint8_t* bytes) {
    TarHeader head;
    std::memcpy(head.reserved.data(), bytes, head.reserved.size());
    head.count = GetInt(bytes + 512);
    return head;
}

std::array<std::uint8_t, kTarEntrySize> EncodeEntry(const TarEntry& entry) {
    std::array<std::uint8_t, kTarEntrySize> out{};
    PutInt(out.data(), entry.dataOffset);
    PutInt(out.data() + 4, entry.dataSize);
    PutString(out.data() + 8, kTarNameField, ArchiveText(entry.fileName));
    PutString(out.data() + 264, kTarFolderField, ArchiveText(ToArchiveFolder(entry.folder)));
    PutString(out.data() + 520, kTarSourceField, ArchiveText(entry.sourceFolder));
    return out;
}

TarEntry DecodeEntry(const std::uint8_t* bytes) {
    TarEntry e;
    e.dataOffset = GetInt(bytes);
    e.dataSize = GetInt(bytes + 4);
    e.fileName = FromArchiveName(GetString(bytes + 8, kTarNameField));
    e.folder = FromArchiveFolder(FromArchiveName(GetString(bytes + 264, kTarFolderField)));
    e.sourceFolder = FromArchiveName(GetString(bytes + 520, kTarSourceField));
    return e;
}

std::optional<std::string> ToArchiveName(const std::string& nativeName) {
    std::string out;
    if (!ConvertCodePage(CP_UTF8, kExchangeCodePage, nativeName, out))
        return std::nullopt;
    return out;
}

std::string FromArchiveName(const std::string& archiveName) {
    std::string out;
    if (!ConvertCodePage(kExchangeCodePage, CP_UTF8, archiveName, out))
        return archiveName;
    return out;
}

std::string ToArchiveFolder(const std::string& nativeFolder) {
    return Replace(nativeFolder, '/', '\\');
}

std::string FromArchiveFolder(const std::string& archiveFolder) {
    return Replace(archiveFolder, '\\', '/');
}

// ---- ArchiveWriter ----------------------------------------------------------

void ArchiveWriter::SetSourceFolder(const std::string& folder) {
    m_sourceFolder = fs::WithSlash(folder);
}

WriteOutcome ArchiveWriter::AddFile(const std::string& fileName, const std::string& relativeFolder,
                                    const std::string& sourceFolder) {
    std::string path = m_sourceFolder + fileName;
    // Names the format cannot hold are refused rather than cut; their
    // lengths count in the archive's code page.
    const auto name = ToArchiveName(fileName), folder = ToArchiveName(relativeFolder);
    const std::size_t sourceSize = ArchiveText(fs::WithSlash(sourceFolder)).size();
    if (!name || !folder || name->size() >= kTarNameField || folder->size() >= kTarFolderField ||
        sourceSize >= kTarSourceField || ArchiveText(path).size() >= kTarSourceField) {
        return WriteOutcome::CannotOpen;
    }
    auto file = fs::NoShareFile::OpenRead(path);
    if (!file)
        return WriteOutcome::CannotOpen;
    auto size = file->Size();
    if (!size || *size > std::numeric_limits<std::int32_t>::max())
        return WriteOutcome::NoSize;
    if (m_head.count >= kTarMaxEntries)
        return WriteOutcome::Full;

    TarEntry e;
    e.dataSize = static_cast<std::int32_t>(*size);
    // Taken from the open file, so that planning pieces needs no second
    // look-up of the path.
    if (auto stamp = file->Stamp(); stamp && stamp->size == *size) {
        e.mtime = stamp->modified;
        e.changed = stamp->changed;
        e.inode = stamp->identity;
    }
    e.fileName = fileName;
    e.folder = relativeFolder;
    e.sourceFolder = fs::WithSlash(sourceFolder);
    m_entries.push_back(std::move(e));
    ++m_head.count;
    return WriteOutcome::Ok;
}

std::int64_t ArchiveWriter::ArchiveSize() const {
    std::int64_t total = kTarHeaderSize + std::int64_t(kTarEntrySize) * m_head.count;
    for (const auto& e : m_entries)
        total += e.dataSize;
    return total;
}

WriteOutcome ArchiveWriter::WriteArchive(const std::string& archiveName,
                                         const std::string& folder) {
    std::string path = fs::WithSlash(folder.empty() ? m_sourceFolder : folder) + archiveName;
    if (ArchiveSize() > std::numeric_limits<std::int32_t>::max())
        return WriteOutcome::CannotOpen;
    // The archive is written beside its final name and renamed over it when
    // whole: a crash or a full disk mid-write leaves the previous archive
    // (the player's backup, say) intact.
    // The part file is always a new file of ours: a link or a file planted
    // under its name is removed, never written through.
    const std::string part = path + ".part";
    auto out = fs::NoShareFile::CreateNew(part);
    if (!out)
        return WriteOutcome::CannotOpen;
    // The part file is closed before it goes: an open file without sharing
    // cannot be deleted.
    struct PartGuard {
        const std::string& name;
        fs::NoShareFile& file;
        bool keep = false;
        ~PartGuard() {
            if (!keep) {
                file.Close();
                fs::DeleteFile(name);
            }
        }
    } guard{part, *out};

    // Head and table go out in one buffered run; the data follow in chunks.
    std::vector<std::uint8_t> table;
    table.reserve(kTarHeaderSize + kTarEntrySize * m_entries.size());
    auto head = EncodeHeader(m_head);
    table.insert(table.end(), head.begin(), head.end());
    std::int64_t offset = kTarHeaderSize + std::int64_t(kTarEntrySize) * m_head.count;
    for (auto& e : m_entries) {
        e.dataOffset = static_cast<std::int32_t>(offset);
        auto rec = EncodeEntry(e);
        table.insert(table.end(), rec.begin(), rec.end());
        offset += e.dataSize;
    }
    if (!out->WriteAll(table.data(), table.size()))
        return WriteOutcome::CannotOpen;

    std::vector<char> buf(256 * 1024);
    for (const auto& e : m_entries) {
        std::int64_t left = e.dataSize;
        // A file that vanished or shrank since AddFile is completed with
        // zeros; one that grew is cut, so no entry after it shifts. One that
        // became a pipe or device counts as vanished rather than block here.
        if (auto in = fs::OpenRegularRead(e.sourceFolder + e.fileName)) {
            while (left > 0) {
                std::size_t want = static_cast<std::size_t>(
                    std::min<std::int64_t>(left, std::int64_t(buf.size())));
                std::size_t got = std::fread(buf.data(), 1, want, in.get());
                if (got == 0)
                    break;
                if (!out->WriteAll(buf.data(), got))
                    return WriteOutcome::CannotOpen;
                left -= std::int64_t(got);
            }
        }
        if (left > 0) {
            std::fill(buf.begin(), buf.end(), 0);
            while (left > 0) {
                std::size_t n = static_cast<std::size_t>(
                    std::min<std::int64_t>(left, std::int64_t(buf.size())));
                if (!out->WriteAll(buf.data(), n))
                    return WriteOutcome::CannotOpen;
                left -= std::int64_t(n);
            }
        }
    }
    out->Close();
    if (!fs::RenameReplacing(part, path))
        return WriteOutcome::CannotOpen;
    guard.keep = true;
    return WriteOutcome::Ok;
}

}  // namespace skiv
