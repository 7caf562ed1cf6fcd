#include "firmware_files.h"

#include "arguments.h"
#include "dfufile.h"
#include "files.h"
#include "hiddfu.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace cli {

namespace {

constexpr std::size_t kPiece = 64 * 1024;
// Beyond this a file is no test image anyone generated, and is not compared.
constexpr uint32_t kLargestTestImage = 64 * 1024 * 1024;

} // namespace

File openFile(const QString& path, Failure& failure) {
    std::string reason;
    File file(platform::openRegularFile(nativeName(path).constData(), reason));
    if (!file)
        failure = {FileInvalid, HidDfuResult::FailedToOpenFile,
                   QStringLiteral("Failed to open file \"%1\"").arg(shownName(path)),
                   QString::fromLocal8Bit(reason.c_str())};
    return file;
}

namespace {
Failure invalid(const dfu::CheckResult& result) {
    return {FileInvalid, result.code,
            result.message.empty() ? codeText(result.code) : QString::fromStdString(result.message),
            QString()};
}
} // namespace

Failure readImage(std::FILE* file, std::vector<uint8_t>& bytes) {
    const dfu::CheckResult result = dfu::readWholeFile(file, dfu::kMaxFileBytes, bytes);
    return result.code != 0 ? invalid(result) : Failure{};
}

// By seeking, so that a file over bytes in memory, which has no descriptor,
// has its size too.
qint64 fileSize(std::FILE* file) {
    const off_t at = ::ftello(file);
    const off_t end = ::fseeko(file, 0, SEEK_END) == 0 ? ::ftello(file) : -1;
    if (at >= 0)
        ::fseeko(file, at, SEEK_SET);
    return end > 0 ? qint64(end) : 0;
}

bool readAt(std::FILE* file, qint64 offset, void* bytes, std::size_t count) {
    return ::fseeko(file, off_t(offset), SEEK_SET) == 0 &&
           std::fread(bytes, 1, count, file) == count;
}

uint32_t imageLengthField(std::FILE* file) {
    uint8_t field[dfu::kImageLengthSize] = {};
    if (::fseeko(file, off_t(dfu::kImageLengthOffset), SEEK_SET) == 0)
        std::fread(field, 1, sizeof field, file);
    return dfu::le32(field);
}

uint32_t crcOf(std::FILE* file, qint64 count) {
    dfu::Crc32 crc;
    std::vector<uint8_t> piece(kPiece);
    std::rewind(file);
    for (qint64 left = count; left > 0;) {
        const std::size_t want = std::size_t(std::min<qint64>(left, qint64(piece.size())));
        const std::size_t got = std::fread(piece.data(), 1, want, file);
        std::fill(piece.begin() + long(got), piece.begin() + long(want), uint8_t(0));
        crc.update(piece.data(), want);
        left -= qint64(want);
    }
    return crc.update(nullptr, 0);
}

Failure checkDfuFile(std::FILE* file) {
    // The same check an upgrade makes before any device traffic.
    const dfu::CheckResult result = dfu::checkFile(file);
    return result.code != 0 ? invalid(result) : Failure{};
}

QString foreignIds(std::FILE* file) {
    uint8_t suffix[dfu::kSuffixLength] = {};
    const qint64 size = fileSize(file);
    if (size < qint64(sizeof suffix) ||
        !readAt(file, size - qint64(sizeof suffix), suffix, sizeof suffix))
        return {};
    const uint16_t vendor = dfu::le16(suffix + dfu::kSuffixIdVendor);
    const uint16_t product = dfu::le16(suffix + dfu::kSuffixIdProduct);
    if ((vendor == kVendorId || vendor == kAnyId) && (product == kProductId || product == kAnyId))
        return {};
    return QStringLiteral("idVendor 0x%1, idProduct 0x%2")
        .arg(vendor, 4, 16, QLatin1Char('0'))
        .arg(product, 4, 16, QLatin1Char('0'));
}

bool isTestImage(std::FILE* file) {
    const uint32_t length = imageLengthField(file);
    if (length > kLargestTestImage)
        return false;
    const std::vector<uint8_t> generated = dfu::makeImage(length);
    std::vector<uint8_t> image(generated.size());
    return readAt(file, 0, image.data(), image.size()) && image == generated;
}

QJsonValue fileVersion(std::FILE* file, uint16_t* bcd) {
    uint8_t suffix[dfu::kSuffixLength] = {};
    const qint64 size = fileSize(file);
    const bool read = size >= qint64(sizeof suffix) &&
                      readAt(file, size - qint64(sizeof suffix), suffix, sizeof suffix);
    const uint16_t value = read ? dfu::le16(suffix + dfu::kSuffixBcdDevice) : uint16_t(0xFFFF);
    if (bcd)
        *bcd = value;
    return suffixVersion(value);
}

QJsonValue suffixVersion(uint16_t bcd) {
    if (!dfu::suffixStatesVersion(bcd))
        return QJsonValue::Null;
    return QString::fromStdString(dfu::versionText(bcd));
}

QJsonValue deviceVersion(uint16_t releaseNumber) {
    if (!dfu::deviceStatesVersion(releaseNumber))
        return QJsonValue::Null;
    return QString::fromStdString(dfu::versionText(releaseNumber));
}

QString versionShown(const QJsonValue& version) {
    return version.isString() ? version.toString() : QStringLiteral("not stated");
}

Failure refuseExisting(const QString& out, const QString& image) {
    if (!platform::regularFile(nativeName(out).toStdString()))
        return {};
    const bool itself = !image.isEmpty() && platform::sameFile(nativeName(image).toStdString(),
                                                               nativeName(out).toStdString());
    return {
        FileInvalid, HidDfuResult::FailedToWriteFile,
        QStringLiteral("File \"%1\" exists%2")
            .arg(shownName(out), itself ? QStringLiteral(" and is the image itself") : QString()),
        QStringLiteral("refused; --force replaces it")};
}

Failure writeDfuFile(const QString& out, std::FILE* image, uint16_t bcdDevice, uint32_t& crc,
                     qint64& imageBytes) {
    std::string reason;
    const std::string target = platform::resolveWriteTarget(nativeName(out).toStdString(), reason);
    if (target.empty())
        return {FileInvalid, HidDfuResult::FailedToOpenFile,
                QStringLiteral("Failed to open file \"%1\"").arg(shownName(out)),
                QString::fromLocal8Bit(reason.c_str())};
    // Written beside the file it replaces and renamed over it: never a half
    // file, and never a file the upgrade would refuse.
    dfu::ReplacementFile file;
    const auto failed = [&](const QString& reason) {
        file.discard();
        return Failure{FileInvalid, HidDfuResult::FailedToWriteFile,
                       codeText(HidDfuResult::FailedToWriteFile),
                       QStringLiteral("%1: %2").arg(shownName(out), reason)};
    };
    if (!file.create(target))
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    dfu::Crc32 crcRegister;
    std::vector<uint8_t> piece(kPiece);
    imageBytes = 0;
    std::rewind(image);
    bool written = true;
    for (std::size_t got;
         written && (got = std::fread(piece.data(), 1, piece.size(), image)) > 0;) {
        crcRegister.update(piece.data(), got);
        written = std::fwrite(piece.data(), 1, got, file.file()) == got;
        imageBytes += qint64(got);
    }
    uint8_t suffix[dfu::kSuffixLength];
    dfu::buildBackupSuffix(suffix, crcRegister, bcdDevice);
    if (std::ferror(image)) {
        file.discard();
        return {FileInvalid, HidDfuResult::FileReadFailed, codeText(HidDfuResult::FileReadFailed),
                QString()};
    }
    written = written && std::fwrite(suffix, 1, sizeof suffix, file.file()) == sizeof suffix &&
              std::fflush(file.file()) == 0;
    if (!written)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    const Failure check = checkDfuFile(file.file());
    if (check.status != Success) {
        file.discard();
        return check;
    }
    reason.clear();
    if (!file.commit(reason))
        return failed(QString::fromLocal8Bit(reason.c_str()));
    crc = dfu::le32(suffix + dfu::kSuffixCrc);
    return {};
}

} // namespace cli
