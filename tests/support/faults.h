#pragma once
// Fault helpers: a file held exclusively as another program would hold it,
// and a ceiling on file sizes that makes writes fail as on a full disk.

#include <sys/resource.h>

#include <string>

namespace skiv::test {

// Holds an exclusive advisory lock on a file through its own open file
// description, which the program's no-sharing opens respect.
class HeldFile {
public:
    explicit HeldFile(const std::string& path);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

private:
    int m_fd = -1;
};

// While alive, no file of this process can grow beyond `bytes`: writes past
// it fail with EFBIG (SIGXFSZ is ignored), as writes do on a full disk.
class FileSizeCeiling {
public:
    explicit FileSizeCeiling(rlim_t bytes);
    ~FileSizeCeiling();
    FileSizeCeiling(const FileSizeCeiling&) = delete;
    FileSizeCeiling& operator=(const FileSizeCeiling&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

}  // namespace skiv::test
