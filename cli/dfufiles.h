#pragma once
// DFU files as tavrin-dfu reads them before any device traffic.

#include "report.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace cli {

struct FileContents {
    bool ok = false;
    QByteArray bytes;
    Failure failure; // when !ok: -3, the path and the system's reason
};

FileContents readFile(const QString& path);

// The image length field (bytes 10-13, little-endian) of an image or DFU
// file; bytes past the end count as zeros.
uint32_t imageLengthField(const QByteArray& bytes);

// The check an upgrade needs before any device traffic: the engine's suffix
// and CRC check, then an image length that the file's image bytes can
// satisfy. Success, or the file-invalid failure with its code and text.
Failure checkDfuFile(const QString& path);

} // namespace cli
