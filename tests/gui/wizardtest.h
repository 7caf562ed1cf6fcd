// What the wizard's test programs share: the real window, controller and
// engine loaded afresh for each test function, the simulated accessory on the
// in-process bus, the log, and the helpers that find, read and click the
// scene's items. Every program draws on an X server of its own.
#pragma once

#include "displayscaling.h"
#include "enginesupport.h"
#include "installator.h"
#include "logcapture.h"
#include "logfile.h"
#include "privatexserver.h"
#include "textfit.h"

#include <QGuiApplication>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtTest>

#include <memory>

namespace wizardtest {

// The text copy key that names the firmware file beside the executable.
const char kFirmwareKey[] = "dfuUpdateUrl";

// The window's opening size, which is also its minimum.
constexpr int kWindowWidth = 918;
constexpr int kWindowHeight = 616;

// Result codes the pages show.
constexpr int kFailedToConnect = -2;
constexpr int kUpgradeFailed = -8;

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
QQuickItem* findItem(QObject* root, const QString& name);

bool isActivationLine(const LogLine& line);
QString debug(const QString& text);
QString warning(const QString& text);
QStringList activationLines(const QStringList& pages);
QByteArray readFile(const QString& path);
// The visible texts under root that show something, button labels included.
QList<QQuickItem*> visibleTexts(QQuickItem* root);
// Whether the item's font, with every fallback the system adds, has a glyph
// for each of its characters: one it lacks is drawn as an empty box.
bool drawsEveryCharacter(QQuickItem* text);
enginesupport::Bytes toBytes(const QByteArray& bytes);

// Starts the private X server and points Qt at it, before the application
// exists.
bool useOwnDisplay(PrivateXServer& server);

// The body of each program's main().
template <typename Test> int run(int argc, char* argv[]) {
    PrivateXServer server;
    if (!useOwnDisplay(server))
        return 1;
    // As the program: QT_SCALE_FACTOR then scales as a display's DPI would.
    enableHighDpiScaling();
    QGuiApplication application(argc, argv);
    // A test closes the window; the next one loads the scene again.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace wizardtest

// Aborts the calling test function when a helper has failed.
#define STEP(call)                                                                                 \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

// The fixture: each program's test functions are private slots of a class
// derived from it, which Qt Test runs together with these.
class WizardTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

signals:
    // A page has been shown; pages are built when first shown.
    void pageShown(const QString& name);

protected slots:
    // The page view's current page has changed.
    void recordShownPage();

protected:
    // Loads the window afresh, its texts in the translation of the language
    // given ("de") or in English.
    void loadScene(const QString& language = QStringLiteral("en"));
    // The staged English text under key as this system shows it.
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
    // Loads the scene again with these keys of the text copy changed;
    // cleanup() puts the staged file back.
    void reloadWithCopy(const QJsonObject& changes);
    // Calls the page view's showPageByName, with properties when given.
    void showPage(const QString& name, const QVariantMap& properties = QVariantMap());
    QString currentPageName() const;
    QRectF sceneRect(const QString& name) const;

    LogCapture m_log;
    // As the program keeps it; made after the capture, so that it passes the
    // lines on to it, and gone before it.
    std::unique_ptr<LogFile> m_logFile;
    QJsonObject m_textCopy;
    std::unique_ptr<QQmlApplicationEngine> m_qml;
    QQuickWindow* m_window = nullptr;
    installator* m_controller = nullptr;
    // Names of the pages in the order they became visible since the scene
    // loaded.
    QStringList m_shownPages;
    // The text copy file as the build staged it.
    QByteArray m_stagedCopy;
    bool m_copyChanged = false;
};
