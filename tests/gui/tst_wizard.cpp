// The wizard as a person meets it: the real window, controller and engine,
// the simulated accessory on the in-process bus, and clicks on the buttons.
// Each test function loads the scene afresh and checks which page shows,
// what it says, what the log says and what reached the accessory. Every page
// is also saved as a picture under the build tree, for a person to look at.
#include "appfolder.h"
#include "demoaccessory.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "privatexserver.h"
#include "startup.h"

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
#include <QtTest>
#include <qqml.h>

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
    qmlRegisterType<installator>("installator", 1, 0, "Installator");
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
    QTRY_COMPARE_WITH_TIMEOUT(int(hidDfuGetProgress()), int(kNothingRunning), kUpgradeTimeoutMs);
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
    // The ring was filled on the way out.
    QCOMPARE(progressRingText("percentLabel"), QStringLiteral("100"));
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
        QVERIFY2(value >= 0 && value < int(kNothingRunning), qPrintable(QString::number(value)));
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

    // The retry: the device is still open from the failed run, so connecting
    // again is refused.
    STEP(go("errorPageForward", "howTo1Page"));
    STEP(go("howTo1PageForward", "howTo2Page"));
    STEP(go("howTo2PageForward", "howTo3Page"));
    const int mark = m_log.lines().size();
    STEP(go("howTo3PageForward", "errorPage"));
    QCOMPARE(itemText("errorPageText"),
             text("failedConnectionText") + QStringLiteral("\nError %1").arg(kFailedToConnect));
    QCOMPARE(warningsSince(mark),
             (QStringList{warning(QStringLiteral("Connection error  -2")),
                          warning(QStringLiteral("errorMessage Already connected"))}));
    QCOMPARE(QByteArray(hidDfuGetLastError()), QByteArray("Already connected"));
    STEP(screenshot("12-errorPage-retry"));

    QCOMPARE(m_shownPages, (QStringList{"changelogPage", "accessoriesPage", "howTo1Page",
                                        "howTo2Page", "howTo3Page", "progressPage", "errorPage",
                                        "howTo1Page", "howTo2Page", "howTo3Page", "errorPage"}));
    QCOMPARE(results.count(), 1);
    QCOMPARE(device.resetCount(), 0);
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
    tst_wizard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wizard.moc"
