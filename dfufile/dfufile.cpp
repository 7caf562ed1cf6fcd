#include "dfufile.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <limits>

namespace dfu {

namespace {

constexpr std::size_t kCheckChunk = 64 * 1024;

} // namespace

// zlib keeps the common CRC-32, which is the complement of this register
// before and after every step, so the register is complemented on the way in
// and out. zlib takes at most UINT_MAX bytes per call.
uint32_t Crc32::update(const void* bytes, std::size_t count) {
    const auto* p = static_cast<const Bytef*>(bytes);
    uLong common = ~m_register & 0xFFFFFFFFu;
    while (count > 0) {
        const uInt step = uInt(std::min<std::size_t>(count, std::numeric_limits<uInt>::max()));
        common = crc32(common, p, step);
        p += step;
        count -= step;
    }
    m_register = ~uint32_t(common);
    return m_register;
}

void buildBackupSuffix(uint8_t (&suffix)[kSuffixLength], Crc32& crc, uint16_t bcdDevice) {
    for (auto& b : suffix)
        b = 0;
    putLe16(suffix + kSuffixBcdDevice, bcdDevice);
    putLe16(suffix + kSuffixIdProduct, kBackupIdProduct);
    putLe16(suffix + kSuffixIdVendor, kBackupIdVendor);
    putLe16(suffix + kSuffixBcdDfu, kBcdDfu);
    for (std::size_t i = 0; i < kSuffixSignatureLength; ++i)
        suffix[kSuffixSignature + i] = kSignature[i];
    suffix[kSuffixBLength] = uint8_t(kSuffixLength);
    putLe32(suffix + kSuffixCrc, crc.update(suffix, kSuffixCrc));
}

std::vector<uint8_t> makeDfuFile(const std::vector<uint8_t>& image) {
    Crc32 crc;
    crc.update(image.data(), image.size());
    uint8_t suffix[kSuffixLength];
    buildBackupSuffix(suffix, crc);
    std::vector<uint8_t> file(image);
    file.insert(file.end(), suffix, suffix + kSuffixLength);
    return file;
}

std::vector<uint8_t> makeImage(uint32_t length, uint32_t seed) {
    const uint32_t minimum = uint32_t(kImageLengthOffset + kImageLengthSize);
    if (length < minimum)
        length = minimum;
    std::vector<uint8_t> image(length);
    uint32_t x = seed * 2654435761u + 1u;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    putLe32(image.data() + kImageLengthOffset, length);
    return image;
}

namespace {

// The suffix's own fields, for a file of size bytes; the CRC is the caller's.
CheckResult validateSuffix(const uint8_t* suffix, uint64_t size) {
    const uint8_t bLength = suffix[kSuffixBLength];
    bool signatureOk = true;
    for (std::size_t i = 0; i < kSuffixSignatureLength; ++i)
        signatureOk = signatureOk && suffix[kSuffixSignature + i] == kSignature[i];
    if (bLength < kSuffixLength || size < bLength || !signatureOk ||
        le16(suffix + kSuffixBcdDfu) != kBcdDfu)
        return {-5, "File suffix is invalid"};
    return {};
}

// The bytes before a suffix of bLength bytes: the image.
uint64_t imageBytesBefore(const uint8_t* suffix, uint64_t size) {
    const uint64_t suffixLength = std::max<uint64_t>(suffix[kSuffixBLength], kSuffixLength);
    return size > suffixLength ? size - suffixLength : 0;
}

constexpr uint64_t kImageHeader = kImageLengthOffset + kImageLengthSize;

CheckResult imageTooShort(uint64_t held) {
    return {-5, "Image is " + std::to_string(held) + " bytes long; its length field needs " +
                    std::to_string(kImageHeader)};
}

CheckResult validateImageLength(const uint8_t* field, uint64_t held) {
    const uint64_t declared = le32(field);
    if (declared == 0)
        return {-5, "Image length field says 0 bytes"};
    if (declared > held)
        return {-5, "Image length field says " + std::to_string(declared) +
                        " bytes; the file holds " + std::to_string(held)};
    return {};
}

} // namespace

CheckResult checkFileSuffix(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return {-7, "Failed to read file suffix"};
    const off_t end = ::ftello(file);
    if (end < 0)
        return {-7, "Failed to read file suffix"};
    const uint64_t size = uint64_t(end);
    if (size < kSuffixLength)
        return {-5, "File too short"};

    uint8_t suffix[kSuffixLength] = {};
    if (::fseeko(file, -off_t(kSuffixLength), SEEK_END) != 0 ||
        std::fread(suffix, 1, kSuffixLength, file) == 0)
        return {-7, "Failed to read file suffix"};
    CheckResult result = validateSuffix(suffix, size);
    if (result.code != 0)
        return result;

    // The CRC is computed piece by piece: a huge file must not be held in
    // memory just to be checked. Bytes that a short read leaves out count as
    // zeros, as they would in a zero-filled buffer of the file's size.
    std::fseek(file, 0, SEEK_SET);
    Crc32 crc;
    std::vector<uint8_t> piece(kCheckChunk);
    uint64_t left = size - kSuffixCrcLength;
    while (left > 0) {
        const std::size_t want = std::size_t(left < piece.size() ? left : piece.size());
        const std::size_t got = std::fread(piece.data(), 1, want, file);
        std::fill(piece.begin() + long(got), piece.begin() + long(want), uint8_t(0));
        crc.update(piece.data(), want);
        left -= want;
    }
    if (crc.update(nullptr, 0) != le32(suffix + kSuffixCrc))
        result.code = -6;
    std::fseek(file, 0, SEEK_SET);
    return result;
}

CheckResult checkImageLength(std::FILE* file) {
    uint8_t suffix[kSuffixLength] = {};
    if (std::fseek(file, 0, SEEK_END) != 0)
        return {-7, "Failed to read file suffix"};
    const off_t end = ::ftello(file);
    if (end < off_t(kSuffixLength) || ::fseeko(file, -off_t(kSuffixLength), SEEK_END) != 0 ||
        std::fread(suffix, 1, kSuffixLength, file) != kSuffixLength)
        return {-7, "Failed to read file suffix"};
    const uint64_t held = imageBytesBefore(suffix, uint64_t(end));
    if (held < kImageHeader)
        return imageTooShort(held);
    uint8_t field[kImageLengthSize] = {};
    if (std::fseek(file, long(kImageLengthOffset), SEEK_SET) != 0 ||
        std::fread(field, 1, sizeof field, file) != sizeof field)
        return {-7, "Failed to read the image length"};
    std::fseek(file, 0, SEEK_SET);
    return validateImageLength(field, held);
}

CheckResult checkBytes(const std::vector<uint8_t>& bytes) {
    const uint64_t size = bytes.size();
    if (CheckResult tooLarge = checkFileSize(size); tooLarge.code != 0)
        return tooLarge;
    if (size < kSuffixLength)
        return {-5, "File too short"};
    const uint8_t* suffix = bytes.data() + size - kSuffixLength;
    CheckResult result = validateSuffix(suffix, size);
    if (result.code != 0)
        return result;
    Crc32 crc;
    if (crc.update(bytes.data(), std::size_t(size - kSuffixCrcLength)) != le32(suffix + kSuffixCrc))
        return {-6, ""};
    const uint64_t held = imageBytesBefore(suffix, size);
    if (held < kImageHeader)
        return imageTooShort(held);
    return validateImageLength(bytes.data() + kImageLengthOffset, held);
}

CheckResult checkFileSize(uint64_t size, uint64_t limit) {
    if (size > limit)
        return {-5, "File is " + std::to_string(size) + " bytes; at most " + std::to_string(limit) +
                        " bytes are accepted"};
    return {};
}

CheckResult readWholeFile(std::FILE* file, uint64_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (std::fseek(file, 0, SEEK_END) != 0)
        return {-7, ""};
    const off_t end = ::ftello(file);
    if (end < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return {-7, ""};
    const uint64_t size = uint64_t(end);
    if (CheckResult tooLarge = checkFileSize(size, limit); tooLarge.code != 0)
        return tooLarge;
    bytes.resize(std::size_t(size));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    if (std::ferror(file))
        return {-7, ""};
    if (got != bytes.size())
        return {-7, "File read failed: read " + std::to_string(got) + " of " +
                        std::to_string(size) + " bytes"};
    // A byte past the size seen means the file grew while it was read, and
    // what was read may mix two versions of it.
    uint8_t extra = 0;
    if (std::fread(&extra, 1, 1, file) != 0)
        return {-7, "File read failed: it grew past " + std::to_string(size) +
                        " bytes while it was read"};
    return {};
}

std::string versionText(uint16_t bcd) {
    const auto digit = [bcd](int shift) { return std::to_string((bcd >> shift) & 0xF); };
    const std::string major = (bcd >> 12) ? digit(12) + digit(8) : digit(8);
    return major + "." + digit(4) + "." + digit(0);
}

bool isBcd(uint16_t bcd) {
    for (int shift = 0; shift < 16; shift += 4)
        if (((bcd >> shift) & 0xF) > 9)
            return false;
    return true;
}

bool suffixStatesVersion(uint16_t bcd) {
    return bcd != 0xFFFF && bcd != kBackupBcdDevice && isBcd(bcd);
}

bool deviceStatesVersion(uint16_t bcd) {
    return bcd != 0 && isBcd(bcd);
}

uint16_t suffixBcdDevice(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < kSuffixLength)
        return 0xFFFF;
    return le16(bytes.data() + bytes.size() - kSuffixLength + kSuffixBcdDevice);
}

CheckResult checkFile(std::FILE* file) {
    // What an upgrade refuses before it reads a byte, a check refuses too.
    if (std::fseek(file, 0, SEEK_END) != 0)
        return {-7, "Failed to read file suffix"};
    const off_t end = ::ftello(file);
    std::fseek(file, 0, SEEK_SET);
    if (end < 0)
        return {-7, "Failed to read file suffix"};
    CheckResult result = checkFileSize(uint64_t(end));
    if (result.code == 0)
        result = checkFileSuffix(file);
    if (result.code == 0)
        result = checkImageLength(file);
    return result;
}

} // namespace dfu
