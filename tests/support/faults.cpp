#include "support/faults.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace skiv::test {

HeldFile::HeldFile(const std::string& path) {
    m_handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_handle < 0 || ::flock(static_cast<int>(m_handle), LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot hold " + path);
}

HeldFile::~HeldFile() {
    if (m_handle >= 0)
        ::close(static_cast<int>(m_handle));
}

FileSizeCeiling::FileSizeCeiling(std::uint64_t bytes) {
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    m_oldSoft = old.rlim_cur;
    m_oldHard = old.rlim_max;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{static_cast<rlim_t>(bytes), old.rlim_max};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeCeiling::~FileSizeCeiling() {
    rlimit old{static_cast<rlim_t>(m_oldSoft), static_cast<rlim_t>(m_oldHard)};
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, m_oldHandler);
}

}  // namespace skiv::test
