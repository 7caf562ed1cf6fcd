#include "arguments.h"
#include "chiddfuerrorstate.h"
#include "commands.h"
#include "dfufile.h"
#include "dfufiles.h"
#include "output.h"
#include "system.h"

#include <cstdio>
#include <vector>

namespace cli {

namespace {
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
        image.reset(system::openBytes(generated));
        if (!image)
            return run.fail({FileInvalid, CHidDfuErrorState::OutOfMemory,
                             codeText(CHidDfuErrorState::OutOfMemory), QString()});
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
                {FileInvalid, CHidDfuErrorState::InvalidFileFormat,
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
    const Failure failure = writeDfuFile(outPath, image.get(), crc, imageBytes);
    if (failure.status != Success)
        return run.fail(failure);
    run.setFile(outPath);
    run.facts.insert(QStringLiteral("size"), imageBytes + qint64(dfu::kSuffixLength));
    run.facts.insert(QStringLiteral("imageBytes"), imageBytes);
    run.facts.insert(QStringLiteral("crc"), qint64(crc));
    return run.succeed(QStringLiteral("Packed %1 image bytes into %2 (CRC %3)")
                           .arg(imageBytes)
                           .arg(shownName(outPath), hex(crc, 8)));
}

} // namespace cli
