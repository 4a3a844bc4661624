#pragma once
// ArchiveWriter: collects files and writes them as one archive.
//
// Calling order: construct; per folder, SetSourceFolder and then AddFile for
// each file in it; WriteArchive once; destroy. Files are only sized and
// checked by AddFile; their bytes are read by WriteArchive.

#include <memory>
#include <string>
#include <vector>

#include "archive/tar_format.h"
#include "platform/result_codes.h"

namespace skiv {

// The writer's outcomes; each value is its result code's negation.
enum class WriteOutcome {
    Ok = 0,
    CannotOpen = 1,  // a file cannot be opened, or the archive created or written
    NoSize = 2,      // a file's size cannot be read
    Full = 3,        // already 10,240 entries
};

// The result code of a writer outcome: -1, -2, -3 (0 for Ok).
constexpr ResultCode ToResultCode(WriteOutcome outcome) {
    return static_cast<ResultCode>(-static_cast<int>(outcome));
}
static_assert(ToResultCode(WriteOutcome::CannotOpen) == ResultCode::ArchiveCannotOpen &&
              ToResultCode(WriteOutcome::Full) == ResultCode::ArchiveFull);

class ArchiveWriter {
public:
    ArchiveWriter() = default;
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // The folder the next files are opened from, and WriteArchive's default
    // folder; a final '/' is appended when missing.
    void SetSourceFolder(const std::string& folder);
    const std::string& SourceFolder() const { return m_sourceFolder; }

    // Adds the file named fileName in the current source folder, recorded
    // under the relative folder (native separators, ending with '/').
    // CannotOpen also covers a name or path too long for the format.
    WriteOutcome AddFile(const std::string& fileName, const std::string& relativeFolder,
                         const std::string& sourceFolder);

    // Writes the archive as folder + archiveName (folder empty: the current
    // source folder), through a ".part" file renamed over the name once the
    // archive is whole; an archive of that name stays as it was
    // until then; CannotOpen when the archive cannot be created or a write
    // fails. A file that changed size since AddFile is cut or
    // padded with zeros so that every entry keeps its offset and size.
    WriteOutcome WriteArchive(const std::string& archiveName, const std::string& folder = {});

    const TarHeader& Header() const { return m_head; }
    const std::vector<TarEntry>& Entries() const { return m_entries; }
    // Total bytes WriteArchive will write.
    std::int64_t ArchiveSize() const;

private:
    TarHeader m_head;
    std::vector<TarEntry> m_entries;
    std::string m_sourceFolder;
};

}  // namespace skiv
