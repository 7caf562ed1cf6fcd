#include "system.h"

#include "wintext.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace cli::system {

namespace {

void (*g_record)(int, bool) = nullptr;
// Set as the program ends, so that a closing console waits for it.
HANDLE g_ended = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI onControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_record(SIGINT, false);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_record(SIGTERM, false);
        // The process ends when this returns (or after the system's few
        // seconds): until then a running block may finish.
        WaitForSingleObject(g_ended, INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

QByteArray fileNameBytes(const QString& name) {
    return name.toUtf8();
}

QString fileNameText(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

QStringList programArguments(const QByteArrayList&) {
    return QCoreApplication::arguments();
}

void onStopRequests(void (*record)(int number, bool passedOn)) {
    g_record = record;
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atexit([] { SetEvent(g_ended); });
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

void holdingStopRequests(const std::function<void()>& start) {
    start();
}

QString stopText(int number) {
    return number == SIGTERM ? QStringLiteral("Terminated") : QStringLiteral("Interrupted");
}

const char* stopStatusHelp() {
    return "  130  interrupted (Ctrl+C or Ctrl+Break); a running transfer was let finish first\n"
           "  143  ended (the console closed, a log-off or a shutdown); a running transfer was\n"
           "       let finish first, as far as Windows waits\n";
}

void passStopRequest(qint64, int) {}

QString accessAdvice() {
    return QStringLiteral(", and that no other program holds the accessory");
}

bool terminalOutput() {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
            SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

void writeText(std::FILE* file, const QString& text) {
    std::fflush(file);
    const HANDLE handle = GetStdHandle(file == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file);
    std::fflush(file);
}

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
    const HANDLE file = CreateFileW(dfu::widePath(name).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return known;
}
} // namespace

bool regularFile(const std::string& name, qint64* size) {
    struct _stat64 info {};
    if (_wstat64(dfu::widePath(name).c_str(), &info) != 0 || !(info.st_mode & _S_IFREG))
        return false;
    if (size)
        *size = qint64(info.st_size);
    return true;
}

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

} // namespace cli::system
