#include "devicelock.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The process that holds a flock on the file of info, from the kernel's
// table of locks (Linux): "1: FLOCK  ADVISORY  WRITE 1234 00:05:567 0 EOF",
// the file given as major:minor of its device (hex) and its inode.
std::string lockHolder(const struct stat& info) {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid;
        unsigned deviceMajor = 0, deviceMinor = 0;
        unsigned long inode = 0;
        char colon = 0;
        fields >> number >> kind >> mode >> access >> pid >> std::hex >> deviceMajor >> colon >>
            deviceMinor >> colon >> std::dec >> inode;
        if (kind != "FLOCK" || deviceMajor != major(info.st_dev) ||
            deviceMinor != minor(info.st_dev) || inode != info.st_ino)
            continue;
        std::ifstream comm("/proc/" + pid + "/comm");
        std::string name;
        std::getline(comm, name);
        return name.empty() ? "process " + pid : name + ", process " + pid;
    }
    return {};
}

} // namespace

DeviceLock::Outcome DeviceLock::lock(const char* path, std::string& holder) {
    unlock();
    holder.clear();
    // Read-only suffices for a lock and needs no more access than the
    // device's own open.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return Outcome::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_held = fd;
        return Outcome::Locked;
    }
    const bool inUse = errno == EWOULDBLOCK;
    struct stat info = {};
    if (inUse && ::fstat(fd, &info) == 0)
        holder = lockHolder(info);
    ::close(fd);
    return inUse ? Outcome::InUse : Outcome::Unavailable;
}

void DeviceLock::unlock() {
    if (m_held != kNone)
        ::close(int(m_held));
    m_held = kNone;
}
