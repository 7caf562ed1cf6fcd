#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// As many links as the kernel follows before it gives up.
constexpr int kMaxLinks = 40;

// The kernel's rule for links in shared folders (protected_symlinks), which
// it cannot apply to a link read here: in a sticky folder that everyone may
// write, such as /tmp, a link is followed only when the caller or the
// folder's owner made it. Another user's link there would lead a write by
// root anywhere.
bool mayFollow(const std::string& link, const struct stat& linkInfo) {
    struct stat info = {};
    if (::stat(folderOf(link).c_str(), &info) != 0)
        return false;
    const bool shared = (info.st_mode & S_ISVTX) && (info.st_mode & S_IWOTH);
    return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == info.st_uid;
}
} // namespace

std::FILE* openRegularFile(const char* path, std::string& error) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat info = {};
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
    struct stat info = {};
    // stat follows every link, the kernel's own under /proc (/dev/stdout)
    // included, to what a write would reach.
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists ? !S_ISREG(info.st_mode) : errno == ELOOP) {
        error = exists ? kNotRegularFile : std::strerror(ELOOP);
        return {};
    }
    std::string target = path;
    int links = 0;
    for (; ::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++links) {
        if (!mayFollow(target, info)) {
            error = kForeignLink;
            return {};
        }
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
    if (links > 0 && !exists) {
        error = kDanglingLink;
        return {};
    }
    return target;
}

const char* const kUniqueNameLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::FILE* createNewFile(const std::string& name) {
    // O_EXCL fails on anything at the name, a link or a FIFO included; the
    // kernel applies the umask to 0666, as for any new file.
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(name.c_str());
        errno = error;
    }
    return file;
}

bool replaceFile(std::FILE* file, const std::string& name, const std::string& target,
                 std::string& error) {
    const int fd = fileno(file);
    struct stat replaced = {};
    // The file it replaces keeps its owner (where this user may give it)
    // and its permission bits; a private key file stays private.
    const bool keep = ::stat(target.c_str(), &replaced) == 0;
    if (keep && ::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        // Not root: the new file is this user's, as any file it writes.
    }
    bool done = std::fflush(file) == 0 && ::fsync(fd) == 0 &&
                (!keep || ::fchmod(fd, replaced.st_mode & 0777) == 0);
    int failure = done ? 0 : errno;
    if (std::fclose(file) != 0 && done) {
        done = false;
        failure = errno;
    }
    if (done && std::rename(name.c_str(), target.c_str()) != 0) {
        done = false;
        failure = errno;
    }
    if (!done) {
        error = std::strerror(failure);
        ::unlink(name.c_str());
    }
    return done;
}

void removeFile(const std::string& name) {
    ::unlink(name.c_str());
}

// A shared lock per holder; a remover needs the exclusive one. The holder
// takes its lock right after making the file and writes only after that, so
// a file that holds bytes but whose exclusive lock is free has no holder.
bool holdOpenFile(std::FILE* file) {
    constexpr int kAttempts = 20;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (::flock(fileno(file), LOCK_SH | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK)
            return false;
        // A remover looking at this file lets go within microseconds.
        ::usleep(1000);
    }
    return false;
}

bool removeUnheldFile(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &info) == 0 &&
                         S_ISREG(info.st_mode) && info.st_size > 0 && ::unlink(name.c_str()) == 0;
    ::close(fd);
    return removed;
}

bool regularFile(const std::string& name, long long* size) {
    struct stat info = {};
    if (::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (size)
        *size = static_cast<long long>(info.st_size);
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first = {};
    struct stat second = {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}

bool canCreateFilesIn(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace platform
