#include "messagelog.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace {

void writeToStandardError(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    const QByteArray line = qFormatLogMessage(type, context, message).toUtf8();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void logToRedirectedStandardError() {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE)
        qInstallMessageHandler(writeToStandardError);
}
