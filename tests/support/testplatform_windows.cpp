#include "testplatform.h"

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

bool giveLinkToAnotherUser(const std::string&) {
    return false;
}

bool limitFileSize(long long) {
    return false;
}

std::string nullDevice() {
    return "NUL";
}

} // namespace testplatform
