#include "console.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

QStringList programArguments(const QByteArrayList& given,
                             QStringList (*decode)(const QByteArrayList&)) {
    return decode(given);
}

bool terminalOutput() {
    return ::isatty(STDOUT_FILENO);
}

int writeText(std::FILE* file, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file) ==
                         std::size_t(bytes.size());
    if (std::fflush(file) == 0 && written)
        return 0;
    return errno != 0 ? errno : EIO;
}

int terminalColumns() {
    struct winsize size = {};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0;
}

} // namespace platform
