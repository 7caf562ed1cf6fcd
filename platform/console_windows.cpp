#include "console.h"

#include <QCoreApplication>

#include <cerrno>
#include <string>

#include <windows.h>

namespace platform {

QStringList programArguments(const QByteArrayList&, QStringList (*)(const QByteArrayList&)) {
    return QCoreApplication::arguments();
}

bool terminalOutput() {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
            SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

int writeText(std::FILE* file, const QString& text) {
    std::fflush(file);
    const HANDLE handle = GetStdHandle(file == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr) &&
                       written == DWORD(wide.size())
                   ? 0
                   : EIO;
    }
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file) ==
                         std::size_t(bytes.size());
    if (std::fflush(file) == 0 && written)
        return 0;
    return errno != 0 ? errno : EIO;
}

int terminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    return GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)
               ? int(info.srWindow.Right - info.srWindow.Left + 1)
               : 0;
}

} // namespace platform
