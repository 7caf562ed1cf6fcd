// The file functions that depend on the operating system, for Windows:
// opening a firmware file without ever waiting and only when it is a file on
// a disk, resolving a write target and replacing a file.
#include "dfufile.h"
#include "wintext.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace dfu {

std::wstring widePath(const std::string& path) {
    if (path.empty())
        return {};
    // A byte string that is not valid UTF-8 can only be the code page's.
    for (const UINT page : {UINT(CP_UTF8), UINT(CP_ACP)}) {
        const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length =
            MultiByteToWideChar(page, flags, path.data(), int(path.size()), nullptr, 0);
        if (length <= 0)
            continue;
        std::wstring wide(std::size_t(length), L'\0');
        MultiByteToWideChar(page, flags, path.data(), int(path.size()), wide.data(), length);
        return wide;
    }
    return {};
}

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(std::size_t(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), length,
                            nullptr, nullptr);
    return bytes;
}

std::string systemMessage(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length ? utf8(std::wstring(text, length)) : std::string();
    LocalFree(text);
    while (!message.empty() && (std::strchr(" .\r\n", message.back()) != nullptr))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

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

bool ReplacementFile::create(const std::string& target) {
    discard();
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".partial-";
        for (int i = 0; i < 6; ++i)
            name += kLetters[letter(random)];
        // _O_EXCL fails on anything at the name, a link included.
        int fd = -1;
        const errno_t failure = _wsopen_s(&fd, widePath(name).c_str(),
                                          _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT,
                                          _SH_DENYNO, _S_IREAD | _S_IWRITE);
        if (failure == EEXIST)
            continue;
        if (failure != 0) {
            errno = failure;
            return false;
        }
        m_file = _wfdopen(fd, L"w+b");
        if (!m_file) {
            const int error = errno;
            _close(fd);
            DeleteFileW(widePath(name).c_str());
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

// Permissions come from the folder's inherited rules on Windows; rename()
// would not replace an existing file there.
bool ReplacementFile::commit(std::string& error) {
    if (!m_file) {
        error = std::strerror(EBADF);
        return false;
    }
    bool done = std::fflush(m_file) == 0 && _commit(_fileno(m_file)) == 0;
    if (!done)
        error = std::strerror(errno);
    if (std::fclose(m_file) != 0 && done) {
        done = false;
        error = std::strerror(errno);
    }
    m_file = nullptr;
    if (done && !MoveFileExW(widePath(m_temporary).c_str(), widePath(m_target).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        done = false;
        error = systemMessage(GetLastError());
    }
    if (!done)
        DeleteFileW(widePath(m_temporary).c_str());
    m_temporary.clear();
    return done;
}

void ReplacementFile::discard() {
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temporary.empty())
        DeleteFileW(widePath(m_temporary).c_str());
    m_temporary.clear();
}

} // namespace dfu
