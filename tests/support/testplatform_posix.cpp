#include "testplatform.h"

#include <cerrno>
#include <cstdlib>
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

std::string nullDevice() {
    return "/dev/null";
}

std::string makeTemporaryFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

} // namespace testplatform
