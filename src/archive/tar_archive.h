#pragma once
// CTarArchive: collects files and writes them as one archive.
//
// Calling order: construct; per folder, SetSourceFolder and then AddFile for
// each file in it; WriteArchive once; destroy. Files are only sized and
// checked by AddFile; their bytes are read by WriteArchive.

#include <memory>
#include <string>
#include <vector>

#include "archive/tar_format.h"

namespace skiv {

// Result codes of the writer.
inline constexpr int kTarCannotOpen =
    -1;  // file cannot be opened / archive cannot be created or written
inline constexpr int kTarNoSize = -2;  // a file's size cannot be read
inline constexpr int kTarFull = -3;    // already 10,240 entries

class CTarArchive {
public:
    CTarArchive() = default;
    virtual ~CTarArchive() = default;
    CTarArchive(const CTarArchive&) = delete;
    CTarArchive& operator=(const CTarArchive&) = delete;

    // The folder the next files are opened from, and WriteArchive's default
    // folder; a final '/' is appended when missing.
    void SetSourceFolder(const std::string& folder);
    const std::string& SourceFolder() const { return m_sourceFolder; }

    // Adds the file named fileName in the current source folder, recorded
    // under the relative folder (native separators, ending with '/').
    // 0, or kTarCannotOpen (cannot be opened without sharing, or a name or
    // path too long for the format), kTarNoSize, kTarFull.
    int AddFile(const std::string& fileName, const std::string& relativeFolder,
                const std::string& sourceFolder);

    // Writes the archive as folder + archiveName (folder empty: the current
    // source folder), through a ".part" file renamed over the name once the
    // archive is whole; an archive of that name stays as it was
    // until then. 0, or kTarCannotOpen when the archive cannot be created
    // or a write fails. A file that changed size since AddFile is cut or
    // padded with zeros so that every entry keeps its offset and size.
    int WriteArchive(const std::string& archiveName, const std::string& folder = {});

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
