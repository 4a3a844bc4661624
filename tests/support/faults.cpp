#include "support/faults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace skiv::test {

HeldFile::HeldFile(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        throw std::runtime_error("cannot hold " + path);
}

HeldFile::~HeldFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FileSizeCeiling::FileSizeCeiling(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{bytes, m_old.rlim_max};
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
        throw std::runtime_error("setrlimit failed");
}

FileSizeCeiling::~FileSizeCeiling() {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}

}  // namespace skiv::test
