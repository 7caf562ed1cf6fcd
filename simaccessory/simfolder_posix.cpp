#include "simfolder.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace sim {

std::string makeTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/simaccessory-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for the simulated HID bus");
    }
    return pattern;
}

} // namespace sim
