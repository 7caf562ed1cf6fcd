#pragma once
// What tst_kernel asks of the guest beside the engine: its HID interfaces as
// hidapi-hidraw, sysfs and udev show them, the engine's operations run to
// their end, and the warnings the engine logs.

#include "devicetraffic.h"
#include "dfufile.h"
#include "enginecalls.h"
#include "hiddfu.h"
#include "logcapture.h"
#include "uhiddevice.h"
#include "usbgadget.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <hidapi/hidapi.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kerneltest {

// Generous: the guest runs on an emulated processor.
constexpr int kOperationMs = 60000;

// How the guest's devices reach the kernel: through uhid, or with this
// variable set to "usb" as USB devices on dummy_hcd (guest-run.sh --usb).
inline bool onUsb() {
    return qgetenv("TAVRIN_KERNEL_TEST_ROUTE") == "usb";
}

// A host-to-device report the device fails, as the device saw it: uhid hands
// it the whole report; on USB it refuses the report at the setup stage,
// before the data moves (DeviceModel::admitFeatureReport), and sees the ID.
inline traffic::Entry refused(const traffic::Entry& report) {
    if (!onUsb())
        return report;
    return {report.direction, traffic::Bytes(report.bytes.begin(), report.bytes.begin() + 1)};
}

inline std::unique_ptr<sim::Attachment> keyboardAttachment() {
    if (onUsb())
        return std::make_unique<usbgadget::Gadget>(usbgadget::keyboardIdentity(),
                                                   usbgadget::kKeyboardController);
    return std::make_unique<uhid::Device>(uhid::keyboardIdentity());
}

inline std::unique_ptr<sim::Attachment> accessoryAttachment(sim::DeviceModel& model) {
    if (onUsb())
        return std::make_unique<usbgadget::Gadget>(usbgadget::accessoryIdentity(model),
                                                   usbgadget::kAccessoryController, &model);
    return std::make_unique<uhid::Device>(uhid::accessoryIdentity(model), &model);
}

struct Listed {
    std::string path;
    uint16_t vendorId;
    uint16_t productId;
    uint16_t usagePage;
    std::wstring manufacturer;
    std::wstring product;
    std::wstring serialNumber;
};

inline std::wstring wide(const wchar_t* text) {
    return text ? std::wstring(text) : std::wstring();
}

inline std::vector<Listed> listHidInterfaces() {
    std::vector<Listed> list;
    hid_device_info* devices = hid_enumerate(0, 0);
    for (hid_device_info* d = devices; d; d = d->next)
        list.push_back({d->path ? d->path : "", d->vendor_id, d->product_id, d->usage_page,
                        wide(d->manufacturer_string), wide(d->product_string),
                        wide(d->serial_number)});
    hid_free_enumeration(devices);
    return list;
}

inline std::string accessoryPath() {
    for (const Listed& l : listHidInterfaces()) {
        if (l.vendorId == kHidDfuVendorId && l.productId == kHidDfuProductId)
            return l.path;
    }
    return {};
}

// The kernel's name of the HID device behind a hidraw node, e.g.
// "0003:0A12:FFFE.0002"; a new one for every device the kernel creates.
inline QString kernelDeviceOf(const std::string& nodePath) {
    const QString node = QFileInfo(QString::fromStdString(nodePath)).fileName();
    return QFileInfo(QStringLiteral("/sys/class/hidraw/%1/device").arg(node))
        .canonicalFilePath()
        .section('/', -1);
}

// The tags udev recorded for a device node, ":uaccess:" style; empty when it
// recorded none. Waits for udev to finish the events queued so far.
inline QString udevTags(const std::string& node) {
    QProcess::execute(QStringLiteral("udevadm"), {QStringLiteral("settle")});
    QProcess info;
    info.start(QStringLiteral("udevadm"),
               {QStringLiteral("info"), QStringLiteral("--query=property"),
                QStringLiteral("--name=") + QString::fromStdString(node)});
    info.waitForFinished();
    return QRegularExpression(QStringLiteral("^TAGS=(.*)$"), QRegularExpression::MultilineOption)
        .match(QString::fromUtf8(info.readAllStandardOutput()))
        .captured(1);
}

// The operation's result; -14 (busy) when it did not end in time.
inline int32 runUpgrade(const QString& path) {
    const int32 started = hidDfuUpgrade(QFile::encodeName(path).constData());
    if (started != 0)
        return started;
    return enginecalls::waitUntilIdle(kOperationMs) ? hidDfuGetResult() : -14;
}

inline int32 runBackup(const QString& path) {
    const int32 started = hidDfuBackup(QFile::encodeName(path).constData());
    if (started != 0)
        return started;
    return enginecalls::waitUntilIdle(kOperationMs) ? hidDfuGetResult() : -14;
}

inline void verifyFileSuffix(const QString& path) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    QVERIFY(f);
    const dfu::CheckResult check = dfu::checkFileSuffix(f);
    std::fclose(f);
    QVERIFY2(check.code == 0, check.message.c_str());
}

inline QStringList warnings(const LogCapture& log) {
    QStringList texts;
    for (const LogLine& line : log.lines([](const LogLine& l) { return l.type == QtWarningMsg; }))
        texts << line.text;
    return texts;
}

} // namespace kerneltest
