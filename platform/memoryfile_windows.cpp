#include "memoryfile.h"

#include "wintext.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

// The C runtime here has no file over memory, and its tmpfile() writes to
// the drive's root folder.
std::FILE* memoryFile(std::string& error) {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"tvr", 0, name)) {
        error = systemMessage(GetLastError());
        return nullptr;
    }
    const HANDLE handle =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = systemMessage(GetLastError());
        DeleteFileW(name);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    std::FILE* memory = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (!memory) {
        error = std::strerror(errno);
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(handle);
    }
    return memory;
}

} // namespace platform
