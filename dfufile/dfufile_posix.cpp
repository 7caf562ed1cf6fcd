// The file functions that depend on the operating system: opening without
// blocking and resolving a write target, for POSIX systems.
#include "dfufile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dfu {

namespace {
// As many links as the kernel follows before it gives up.
constexpr int kMaxLinks = 40;
} // namespace

std::FILE* openRegularFile(const char* path, std::string& error) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = kNotRegularFile;
        ::close(fd);
        return nullptr;
    }
    // Reads of a regular file never wait for a writer; blocking mode keeps
    // stdio's short-read handling the same as for fopen.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        error = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

std::string resolveWriteTarget(const std::string& path, std::string& error) {
    struct stat info {};
    // stat follows every link, the kernel's own under /proc (/dev/stdout)
    // included, to what a write would reach.
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists ? !S_ISREG(info.st_mode) : errno == ELOOP) {
        error = exists ? kNotRegularFile : std::strerror(ELOOP);
        return {};
    }
    std::string target = path;
    for (int links = 0; ::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++links) {
        char link[PATH_MAX];
        const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
        if (links == kMaxLinks || length <= 0 || std::size_t(length) == sizeof link) {
            error = std::strerror(links == kMaxLinks ? ELOOP : length < 0 ? errno : ENAMETOOLONG);
            return {};
        }
        // A relative link is relative to the folder that holds it.
        const std::size_t slash = target.find_last_of('/');
        target = link[0] == '/' || slash == std::string::npos
                     ? std::string(link, std::size_t(length))
                     : target.substr(0, slash + 1) + std::string(link, std::size_t(length));
    }
    return target;
}

} // namespace dfu
