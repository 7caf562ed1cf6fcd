// The wizard as a person meets it: the real window, controller and engine,
// the simulated accessory on the in-process bus, and clicks on the buttons.
// Each test function loads the scene afresh and checks which page shows,
// what it says, what the log says and what reached the accessory. Every page
// is also saved as a picture under the build tree, for a person to look at.
#include "appfolder.h"
#include "closesignals.h"
#include "demoaccessory.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "privatexserver.h"
#include "startup.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVariantMap>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace enginesupport;

namespace {

const char kMainQml[] = "qrc:/installator/qml/main.qml";
const char kTextCopyFile[] = "Resources/text_copy.json";
const char kFirmwareKey[] = "dfuUpdateUrl";
const char kXvfb[] = TAVRIN_XVFB;
const char kScreenshotDir[] = TAVRIN_SCREENSHOT_DIR;
constexpr int kServerStartTimeoutMs = 20000;

// The window's opening size, which is also its minimum.
constexpr int kWindowWidth = 918;
constexpr int kWindowHeight = 616;

// Result codes the pages show.
constexpr int kFailedToConnect = -2;
constexpr int kUpgradeFailed = -8;
// A failure code that no engine message accompanies here.
constexpr int kFileFormatInvalid = -5;
// A DFU status the upgrade cannot go on from (errWRITE).
constexpr uint8_t kFailingDfuStatus = 3;

// The progress ring's resting label on the progress page: the test slider's
// initial value, 0.01.
const char kInitialPercent[] = "1";
// The progress value from which the ring counts as about half full.
constexpr int kAboutHalf = 40;
constexpr int kUpgradeTimeoutMs = 60000;
// Longer than one polling interval of the progress relay (100 ms): a result
// it still owes has arrived after this.
constexpr int kRelayIntervalMs = 150;

// The window's vertical axis, on which every page centres its content.
constexpr qreal kWindowAxis = kWindowWidth / 2.0;
// How far off the axis an item may sit: rounding moves some by a fraction of
// a pixel (an image one pixel wider than the page column, a text block as
// wide as a title's fractional width).
constexpr qreal kAxisTolerance = 1.0;
// The page layout's fixed measures.
constexpr int kOuterMargin = 40;
constexpr int kPageSideMargin = 165;
constexpr int kLogoRowHeight = 14;
constexpr int kWelcomeTopMargin = 92;
constexpr int kBandHeight = 77;
// The window made larger than it opens.
constexpr int kLargerWidth = kWindowWidth + 200;
constexpr int kLargerHeight = kWindowHeight + 150;

// The solid button background, and how far a drawn pixel may stray from it.
const QColor kSolidButtonColour(0x51, 0x4e, 0x53);
constexpr int kColourTolerance = 3;
// A point inside a button's pill, left of its label.
constexpr qreal kPillSampleX = 14;

// How far a drawn image's aspect ratio may stray from its artwork's: whole-
// pixel decoding moves the smallest images' by up to about 1 %.
constexpr qreal kAspectTolerance = 0.015;
// An image's status once its file is decoded (Image.Ready).
constexpr int kImageReady = 1;
// Half a pixel of rounding in a drawn size.
constexpr qreal kHalfPixel = 0.5;

// Test slider positions and a progress value as the relay sends it.
constexpr double kSliderFirst = 0.3;
constexpr double kSliderLater = 0.8;
constexpr int kSomeProgress = 57;

// The pages, in the order the page view declares them.
const QStringList kPages = {"welcomePage", "changelogPage", "accessoriesPage",
                            "howTo1Page",  "howTo2Page",    "howTo3Page",
                            "errorPage",   "progressPage",  "successPage"};

// Every item below root, through both the object tree and the item tree:
// controls put their styled parts into loaders of their own.
QQuickItem* findItem(QObject* root, const QString& name) {
    if (!root)
        return nullptr;
    QList<QObject*> children = root->children();
    if (auto* item = qobject_cast<QQuickItem*>(root)) {
        for (QQuickItem* child : item->childItems()) {
            if (!children.contains(child))
                children.append(child);
        }
    }
    for (QObject* child : children) {
        auto* item = qobject_cast<QQuickItem*>(child);
        if (item && item->objectName() == name)
            return item;
    }
    for (QObject* child : children) {
        if (QQuickItem* found = findItem(child, name))
            return found;
    }
    return nullptr;
}

bool isActivationLine(const LogLine& line) {
    return line.text.startsWith(QLatin1String("Page ")) &&
           line.text.endsWith(QLatin1String(" is active."));
}

QString debug(const QString& text) {
    return LogCapture::format(QtDebugMsg, text);
}
QString warning(const QString& text) {
    return LogCapture::format(QtWarningMsg, text);
}

QStringList activationLines(const QStringList& pages) {
    QStringList lines;
    for (const QString& page : pages)
        lines << debug(QStringLiteral("Page %1 is active.").arg(page));
    return lines;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Bytes toBytes(const QByteArray& bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

// Aborts the calling test function when a helper has failed.
#define STEP(call)                                                                                 \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

} // namespace

class tst_wizard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Needs the engine as the process starts, with no failure text yet:
    // keep it first.
    void emptyLastErrorShowsUnknownErrorText();
    void windowAtStart();
    void upgradeToSuccess();
    void connectionFailure();
    void upgradeFailureThenRetry();
    void closeDuringUpgradeWaitsForTheEnd_data();
    void closeDuringUpgradeWaitsForTheEnd();
    void focusRingOnlyWhileUsingKeys();

    void nextPageFollowsDeclarationOrder_data();
    void nextPageFollowsDeclarationOrder();
    void showingCurrentPageOnlySetsProperties();
    void bandOnlyWithButtons_data();
    void bandOnlyWithButtons();
    void contentOnWindowAxis_data();
    void contentOnWindowAxis();
    void largerWindowKeepsMargins();
    void imagesFitTheirSourceSize_data();
    void imagesFitTheirSourceSize();
    void errorPageButtonBackgrounds();
    void progressReplacesTestSlider();

private:
    QString text(const QString& key) const;
    QQuickItem* item(const QString& name) const;
    QStringList visiblePages() const;
    QStringList activationLog() const;
    // The warning lines from the log line numbered mark (0: the first) on.
    QStringList warningsSince(int mark) const;
    QString itemText(const QString& name) const;
    // The progress page's ring: the other pages have rings of their own.
    QString progressRingText(const QString& name) const;

    void waitForFrame();
    void saveScreenshot(const QString& name, const QImage& image);
    void screenshot(const QString& name);
    void clickButton(const QString& name);
    // Clicks and checks that exactly the page expected is shown.
    void go(const QString& button, const QString& page);
    void walkToHowTo3();
    // Calls the page view's showPageByName, with properties when given.
    void showPage(const QString& name, const QVariantMap& properties = QVariantMap());
    QString currentPageName() const;
    QRectF sceneRect(const QString& name) const;

    LogCapture m_log;
    QJsonObject m_textCopy;
    std::unique_ptr<QQmlApplicationEngine> m_qml;
    QQuickWindow* m_window = nullptr;
    installator* m_controller = nullptr;
    // Names of the pages in the order they became visible since the scene
    // loaded.
    QStringList m_shownPages;
};

void tst_wizard::initTestCase() {
    registerQmlTypes();
    registerEngineMetaTypes();
    // The pages log their activation on the debug channel.
    QLoggingCategory::setFilterRules(QStringLiteral("qml.debug=true\njs.debug=true"));
    m_log.install();

    const QByteArray copy = readFile(appfolder::path(kTextCopyFile));
    m_textCopy = QJsonDocument::fromJson(copy).object().value("copy").toObject();
    QVERIFY2(!m_textCopy.isEmpty(), "the staged text copy file is missing");
    QVERIFY(QFile::exists(appfolder::path(text(kFirmwareKey))));
    QVERIFY(QDir().mkpath(kScreenshotDir));
}

void tst_wizard::init() {
    sim::Bus::reset();
    m_shownPages.clear();
    m_log.clear();

    m_qml = std::make_unique<QQmlApplicationEngine>();
    m_qml->load(QUrl(QString::fromLatin1(kMainQml)));
    QCOMPARE(m_qml->rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow*>(m_qml->rootObjects().first());
    QVERIFY(m_window);
    m_controller = m_window->findChild<installator*>(QStringLiteral("installator"));
    QVERIFY(m_controller);

    for (const QString& name : kPages) {
        QQuickItem* page = item(name);
        QVERIFY2(page, qPrintable(name));
        connect(page, &QQuickItem::visibleChanged, this, [this, page] {
            if (page->isVisible())
                m_shownPages << page->objectName();
        });
    }
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void tst_wizard::cleanup() {
    // The engine is left idle and disconnected, as the next function expects
    // it; the relay's last result reaches the scene before it goes.
    QTRY_COMPARE_WITH_TIMEOUT(int(hidDfuGetProgress()), int(kHidDfuNothingRunning),
                              kUpgradeTimeoutMs);
    QTest::qWait(kRelayIntervalMs);
    m_controller = nullptr;
    m_window = nullptr;
    m_qml.reset();
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

QString tst_wizard::text(const QString& key) const {
    return m_textCopy.value(key).toString();
}

QQuickItem* tst_wizard::item(const QString& name) const {
    return findItem(m_window, name);
}

QStringList tst_wizard::visiblePages() const {
    QStringList visible;
    for (const QString& name : kPages) {
        if (QQuickItem* page = item(name); page && page->isVisible())
            visible << name;
    }
    return visible;
}

QStringList tst_wizard::activationLog() const {
    return m_log.texts(isActivationLine);
}

QStringList tst_wizard::warningsSince(int mark) const {
    QStringList warnings;
    const QVector<LogLine> lines = m_log.lines();
    for (int i = mark; i < lines.size(); ++i) {
        // The engine's list of the devices it saw is its own business.
        if (lines.at(i).type == QtWarningMsg &&
            !lines.at(i).text.startsWith(QLatin1String("Device Found")))
            warnings << LogCapture::format(lines.at(i).type, lines.at(i).text);
    }
    return warnings;
}

QString tst_wizard::itemText(const QString& name) const {
    QQuickItem* found = item(name);
    return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(name);
}

QString tst_wizard::progressRingText(const QString& name) const {
    QQuickItem* found = findItem(item("progressRing"), name);
    return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(name);
}

void tst_wizard::waitForFrame() {
    QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
    m_window->update();
    QTRY_VERIFY(frames.count() > 0);
}

void tst_wizard::saveScreenshot(const QString& name, const QImage& image) {
    QCOMPARE(image.size(), QSize(kWindowWidth, kWindowHeight));
    const QString path = QStringLiteral("%1/%2.png").arg(kScreenshotDir, name);
    QVERIFY2(image.save(path), qPrintable(path));
}

void tst_wizard::screenshot(const QString& name) {
    STEP(waitForFrame());
    saveScreenshot(name, m_window->grabWindow());
}

void tst_wizard::clickButton(const QString& name) {
    QQuickItem* button = item(name);
    QVERIFY2(button, qPrintable(name));
    QTRY_VERIFY2(button->isVisible() && button->isEnabled(), qPrintable(name));
    // Layouts place a page's buttons only once the page is drawn.
    STEP(waitForFrame());
    // Each button is named after the text copy key of its label.
    QQuickItem* label = findItem(button, QStringLiteral("buttonLabel"));
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(label->property("text").toString(), text(name));

    const QPointF centre(button->width() / 2, button->height() / 2);
    const QPoint point = button->mapToScene(centre).toPoint();
    QVERIFY2(QRect(QPoint(), m_window->size()).contains(point), qPrintable(name));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, point);
}

void tst_wizard::go(const QString& button, const QString& page) {
    STEP(clickButton(button));
    QTRY_COMPARE(visiblePages(), QStringList{page});
}

void tst_wizard::walkToHowTo3() {
    STEP(go("welcomePageForward", "changelogPage"));
    STEP(go("changelogPageForward", "accessoriesPage"));
    STEP(go("accessoriesPageForward", "howTo1Page"));
    STEP(go("howTo1PageForward", "howTo2Page"));
    STEP(go("howTo2PageForward", "howTo3Page"));
}

void tst_wizard::showPage(const QString& name, const QVariantMap& properties) {
    QObject* pageView = item("pageView");
    QVERIFY(pageView);
    QVERIFY(QMetaObject::invokeMethod(
        pageView, "showPageByName", Q_ARG(QVariant, name),
        Q_ARG(QVariant, properties.isEmpty() ? QVariant() : QVariant(properties))));
}

QString tst_wizard::currentPageName() const {
    QObject* pageView = item("pageView");
    QObject* page = pageView ? pageView->property("currentPage").value<QObject*>() : nullptr;
    return page ? page->property("name").toString() : QString();
}

QRectF tst_wizard::sceneRect(const QString& name) const {
    QQuickItem* found = item(name);
    return found ? found->mapRectToScene(QRectF(0, 0, found->width(), found->height())) : QRectF();
}

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
    // Ends the watchers below with this function.
    QObject watching;
    QQuickItem* progressPage = item("progressPage");
    connect(progressPage, &QQuickItem::visibleChanged, &watching, [&] {
        if (!progressPage->isVisible())
            return;
        startLabel = progressRingText("percentLabel");
        startSign = progressRingText("percentSign");
        startSignVisible = findItem(item("progressRing"), "percentSign")->isVisible();
        startImage = m_window->grabWindow();
    });
    // The ring's label after each progress value: the page's handler runs
    // first, having connected when the scene was created.
    QSignalSpy progress(m_controller, &installator::progressChanged);
    QSignalSpy results(m_controller, &installator::resultReady);
    QStringList labels;
    QImage halfImage;
    connect(m_controller, &installator::progressChanged, &watching, [&](int value) {
        labels << progressRingText("percentLabel");
        if (value >= kAboutHalf && halfImage.isNull())
            halfImage = m_window->grabWindow();
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

void tst_wizard::upgradeFailureThenRetry() {
    sim::DeviceModel& device = sim::Bus::addAccessory(demo::accessoryConfig());
    device.overrideStatus(kFailingDfuStatus, std::nullopt);
    QSignalSpy results(m_controller, &installator::resultReady);

    STEP(walkToHowTo3());
    STEP(clickButton("howTo3PageForward"));
    QTRY_COMPARE_WITH_TIMEOUT(visiblePages(), QStringList{"errorPage"}, kUpgradeTimeoutMs);
    QCOMPARE(results.count(), 1);
    QCOMPARE(results.at(0).at(0).toInt(), kUpgradeFailed);
    QCOMPARE(itemText("errorPageText"),
             QStringLiteral("Upgrade failed (DFU status code = %1)\nError %2")
                 .arg(kFailingDfuStatus)
                 .arg(kUpgradeFailed));
    STEP(screenshot("11-errorPage-upgrade"));
    // The first status reply ended the run: nothing was written to the device.
    QCOMPARE(sentReports(device), std::vector<Bytes>());

    QCOMPARE(itemText("errorPageAdvice"), text("errorAdvice-8"));
    // Released without a restart, so that the retry connects anew.
    QCOMPARE(sim::Bus::openConnections(), 0);
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.thread == QThread::currentThread() && line.type == QtInfoMsg &&
               !line.text.startsWith(QLatin1String("Connection")) &&
               !line.text.startsWith(QLatin1String("Firmware file"));
    }),
             (QStringList{LogCapture::format(QtInfoMsg, "Status after progress:  -8"),
                          LogCapture::format(QtInfoMsg, "Error:  -8"),
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

void tst_wizard::nextPageFollowsDeclarationOrder_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("first to second") << "welcomePage"
                                     << "changelogPage";
    // The wizard goes on to the progress page; the declaration order does not.
    QTest::newRow("last preparation step to error") << "howTo3Page"
                                                    << "errorPage";
    QTest::newRow("error to progress") << "errorPage"
                                       << "progressPage";
    QTest::newRow("last wraps to first") << "successPage"
                                         << "welcomePage";
}

void tst_wizard::nextPageFollowsDeclarationOrder() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    STEP(showPage(from));
    QCOMPARE(currentPageName(), from);
    QCOMPARE(item(from)->property("index").toInt(), kPages.indexOf(from));

    QVERIFY(QMetaObject::invokeMethod(item("pageView"), "nextPage"));
    QCOMPARE(visiblePages(), QStringList{to});
    QCOMPARE(currentPageName(), to);
    QCOMPARE(item(to)->property("index").toInt(), kPages.indexOf(to));
    for (const QString& name : kPages)
        QCOMPARE(item(name)->isEnabled(), name == to);
}

void tst_wizard::showingCurrentPageOnlySetsProperties() {
    // What the error page says at the moment it appears.
    QVariant errorOnShow;
    QVariant errorTextOnShow;
    QString shownText;
    QObject watching;
    QQuickItem* errorPage = item("errorPage");
    connect(errorPage, &QQuickItem::visibleChanged, &watching, [&] {
        if (!errorPage->isVisible())
            return;
        errorOnShow = errorPage->property("error");
        errorTextOnShow = errorPage->property("errorText");
        shownText = itemText("errorPageText");
    });

    STEP(showPage("errorPage", {{"error", kFailedToConnect}, {"errorText", QString()}}));
    QCOMPARE(errorOnShow.toInt(), kFailedToConnect);
    QCOMPARE(errorTextOnShow.toString(), QString());
    QCOMPARE(shownText,
             text("failedUnknownError") + QStringLiteral("\nError %1").arg(kFailedToConnect));
    QCOMPARE(activationLog(), activationLines({"errorPage"}));

    // Again, while it is current: the properties change, nothing else does.
    const QString message = QStringLiteral("Device busy");
    STEP(showPage("errorPage", {{"error", kUpgradeFailed}, {"errorText", message}}));
    QCOMPARE(visiblePages(), QStringList{"errorPage"});
    QCOMPARE(currentPageName(), QStringLiteral("errorPage"));
    QCOMPARE(itemText("errorPageText"), message + QStringLiteral("\nError %1").arg(kUpgradeFailed));
    QCOMPARE(m_shownPages, QStringList{"errorPage"});
    QCOMPARE(activationLog(), activationLines({"errorPage"}));
}

void tst_wizard::bandOnlyWithButtons_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("welcomePage") << "welcomePage" << QStringList{"welcomePageForward"};
    QTest::newRow("changelogPage")
        << "changelogPage" << QStringList{"changelogPageBack", "changelogPageForward"};
    QTest::newRow("accessoriesPage")
        << "accessoriesPage" << QStringList{"accessoriesPageBack", "accessoriesPageForward"};
    QTest::newRow("howTo1Page") << "howTo1Page"
                                << QStringList{"howTo1PageBack", "howTo1PageForward"};
    QTest::newRow("howTo2Page") << "howTo2Page"
                                << QStringList{"howTo2PageBack", "howTo2PageForward"};
    QTest::newRow("howTo3Page") << "howTo3Page"
                                << QStringList{"howTo3PageBack", "howTo3PageForward"};
    QTest::newRow("errorPage") << "errorPage" << QStringList{"errorPageExit", "errorPageForward"};
    QTest::newRow("progressPage, no way back") << "progressPage" << QStringList();
    QTest::newRow("successPage") << "successPage" << QStringList{"successPageExit"};
}

void tst_wizard::bandOnlyWithButtons() {
    QFETCH(QString, page);
    QFETCH(QStringList, buttons);
    STEP(showPage(page));
    STEP(waitForFrame());
    QQuickItem* band = findItem(item(page), QStringLiteral("buttonBand"));
    QVERIFY(band);
    QCOMPARE(band->isVisible(), !buttons.isEmpty());
    if (buttons.isEmpty()) {
        // Without a band the content area reaches the window's bottom edge.
        QQuickItem* content = item(page);
        QCOMPARE(
            content->mapRectToScene(QRectF(0, 0, content->width(), content->height())).bottom(),
            qreal(kWindowHeight));
        return;
    }
    // From one window edge to the other, on the bottom edge.
    QCOMPARE(band->mapRectToScene(QRectF(0, 0, band->width(), band->height())),
             QRectF(0, kWindowHeight - kBandHeight, kWindowWidth, kBandHeight));
    // The buttons stand in the band, left to right in the order given.
    qreal lastLeft = -1;
    for (const QString& name : buttons) {
        const QRectF rect = sceneRect(name);
        QVERIFY2(rect.isValid(), qPrintable(name));
        QVERIFY2(band->mapRectToScene(QRectF(0, 0, band->width(), band->height())).contains(rect),
                 qPrintable(name));
        QVERIFY2(rect.left() > lastLeft, qPrintable(name));
        lastLeft = rect.left();
    }
}

void tst_wizard::contentOnWindowAxis_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("welcomePage") << "welcomePage"
                                 << QStringList{"welcomePageIcon", "welcomePageTitle",
                                                "welcomePageContent"};
    QTest::newRow("changelogPage") << "changelogPage" << QStringList{"changelogScrollView"};
    // Its row of cells is wider than the page column at the opening size.
    QTest::newRow("accessoriesPage")
        << "accessoriesPage" << QStringList{"accessoriesPageTitle", "accessoriesPageCells"};
    QTest::newRow("howTo1Page") << "howTo1Page"
                                << QStringList{"howTo1PageTitle", "howTo1PageRing",
                                               "howTo1PageContent"};
    QTest::newRow("howTo2Page") << "howTo2Page"
                                << QStringList{"howTo2PageTitle", "howTo2PageImage",
                                               "howTo2PageContent"};
    QTest::newRow("howTo3Page") << "howTo3Page"
                                << QStringList{"howTo3PageTitle", "howTo3PageImage",
                                               "howTo3PageContent"};
    QTest::newRow("errorPage") << "errorPage"
                               << QStringList{"errorPageShield", "errorPageTitle", "errorPageText"};
    QTest::newRow("progressPage") << "progressPage"
                                  << QStringList{"progressPageTitle", "progressRing",
                                                 "progressPageContent"};
    QTest::newRow("successPage") << "successPage"
                                 << QStringList{"successPageTitle", "successPageRing",
                                                "successPageContent"};
}

void tst_wizard::contentOnWindowAxis() {
    QFETCH(QString, page);
    QFETCH(QStringList, items);
    STEP(showPage(page));
    STEP(waitForFrame());
    for (const QString& name : items) {
        const QRectF rect = sceneRect(name);
        QVERIFY2(rect.isValid(), qPrintable(name));
        QVERIFY2(qAbs(rect.center().x() - kWindowAxis) <= kAxisTolerance,
                 qPrintable(QStringLiteral("%1 centred at %2").arg(name).arg(rect.center().x())));
    }
}

void tst_wizard::largerWindowKeepsMargins() {
    m_window->resize(kLargerWidth, kLargerHeight);
    QTRY_COMPARE(m_window->size(), QSize(kLargerWidth, kLargerHeight));
    QTRY_COMPARE(sceneRect("pageView"), QRectF(kOuterMargin, kOuterMargin + kLogoRowHeight,
                                               kLargerWidth - 2 * kOuterMargin,
                                               kLargerHeight - kOuterMargin - kLogoRowHeight));
    STEP(waitForFrame());

    // The logo row keeps the outer margin on both sides.
    QCOMPARE(sceneRect("makerLogo").left(), qreal(kOuterMargin));
    QCOMPARE(sceneRect("productLogo").right(), qreal(kLargerWidth - kOuterMargin));
    // The welcome page's column keeps its top and side margins; its body text
    // is as wide as the column.
    QCOMPARE(sceneRect("welcomePageIcon").top(),
             qreal(kOuterMargin + kLogoRowHeight + kWelcomeTopMargin));
    QCOMPARE(item("welcomePageContent")->width(),
             qreal(kLargerWidth - 2 * kOuterMargin - 2 * kPageSideMargin));
    QVERIFY(qAbs(sceneRect("welcomePageContent").center().x() - kLargerWidth / 2.0) <=
            kAxisTolerance);
    // The band still spans the window, on its bottom edge, at its own height.
    QQuickItem* band = findItem(item("welcomePage"), QStringLiteral("buttonBand"));
    QVERIFY(band);
    QCOMPARE(band->mapRectToScene(QRectF(0, 0, band->width(), band->height())),
             QRectF(0, kLargerHeight - kBandHeight, kLargerWidth, kBandHeight));
}

void tst_wizard::imagesFitTheirSourceSize_data() {
    QTest::addColumn<QString>("page");
    // The image, or the cell that holds it.
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QSize>("natural");
    QTest::addColumn<QSize>("sourceSize");
    QTest::newRow("power-off symbol") << "howTo1Page"
                                      << "howTo1PageIcon" << QSize(56, 63) << QSize(60, 60);
    QTest::newRow("laptop, cable and device")
        << "howTo2Page"
        << "howTo2PageImage" << QSize(762, 269) << QSize(509, 182);
    QTest::newRow("device's control face")
        << "howTo3Page"
        << "howTo3PageImage" << QSize(344, 297) << QSize(197, 167);
    QTest::newRow("product icon") << "successPage"
                                  << "successPageIcon" << QSize(41, 62) << QSize(60, 60);
    QTest::newRow("error shield") << "errorPage"
                                  << "errorPageShield" << QSize(49, 59) << QSize(45, 56);
    QTest::newRow("first accessory") << "accessoriesPage"
                                     << "accessoriesPageCell1" << QSize(215, 119) << QSize(142, 79);
    QTest::newRow("second accessory") << "accessoriesPage"
                                      << "accessoriesPageCell2" << QSize(165, 33) << QSize(165, 33);
    QTest::newRow("third accessory")
        << "accessoriesPage"
        << "accessoriesPageCell3" << QSize(101, 102) << QSize(102, 101);
}

void tst_wizard::imagesFitTheirSourceSize() {
    QFETCH(QString, page);
    QFETCH(QString, holder);
    QFETCH(QSize, natural);
    QFETCH(QSize, sourceSize);
    STEP(showPage(page));
    STEP(waitForFrame());
    QQuickItem* image = item(holder);
    if (image && image->property("paintedWidth").isNull())
        image = findItem(image, QStringLiteral("picture"));
    QVERIFY(image);
    QTRY_COMPARE(image->property("status").toInt(), kImageReady);
    QCOMPARE(image->property("sourceSize").toSize(), sourceSize);

    // Within the source size, filling it in one direction, with the
    // artwork's proportions.
    const qreal width = image->property("paintedWidth").toReal();
    const qreal height = image->property("paintedHeight").toReal();
    const QString drawn = QStringLiteral("drawn %1 x %2").arg(width).arg(height);
    QVERIFY2(width <= sourceSize.width() + kHalfPixel, qPrintable(drawn));
    QVERIFY2(height <= sourceSize.height() + kHalfPixel, qPrintable(drawn));
    QVERIFY2(width >= sourceSize.width() - kHalfPixel || height >= sourceSize.height() - kHalfPixel,
             qPrintable(drawn));
    const qreal aspect = qreal(natural.width()) / natural.height();
    QVERIFY2(qAbs(width / height - aspect) <= aspect * kAspectTolerance, qPrintable(drawn));
    // And within the item, which is what layouts and centring see.
    QVERIFY2(width <= image->width() + kHalfPixel && height <= image->height() + kHalfPixel,
             qPrintable(drawn));
}

void tst_wizard::errorPageButtonBackgrounds() {
    STEP(showPage("errorPage"));
    STEP(waitForFrame());
    const QImage image = m_window->grabWindow();
    const auto pillPixel = [&](const QString& name) {
        QQuickItem* button = item(name);
        return button
                   ? image.pixelColor(
                         button->mapToScene(QPointF(kPillSampleX, button->height() / 2)).toPoint())
                   : QColor();
    };
    const auto isSolid = [](const QColor& colour) {
        return qAbs(colour.red() - kSolidButtonColour.red()) <= kColourTolerance &&
               qAbs(colour.green() - kSolidButtonColour.green()) <= kColourTolerance &&
               qAbs(colour.blue() - kSolidButtonColour.blue()) <= kColourTolerance;
    };

    const QColor exitColour = pillPixel("errorPageExit");
    QVERIFY2(isSolid(exitColour), qPrintable(exitColour.name()));
    // The image's gradient starts blue-violet at the pill's left end.
    const QColor forwardColour = pillPixel("errorPageForward");
    QVERIFY2(!isSolid(forwardColour), qPrintable(forwardColour.name()));
    QVERIFY2(forwardColour.blue() > forwardColour.green() + 40, qPrintable(forwardColour.name()));
}

void tst_wizard::progressReplacesTestSlider() {
    QQuickItem* ring = item("progressRing");
    QQuickItem* slider = item("progressTestSlider");
    QVERIFY(ring);
    QVERIFY(slider);
    STEP(showPage("progressPage"));
    STEP(waitForFrame());
    QVERIFY(!slider->isVisible());

    QObject* settings = m_window->property("settings").value<QObject*>();
    QVERIFY(settings);
    QVERIFY(settings->setProperty("debugMode", true));
    STEP(waitForFrame());
    QVERIFY(slider->isVisible());
    // Directly below the ring and as wide as it.
    const QRectF ringRect = sceneRect("progressRing");
    const QRectF sliderRect = sceneRect("progressTestSlider");
    QVERIFY(sliderRect.top() >= ringRect.bottom());
    QCOMPARE(sliderRect.left(), ringRect.left());
    QCOMPARE(sliderRect.width(), ringRect.width());
    STEP(screenshot("progressPage-test-slider"));

    QVERIFY(slider->setProperty("value", kSliderFirst));
    QCOMPARE(ring->property("value").toDouble(), kSliderFirst);
    QCOMPARE(progressRingText("percentLabel"), QString::number(qRound(kSliderFirst * 100)));

    emit m_controller->progressChanged(kSomeProgress);
    QCOMPARE(ring->property("value").toDouble(), kSomeProgress / 100.0);
    QCOMPARE(progressRingText("percentLabel"), QString::number(kSomeProgress));
    QCOMPARE(m_log.texts([](const LogLine& line) {
        return line.text.startsWith(QLatin1String("progress "));
    }),
             QStringList{debug(QStringLiteral("progress %1%").arg(kSomeProgress))});

    // The slider no longer drives the ring.
    QVERIFY(slider->setProperty("value", kSliderLater));
    QCOMPARE(ring->property("value").toDouble(), kSomeProgress / 100.0);
    QCOMPARE(progressRingText("percentLabel"), QString::number(kSomeProgress));
}

int main(int argc, char* argv[]) {
    // The scene's graphical effects need OpenGL, which the offscreen
    // platform lacks: the test draws on an X server of its own.
    PrivateXServer server;
    if (!server.start(kXvfb, kServerStartTimeoutMs)) {
        std::fprintf(stderr, "%s did not start or named no display\n", kXvfb);
        return 1;
    }
    qputenv("DISPLAY", server.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Frames and grabs then happen on the test's own thread, between its
    // steps.
    qputenv("QSG_RENDER_LOOP", "basic");

    QGuiApplication application(argc, argv);
    // A test closes the window; the next one loads the scene again.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    tst_wizard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wizard.moc"
