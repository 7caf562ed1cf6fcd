#include "wizardtest.h"

#include "appfolder.h"
#include "language.h"
#include "startup.h"
#include "textfit.h"
#include "textvariant.h"

#include <QDir>
#include <QFile>
#include <QGlyphRun>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSGRendererInterface>
#include <QSignalSpy>
#include <QTextLayout>

#include <algorithm>
#include <cstdio>

namespace wizardtest {

namespace {

const char kMainQml[] = "qrc:/installator/qml/main.qml";
const char kTextCopyFile[] = "Resources/text_copy.json";
const char kXvfb[] = TAVRIN_XVFB;
const char kScreenshotDir[] = TAVRIN_SCREENSHOT_DIR;
constexpr int kServerStartTimeoutMs = 20000;
// Where a changed text copy file keeps the staged one's "copy", so that a run
// that ended before putting the file back leaves it restorable.
const char kStagedMember[] = "stagedCopy";

} // namespace

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

QList<QQuickItem*> visibleTexts(QQuickItem* root) {
    QList<QQuickItem*> texts;
    for (QQuickItem* child : root->childItems()) {
        if (child->isVisible() && child->inherits("QQuickText") &&
            !child->property("text").toString().isEmpty())
            texts << child;
        if (child->isVisible())
            texts << visibleTexts(child);
    }
    return texts;
}

bool drawsEveryCharacter(QQuickItem* text) {
    QTextLayout layout(text->property("text").toString().replace('\n', ' '),
                       text->property("font").value<QFont>());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    return std::none_of(runs.begin(), runs.end(),
                        [](const QGlyphRun& run) { return run.glyphIndexes().contains(0); });
}

enginesupport::Bytes toBytes(const QByteArray& bytes) {
    return enginesupport::Bytes(bytes.begin(), bytes.end());
}

bool useOwnDisplay(PrivateXServer& server) {
    // The scene's graphical effects need OpenGL, which the offscreen
    // platform lacks: the test draws on an X server of its own.
    if (!server.start(kXvfb, testScreen(), kServerStartTimeoutMs)) {
        std::fprintf(stderr, "%s did not start or named no display\n", kXvfb);
        return false;
    }
    qputenv("DISPLAY", server.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    // Frames and grabs then happen on the test's own thread, between its
    // steps.
    qputenv("QSG_RENDER_LOOP", "basic");
    return true;
}

} // namespace wizardtest

using namespace wizardtest;

void WizardTest::initTestCase() {
    registerQmlTypes();
    registerEngineMetaTypes();
    // The pages log their activation on the debug channel.
    QLoggingCategory::setFilterRules(QStringLiteral("qml.debug=true\njs.debug=true"));
    m_log.install();
    m_logFile = std::make_unique<LogFile>(LogFile::defaultFolder());

    m_stagedCopy = readFile(appfolder::path(kTextCopyFile));
    const QJsonObject file = QJsonDocument::fromJson(m_stagedCopy).object();
    if (file.contains(kStagedMember)) {
        m_stagedCopy = QJsonDocument(QJsonObject{{"copy", file.value(kStagedMember)}}).toJson();
        QVERIFY(appfolder::write(kTextCopyFile, m_stagedCopy));
    }
    m_textCopy = QJsonDocument::fromJson(m_stagedCopy).object().value("copy").toObject();
    QVERIFY2(!m_textCopy.isEmpty(), "the staged text copy file is missing");
    QVERIFY(QFile::exists(appfolder::path(text(kFirmwareKey))));
    QVERIFY(QDir().mkpath(kScreenshotDir));
}

void WizardTest::init() {
    sim::Bus::reset();
    m_log.clear();
    loadScene();
}

void WizardTest::loadScene(const QString& language) {
    m_controller = nullptr;
    m_window = nullptr;
    m_qml.reset();
    m_shownPages.clear();
    // Also English where the person running the tests prefers another
    // language.
    qputenv(language::kOverrideVariable, language.toUtf8());
    m_qml = std::make_unique<QQmlApplicationEngine>();
    m_qml->load(QUrl(QString::fromLatin1(kMainQml)));
    QCOMPARE(m_qml->rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow*>(m_qml->rootObjects().first());
    QVERIFY(m_window);
    m_controller = m_window->findChild<installator*>(QStringLiteral("installator"));
    QVERIFY(m_controller);

    // Pages are built when first shown: the view says which one shows.
    QQuickItem* pageView = item(QStringLiteral("pageView"));
    QVERIFY(pageView);
    connect(pageView, SIGNAL(currentPageChanged()), this, SLOT(recordShownPage()));
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void WizardTest::cleanup() {
    // The engine is left idle and disconnected, as the next function expects
    // it; the relay's last result reaches the scene before it goes.
    QTRY_COMPARE_WITH_TIMEOUT(int(hidDfuGetProgress()), int(kHidDfuNothingRunning),
                              kUpgradeTimeoutMs);
    QTest::qWait(kRelayIntervalMs);
    m_controller = nullptr;
    m_window = nullptr;
    m_qml.reset();
    if (m_copyChanged)
        QVERIFY(appfolder::write(kTextCopyFile, m_stagedCopy));
    m_copyChanged = false;
    QCOMPARE(hidDfuDisconnect(), 0);
    sim::Bus::reset();
}

void WizardTest::reloadWithCopy(const QJsonObject& changes) {
    QJsonObject copy = m_textCopy;
    for (auto it = changes.begin(); it != changes.end(); ++it)
        copy.insert(it.key(), it.value());
    m_copyChanged = true;
    QVERIFY(appfolder::write(
        kTextCopyFile,
        QJsonDocument(QJsonObject{{"copy", copy}, {kStagedMember, m_textCopy}}).toJson()));
    m_controller = nullptr;
    m_window = nullptr;
    m_qml.reset();
    loadScene();
}

QString WizardTest::text(const QString& key) const {
    const QString variant = key + '.' + QLatin1String(platform::textVariant());
    return m_textCopy.value(variant).toString(m_textCopy.value(key).toString());
}

void WizardTest::recordShownPage() {
    const auto* page = sender()->property("currentPage").value<QObject*>();
    if (!page)
        return;
    m_shownPages << page->objectName();
    emit pageShown(page->objectName());
}

QQuickItem* WizardTest::item(const QString& name) const {
    return findItem(m_window, name);
}

QStringList WizardTest::visiblePages() const {
    QStringList visible;
    for (const QString& name : kPages) {
        if (QQuickItem* page = item(name); page && page->isVisible())
            visible << name;
    }
    return visible;
}

QStringList WizardTest::activationLog() const {
    return m_log.texts(isActivationLine);
}

QStringList WizardTest::warningsSince(int mark) const {
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

QString WizardTest::itemText(const QString& name) const {
    QQuickItem* found = item(name);
    return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(name);
}

QString WizardTest::progressRingText(const QString& name) const {
    QQuickItem* found = findItem(item("progressRing"), name);
    return found ? found->property("text").toString() : QStringLiteral("<no %1>").arg(name);
}

void WizardTest::waitForFrame() {
    QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
    m_window->update();
    QTRY_VERIFY(frames.count() > 0);
}

void WizardTest::saveScreenshot(const QString& name, const QImage& image) {
    // In the display's pixels; the name says how the picture was drawn
    // where that is not OpenGL at 100 %, Qt's way for the scale ("@1.5x").
    const qreal scale = m_window->effectiveDevicePixelRatio();
    QCOMPARE(image.size(), QSize(kWindowWidth, kWindowHeight) * scale);
    QString file = name;
    if (m_window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software)
        file += QStringLiteral("-software");
    if (scale != 1)
        file += QStringLiteral("@%1x").arg(scale);
    const QString path = QStringLiteral("%1/%2.png").arg(kScreenshotDir, file);
    QVERIFY2(image.save(path), qPrintable(path));
}

void WizardTest::screenshot(const QString& name) {
    STEP(waitForFrame());
    saveScreenshot(name, m_window->grabWindow());
}

void WizardTest::clickButton(const QString& name) {
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

void WizardTest::go(const QString& button, const QString& page) {
    STEP(clickButton(button));
    QTRY_COMPARE(visiblePages(), QStringList{page});
}

void WizardTest::walkToHowTo3() {
    STEP(go("welcomePageForward", "changelogPage"));
    STEP(go("changelogPageForward", "accessoriesPage"));
    STEP(go("accessoriesPageForward", "howTo1Page"));
    STEP(go("howTo1PageForward", "howTo2Page"));
    STEP(go("howTo2PageForward", "howTo3Page"));
}

void WizardTest::showPage(const QString& name, const QVariantMap& properties) {
    QObject* pageView = item("pageView");
    QVERIFY(pageView);
    QVERIFY(QMetaObject::invokeMethod(
        pageView, "showPageByName", Q_ARG(QVariant, name),
        Q_ARG(QVariant, properties.isEmpty() ? QVariant() : QVariant(properties))));
}

QString WizardTest::currentPageName() const {
    QObject* pageView = item("pageView");
    QObject* page = pageView ? pageView->property("currentPage").value<QObject*>() : nullptr;
    return page ? page->property("name").toString() : QString();
}

QRectF WizardTest::sceneRect(const QString& name) const {
    QQuickItem* found = item(name);
    return found ? found->mapRectToScene(QRectF(0, 0, found->width(), found->height())) : QRectF();
}
