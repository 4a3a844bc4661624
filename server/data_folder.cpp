#include "data_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "admin_commands.h"

namespace skiv::server {

std::vector<std::string> PrepareDataFolder(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create " + dir + ": " + std::strerror(errno));
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
        throw std::runtime_error("cannot use " + dir + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        throw std::runtime_error(dir + " is not a folder");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        throw std::runtime_error("data folder " + dir +
                                 " can be written by other users; refusing to use it (make it "
                                 "private: chmod 700)");
    }
    std::vector<std::string> warnings;
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        warnings.push_back("data folder " + dir +
                           " can be read by other users; make it private (chmod 700)");
    }
    // Files an earlier version made under a looser umask.
    const std::string database = DatabasePath(dir);
    for (const std::string& file : {database, database + "-wal", database + "-shm"}) {
        if (::stat(file.c_str(), &st) == 0 && (st.st_mode & 077) != 0 &&
            ::chmod(file.c_str(), 0600) != 0)
            throw std::runtime_error("cannot make " + file + " private: " + std::strerror(errno));
    }
    return warnings;
}

InstanceLock::InstanceLock(const std::string& dir) {
    std::string path = dir;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += "instances.lock";
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_alone = true;
        return;
    }
    int r;
    while ((r = ::flock(m_fd, LOCK_SH)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        const int error = errno;
        ::close(m_fd);
        throw std::runtime_error("cannot lock " + path + ": " + std::strerror(error));
    }
}

InstanceLock::~InstanceLock() {
    ::close(m_fd);
}

void InstanceLock::Share() {
    if (m_alone)
        ::flock(m_fd, LOCK_SH);
}

}  // namespace skiv::server
