// The file functions that depend on the operating system: opening without
// blocking, resolving a write target and replacing a file, for POSIX systems.
#include "dfufile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace dfu {

namespace {
// As many links as the kernel follows before it gives up.
constexpr int kMaxLinks = 40;
// Names tried before a create gives up: each collision is someone else's
// file at a name that was free a moment before.
constexpr int kCreateAttempts = 100;
constexpr std::size_t kUniqueLength = 6;
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
    int links = 0;
    for (; ::lstat(target.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++links) {
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

bool ReplacementFile::create(const std::string& target) {
    discard();
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string name = target + ".partial-";
        for (std::size_t i = 0; i < kUniqueLength; ++i)
            name += kLetters[letter(random)];
        // O_EXCL fails on anything at the name, a link or a FIFO included;
        // the kernel applies the umask to 0666, as for any new file.
        const int fd =
            ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return false;
        m_file = ::fdopen(fd, "w+b");
        if (!m_file) {
            const int error = errno;
            ::close(fd);
            ::unlink(name.c_str());
            errno = error;
            return false;
        }
        m_target = target;
        m_temporary = std::move(name);
        return true;
    }
    errno = EEXIST;
    return false;
}

bool ReplacementFile::commit(std::string& error) {
    if (!m_file) {
        error = std::strerror(EBADF);
        return false;
    }
    const int fd = fileno(m_file);
    struct stat replaced {};
    // The file it replaces keeps its owner (where this user may give it)
    // and its permission bits; a private key file stays private.
    const bool keep = ::stat(m_target.c_str(), &replaced) == 0;
    if (keep && ::fchown(fd, replaced.st_uid, replaced.st_gid) != 0) {
        // Not root: the new file is this user's, as any file it writes.
    }
    bool done = std::fflush(m_file) == 0 && ::fsync(fd) == 0 &&
                (!keep || ::fchmod(fd, replaced.st_mode & 0777) == 0);
    int failure = done ? 0 : errno;
    if (std::fclose(m_file) != 0 && done) {
        done = false;
        failure = errno;
    }
    m_file = nullptr;
    if (done && std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        done = false;
        failure = errno;
    }
    if (!done) {
        error = std::strerror(failure);
        ::unlink(m_temporary.c_str());
    }
    m_temporary.clear();
    return done;
}

void ReplacementFile::discard() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

} // namespace dfu
