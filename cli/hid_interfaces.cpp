#include "hid_interfaces.h"

#include <hidapi/hidapi.h>

namespace cli {

namespace {

QString wideText(const wchar_t* text) {
    return text ? QString::fromWCharArray(text) : QString();
}

} // namespace

QString hidSystemFailure() {
    if (hid_init() == 0)
        return {};
    const QString why = wideText(hid_error(nullptr));
    return why.isEmpty() ? QStringLiteral("reason unknown") : why;
}

QVector<HidInterface> enumerateHid() {
    QVector<HidInterface> list;
    hid_device_info* devices = hid_enumerate(0, 0);
    for (hid_device_info* d = devices; d; d = d->next) {
        list.push_back({QString::fromLocal8Bit(d->path ? d->path : ""), d->vendor_id, d->product_id,
                        d->usage_page, d->usage, wideText(d->serial_number),
                        wideText(d->manufacturer_string), wideText(d->product_string),
                        d->release_number});
    }
    hid_free_enumeration(devices);
    return list;
}

} // namespace cli
