#pragma once
// The DFU file: a firmware image followed by the 16-byte USB DFU 1.1 suffix,
// whose last field is a CRC over every byte of the file before it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dfu {

// Suffix fields, as offsets from the first suffix byte (file size - 16).
constexpr std::size_t kSuffixLength = 16;
constexpr std::size_t kSuffixBcdDevice = 0;
constexpr std::size_t kSuffixIdProduct = 2;
constexpr std::size_t kSuffixIdVendor = 4;
constexpr std::size_t kSuffixBcdDfu = 6;
constexpr std::size_t kSuffixSignature = 8;
constexpr std::size_t kSuffixSignatureLength = 3;
constexpr std::size_t kSuffixBLength = 11;
constexpr std::size_t kSuffixCrc = 12;
constexpr std::size_t kSuffixCrcLength = 4;

constexpr uint16_t kBcdDfu = 0x0100;
constexpr uint8_t kSignature[kSuffixSignatureLength] = {'U', 'F', 'D'};

// The largest firmware file anything here accepts (-5 above it): an
// accessory of this kind holds a few MiB, and an upgrade holds the whole file
// in memory while it sends it.
constexpr uint64_t kMaxFileBytes = 16u << 20;

// The image carries its own length, little-endian, at these bytes.
constexpr std::size_t kImageLengthOffset = 10;
constexpr std::size_t kImageLengthSize = 4;

// Fixed identity written into every backup suffix, whatever device was read.
constexpr uint16_t kBackupBcdDevice = 0x0001;
constexpr uint16_t kBackupIdProduct = 0xFFFE;
constexpr uint16_t kBackupIdVendor = 0x0A12;

// The CRC register of DFU suffixes: the reflected CRC-32 polynomial, preset to
// 0xFFFFFFFF by the caller and never inverted at the end, so its value is the
// bitwise complement of the common CRC-32 of the same bytes.
class Crc32 {
public:
    void set(uint32_t value) { m_register = value; }
    // Returns the register after the update; count 0 just reads it.
    uint32_t update(const void* bytes, std::size_t count);

private:
    uint32_t m_register = 0xFFFFFFFFu;
};

inline void putLe16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}
inline void putLe32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(v >> (8 * i));
}
inline uint16_t le16(const uint8_t* at) {
    return uint16_t(at[0] | (at[1] << 8));
}
inline uint32_t le32(const uint8_t* at) {
    return uint32_t(at[0]) | (uint32_t(at[1]) << 8) | (uint32_t(at[2]) << 16) |
           (uint32_t(at[3]) << 24);
}

// Fills suffix with the fixed backup identity and the CRC. crc must hold the
// register over every byte that precedes the suffix in the file; it is
// advanced over the suffix's first 12 bytes. A packed release states its
// version in bcdDevice instead of the backup's.
void buildBackupSuffix(uint8_t (&suffix)[kSuffixLength], Crc32& crc,
                       uint16_t bcdDevice = kBackupBcdDevice);

// A whole DFU file for image, with the backup identity in its suffix.
std::vector<uint8_t> makeDfuFile(const std::vector<uint8_t>& image);

// An image of the given length whose bytes 10 to 13 carry that length and
// whose other bytes follow a pattern derived from seed. Lengths below 14 are
// raised to 14 so that the length field fits.
std::vector<uint8_t> makeImage(uint32_t length, uint32_t seed = 1);

struct CheckResult {
    int32_t code = 0;    // 0, -5, -6 or -7
    std::string message; // empty: the code's table text applies
};

// Checks the suffix and CRC of an open file. Reads the file in fixed-size
// pieces, so memory use does not depend on the file's size. On every path that
// reaches the CRC step the file is left at offset 0.
CheckResult checkFileSuffix(std::FILE* file);

// Checks that the image of a file whose suffix has passed checkFileSuffix can
// be what its length field says: the image (the bytes before the suffix of
// bLength bytes) holds at least the 14 bytes up to and including the field,
// the field is not 0 and does not exceed the image. An upgrade sends exactly
// the first N bytes, so a larger N would send suffix bytes and zeros as
// firmware. Code -5 with a text naming the numbers; the file is left at 0.
CheckResult checkImageLength(std::FILE* file);

// checkFileSize, checkFileSuffix, then checkImageLength: everything an
// upgrade needs to know before any device traffic.
CheckResult checkFile(std::FILE* file);

// The same checks as checkFile, of a whole file held in memory: what passes
// is exactly what a caller that keeps these bytes will send.
CheckResult checkBytes(const std::vector<uint8_t>& bytes);

// -5 with the text every check gives for a file of size bytes above limit;
// success otherwise.
CheckResult checkFileSize(uint64_t size, uint64_t limit = kMaxFileBytes);

// Reads the whole of an open file into bytes. -5 naming the bound for a file
// larger than limit (nothing is read), -7 for a read error or a size that
// changed while reading; the text names the numbers where there are any.
CheckResult readWholeFile(std::FILE* file, uint64_t limit, std::vector<uint8_t>& bytes);

// Release numbers (a suffix's bcdDevice, a USB device's bcdDevice) are BCD:
// 0xJJMN reads "J.M.N", JJ two digits.
std::string versionText(uint16_t bcd);
// Whether every nibble of a release number is a decimal digit. One that is
// not (0x02A0) states no version: read as BCD it would show "2.10.0" and
// compare as newer than 2.3.0.
bool isBcd(uint16_t bcd);
// Whether a suffix's bcdDevice says which firmware the file holds: 0xFFFF
// means "any", 0x0001 is what every backup carries, whatever it holds, and a
// value that is not BCD says nothing.
bool suffixStatesVersion(uint16_t bcd);
// Whether a USB device's release number says which firmware it runs: 0 and
// values that are not BCD do not.
bool deviceStatesVersion(uint16_t bcd);
// The bcdDevice of a whole file's suffix; 0xFFFF for a file too short for one.
uint16_t suffixBcdDevice(const std::vector<uint8_t>& bytes);

// A file written beside the one it replaces and put in its place only once
// complete, so that a failed write never destroys the previous file. Its
// name is the target's with ".partial-" and a unique ending, made with an
// exclusive create that follows no link: whatever already stands at such a
// name (a link to another file, a FIFO, another writer's file) is never
// opened. What is not committed is removed; the backup and pack both write
// through this.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile() { discard(); }

    // Creates the new, empty file beside target (a name resolveWriteTarget
    // gave), open for reading and writing. False with errno set.
    bool create(const std::string& target);
    std::FILE* file() const { return m_file; }
    // Flushes the file, has its bytes on the disk, gives it the permissions
    // of the file it replaces (a new file's when there is none), closes it
    // and renames it over the target in one step. False with the system's
    // reason in error; the new file is then gone and the target untouched.
    bool commit(std::string& error);
    // Closes and removes the new file; the target stays as it was.
    void discard();

private:
    std::FILE* m_file = nullptr;
    std::string m_target;
    std::string m_temporary;
};

} // namespace dfu
