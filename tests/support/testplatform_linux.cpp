#include "testplatform.h"

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testplatform {

bool isLinux() {
    return true;
}

std::string makeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0 || errno == EEXIST ? path : std::string();
}

bool makeLink(const std::string& target, const std::string& path) {
    return ::symlink(target.c_str(), path.c_str()) == 0;
}

bool giveLinkToAnotherUser(const std::string& path) {
    constexpr uid_t kNobody = 65534;
    return ::lchown(path.c_str(), kNobody, kNobody) == 0;
}

bool limitFileSize(long long bytes) {
    // The signal would end the process; the write fails with EFBIG instead.
    std::signal(SIGXFSZ, bytes < 0 ? SIG_DFL : SIG_IGN);
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return false;
    limit.rlim_cur = bytes < 0 ? limit.rlim_max : rlim_t(bytes);
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::string nullDevice() {
    return "/dev/null";
}

} // namespace testplatform
