#include "testplatform.h"

#include <filesystem>
#include <windows.h>

namespace testplatform {

bool isLinux() {
    return false;
}

// A named pipe waiting for clients, whose handles stay open until the
// process ends: opening its name as a file finds a pipe, not a file. Each
// open takes one instance of the pipe; a test opens it a few times.
std::string makeFifo(const std::string&) {
    static unsigned count = 0;
    const std::string name = "\\\\.\\pipe\\tavrin-test-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++count);
    for (int instance = 0; instance < 4; ++instance) {
        if (CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                             PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr) == INVALID_HANDLE_VALUE)
            return {};
    }
    return name;
}

bool makeLink(const std::string&, const std::string&) {
    return false;
}

std::string nullDevice() {
    return "NUL";
}

std::string makeTemporaryFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (unsigned attempt = 0; !error && attempt < 1000; ++attempt) {
        const fs::path folder =
            base / (prefix + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(GetTickCount()) + "-" + std::to_string(attempt));
        if (fs::create_directory(folder, error))
            return folder.generic_string();
    }
    return {};
}

} // namespace testplatform
