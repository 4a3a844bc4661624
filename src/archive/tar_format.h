#pragma once
// The archive format: a 516-byte head, a table of 780-byte entries, then the
// files' bytes one after another. Integers are 32-bit signed little-endian;
// strings are zero-terminated and zero-padded to their field's width.
//
// Relative folders are stored with '\' separators whatever the platform, so
// an archive travels between Windows and Linux; ToArchiveFolder and
// FromArchiveFolder convert at the only two places the format is touched.
//
// For the same reason every name in the archive (file name, folder, source
// folder) is code page 949 on every platform, while TarEntry holds names as
// the program does (UTF-8, on Windows as well). EncodeEntry and
// DecodeEntry convert; ArchiveWriter::AddFile refuses a name or folder that
// code page 949 cannot express.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace skiv {

inline constexpr std::size_t kTarHeaderSize = 516;
inline constexpr std::size_t kTarEntrySize = 780;
inline constexpr std::int32_t kTarMaxEntries = 10240;
inline constexpr std::size_t kTarNameField = 256;
inline constexpr std::size_t kTarFolderField = 256;
inline constexpr std::size_t kTarSourceField = 260;

struct TarHeader {
    std::array<std::uint8_t, 512> reserved{};
    std::int32_t count = 0;
};

struct TarEntry {
    std::int32_t dataOffset = 0;
    std::int32_t dataSize = 0;
    std::string fileName;      // at most 255 bytes in the archive's code page
    std::string folder;        // relative, native separators, ends with '/'
    std::string sourceFolder;  // absolute, as read from the file system
    // Not in the archive: the file's modification and status change times
    // (ns) and inode as seen when it was added, where the system keeps them
    // (see PieceSpan); INT64_MIN when not known.
    std::int64_t mtime = INT64_MIN;
    std::int64_t changed = INT64_MIN;
    std::int64_t inode = 0;
};

// Byte images of the records.
std::array<std::uint8_t, kTarHeaderSize> EncodeHeader(const TarHeader& head);
TarHeader DecodeHeader(const std::uint8_t* bytes);  // kTarHeaderSize bytes
std::array<std::uint8_t, kTarEntrySize> EncodeEntry(const TarEntry& entry);
TarEntry DecodeEntry(const std::uint8_t* bytes);  // kTarEntrySize bytes

// A name as the archive stores it (code page 949), or nullopt when it has a
// character that code page cannot express.
std::optional<std::string> ToArchiveName(const std::string& nativeName);
// The reverse. Bytes that are not code page 949 (an archive written before
// names were converted) are kept as they are.
std::string FromArchiveName(const std::string& archiveName);

// "Interface/Skin/" <-> "Interface\Skin\"
std::string ToArchiveFolder(const std::string& nativeFolder);
std::string FromArchiveFolder(const std::string& archiveFolder);

}  // namespace skiv
