// Opening a firmware file without ever waiting and only when it is a file on
// a disk, resolving a write target and replacing a file, for Windows.
#include "files.h"

#include "wintext.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

namespace {

// A file on a disk, not a folder, a device (NUL, CON, COM1) or a pipe.
bool isRegular(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

std::FILE* openRegularFile(const char* path, std::string& error) {
    const std::wstring wide = widePath(path ? path : "");
    // The C runtime refuses a folder as "Permission denied"; say what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = kNotRegularFile;
        return nullptr;
    }
    // Binary, always: text mode would turn CR LF into LF and end the file at
    // its first 0x1A byte. Opening a device or a pipe does not wait.
    const int fd = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    if (!isRegular(reinterpret_cast<HANDLE>(_get_osfhandle(fd)))) {
        error = kNotRegularFile;
        _close(fd);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (!file) {
        error = std::strerror(errno);
        _close(fd);
    }
    return file;
}

std::string resolveWriteTarget(const std::string& path, std::string& error) {
    const std::wstring wide = widePath(path);
    // Opened for no access at all, so that neither a file in use nor one
    // without read rights hides what it is. Links are followed.
    const HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A new file; a missing folder shows when the file is made. A link
        // that leads nowhere is the name's own reparse point.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            const DWORD own = GetFileAttributesW(wide.c_str());
            if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
                error = kDanglingLink;
                return {};
            }
            return path;
        }
        error = systemMessage(code);
        return {};
    }
    std::string target = path;
    if (!isRegular(handle)) {
        error = kNotRegularFile;
        target.clear();
    } else if (const DWORD own = GetFileAttributesW(wide.c_str());
               own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A symbolic link: the file it leads to is replaced, the link stays.
        std::wstring final(MAX_PATH, L'\0');
        DWORD length = 0;
        while ((length = GetFinalPathNameByHandleW(handle, final.data(), DWORD(final.size()),
                                                   FILE_NAME_NORMALIZED)) >= final.size())
            final.resize(length + 1);
        final.resize(length);
        // "\\?\C:\..." and "\\?\UNC\server\..." as the file name they stand for.
        if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
            final = L"\\\\" + final.substr(8);
        else if (final.rfind(L"\\\\?\\", 0) == 0)
            final = final.substr(4);
        if (length == 0) {
            error = systemMessage(GetLastError());
            target.clear();
        } else {
            target = utf8(final);
        }
    }
    CloseHandle(handle);
    return target;
}

// Names differ in more than case here.
const char* const kUniqueNameLetters = "abcdefghijklmnopqrstuvwxyz0123456789";

std::FILE* createNewFile(const std::string& name) {
    // _O_EXCL fails on anything at the name, a link included.
    int fd = -1;
    const errno_t failure = _wsopen_s(&fd, widePath(name).c_str(),
                                      _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT,
                                      _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (failure != 0) {
        errno = failure;
        return nullptr;
    }
    std::FILE* file = _wfdopen(fd, L"w+b");
    if (!file) {
        const int error = errno;
        _close(fd);
        DeleteFileW(widePath(name).c_str());
        errno = error;
    }
    return file;
}

// Permissions come from the folder's inherited rules on Windows; rename()
// would not replace an existing file there.
bool replaceFile(std::FILE* file, const std::string& name, const std::string& target,
                 std::string& error) {
    bool done = std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    if (!done)
        error = std::strerror(errno);
    if (std::fclose(file) != 0 && done) {
        done = false;
        error = std::strerror(errno);
    }
    if (done && !MoveFileExW(widePath(name).c_str(), widePath(target).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        done = false;
        error = systemMessage(GetLastError());
    }
    if (!done)
        DeleteFileW(widePath(name).c_str());
    return done;
}

void removeFile(const std::string& name) {
    DeleteFileW(widePath(name).c_str());
}

// A file open here (createNewFile's) does not share deletion: DeleteFileW
// fails on it from the moment it is made, which is the mark.
bool holdOpenFile(std::FILE*) {
    return true;
}

bool removeUnheldFile(const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(widePath(name).c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        (info.nFileSizeHigh == 0 && info.nFileSizeLow == 0))
        return false;
    return DeleteFileW(widePath(name).c_str()) != 0;
}

namespace {
// The volume and the file's index on it: what names one file (stat has no
// inode numbers here).
bool identity(const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file = CreateFileW(widePath(name).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known;
}
} // namespace

bool regularFile(const std::string& name, long long* size) {
    struct _stat64 info = {};
    if (_wstat64(widePath(name).c_str(), &info) != 0 || !(info.st_mode & _S_IFREG))
        return false;
    if (size)
        *size = static_cast<long long>(info.st_size);
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return identity(a, first) && identity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string(".");
    // "C:\name" and "\name" lie in a root folder, kept with its separator.
    const bool root = slash == 0 || (slash == 2 && path[1] == ':');
    return path.substr(0, root ? slash + 1 : slash);
}

bool canCreateFilesIn(const std::string& folder) {
    const std::wstring wide = widePath(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // The folder's access rules are the system's to judge: a file made and
    // gone at once asks it.
    wchar_t probe[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(wide.c_str(), L"tvr", 0, probe))
        return false;
    DeleteFileW(probe);
    return true;
}

} // namespace platform
