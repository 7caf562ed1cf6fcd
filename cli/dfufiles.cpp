#include "dfufiles.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"

#include <QFile>

#include <cstdio>

namespace cli {

FileContents readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {false,
                {},
                {FileInvalid, CHidDfuErrorState::FailedToOpenFile,
                 QStringLiteral("Failed to open file \"%1\"").arg(path), file.errorString()}};
    return {true, file.readAll(), {}};
}

uint32_t imageLengthField(const QByteArray& bytes) {
    uint8_t field[dfu::kImageLengthSize] = {};
    for (std::size_t i = 0; i < dfu::kImageLengthSize; ++i) {
        if (int(dfu::kImageLengthOffset + i) < bytes.size())
            field[i] = uint8_t(bytes[int(dfu::kImageLengthOffset + i)]);
    }
    return dfu::le32(field);
}

Failure checkDfuFile(const QString& path) {
    std::string reason;
    std::FILE* file = dfu::openRegularFile(QFile::encodeName(path).constData(), reason);
    if (!file)
        return {FileInvalid, CHidDfuErrorState::FailedToOpenFile,
                QStringLiteral("Failed to open file \"%1\"").arg(path),
                QString::fromStdString(reason)};
    // The same check an upgrade makes before any device traffic.
    const dfu::CheckResult result = dfu::checkFile(file);
    std::fclose(file);
    if (result.code != 0)
        return {FileInvalid, result.code,
                result.message.empty() ? codeText(result.code)
                                       : QString::fromStdString(result.message),
                QString()};
    return {};
}

} // namespace cli
