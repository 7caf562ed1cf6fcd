#pragma once
// What the engine's test programs share: the process's one engine, driven
// through its call interface against the simulated accessory, with the
// test's worker clock linked in place of the engine's (workerclock.h), and
// the fault matrix, whose upgrade and backup halves run in the programs of
// those procedures.

#include "asyncworker.h"
#include "devicefaults.h"
#include "devicetraffic.h"
#include "dfufile.h"
#include "enginecalls.h"
#include "hiddfu.h"
#include "simbus.h"
#include "testfolder.h"
#include "workerclock.h"

#include <QFile>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTest>
#include <QThread>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstdint>
#include <string>

Q_DECLARE_METATYPE(traffic::Bytes)

namespace enginetest {

using enginecalls::connectAccessory;
using traffic::Bytes;

constexpr uint16_t kVendor = kHidDfuVendorId;
constexpr uint16_t kProduct = kHidDfuProductId;

// A run on the simulated accessory ends well within the default; the
// timeout only keeps a hung worker from hanging the program.
inline bool waitUntilIdle(int timeoutMs = 20000) {
    return enginecalls::waitUntilIdle(timeoutMs);
}

inline std::string lastError() {
    return hidDfuGetLastError();
}

// Every test function starts with an empty bus; this leaves the engine idle
// and disconnected and the worker's waits real again for the next one.
inline void finishTest() {
    QVERIFY(waitUntilIdle());
    skipWorkerWaits(false);
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

// Each engine test program's set-up, once: a folder for the files it writes,
// an empty bus before every test function, and finishTest after it.
class EngineTest : public QObject, protected TestFolder {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() { sim::Bus::reset(); }
    void cleanup() { finishTest(); }
};

// An image whose length field says declared, whatever its real size.
inline Bytes imageDeclaring(uint32_t realSize, uint32_t declared, uint32_t seed = 5) {
    Bytes image = dfu::makeImage(std::max<uint32_t>(realSize, 14), seed);
    image.resize(realSize < 14 ? 14 : realSize);
    dfu::putLe32(image.data() + dfu::kImageLengthOffset, declared);
    return image;
}

// The worker itself, on a thread of its own, so that every value it reports
// can be seen: an upgrade from the file at path, or a backup into it, of a
// device that holds image.
inline void compareWorkerProgress(const Bytes& image, bool backup, const QString& path,
                                  const QList<int>& progress) {
    sim::AccessoryConfig config;
    config.storedImage = image;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    hid_device* handle = hid_open_path(sim::Bus::pathOf(device).c_str());
    QVERIFY(handle);

    QThread thread;
    auto* worker = new AsyncWorker(handle, QFile::encodeName(path).toStdString(), 64);
    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QList<int> seen;
    int exit = 1;
    QObject::connect(
        worker, &AsyncWorker::progressChanged, worker, [&](uint8 p) { seen.append(p); },
        Qt::DirectConnection);
    QObject::connect(
        worker, &AsyncWorker::exitCode, worker, [&](int32 c) { exit = c; }, Qt::DirectConnection);
    thread.start();
    if (backup)
        QMetaObject::invokeMethod(worker, &AsyncWorker::DoBackup, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(worker, &AsyncWorker::DoUpgrade, Qt::QueuedConnection);
    QVERIFY(thread.wait(20000));
    hid_close(handle);

    QCOMPARE(exit, 0);
    QCOMPARE(seen, progress);
}

// The fault matrix: an upgrade of three blocks and a backup of three replies,
// each report position with each fault that can hit a report of its kind.
enum MatrixFault {
    Fails,
    StopsAnswering,
    Busy,
    BadStatus,
    BadState,
    ShortReply,
    EmptyReply,
    OverlongReply
};
inline const char* const kFaultNames[] = {"fails",       "stops answering", "busy",
                                          "bad status",  "bad state",       "short reply",
                                          "empty reply", "overlong reply"};
// A short status reply carries the report ID alone; a short backup reply
// its header and part of its data.
constexpr std::size_t kShortStatus = 1, kShortBackup = 30;
constexpr uint32_t kMatrixImage = 150; // 58 + 58 + 34 at L 64

// Injects fault at the report `position` (1-based) of traffic.
inline void injectFault(sim::DeviceModel& device, const traffic::Traffic& traffic, int position,
                        int fault) {
    const traffic::Entry& at = traffic[std::size_t(position - 1)];
    int ofKind = 0, statusReads = 0;
    for (int i = 0; i < position; ++i) {
        const traffic::Entry& e = traffic[std::size_t(i)];
        ofKind += e.direction == at.direction && e.bytes[0] == at.bytes[0];
        statusReads += e.bytes[0] == 2;
    }
    switch (fault) {
    case Fails:
        return device.failReport(at.direction, at.bytes[0], ofKind);
    case StopsAnswering:
        return device.unplugAtReport(position);
    case Busy:
        return device.overrideStatus(0, traffic::kDnBusy, statusReads);
    case BadStatus:
        return device.overrideStatus(3, {}, statusReads);
    case BadState:
        return device.overrideStatus({}, traffic::kDfuError, statusReads);
    case ShortReply:
        return device.shortenReply(at.bytes[0], at.bytes[0] == 2 ? kShortStatus : kShortBackup,
                                   ofKind);
    case EmptyReply:
        return device.setBackupFault(sim::BackupFault::ZeroLength, position);
    case OverlongReply:
        return device.setBackupFault(sim::BackupFault::OverlongLength, position);
    }
}

// The image the matrix's device holds and its upgrade sends.
inline Bytes matrixImage() {
    return dfu::makeImage(kMatrixImage, 3);
}

// What the backup file at path holds before a case of the backup half.
inline Bytes previousBackup() {
    return dfu::makeDfuFile(dfu::makeImage(77, 1));
}

// Every case ends with its code and text in bounded time, sends nothing
// after the failing report, leaves the engine idle and able to connect again,
// and a failed backup leaves the previous one as it was. path holds the
// upgrade's file (matrixImage) or the previous backup.
inline void runFaultCase(bool backup, const QString& path, int position, int fault, int code,
                         const QString& text) {
    const Bytes image = matrixImage();
    sim::AccessoryConfig config;
    config.storedImage = image;
    config.busyMs = 0;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    // Only the kind of each report matters to the injection.
    const traffic::Traffic healthy =
        backup ? traffic::Traffic(3, traffic::Entry{sim::Direction::DeviceToHost, {1}})
               : traffic::healthyUpgrade(64, dfu::makeDfuFile(image), 0);
    QCOMPARE(connectAccessory(), 0);
    injectFault(device, healthy, position, fault);

    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(backup ? hidDfuBackup(name.constData()) : hidDfuUpgrade(name.constData()), 0);
    QVERIFY(waitUntilIdle(10000));
    QCOMPARE(hidDfuGetResult(), code);
    QCOMPARE(QString::fromStdString(lastError()), text);
    const traffic::Traffic t = traffic::recorded(device);
    // dfuERROR at the first status read is cleared once and read again.
    const int failing = !backup && position == 1 && fault == BadState ? 3 : position;
    QVERIFY(int(t.size()) >= failing);
    for (std::size_t i = std::size_t(failing); i < t.size(); ++i)
        QVERIFY2(t[i].direction == sim::Direction::DeviceToHost, qPrintable(traffic::describe(t)));
    if (backup) {
        QCOMPARE(TestFolder::readFile(path), previousBackup());
        QVERIFY(!QFile::exists(path + ".partial"));
    }
    QCOMPARE(hidDfuDisconnect(), 0);
    if (!device.present())
        sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
}

} // namespace enginetest
