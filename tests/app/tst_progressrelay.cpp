// The progress relay: polling runs on the relay thread, re-emitted on the
// controller's signals in the GUI thread.
#include "appfolder.h"
#include "controllertest.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "progressrelay.h"
#include "startup.h"

#include <QRegularExpression>
#include <QtTest>

using namespace enginesupport;

namespace {

// msleep guarantees at least this much between two polls.
constexpr qint64 kPollIntervalNs = 100 * 1000 * 1000;

bool isStatusLine(const LogLine& line) {
    return line.text.startsWith(QLatin1String("Upgrade status: "));
}

} // namespace

class tst_progressrelay : public ControllerTest {
    Q_OBJECT

public:
    tst_progressrelay() : ControllerTest({}) {}

private slots:
    void operationAlreadyOver();
    void progressInPollingOrder();
    void twoStartsInQuickSuccession_data();
    void twoStartsInQuickSuccession();

private:
    // Starts an upgrade on a slow accessory through the engine itself.
    void startSlowUpgrade();
};

void tst_progressrelay::startSlowUpgrade() {
    QVERIFY(appfolder::write(kFirmwareName, toQByteArray(firmwareFile(kSlowImageLength))));
    sim::Bus::addAccessory(slowAccessory());
    QCOMPARE(hidDfuConnect(kHidDfuVendorId, kHidDfuProductId, 0, 0), 0);
    const QByteArray path = QFile::encodeName(appfolder::path(kFirmwareName));
    QCOMPARE(hidDfuUpgrade(path.constData()), 0);
}

void tst_progressrelay::operationAlreadyOver() {
    installator owner;
    ProgressManager relay(&owner);
    QSignalSpy progress(&owner, &installator::progressChanged);
    QSignalSpy results(&owner, &installator::resultReady);
    const int32 engineResult = hidDfuGetResult();
    m_log.clear();

    emit relay.startReportingProgress();
    QTRY_COMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), engineResult);
    QTest::qWait(150);
    QCOMPARE(results.count(), 1);
    QCOMPARE(progress.count(), 0);

    const QVector<LogLine> relayLines = m_log.lines(
        [](const LogLine& line) { return line.thread != QCoreApplication::instance()->thread(); });
    QCOMPARE(relayLines.size(), 1);
    QCOMPARE(
        LogCapture::format(relayLines.at(0).type, relayLines.at(0).text),
        LogCapture::format(QtInfoMsg, QStringLiteral("Upgrade status:  %1").arg(engineResult)));
}

void tst_progressrelay::progressInPollingOrder() {
    installator owner;
    ProgressManager relay(&owner);
    QSignalSpy progress(&owner, &installator::progressChanged);
    QSignalSpy results(&owner, &installator::resultReady);
    bool progressAfterResult = false;
    connect(&owner, &installator::progressChanged, this,
            [&] { progressAfterResult = progressAfterResult || results.count() > 0; });
    startSlowUpgrade();
    m_log.clear();

    emit relay.startReportingProgress();
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 60000);
    QCOMPARE(results.at(0).at(0).toInt(), 0);
    QVERIFY(!progressAfterResult);

    // Each poll writes its line on the relay thread right before it emits
    // the value: the lines give the polling order and times.
    QThread* const gui = QThread::currentThread();
    const QVector<LogLine> relayLines =
        m_log.lines([gui](const LogLine& line) { return line.thread != gui; });
    QVERIFY(relayLines.size() >= 3);
    QVERIFY(isStatusLine(relayLines.last()));
    const QRegularExpression progressLine(QStringLiteral("^\r (\\d+) % completed$"));
    QList<int> polled;
    for (int i = 0; i + 1 < relayLines.size(); ++i) {
        const LogLine& line = relayLines.at(i);
        QCOMPARE(LogCapture::typeName(line.type), QStringLiteral("info"));
        const QRegularExpressionMatch match = progressLine.match(line.text);
        QVERIFY2(match.hasMatch(), qPrintable(line.text));
        polled.append(match.captured(1).toInt());
        if (i > 0)
            QVERIFY(line.nsecs - relayLines.at(i - 1).nsecs >= kPollIntervalNs);
    }
    // The status line follows the last poll's sleep too.
    QVERIFY(relayLines.last().nsecs - relayLines.at(relayLines.size() - 2).nsecs >=
            kPollIntervalNs);
    QCOMPARE(LogCapture::format(relayLines.last().type, relayLines.last().text),
             LogCapture::format(QtInfoMsg, QStringLiteral("Upgrade status:  0")));

    // The controller re-emits exactly the polled values, in polling order.
    QList<int> emitted;
    for (const QList<QVariant>& value : progress)
        emitted.append(value.at(0).toInt());
    QCOMPARE(emitted, polled);
    for (int i = 0; i < emitted.size(); ++i) {
        QVERIFY(emitted.at(i) < int(kHidDfuNothingRunning));
        if (i > 0)
            QVERIFY(emitted.at(i) >= emitted.at(i - 1));
    }
}

void tst_progressrelay::twoStartsInQuickSuccession_data() {
    QTest::addColumn<bool>("running");
    QTest::newRow("nothing running") << false;
    QTest::newRow("upgrade running") << true;
}

void tst_progressrelay::twoStartsInQuickSuccession() {
    QFETCH(bool, running);
    installator owner;
    ProgressManager relay(&owner);
    QSignalSpy progress(&owner, &installator::progressChanged);
    QSignalSpy results(&owner, &installator::resultReady);
    int progressAfterFirstResult = 0;
    connect(&owner, &installator::progressChanged, this, [&] {
        if (results.count() > 0)
            ++progressAfterFirstResult;
    });
    if (running)
        startSlowUpgrade();
    const int32 expected = running ? 0 : hidDfuGetResult();
    m_log.clear();

    emit relay.startReportingProgress();
    emit relay.startReportingProgress();
    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, 60000);
    QCOMPARE(results.at(0).at(0).toInt(), expected);
    QCOMPARE(results.at(1).at(0).toInt(), expected);
    QTest::qWait(150);
    QCOMPARE(results.count(), 2);
    // The second run starts once the first has ended, and so finds nothing
    // running any more.
    QCOMPARE(progressAfterFirstResult, 0);
    QCOMPARE(progress.count() > 0, running);
    QCOMPARE(m_log.lines(isStatusLine).size(), 2);
}

QTEST_GUILESS_MAIN(tst_progressrelay)
#include "tst_progressrelay.moc"
