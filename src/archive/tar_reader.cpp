#include "archive/tar_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace skiv {

namespace {
constexpr std::size_t kCopyChunk = 256 * 1024;
}

bool IsSafeEntryPath(const std::string& folder, const std::string& fileName) {
    if (fileName.empty() || fileName == "." || fileName == ".." ||
        fileName.find('/') != std::string::npos) {
        return false;
    }
    if (!folder.empty() && folder.front() == '/')
        return false;
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        std::string_view seg(folder.data() + start, end - start);
        if (seg == "." || seg == "..")
            return false;
        start = end + 1;
    }
    return true;
}

ReadOutcome ArchiveReader::Open(const std::string& archivePath) {
    m_file = fs::OpenFile(archivePath, "rb");
    if (!m_file)
        return ReadOutcome::NoArchive;
    if (fs::IsFolder(archivePath)) {
        m_file.reset();
        return ReadOutcome::NoArchive;
    }
    std::fseek(m_file.get(), 0, SEEK_END);
    m_fileSize = std::max<std::int64_t>(0, ftello(m_file.get()));
    std::rewind(m_file.get());

    std::uint8_t raw[kTarHeaderSize] = {};
    std::size_t got = std::fread(raw, 1, sizeof raw, m_file.get());
    (void)got;  // a short head reads as zeros
    m_head = DecodeHeader(raw);
    std::int64_t room = std::max<std::int64_t>(0, m_fileSize - std::int64_t(kTarHeaderSize));
    std::int64_t fits = room / std::int64_t(kTarEntrySize);
    m_readable = static_cast<std::int32_t>(std::clamp<std::int64_t>(m_head.count, 0, fits));
    m_table.clear();
    return ReadOutcome::Ok;
}

ReadOutcome ArchiveReader::Entry(int index, TarEntry& entry) {
    if (!m_file || index < 0 || index >= m_readable)
        return ReadOutcome::NoArchive;
    // The table is read forward as far as needed, once.
    std::size_t need = (std::size_t(index) + 1) * kTarEntrySize;
    if (m_table.size() < need) {
        std::size_t have = m_table.size();
        // Read ahead in blocks so that walking the table costs few reads.
        std::size_t want = std::min<std::size_t>(std::size_t(m_readable) * kTarEntrySize,
                                                 std::max(need, have + 512 * kTarEntrySize));
        m_table.resize(want);
        if (fseeko(m_file.get(), off_t(kTarHeaderSize + have), SEEK_SET) != 0 ||
            std::fread(m_table.data() + have, 1, want - have, m_file.get()) != want - have) {
            m_table.resize(have);
            return ReadOutcome::NoArchive;
        }
    }
    entry = DecodeEntry(m_table.data() + std::size_t(index) * kTarEntrySize);
    return ReadOutcome::Ok;
}

ReadOutcome ArchiveReader::Extract(const TarEntry& entry, const std::string& outPath) {
    if (!m_file)
        return ReadOutcome::CannotCopy;
    if (entry.dataOffset < 0 || entry.dataSize < 0 ||
        std::int64_t(entry.dataOffset) + entry.dataSize > m_fileSize) {
        return ReadOutcome::CannotCopy;
    }
    // Written below the unpacking base without following links: when
    // outPath is base + the entry's folder and name, every folder of the
    // entry is walked from base's handle; otherwise the file is opened in
    // its own folder. A link in the way refuses the entry (3), so nothing
    // lands outside the base whatever links the target already holds.
    std::string base = outPath, relative;
    const std::string tail = entry.folder + entry.fileName;
    const std::size_t cut = outPath.size() - std::min(outPath.size(), tail.size());
    if (IsSafeEntryPath(entry.folder, entry.fileName) && outPath.size() >= tail.size() &&
        outPath.compare(cut, tail.size(), tail) == 0 && (cut == 0 || outPath[cut - 1] == '/')) {
        base.resize(cut);
        relative = tail;
    } else {
        const std::size_t slash = outPath.rfind('/');
        base = slash == std::string::npos ? std::string() : outPath.substr(0, slash + 1);
        relative = outPath.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    auto out = fs::CreateFileBelow(base, relative);
    if (!out)
        return ReadOutcome::NoOutput;
    if (fseeko(m_file.get(), entry.dataOffset, SEEK_SET) != 0)
        return ReadOutcome::CannotCopy;
    std::vector<char> buf(std::min<std::size_t>(kCopyChunk, std::size_t(entry.dataSize) + 1));
    std::int64_t left = entry.dataSize;
    while (left > 0) {
        std::size_t want = std::size_t(std::min<std::int64_t>(left, std::int64_t(buf.size())));
        std::size_t got = std::fread(buf.data(), 1, want, m_file.get());
        if (got != want)
            return ReadOutcome::CannotCopy;
        if (std::fwrite(buf.data(), 1, got, out.get()) != got)
            return ReadOutcome::WriteFailed;
        left -= std::int64_t(got);
    }
    if (std::fflush(out.get()) != 0)
        return ReadOutcome::WriteFailed;
    std::FILE* raw = out.release();
    if (std::fclose(raw) != 0)
        return ReadOutcome::WriteFailed;
    return ReadOutcome::Ok;
}

}  // namespace skiv
