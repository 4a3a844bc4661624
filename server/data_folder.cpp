#include "data_folder.h"

#include <sys/stat.h>

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

}  // namespace skiv::server
