#include "temporaryfolder.h"

#include <cstdlib>
#include <unistd.h>

namespace platform {

std::string makeTemporaryFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

} // namespace platform
