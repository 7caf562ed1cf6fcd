// The wizard as a person meets it: clicks on the buttons from page to page,
// upgrades that succeed and fail, the details copied after a failure, a
// firmware file that cannot be installed, and the window closed during a
// transfer.
// Each test function checks which page shows, what it says, what the log
// says and what reached the accessory. The pages it passes are saved as
// pictures under the build tree, for a person to look at.
#include "wizardtest.h"

#include "appfolder.h"
#include "closesignals.h"
#include "demoaccessory.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QSignalSpy>

#include <csignal>

using namespace enginesupport;
using namespace wizardtest;

namespace {

// A failure code that no engine message accompanies here.
constexpr int kFileFormatInvalid = -5;
// A DFU status the upgrade cannot go on from (errWRITE).
constexpr uint8_t kFailingDfuStatus = 3;
// bState of an accessory still programming a block (dfuDNBUSY), and of one
// that has refused (dfuERROR).
constexpr uint8_t kStateDnBusy = 4;
constexpr uint8_t kStateDfuError = 10;
// DFU_CLRSTATUS: the one request an accessory in dfuERROR gets before the
// upgrade reads its status again.
constexpr uint8_t kClearStatus = 0x04;

// The progress ring's resting label on the progress page: the test slider's
// initial value, 0.01.
const char kInitialPercent[] = "1";
// The progress value from which the ring counts as about half full.
constexpr int kAboutHalf = 40;

} // namespace

class tst_wizard : public WizardTest {
    Q_OBJECT

private slots:
    // Needs the engine as the process starts, with no failure text yet:
    // keep it first.
    void emptyLastErrorShowsUnknownErrorText();
    void windowAtStart();
    void upgradeToSuccess();
    void connectionFailure();
    void upgradeFailureThenRetry_data();
    void upgradeFailureThenRetry();
    void successNamesTheInstalledVersion();
    void badFirmwareFileOnlyCloses_data();
    void badFirmwareFileOnlyCloses();
    void closeDuringUpgradeWaitsForTheEnd_data();
    void closeDuringUpgradeWaitsForTheEnd();
    void focusRingOnlyWhileUsingKeys();
};

void tst_wizard::emptyLastErrorShowsUnknownErrorText() {
    QVERIFY2(QByteArray(hidDfuGetLastError()).isEmpty(),
             "the engine already holds a failure text: run this function first");
    QObject* pageView = item("pageView");
    QVERIFY(pageView);
    QVERIFY(QMetaObject::invokeMethod(pageView, "showPageByName",
                                      Q_ARG(QVariant, QStringLiteral("progressPage")),
                                      Q_ARG(QVariant, QVariant())));
    QCOMPARE(visiblePages(), QStringList{"progressPage"});

    // A failed result as the relay delivers it, with no text from the engine.
    emit m_controller->resultReady(kFileFormatInvalid);

    QTRY_COMPARE(visiblePages(), QStringList{"errorPage"});
    QCOMPARE(itemText("errorPageText"),
             text("failedUnknownError") + QStringLiteral("\nError %1").arg(kFileFormatInvalid));
    QCOMPARE(itemText("errorPageAdvice"), text("errorAdvice-5"));
    // A failure leaves the ring where it stopped: it never reads 100 %.
    QVERIFY(progressRingText("percentLabel") != QStringLiteral("100"));
    STEP(screenshot("errorPage-unknown-error"));
}

void tst_wizard::windowAtStart() {
    QCOMPARE(m_window->size(), QSize(kWindowWidth, kWindowHeight));
    QCOMPARE(m_window->minimumSize(), QSize(kWindowWidth, kWindowHeight));
    QCOMPARE(m_window->title(), text("applicationTitle"));
    QCOMPARE(visiblePages(), QStringList{"welcomePage"});
    // The welcome page is visible from creation: no activation to log.
    QCOMPARE(activationLog(), QStringList());
    QCOMPARE(m_shownPages, QStringList());
    // Every text the scene asked for was there, and nothing else complained.
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.type != QtDebugMsg && line.type != QtInfoMsg;
    }),
             QStringList());
}

void tst_wizard::upgradeToSuccess() {
    sim::DeviceModel& device = sim::Bus::addAccessory(demo::accessoryConfig());
    const QByteArray file = readFile(appfolder::path(text(kFirmwareKey)));
    QVERIFY(file.size() > int(dfu::kSuffixLength));
    const QByteArray image = file.left(file.size() - int(dfu::kSuffixLength));

    // What the ring says at the moment the progress page appears, before
    // the upgrade has even started.
    QString startLabel;
    QString startSign;
    bool startSignVisible = false;
    QImage startImage;
    QSignalSpy progress(m_controller, &installator::progressChanged);
    QSignalSpy results(m_controller, &installator::resultReady);
    QStringList labels;
    QImage halfImage;
    // Ends the watchers below with this function.
    QObject watching;
    // The page is built when it is first shown.
    connect(this, &WizardTest::pageShown, &watching, [&](const QString& name) {
        if (name != "progressPage")
            return;
        startLabel = progressRingText("percentLabel");
        startSign = progressRingText("percentSign");
        startSignVisible = findItem(item("progressRing"), "percentSign")->isVisible();
        startImage = m_window->grabWindow();
        // The ring's label after each progress value, read right after the
        // page's own handler, which the page connected when it was built.
        // Queued instead, the reads fell behind whenever a slow frame let
        // the relay's values pile up.
        connect(m_controller, &installator::progressChanged, &watching, [&](int value) {
            labels << progressRingText("percentLabel");
            if (value >= kAboutHalf && halfImage.isNull())
                halfImage = m_window->grabWindow();
        });
    });

    STEP(screenshot("01-welcomePage"));
    STEP(go("welcomePageForward", "changelogPage"));
    STEP(screenshot("02-changelogPage"));
    STEP(go("changelogPageForward", "accessoriesPage"));
    STEP(screenshot("03-accessoriesPage"));
    STEP(go("accessoriesPageForward", "howTo1Page"));
    STEP(screenshot("04-howTo1Page"));
    STEP(go("howTo1PageForward", "howTo2Page"));
    STEP(screenshot("05-howTo2Page"));
    STEP(go("howTo2PageForward", "howTo3Page"));
    STEP(screenshot("06-howTo3Page"));
    STEP(clickButton("howTo3PageForward"));

    QCOMPARE(startLabel, QString::fromLatin1(kInitialPercent));
    QCOMPARE(startSign, QStringLiteral("%"));
    QVERIFY(startSignVisible);
    STEP(saveScreenshot("07-progressPage-start", startImage));

    QTRY_COMPARE_WITH_TIMEOUT(visiblePages(), QStringList{"successPage"}, kUpgradeTimeoutMs);
    STEP(screenshot("09-successPage"));
    // The demo firmware states the version its changelog announces.
    QVERIFY(!m_controller->fileVersion().isEmpty());
    QVERIFY(item("successPageVersion")->isVisible());
    QCOMPARE(itemText("successPageVersion"),
             text("successPageVersion").arg(m_controller->fileVersion()));
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), 0);

    // The ring followed every value the relay sent.
    QVERIFY(!progress.isEmpty());
    QStringList values;
    QStringList progressLines;
    for (const QList<QVariant>& emission : progress) {
        const int value = emission.at(0).toInt();
        QVERIFY2(value >= 0 && value < int(kHidDfuNothingRunning),
                 qPrintable(QString::number(value)));
        values << QString::number(value);
        progressLines << debug(QStringLiteral("progress %1%").arg(value));
    }
    QCOMPARE(labels, values);
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.type == QtDebugMsg && (line.text.startsWith(QLatin1String("progress ")) ||
                                           line.text.startsWith(QLatin1String("resultReady")));
    }),
             progressLines << debug(QStringLiteral("resultReady, status:  0")));
    // Completion fills the ring.
    QCOMPARE(progressRingText("percentLabel"), QStringLiteral("100"));
    if (halfImage.isNull())
        qWarning("No progress value of %d or more arrived: no halfway picture", kAboutHalf);
    else
        STEP(saveScreenshot("08-progressPage-about-half", halfImage));

    QCOMPARE(m_shownPages,
             (QStringList{"changelogPage", "accessoriesPage", "howTo1Page", "howTo2Page",
                          "howTo3Page", "progressPage", "successPage"}));
    QCOMPARE(activationLog(), activationLines(m_shownPages));

    // The whole image, block by block, then the restart request; the device
    // was released afterwards.
    QCOMPARE(device.receivedImage(), toBytes(image));
    QCOMPARE(device.resetCount(), 1);
    QCOMPARE(sentReports(device), upgradeAndResetReports(toBytes(file), demo::kFeatureReportLength,
                                                         uint32_t(image.size())));
    QCOMPARE(sim::Bus::openConnections(), 0);
}

void tst_wizard::connectionFailure() {
    // Something else on the bus, but not the accessory.
    sim::Bus::addKeyboard();
    QSignalSpy results(m_controller, &installator::resultReady);

    STEP(walkToHowTo3());
    STEP(go("howTo3PageForward", "errorPage"));
    QCOMPARE(itemText("errorPageText"),
             text("failedConnectionText") + QStringLiteral("\nError %1").arg(kFailedToConnect));
    QCOMPARE(itemText("errorPageAdvice"), text("errorAdvice-2"));
    // Nothing was written.
    QVERIFY(!item("errorPageWriteStopped")->isVisible());
    STEP(screenshot("10-errorPage-connection"));

    QCOMPARE(warningsSince(0),
             (QStringList{warning(QStringLiteral("Connection error  -2")),
                          warning(QStringLiteral("errorMessage Failed to connect to device"))}));
    // No upgrade was started: neither the controller's firmware line nor a
    // result.
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.text.startsWith(QLatin1String("Firmware file exists in location"));
    }),
             QStringList());
    QTest::qWait(kRelayIntervalMs);
    QCOMPARE(results.count(), 0);
    QCOMPARE(m_shownPages, (QStringList{"changelogPage", "accessoriesPage", "howTo1Page",
                                        "howTo2Page", "howTo3Page", "errorPage"}));
    QCOMPARE(activationLog(), activationLines(m_shownPages));
}

void tst_wizard::upgradeFailureThenRetry_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("advice");
    QTest::newRow("refused") << int(kFailingDfuStatus) << int(kStateDfuError) << "errorAdvice-8";
    // Status 0 and still busy when the last status read came: no refusal.
    QTest::newRow("still busy") << 0 << int(kStateDnBusy) << "errorAdviceBusy";
}

void tst_wizard::upgradeFailureThenRetry() {
    QFETCH(int, status);
    QFETCH(int, state);
    QFETCH(QString, advice);
    sim::DeviceModel& device = sim::Bus::addAccessory(demo::accessoryConfig());
    device.overrideStatus(uint8_t(status), uint8_t(state));
    QSignalSpy results(m_controller, &installator::resultReady);

    STEP(walkToHowTo3());
    STEP(clickButton("howTo3PageForward"));
    QTRY_COMPARE_WITH_TIMEOUT(visiblePages(), QStringList{"errorPage"}, kUpgradeTimeoutMs);
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), kUpgradeFailed);
    QCOMPARE(itemText("errorPageText"),
             QStringLiteral("Upgrade failed (DFU status code = %1)\nError %2")
                 .arg(status)
                 .arg(kUpgradeFailed));
    STEP(screenshot(
        QStringLiteral("11-errorPage-upgrade-%1").arg(QTest::currentDataTag()).replace(' ', '-')));
    // The first status reply ended the run: nothing was written to the device;
    // one in dfuERROR was asked once to clear it.
    const std::vector<Bytes> cleared{traffic::command(kClearStatus).bytes};
    QCOMPARE(sentReports(device), state == kStateDfuError ? cleared : std::vector<Bytes>());

    QCOMPARE(itemText("errorPageAdvice"), text(advice));
    QVERIFY(item("errorPageWriteStopped")->isVisible());
    QCOMPARE(itemText("errorPageWriteStopped"), text("errorPageWriteStopped"));
    const QString logFile = m_logFile->path();
    QCOMPARE(itemText("errorPageLogPlace"), text("errorPageLogPlace"));
    QCOMPARE(itemText("errorPageLogFolder"), QDir::toNativeSeparators(QFileInfo(logFile).path()));
    const QByteArray logged = readFile(logFile);
    QVERIFY(logged.contains(" info Status after progress:  -8\n"));
    QVERIFY(logged.contains(" info Engine's text: Upgrade failed (DFU status code = " +
                            QByteArray::number(status) + ")\n"));

    // The details, copied with the keyboard from the button before Try again.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(m_window, Qt::Key_Tab, Qt::ShiftModifier);
    QTRY_VERIFY(item("errorPageCopyDetails")->hasActiveFocus());
    QTest::keyClick(m_window, Qt::Key_Return);
    const QString details = QGuiApplication::clipboard()->text();
    const QString header =
        QStringLiteral(": error -8\nCode: -8, Upgrade failed (DFU status code = %1)\n"
                       "Accessory: serial %2, firmware 2.3.0\n"
                       "Firmware file: %3, %4 bytes, CRC 0x")
            .arg(status)
            .arg(QString::fromStdWString(*demo::accessoryConfig().serialNumber), text(kFirmwareKey))
            .arg(QFileInfo(appfolder::path(text(kFirmwareKey))).size());
    const QString lastWrite = QStringLiteral("\nLast write: 0 of %1 bytes written; DFU status %2, "
                                             "state %3\nTime: ")
                                  .arg(hidDfuGetWriteFacts().totalBytes)
                                  .arg(status)
                                  .arg(state);
    QVERIFY2(details.contains(header) && details.contains(lastWrite) &&
                 details.contains("Z\nLanguage: en\n" + itemText("errorPageText") + "\n" +
                                  text("errorPageWriteStopped") + "\n" + text(advice) + "\n") &&
                 details.contains("\nLog file: " + QDir::toNativeSeparators(logFile) + "\n") &&
                 details.contains(" info Disconnected successfuly\n") &&
                 details.endsWith(" Page errorPage is active."),
             qPrintable(details));
    QCOMPARE(findItem(item("errorPageCopyDetails"), "buttonLabel")->property("text").toString(),
             text("errorPageDetailsCopied"));

    // The folder goes to the desktop's file manager: here a stand-in for
    // xdg-open, first on the search path, which notes what it was given.
    const QString opener = appfolder::path("opener");
    QVERIFY(appfolder::write("opener/xdg-open", "#!/bin/sh\nprintf %s \"$1\" > \"$0.arg\"\n"));
    QVERIFY(QFile::setPermissions(opener + "/xdg-open", QFile::ReadOwner | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(opener) + ':' + path);
    STEP(clickButton("errorPageOpenLogFolder"));
    qputenv("PATH", path);
    QTRY_COMPARE(readFile(opener + "/xdg-open.arg"), QFile::encodeName(QFileInfo(logFile).path()));
    // Released without a restart, so that the retry connects anew.
    QCOMPARE(sim::Bus::openConnections(), 0);
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.thread == QThread::currentThread() && line.type == QtInfoMsg &&
               !line.text.startsWith(QLatin1String("Connection")) &&
               !line.text.startsWith(QLatin1String("Firmware file"));
    }),
             (QStringList{
                 LogCapture::format(QtInfoMsg, "Status after progress:  -8"),
                 LogCapture::format(QtInfoMsg, "Error:  -8"),
                 LogCapture::format(QtInfoMsg, QStringLiteral("Engine's text: Upgrade failed (DFU "
                                                              "status code = %1)")
                                                   .arg(status)),
                 LogCapture::format(QtInfoMsg, "Disconnected successfuly")}));

    // The retry, with the device healthy again, ends on the success page.
    device.clearStatusOverride();
    STEP(go("errorPageForward", "howTo1Page"));
    STEP(go("howTo1PageForward", "howTo2Page"));
    STEP(go("howTo2PageForward", "howTo3Page"));
    const int mark = m_log.lines().size();
    STEP(clickButton("howTo3PageForward"));
    QTRY_COMPARE_WITH_TIMEOUT(visiblePages(), QStringList{"successPage"}, kUpgradeTimeoutMs);
    QCOMPARE(warningsSince(mark), QStringList());

    QCOMPARE(m_shownPages,
             (QStringList{"changelogPage", "accessoriesPage", "howTo1Page", "howTo2Page",
                          "howTo3Page", "progressPage", "errorPage", "howTo1Page", "howTo2Page",
                          "howTo3Page", "progressPage", "successPage"}));
    QCOMPARE(results.count(), 2);
    QCOMPARE(results.at(1).at(0).toInt(), 0);
    QCOMPARE(device.resetCount(), 1);
    QCOMPARE(sim::Bus::openConnections(), 0);
}

void tst_wizard::successNamesTheInstalledVersion() {
    STEP(reloadWithCopy({{"firmwareVersion", "2.4.0"}}));
    sim::Bus::addAccessory(demo::accessoryConfig());
    STEP(walkToHowTo3());
    STEP(clickButton("howTo3PageForward"));
    QTRY_COMPARE_WITH_TIMEOUT(visiblePages(), QStringList{"successPage"}, kUpgradeTimeoutMs);
    QVERIFY(item("successPageVersion")->isVisible());
    QCOMPARE(itemText("successPageVersion"), text("successPageVersion").arg("2.4.0"));
}

void tst_wizard::badFirmwareFileOnlyCloses_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("language");
    QTest::newRow("damaged") << kDamagedFirmware << -6 << "en";
    QTest::newRow("missing") << "missing.dfu" << -3 << "en";
    for (const char* language : {"de", "fr", "es", "ja", "zh_CN"})
        QTest::addRow("damaged, %s", language) << kDamagedFirmware << -6 << QString(language);
}

// Found on the first page, said in the person's language under a heading
// that promises no update: no way forward, and one that closes, with the
// focus and Return. The check's own English words go to the log.
void tst_wizard::badFirmwareFileOnlyCloses() {
    QFETCH(QString, file);
    QFETCH(int, code);
    QFETCH(QString, language);
    QByteArray bytes = readFile(appfolder::path(text(kFirmwareKey)));
    bytes[0] = char(bytes[0] ^ 1);
    QVERIFY(file != kDamagedFirmware || appfolder::write(file, bytes));
    STEP(reloadWithCopy({{kFirmwareKey, file}}));
    if (language != QLatin1String("en"))
        STEP(loadScene(language));
    appfolder::remove(file);
    const auto shown = [this](const QString& key) { return m_controller->getText(key); };
    const QString reasonKey = QStringLiteral("firmwareFileReason%1").arg(code);
    STEP(screenshot(QStringLiteral("12-welcomePage-blocked-%1").arg(language)));
    QCOMPARE(itemText("welcomePageTitle"), shown("welcomePageBlockedTitle"));
    QCOMPARE(itemText("welcomePageContent"), shown("welcomePageBlockedContent"));
    QCOMPARE(itemText("welcomePageFirmwareProblem"),
             shown("firmwareProblemText").arg(code) + "\n" + shown(reasonKey));
    QCOMPARE(shown(reasonKey) == text(reasonKey), language == QLatin1String("en"));
    QCOMPARE(shown("welcomePageBlockedTitle") == text("welcomePageBlockedTitle"),
             language == QLatin1String("en"));
    QVERIFY(m_log.texts().contains(debug(QStringLiteral("Firmware file check: %1 %2")
                                             .arg(code)
                                             .arg(m_controller->firmwareFileProblem()))));
    QVERIFY(!item("welcomePageForward")->isVisible());
    QQuickItem* close = item("welcomePageClose");
    QVERIFY(close);
    QTRY_VERIFY(close->isVisible() && close->hasActiveFocus());
    QCOMPARE(itemText("welcomePageClose"), shown("welcomePageClose"));
    QTest::keyClick(m_window, Qt::Key_Tab);
    QVERIFY(close->hasActiveFocus());
    QTest::keyClick(m_window, Qt::Key_Return);
    QTRY_VERIFY(!m_window->isVisible());
    QCOMPARE(m_shownPages, QStringList());
}

void tst_wizard::closeDuringUpgradeWaitsForTheEnd_data() {
    QTest::addColumn<int>("signal"); // 0: the window system's close box
    QTest::addColumn<bool>("fails");
    QTest::newRow("close box, success") << 0 << false;
    QTest::newRow("close box, failure") << 0 << true;
    QTest::newRow("SIGTERM, success") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP, failure") << int(SIGHUP) << true;
    QTest::newRow("SIGINT, success") << int(SIGINT) << false;
}

// A close during a transfer waits for its end; after a success the window
// closes, after a failure the error page shows instead.
void tst_wizard::closeDuringUpgradeWaitsForTheEnd() {
    QFETCH(int, signal);
    QFETCH(bool, fails);
    sim::AccessoryConfig config = slowAccessory();
    if (fails) {
        config.lateFault = sim::LateFault::WriteError;
        config.lateFaultAfterBlocks = 20;
    }
    sim::DeviceModel& device = sim::Bus::addAccessory(config);
    QSignalSpy progress(m_controller, &installator::progressChanged);
    QSignalSpy results(m_controller, &installator::resultReady);
    STEP(walkToHowTo3());
    STEP(clickButton("howTo3PageForward"));
    QTRY_VERIFY(!progress.isEmpty());
    QVERIFY(!item("closingAfterUpdateText")->isVisible());

    if (signal) {
        closeWindowOnSignals(m_window);
        QCOMPARE(::raise(signal), 0);
        QTRY_VERIFY(item("closingAfterUpdateText")->isVisible());
    } else {
        QCloseEvent close;
        QCoreApplication::sendEvent(m_window, &close);
        QVERIFY(!close.isAccepted());
    }
    QVERIFY(m_window->isVisible());
    QCOMPARE(visiblePages(), QStringList{"progressPage"});
    QVERIFY(item("closingAfterUpdateText")->isVisible());
    QCOMPARE(itemText("closingAfterUpdateText"), text("closingAfterUpdateText"));
    QCOMPARE(results.count(), 0);
    if (!signal && !fails)
        STEP(screenshot("13-progressPage-closing"));

    QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, kUpgradeTimeoutMs);
    QCOMPARE(results.at(0).at(0).toInt() == 0, !fails);
    if (fails) {
        QTRY_COMPARE(visiblePages(), QStringList{"errorPage"});
        QVERIFY(m_window->isVisible());
        QCOMPARE(device.resetCount(), 0);
    } else {
        // Closed by itself once the device is restarted and released.
        QTRY_VERIFY(!m_window->isVisible());
        QCOMPARE(device.resetCount(), 1);
    }
    QCOMPARE(sim::Bus::openConnections(), 0);
}

void tst_wizard::focusRingOnlyWhileUsingKeys() {
    // The page's forward button has the focus from the start, unseen.
    QQuickItem* forward = item("welcomePageForward");
    QQuickItem* ring = findItem(forward, QStringLiteral("focusRing"));
    QVERIFY(ring);
    QTRY_VERIFY(forward->hasActiveFocus());
    QVERIFY(!ring->isVisible());

    // Keys move on and show where the focus is; a click hides it again.
    QTest::keyClick(m_window, Qt::Key_Return);
    QTRY_COMPARE(visiblePages(), QStringList{"changelogPage"});
    QQuickItem* back = item("changelogPageBack");
    QTest::keyClick(m_window, Qt::Key_Tab);
    QTRY_VERIFY(back->hasActiveFocus());
    QVERIFY(findItem(back, QStringLiteral("focusRing"))->isVisible());
    STEP(screenshot("14-changelogPage-keyboard-focus"));
    // On the background, away from the buttons (a pointer resting on one
    // would light it up for the next test).
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    QTRY_VERIFY(!findItem(back, QStringLiteral("focusRing"))->isVisible());
    QVERIFY(back->hasActiveFocus());
}

int main(int argc, char* argv[]) {
    return wizardtest::run<tst_wizard>(argc, argv);
}

#include "tst_wizard.moc"
