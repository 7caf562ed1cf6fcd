// The engine while its worker runs and after it ends: the calls it refuses
// meanwhile, operations in a row, progress, result and text as another
// thread sees them, and an engine destroyed mid-transfer.

#include "chiddfuengine.h"
#include "enginetest.h"

#include <QStringList>

#include <atomic>
#include <thread>
#include <utility>

using namespace enginetest;
using namespace traffic;

class tst_EngineWorker : public EngineTest {
    Q_OBJECT

private slots:
    void callsWhileRunning();
    void backupWithoutReportLengthIsRefusedFirst();
    void operationsInARow();
    void progressIsCappedAndNeverMeansFinishedWhileRunning();
    void resultAndTextAreFreshOnceProgressSays100();
    void destroyingAnEngineWhileItRunsWaitsForTheTransfer();
};

void tst_EngineWorker::callsWhileRunning() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 5000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const QString path = writeFile("slow.dfu", dfu::makeDfuFile(dfu::makeImage(58 * 30)));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);

    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), -14);
    QCOMPARE(lastError(), std::string("Busy, operation in progress"));
    QCOMPARE(hidDfuBackup("other"), -14);
    QCOMPARE(hidDfuDisconnect(), -14);
    QCOMPARE(hidDfuReset(), -14);
    QCOMPARE(connectAccessory(), -2);
    QCOMPARE(lastError(), std::string("Already connected"));
    QCOMPARE(hidDfuGetResult(), -14);
    QCOMPARE(lastError(), std::string("Busy, operation in progress"));
    QVERIFY(hidDfuGetProgress() < 100);

    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    // the refused calls disturbed nothing
    QCOMPARE(device.storedImage(), dfu::makeImage(58 * 30));
    QCOMPARE(device.resetCount(), 0);
}

// The report length is checked before the busy state: a device without a
// usable data report is refused as such even while another operation runs.
void tst_EngineWorker::backupWithoutReportLengthIsRefusedFirst() {
    sim::AccessoryConfig config;
    config.descriptorOverride = Bytes{0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
    // A large file keeps the upgrade busy with its CRC for a while.
    const QString path = m_dir.filePath("large.dfu");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(16 * 1024 * 1024));
        QVERIFY(f.seek(f.size() - 16));
        const Bytes suffix(dfu::makeDfuFile({}));
        f.write(reinterpret_cast<const char*>(suffix.data()), 16);
    }
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QCOMPARE(hidDfuBackup("backup"), -12);
    const bool stillRunning = hidDfuGetProgress() < 100;
    QCOMPARE(lastError(), std::string("Feature report length is invalid (0)"));
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -6);
    QFile::remove(path);
    if (!stillRunning)
        QSKIP("the upgrade ended before the refused backup could be judged");
}

void tst_EngineWorker::operationsInARow() {
    sim::DeviceModel& device = sim::Bus::addAccessory();
    QCOMPARE(connectAccessory(), 0);
    // Fails at once, before any report.
    const QString missing = m_dir.filePath("missing-1.dfu");
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(missing).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), -3);
    QCOMPARE(QString::fromStdString(lastError()), "Failed to open file \"" + missing + "\"");
    // no status is read without a file
    QVERIFY(device.records().empty());

    // The next start gets a new worker with its own file name.
    const QString missing2 = m_dir.filePath("missing-2.dfu");
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(missing2).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(QString::fromStdString(lastError()), "Failed to open file \"" + missing2 + "\"");

    // Success after failure replaces the stored exit code.
    const QString good = writeFile("good.dfu", dfu::makeDfuFile(dfu::makeImage(100)));
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(good).constData()), 0);
    QVERIFY(waitUntilIdle());
    QCOMPARE(hidDfuGetResult(), 0);
    QCOMPARE(device.receivedImage(), dfu::makeImage(100));
}

void tst_EngineWorker::progressIsCappedAndNeverMeansFinishedWhileRunning() {
    CHidDfuEngine& engine = hidDfuEngine();
    engine.SetProgress_(150);
    // idle
    QCOMPARE(int(hidDfuGetProgress()), 100);

    // A new operation starts from 0, not from the last value of the previous one.
    sim::AccessoryConfig config;
    config.reportDelayUs = 5000;
    sim::Bus::addAccessory(config);
    const QString path = writeFile("capped.dfu", dfu::makeDfuFile(dfu::makeImage(58 * 10)));
    QCOMPARE(connectAccessory(), 0);
    QCOMPARE(hidDfuUpgrade(QFile::encodeName(path).constData()), 0);
    QVERIFY(hidDfuGetProgress() < 100);
    engine.SetProgress_(150);
    // 100 only ever means that nothing runs
    QVERIFY(hidDfuGetProgress() < 100);
    QVERIFY(waitUntilIdle());
}

// Many short operations while another thread polls like the progress relay:
// whenever it sees 100, the result and the text must be those of the
// operation that has just ended, with nothing run on this thread in between.
void tst_EngineWorker::resultAndTextAreFreshOnceProgressSays100() {
    sim::AccessoryConfig config;
    config.pollTimeoutMs = 0;
    sim::Bus::addAccessory(config);
    QCOMPARE(connectAccessory(), 0);
    const QString good = writeFile("stress.dfu", dfu::makeDfuFile(dfu::makeImage(30)));

    constexpr int kOperations = 300;
    std::atomic<int> starting{0}, started{0};
    std::atomic<bool> done{false};
    std::atomic<int> checked{0};
    QStringList problems;

    auto expectedFor = [&](int op) {
        return op % 3 == 2
                   ? std::make_pair(0, QString())
                   : std::make_pair(-3, "Failed to open file \"" +
                                            m_dir.filePath(QString("gone-%1").arg(op)) + "\"");
    };

    std::thread poller([&] {
        while (!done.load()) {
            const int s1 = starting.load(), e1 = started.load();
            if (hidDfuGetProgress() != 100)
                continue;
            const int32 result = hidDfuGetResult();
            const QString text = QString::fromUtf8(hidDfuGetLastError());
            const int s2 = starting.load(), e2 = started.load();
            if (s1 != e1 || s2 != s1 || e2 != e1 || e1 == 0)
                continue; // an operation started in between: nothing to judge
            const auto expected = expectedFor(e1);
            if (result != expected.first || (expected.first != 0 && text != expected.second))
                problems.append(QString("op %1: result %2, text %3").arg(e1).arg(result).arg(text));
            ++checked;
        }
    });

    for (int op = 1; op <= kOperations; ++op) {
        const QString path = op % 3 == 2 ? good : m_dir.filePath(QString("gone-%1").arg(op));
        starting = op;
        if (hidDfuUpgrade(QFile::encodeName(path).constData()) != 0) {
            problems.append(QString("op %1 did not start").arg(op));
            break;
        }
        started = op;
        // This thread runs no events while it waits, like a GUI thread blocked
        // in a destructor.
        while (hidDfuGetProgress() != 100)
            std::this_thread::yield();
    }
    done = true;
    poller.join();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 5).join('\n')));
    QVERIFY(checked.load() > 0);
}

void tst_EngineWorker::destroyingAnEngineWhileItRunsWaitsForTheTransfer() {
    sim::AccessoryConfig config;
    config.reportDelayUs = 2000;
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    const Bytes image = dfu::makeImage(58 * 20);
    const QString path = writeFile("teardown.dfu", dfu::makeDfuFile(image));
    {
        CHidDfuEngine engine;
        QCOMPARE(engine.Connect(kVendor, kProduct, 0, 0), 0);
        QCOMPARE(engine.Upgrade(QFile::encodeName(path).constData()), 0);
        QVERIFY(engine.isRunning());
    }
    // The transfer ran to its end and only then was the device closed.
    QCOMPARE(device.storedImage(), image);
    QCOMPARE(sim::Bus::openConnections(), 0);
}

QTEST_GUILESS_MAIN(tst_EngineWorker)
#include "tst_engineworker.moc"
