#pragma once
// The service's data folder holds the member database, the packages and
// the TLS key: nobody but the service's own user may write it, and
// nobody else should read it.

#include <string>
#include <vector>

namespace skiv::server {

// Creates `dir` (mode 0700) when missing. Throws std::runtime_error when it
// cannot, when it is not a folder, or when other users (group or others)
// can write it. Makes the database files private (0600) when they are not.
// Returns warnings for the log: the folder can be read or entered by other
// users.
std::vector<std::string> PrepareDataFolder(const std::string& dir);

// Several service instances may serve one data folder. Each holds a
// shared lock on DIR/instances.lock while it serves; one starting while no
// other runs takes it exclusively instead, for its start-up work (removing
// files no row names, making the TLS material), which would otherwise race
// with another instance's writes. The lock goes with the process, however
// it ends.
class InstanceLock {
public:
    // Waits while another instance does its start-up work. Throws
    // std::runtime_error when the lock file cannot be used.
    explicit InstanceLock(const std::string& dir);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when no other instance served the folder at start: this one
    // holds the lock exclusively until Share().
    bool alone() const { return m_alone; }
    // Lets other instances start (turns an exclusive hold into a shared one).
    void Share();

private:
    int m_fd = -1;
    bool m_alone = false;
};

}  // namespace skiv::server
