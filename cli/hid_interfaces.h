#pragma once
// The HID interfaces on the bus, as hidapi enumerates them.

#include "firmware_files.h"

#include <QString>
#include <QVector>

#include <cstdint>

namespace cli {

struct HidInterface {
    QString path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    QString serialNumber;
    QString manufacturer;
    QString product;
    // The USB release number (BCD): the firmware version; 0 states none.
    uint16_t releaseNumber = 0;

    bool isAccessory() const { return vendorId == kVendorId && productId == kProductId; }
};

QVector<HidInterface> enumerateHid();
// Why the system's HID layer could not start (hid_init failed: on Windows a
// system too old or too limited for it), empty when it runs. Enumerating
// then finds nothing, which must not read as "nothing attached".
QString hidSystemFailure();

} // namespace cli
