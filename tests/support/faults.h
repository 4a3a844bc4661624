#pragma once
// Fault helpers: a file held exclusively as another program would hold it,
// and a ceiling on file sizes that makes writes fail as on a full disk.

#include <cstdint>
#include <string>

namespace skiv::test {

// Holds an exclusive advisory lock on a file through its own open file
// description, which the program's no-sharing opens respect. On Windows the
// file is held open without sharing.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    std::intptr_t m_handle = -1;  // descriptor, or Windows handle
};

// While alive, no file of this process can grow beyond `bytes`: writes past
// it fail with EFBIG (SIGXFSZ is ignored), as writes do on a full disk.
// Windows has no such limit: there the constructor throws, and the Windows
// suites leave these cases out.
class FileSizeCeiling {
public:
    explicit FileSizeCeiling(std::uint64_t bytes);
    ~FileSizeCeiling();
    FileSizeCeiling(const FileSizeCeiling&) = delete;
    FileSizeCeiling& operator=(const FileSizeCeiling&) = delete;

private:
    std::uint64_t m_oldSoft = 0, m_oldHard = 0;
    void (*m_oldHandler)(int) = nullptr;
};

}  // namespace skiv::test
