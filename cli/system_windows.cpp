#include "system.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <io.h>
#include <windows.h>

namespace cli::system {

namespace {

void (*g_record)(int) = nullptr;
// Set as the program ends, so that a closing console waits for it.
HANDLE g_ended = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI onControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_record(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_record(SIGTERM);
        // The process ends when this returns (or after the system's few
        // seconds): until then a running block may finish.
        WaitForSingleObject(g_ended, INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

QStringList programArguments(const QByteArrayList&) {
    return QCoreApplication::arguments();
}

void onStopRequests(void (*record)(int number)) {
    g_record = record;
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit([] { SetEvent(g_ended); });
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

QString stopText(int number) {
    return number == SIGTERM ? QStringLiteral("Terminated") : QStringLiteral("Interrupted");
}

void passStopRequest(qint64, int) {}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)
               ? int(info.srWindow.Right - info.srWindow.Left + 1)
               : 0;
}

namespace {
// The volume and the file's index on it: what names one file (stat has no
// inode numbers here).
bool identity(const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE file =
        CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known;
}
} // namespace

bool sameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return identity(a, first) && identity(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// A temporary file, kept in the cache where the system can (T) and deleted
// when closed (D): the C runtime here has no file over memory, and its
// tmpfile() writes to the drive's root folder.
std::FILE* openBytes(std::vector<uint8_t>& bytes) {
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"tvr", 0, name))
        return nullptr;
    std::FILE* file = _wfopen(name, L"w+bTD");
    if (!file)
        DeleteFileW(name);
    if (file && (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
                 std::fseek(file, 0, SEEK_SET) != 0)) {
        std::fclose(file);
        file = nullptr;
    }
    return file;
}

bool syncFile(std::FILE* file, int descriptor) {
    return std::fflush(file) == 0 && _commit(descriptor) == 0;
}

bool takePermissions(int, const std::string&) {
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
            : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                             : EIO;
    return false;
}

} // namespace cli::system
