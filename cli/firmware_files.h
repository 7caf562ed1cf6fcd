#pragma once
// DFU files as tavrin-dfu reads them before any device traffic, and as it
// writes them.

#include "hiddfu.h"
#include "report.h"

#include <QJsonValue>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace cli {

// The accessory's USB IDs, as the engine's contract names them; 0xFFFF in a
// suffix field stands for any.
constexpr uint16_t kVendorId = kHidDfuVendorId;
constexpr uint16_t kProductId = kHidDfuProductId;
constexpr uint16_t kAnyId = 0xFFFF;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file to read as the engine does: a regular file only, so that a
// FIFO cannot block and a device cannot be read for ever. Null with the
// file-invalid failure (-3, the path and the reason) otherwise.
File openFile(const QString& path, Failure& failure);

// Reads the whole of an open file into bytes, refusing one larger than any
// firmware file (-5) or that changed while it was read (-7), as an upgrade
// does. Success, or the file-invalid failure with its code and text.
Failure readImage(std::FILE* file, std::vector<uint8_t>& bytes);

// The size of an open file, 64-bit: a file of 2 GiB or more is no exception.
qint64 fileSize(std::FILE* file);

// The image length field (bytes 10-13, little-endian) of an image or DFU
// file; bytes past the end count as zeros.
uint32_t imageLengthField(std::FILE* file);

// Reads count bytes at offset; false when the file holds fewer.
bool readAt(std::FILE* file, qint64 offset, void* bytes, std::size_t count);

// The suffix CRC register over the first count bytes, read piece by piece;
// bytes a short read leaves out count as zeros, as in the engine's check.
uint32_t crcOf(std::FILE* file, qint64 count);

// The check an upgrade needs before any device traffic: the engine's suffix
// and CRC check, then an image length that the file's image bytes can
// satisfy. Success, or the file-invalid failure with its code and text.
Failure checkDfuFile(std::FILE* file);

// "idVendor 0x1234, idProduct 0x5678" when the suffix of a checked file names
// another vendor or product than the accessory's; empty when it names this
// one. The engine ignores these fields (the wizard ships its own file), but a
// file handed to the flasher may be meant for another device.
QString foreignIds(std::FILE* file);

// Whether the file's image is byte for byte the generated test image of
// `pack --test-image`: such a file flashes a pattern, not firmware, and a
// station must not mistake it for a release.
bool isTestImage(std::FILE* file);

// The file's version ("2.4.0"), null when the suffix's bcdDevice states
// none (any, or a backup's) or there is no suffix; in bcd the bcdDevice.
QJsonValue fileVersion(std::FILE* file, uint16_t* bcd = nullptr);
// The version a suffix's bcdDevice states, null when it states none.
QJsonValue suffixVersion(uint16_t bcd);
// The accessory's version from its USB release number; null for 0 and for
// a number that is not BCD.
QJsonValue deviceVersion(uint16_t releaseNumber);
// For people: the version, or "not stated".
QString versionShown(const QJsonValue& version);

// The file-invalid failure when out names an existing regular file (through
// links): what a command that writes out says unless --force. The same file
// as image (its path) is named as such.
Failure refuseExisting(const QString& out, const QString& image = QString());

// Writes image (all of it, from its start) and this product's suffix, with
// bcdDevice, as a DFU file to out: into a new file beside the file out names,
// which replaces it only once written, synced and passed by checkDfuFile. A
// link is followed to the file it names; a target that is not a regular file
// is refused. Gives the CRC and the image's length.
Failure writeDfuFile(const QString& out, std::FILE* image, uint16_t bcdDevice, uint32_t& crc,
                     qint64& imageBytes);

} // namespace cli
