#include "dfufiles.h"

#include "chiddfuerrorstate.h"
#include "dfufile.h"

#include <QFile>
#include <QFileInfo>

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

QString imageLengthProblem(uint32_t field, qint64 imageBytes) {
    if (imageBytes < qint64(dfu::kImageLengthOffset + dfu::kImageLengthSize))
        return QStringLiteral("Image of %1 bytes is too short to hold its length field")
            .arg(imageBytes);
    if (field == 0)
        return QStringLiteral("Image length field is zero");
    if (field > imageBytes)
        return QStringLiteral("Image length field (%1) exceeds the image bytes in the file (%2)")
            .arg(field)
            .arg(imageBytes);
    return QString();
}

Failure checkDfuFile(const QString& path) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return {FileInvalid, CHidDfuErrorState::FailedToOpenFile,
                QStringLiteral("Failed to open file \"%1\"").arg(path), QString()};
    const dfu::CheckResult result = dfu::checkFileSuffix(file);
    // The check leaves a sound file at offset 0.
    QByteArray head(int(dfu::kImageLengthOffset + dfu::kImageLengthSize), '\0');
    head.truncate(int(std::fread(head.data(), 1, std::size_t(head.size()), file)));
    std::fclose(file);
    if (result.code != 0)
        return {FileInvalid, result.code,
                result.message.empty() ? codeText(result.code)
                                       : QString::fromStdString(result.message),
                QString()};
    const QString problem = imageLengthProblem(imageLengthField(head),
                                               QFileInfo(path).size() - qint64(dfu::kSuffixLength));
    if (!problem.isEmpty())
        return {FileInvalid, CHidDfuErrorState::InvalidFileFormat, problem, QString()};
    return {};
}

} // namespace cli
