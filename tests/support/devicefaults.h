#pragma once
// Faults of the accessory that both the in-process engine tests and the
// kernel test arm, with the code and text the engine must end with: written
// once here, so that the two attachments of the model are held to the same
// words. Each test names its row and adds what it can observe (a report
// count, the whole traffic).

#include "simdevicemodel.h"

#include <QMetaType>
#include <QString>

#include <functional>
#include <optional>

// Done to the device once it is plugged in: arms a fault, or prepares it.
using Setup = std::function<void(sim::DeviceModel&)>;
Q_DECLARE_METATYPE(Setup)

namespace devicefaults {

struct Fault {
    Setup setup;
    int code;
    QString text;
};

inline Fault statusThree() {
    return {[](sim::DeviceModel& d) { d.overrideStatus(3, std::nullopt); }, -8,
            QStringLiteral("Upgrade failed (DFU status code = 3)")};
}

// Busy past the one wait the engine grants.
inline Fault busyTwice() {
    return {[](sim::DeviceModel& d) { d.answerBusy(2); }, -8,
            QStringLiteral("Upgrade failed (DFU status code = 0)")};
}

inline Fault statusReadFails() {
    return {[](sim::DeviceModel& d) { d.failReport(sim::Direction::DeviceToHost, 2); }, -12,
            QStringLiteral("Failed to get feature information (GetStatus)")};
}

// nth counts the ID 1 reports from the first block on; the engine tells a
// data block from the end of the download, so the two have rows of their own.
inline Fault dataReportFails(int nth) {
    return {[nth](sim::DeviceModel& d) { d.failReport(sim::Direction::HostToDevice, 1, nth); }, -12,
            QStringLiteral("Failed to write to device")};
}

inline Fault endOfDownloadFails(int nth) {
    return {[nth](sim::DeviceModel& d) { d.failReport(sim::Direction::HostToDevice, 1, nth); }, -12,
            QStringLiteral("Write to device failed attempting to complete upgrade")};
}

inline Fault backupLengthZero() {
    return {[](sim::DeviceModel& d) { d.setBackupFault(sim::BackupFault::ZeroLength); }, -20,
            QStringLiteral("Device reports DFU length of zero")};
}

} // namespace devicefaults
