#include "arguments.h"
#include "commands.h"
#include "dfufile.h"
#include "firmware_files.h"
#include "hiddfu.h"
#include "memoryfile.h"
#include "output.h"

#include <QRegularExpression>

#include <cstdio>
#include <vector>

namespace cli {

namespace {
// --release MAJOR.MINOR.PATCH as the suffix's bcdDevice, 0xJJMN: two decimal
// digits for MAJOR, one each for MINOR and PATCH, as every reader of the
// suffix takes them. Success, or the usage error that names the bound.
Failure releaseBcd(const QString& text, uint16_t& bcd) {
    const auto refuse = [&text](const QString& why) {
        return Failure{UsageError, 0, QStringLiteral("--release %1: %2").arg(text, why), QString()};
    };
    const QRegularExpressionMatch parts =
        QRegularExpression(QStringLiteral("^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")).match(text);
    if (!parts.hasMatch())
        return refuse(QStringLiteral("not MAJOR.MINOR.PATCH, such as 2.4.0"));
    const QString bounds =
        QStringLiteral(" (the suffix's bcdDevice holds MAJOR 0-99, MINOR 0-9 and PATCH 0-9)");
    const char* names[] = {"MAJOR", "MINOR", "PATCH"};
    const uint largest[] = {99, 9, 9};
    uint numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        numbers[i] = parts.captured(i + 1).toUInt(&ok);
        if (!ok || numbers[i] > largest[i])
            return refuse(QStringLiteral("%1 is at most %2").arg(names[i]).arg(largest[i]) +
                          bounds);
    }
    bcd = uint16_t((numbers[0] / 10) << 12 | (numbers[0] % 10) << 8 | numbers[1] << 4 | numbers[2]);
    if (!dfu::suffixStatesVersion(bcd))
        return refuse(QStringLiteral("bcdDevice %1 is what every backup carries, and states no "
                                     "version")
                          .arg(hex(bcd, 4)));
    return {};
}

// A file that an upgrade would refuse is not made: the same bound and text
// as the check, for the file that imageBytes would make.
Failure refuseLarge(qint64 imageBytes) {
    const dfu::CheckResult large =
        dfu::checkFileSize(uint64_t(imageBytes) + uint64_t(dfu::kSuffixLength));
    if (large.code == 0)
        return {};
    return {FileInvalid, large.code, QString::fromStdString(large.message),
            QStringLiteral("refused; an upgrade takes no larger file")};
}
} // namespace

int packCommand(Run& run, const QStringList& arguments) {
    uint16_t bcd = dfu::kBackupBcdDevice;
    if (run.parser.isSet(kRelease)) {
        if (const Failure bad = releaseBcd(run.parser.value(kRelease), bcd); bad.status != Success)
            return run.fail(bad);
    }
    std::vector<uint8_t> generated;
    File image;
    if (run.parser.isSet(kTestImage)) {
        bool ok = false;
        const uint length = run.parser.value(kTestImage).toUInt(&ok);
        if (!ok)
            return run.fail(
                {UsageError, 0, QStringLiteral("--test-image needs a byte count"), QString()});
        if (const Failure large = refuseLarge(length); large.status != Success)
            return run.fail(large);
        generated = dfu::makeImage(length);
        image.reset(platform::openBytes(generated));
        if (!image)
            return run.fail({FileInvalid, HidDfuResult::OutOfMemory,
                             codeText(HidDfuResult::OutOfMemory), QString()});
    } else {
        Failure failure;
        image = openFile(arguments.value(0), failure);
        if (!image)
            return run.fail(failure);
        const qint64 size = fileSize(image.get());
        if (const Failure large = refuseLarge(size); large.status != Success)
            return run.fail(large);
        const uint32_t field = imageLengthField(image.get());
        if (qint64(field) != size && !run.parser.isSet(kForce))
            return run.fail(
                {FileInvalid, HidDfuResult::InvalidFileFormat,
                 QStringLiteral("Image length field (%1) does not match the image size (%2)")
                     .arg(field)
                     .arg(size),
                 QStringLiteral("refused; --force packs it anyway")});
    }
    const QString outPath = arguments.last();
    if (!run.parser.isSet(kForce)) {
        const Failure existing =
            refuseExisting(outPath, run.parser.isSet(kTestImage) ? QString() : arguments.value(0));
        if (existing.status != Success)
            return run.fail(existing);
    }
    uint32_t crc = 0;
    qint64 imageBytes = 0;
    const Failure failure = writeDfuFile(outPath, image.get(), bcd, crc, imageBytes);
    if (failure.status != Success)
        return run.fail(failure);
    const QJsonValue version = suffixVersion(bcd);
    run.setFile(outPath);
    run.facts.insert(QStringLiteral("size"), imageBytes + qint64(dfu::kSuffixLength));
    run.facts.insert(QStringLiteral("imageBytes"), imageBytes);
    run.facts.insert(QStringLiteral("crc"), qint64(crc));
    run.facts.insert(QStringLiteral("fileVersion"), version);
    return run.succeed(QStringLiteral("Packed %1 image bytes into %2 (CRC %3%4)")
                           .arg(imageBytes)
                           .arg(shownName(outPath), hex(crc, 8),
                                version.isString()
                                    ? QStringLiteral(", version ") + version.toString()
                                    : QString()));
}

} // namespace cli
