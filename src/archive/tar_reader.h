#pragma once
// Reading the archive format: the head, the table of entries, an entry's
// bytes. ArchiveReader opens once and reads the table once, for unpacking a
// whole archive in table order.
//
// Every length read from an archive is checked against the archive's size:
// a damaged table is reported, never followed outside the file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/tar_format.h"
#include "platform/fs.h"
#include "platform/result_codes.h"

namespace skiv {

// The reader's outcomes; each value is its result code.
enum class ReadOutcome {
    Ok = 0,
    NoArchive = 1,    // archive missing or unreadable, or entry not in its table
    CannotCopy = 2,   // archive cannot be read for the copy, or the bytes lie outside it
    NoOutput = 3,     // the output file cannot be opened
    WriteFailed = 4,  // the output file could not be written whole (disk full)
    UnsafeName = 5,   // the entry's folder or name would leave the unpacking base
};

// The result code of a reader outcome: 1..5 (0 for Ok).
constexpr ResultCode ToResultCode(ReadOutcome outcome) {
    return static_cast<ResultCode>(static_cast<int>(outcome));
}
static_assert(ToResultCode(ReadOutcome::NoArchive) == ResultCode::UnpackNoArchive &&
              ToResultCode(ReadOutcome::UnsafeName) == ResultCode::UnpackUnsafeName);

// True when folder (native separators) and name stay below the base they are
// joined to: no absolute folder, no "." or ".." segment, no separator in the
// name, no empty name.
bool IsSafeEntryPath(const std::string& folder, const std::string& fileName);

class ArchiveReader {
public:
    // NoArchive when the archive cannot be opened. Fewer than 516 bytes read
    // as a head of zeros past what the file holds (a short file has count 0).
    ReadOutcome Open(const std::string& archivePath);

    const TarHeader& Header() const { return m_head; }
    // Number of table records that lie wholly inside the file (count when
    // the table is intact).
    std::int32_t ReadableEntries() const { return m_readable; }
    // NoArchive when index is outside the readable table.
    ReadOutcome Entry(int index, TarEntry& entry);
    // Copies the entry's bytes into outPath (truncated first): CannotCopy,
    // NoOutput or WriteFailed when it fails.
    ReadOutcome Extract(const TarEntry& entry, const std::string& outPath);
    std::int64_t FileSize() const { return m_fileSize; }

private:
    fs::UniqueFile m_file;
    TarHeader m_head;
    std::int64_t m_fileSize = 0;
    std::int32_t m_readable = 0;
    std::vector<std::uint8_t> m_table;  // records read so far
};

}  // namespace skiv
