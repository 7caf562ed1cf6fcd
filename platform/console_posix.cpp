#include "console.h"

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

void writeText(std::FILE* file, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file);
    std::fflush(file);
}

int terminalColumns() {
    struct winsize size = {};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0;
}

} // namespace platform
