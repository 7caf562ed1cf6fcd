#include "arguments.h"
#include "commands.h"
#include "dfufile.h"
#include "firmware_files.h"
#include "output.h"

#include <QJsonObject>

namespace cli {

int checkCommand(Run& run, const QStringList& arguments) {
    const QString path = arguments.first();
    Failure failure;
    const File file = openFile(path, failure);
    if (!file)
        return run.fail(failure);
    const qint64 size = fileSize(file.get());
    run.setFile(path);
    run.facts.insert(QStringLiteral("size"), size);
    run.out.say(QStringLiteral("File:               %1 (%2 bytes)").arg(shownName(path)).arg(size));
    if (size >= qint64(dfu::kSuffixLength)) {
        uint8_t suffix[dfu::kSuffixLength] = {};
        readAt(file.get(), size - qint64(dfu::kSuffixLength), suffix, sizeof suffix);
        const QString signature =
            QString::fromLatin1(reinterpret_cast<const char*>(suffix + dfu::kSuffixSignature),
                                int(dfu::kSuffixSignatureLength));
        const uint32_t found = dfu::le32(suffix + dfu::kSuffixCrc);
        // A file no upgrade takes is refused below; reading gigabytes for
        // its CRC first would only keep the station waiting.
        const bool accepted = dfu::checkFileSize(uint64_t(size)).code == 0;
        const uint32_t computed =
            accepted ? crcOf(file.get(), size - qint64(dfu::kSuffixCrcLength)) : 0;
        const qint64 imageBytes = size - qint64(dfu::kSuffixLength);
        const uint32_t field = imageLengthField(file.get());
        const QJsonObject fields{
            {QStringLiteral("bcdDevice"), dfu::le16(suffix + dfu::kSuffixBcdDevice)},
            {QStringLiteral("idProduct"), dfu::le16(suffix + dfu::kSuffixIdProduct)},
            {QStringLiteral("idVendor"), dfu::le16(suffix + dfu::kSuffixIdVendor)},
            {QStringLiteral("bcdDFU"), dfu::le16(suffix + dfu::kSuffixBcdDfu)},
            {QStringLiteral("signature"), signature},
            {QStringLiteral("bLength"), suffix[dfu::kSuffixBLength]},
            {QStringLiteral("imageLengthField"), qint64(field)},
            {QStringLiteral("imageBytes"), imageBytes},
            {QStringLiteral("crcFound"), qint64(found)}};
        for (auto it = fields.begin(); it != fields.end(); ++it)
            run.facts.insert(it.key(), it.value());
        if (accepted)
            run.facts.insert(QStringLiteral("crcComputed"), qint64(computed));
        run.out.say(QStringLiteral("Suffix:             bcdDevice %1, idProduct %2, idVendor %3, "
                                   "bcdDFU %4, signature \"%5\", bLength %6")
                        .arg(hex(dfu::le16(suffix + dfu::kSuffixBcdDevice), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixIdProduct), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixIdVendor), 4),
                             hex(dfu::le16(suffix + dfu::kSuffixBcdDfu), 4),
                             escapeControls(signature))
                        .arg(suffix[dfu::kSuffixBLength]));
        run.out.say(QStringLiteral("Image length field: %1 bytes").arg(field));
        run.out.say(QStringLiteral("Image bytes:        %1").arg(imageBytes));
        run.out.say(
            accepted
                ? QStringLiteral("CRC:                found %1, computed %2")
                      .arg(hex(found, 8), hex(computed, 8))
                : QStringLiteral("CRC:                found %1, not computed").arg(hex(found, 8)));
    }
    const QJsonValue version = fileVersion(file.get());
    run.facts.insert(QStringLiteral("fileVersion"), version);
    run.out.say(QStringLiteral("Version:            %1").arg(versionShown(version)));
    failure = checkDfuFile(file.get());
    if (failure.status != Success)
        return run.fail(failure);
    const bool testImage = isTestImage(file.get());
    run.facts.insert(QStringLiteral("testImage"), testImage);
    if (testImage)
        run.out.say(QStringLiteral("Image: a generated test image, not a firmware release"));
    const QString ids = foreignIds(file.get());
    if (!ids.isEmpty())
        run.out.warn(QStringLiteral("Warning: the suffix names another product (%1); upgrade and "
                                    "verify refuse the file without --force")
                         .arg(ids));
    return run.succeed(QStringLiteral("Result:             valid (code 0)"));
}

} // namespace cli
