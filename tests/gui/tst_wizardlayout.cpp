// How the wizard's pages are built and laid out: the page view's order and
// properties, the button band, the content on the window's axis, margins in
// a larger window, image sizes, button backgrounds and the progress page's
// test slider, texts that fit on every page in every state, and every page
// in each language. Each test function shows a page directly rather than
// walking to it.
#include "wizardtest.h"

#include "appfolder.h"
#include "demoaccessory.h"

using namespace wizardtest;

namespace {

// The window's vertical axis, on which every page centres its content.
constexpr qreal kWindowAxis = kWindowWidth / 2.0;
// How far off the axis an item may sit: rounding moves some by a fraction of
// a pixel (an image one pixel wider than the page column, a text block as
// wide as a title's fractional width).
constexpr qreal kAxisTolerance = 1.0;
// How much larger the window is made than it opens.
constexpr int kWider = 200;
constexpr int kTaller = 150;

// How far a button's label keeps from the pill's rounded ends.
constexpr qreal kLabelInset = 14;

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

// The staged text copy's language; rows in others come with their texts.
const char kStagedLanguage[] = "en";
// Every language the wizard ships.
const char* const kLanguages[] = {"en", "de", "fr", "es", "ja", "zh_CN"};

} // namespace

class tst_wizardlayout : public WizardTest {
    Q_OBJECT

private slots:
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
    void translatedPagesFit_data();
    void translatedPagesFit();
    void textsFitAndStayClear_data();
    void textsFitAndStayClear();
};

void tst_wizardlayout::nextPageFollowsDeclarationOrder_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    // The wizard goes on from the last preparation step to the progress
    // page; the declaration order does not.
    const char* const rows[][3] = {{"first to second", "welcomePage", "changelogPage"},
                                   {"last preparation step to error", "howTo3Page", "errorPage"},
                                   {"error to progress", "errorPage", "progressPage"},
                                   {"last wraps to first", "successPage", "welcomePage"}};
    for (const auto& row : rows)
        QTest::newRow(row[0]) << row[1] << row[2];
}

void tst_wizardlayout::nextPageFollowsDeclarationOrder() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    STEP(showPage(from));
    QCOMPARE(currentPageName(), from);
    QCOMPARE(item(from)->property("index").toInt(), kPages.indexOf(from));

    QVERIFY(QMetaObject::invokeMethod(item("pageView"), "nextPage"));
    QCOMPARE(visiblePages(), QStringList{to});
    QCOMPARE(currentPageName(), to);
    QCOMPARE(item(to)->property("index").toInt(), kPages.indexOf(to));
    // A page never shown is not built.
    for (const QString& name : kPages)
        if (QQuickItem* page = item(name))
            QCOMPARE(page->isEnabled(), name == to);
}

void tst_wizardlayout::showingCurrentPageOnlySetsProperties() {
    // What the error page says at the moment it appears.
    QVariant errorOnShow;
    QVariant errorTextOnShow;
    QString shownText;
    QObject watching;
    connect(this, &WizardTest::pageShown, &watching, [&](const QString& name) {
        if (name != "errorPage")
            return;
        QQuickItem* errorPage = item("errorPage");
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

void tst_wizardlayout::bandOnlyWithButtons_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("buttons");
    const QMap<QString, QStringList> buttons{
        {"welcomePage", {"welcomePageForward"}},
        {"changelogPage", {"changelogPageBack", "changelogPageForward"}},
        {"accessoriesPage", {"accessoriesPageBack", "accessoriesPageForward"}},
        {"howTo1Page", {"howTo1PageBack", "howTo1PageForward"}},
        {"howTo2Page", {"howTo2PageBack", "howTo2PageForward"}},
        {"howTo3Page", {"howTo3PageBack", "howTo3PageForward"}},
        {"errorPage", {"errorPageExit", "errorPageCopyDetails", "errorPageForward"}},
        {"progressPage", {}}, // no way back
        {"successPage", {"successPageExit"}}};
    for (auto row = buttons.begin(); row != buttons.end(); ++row)
        QTest::newRow(qPrintable(row.key())) << row.key() << row.value();
}

void tst_wizardlayout::bandOnlyWithButtons() {
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
             QRectF(0, kWindowHeight - band->height(), kWindowWidth, band->height()));
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

void tst_wizardlayout::contentOnWindowAxis_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("items");
    // The accessories' row of cells is wider than the page column at the
    // opening size.
    const QMap<QString, QStringList> items{
        {"welcomePage", {"welcomePageIcon", "welcomePageTitle", "welcomePageContent"}},
        {"changelogPage", {"changelogScrollView"}},
        {"accessoriesPage", {"accessoriesPageTitle", "accessoriesPageCells"}},
        {"howTo1Page", {"howTo1PageTitle", "howTo1PageRing", "howTo1PageContent"}},
        {"howTo2Page", {"howTo2PageTitle", "howTo2PageImage", "howTo2PageContent"}},
        {"howTo3Page", {"howTo3PageTitle", "howTo3PageImage", "howTo3PageContent"}},
        {"errorPage", {"errorPageShield", "errorPageTitle", "errorPageText"}},
        {"progressPage", {"progressPageTitle", "progressRing", "progressPageContent"}},
        {"successPage", {"successPageTitle", "successPageRing", "successPageContent"}}};
    for (auto row = items.begin(); row != items.end(); ++row)
        QTest::newRow(qPrintable(row.key())) << row.key() << row.value();
}

void tst_wizardlayout::contentOnWindowAxis() {
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

void tst_wizardlayout::largerWindowKeepsMargins() {
    // Every measure is taken at the opening size: a larger window keeps the
    // margins and gives its growth to the page column.
    STEP(waitForFrame());
    const QRectF pageView = sceneRect("pageView");
    const QRectF makerLogo = sceneRect("makerLogo");
    const QRectF productLogo = sceneRect("productLogo");
    const QRectF icon = sceneRect("welcomePageIcon");
    const qreal column = item("welcomePageContent")->width();
    m_window->resize(kWindowWidth + kWider, kWindowHeight + kTaller);
    QTRY_COMPARE(m_window->size(), QSize(kWindowWidth + kWider, kWindowHeight + kTaller));
    QTRY_COMPARE(sceneRect("pageView"), pageView.adjusted(0, 0, kWider, kTaller));
    STEP(waitForFrame());

    // The logo row keeps the outer margin on both sides.
    QCOMPARE(sceneRect("makerLogo"), makerLogo);
    QCOMPARE(sceneRect("productLogo"), productLogo.translated(kWider, 0));
    // The welcome page's column keeps its top and side margins; its body text
    // is as wide as the column.
    QCOMPARE(sceneRect("welcomePageIcon").top(), icon.top());
    QCOMPARE(item("welcomePageContent")->width(), column + kWider);
    QVERIFY(qAbs(sceneRect("welcomePageContent").center().x() - kWindowAxis - kWider / 2.0) <=
            kAxisTolerance);
    // The band still spans the window, on its bottom edge, at its own height.
    QQuickItem* band = findItem(item("welcomePage"), QStringLiteral("buttonBand"));
    QVERIFY(band);
    QCOMPARE(
        band->mapRectToScene(QRectF(0, 0, band->width(), band->height())),
        QRectF(0, kWindowHeight + kTaller - band->height(), kWindowWidth + kWider, band->height()));
}

void tst_wizardlayout::imagesFitTheirSourceSize_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("holder"); // the image, or the cell that holds it
    QTest::addColumn<QSize>("natural");
    QTest::addColumn<QSize>("sourceSize");
    const struct {
        const char *name, *page, *holder;
        QSize natural, sourceSize;
    } rows[] = {
        {"power-off symbol", "howTo1Page", "howTo1PageIcon", {56, 63}, {60, 60}},
        {"laptop, cable and device", "howTo2Page", "howTo2PageImage", {762, 269}, {509, 182}},
        {"device's control face", "howTo3Page", "howTo3PageImage", {344, 297}, {197, 167}},
        {"product icon", "successPage", "successPageIcon", {41, 62}, {60, 60}},
        {"error shield", "errorPage", "errorPageShield", {49, 59}, {45, 56}},
        {"first accessory", "accessoriesPage", "accessoriesPageCell1", {215, 119}, {142, 79}},
        {"second accessory", "accessoriesPage", "accessoriesPageCell2", {165, 33}, {165, 33}},
        {"third accessory", "accessoriesPage", "accessoriesPageCell3", {101, 102}, {102, 101}}};
    for (const auto& row : rows)
        QTest::newRow(row.name) << row.page << row.holder << row.natural << row.sourceSize;
}

void tst_wizardlayout::imagesFitTheirSourceSize() {
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

// How each background is drawn is tst_styledbutton's: the error page's way
// out is the plain solid pill, its way on the default image's gradient.
void tst_wizardlayout::errorPageButtonBackgrounds() {
    STEP(showPage("errorPage"));
    QCOMPARE(item("errorPageExit")->property("backgroundImage").toString(), QString());
    QCOMPARE(item("errorPageCopyDetails")->property("backgroundImage").toString(), QString());
    QVERIFY(!item("errorPageForward")->property("backgroundImage").toString().isEmpty());
}

void tst_wizardlayout::progressReplacesTestSlider() {
    STEP(showPage("progressPage"));
    QQuickItem* ring = item("progressRing");
    QQuickItem* slider = item("progressTestSlider");
    QVERIFY(ring);
    QVERIFY(slider);
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

void tst_wizardlayout::translatedPagesFit_data() {
    QTest::addColumn<QString>("language");
    for (const char* language : kLanguages)
        QTest::newRow(language) << QString::fromLatin1(language);
}

// Every page in each language: the window shows the translation, and every
// text is drawn whole, within the window's margins and above the button band,
// every label within its button's pill. The pages are saved as pictures.
void tst_wizardlayout::translatedPagesFit() {
    QFETCH(QString, language);
    // The ready page then says which firmware the accessory runs.
    sim::Bus::addAccessory(demo::accessoryConfig());
    STEP(loadScene(language));
    const bool english = language == QLatin1String("en");
    QCOMPARE(m_controller->language(), english ? QString() : language);
    QCOMPARE(m_window->title() == text("applicationTitle"), english);
    for (const QString& page : kPages) {
        // The error page with its longest texts, a failed connection's.
        const QString failure = m_controller->getText("failedConnectionText");
        STEP(
            showPage(page, page != QLatin1String("errorPage")
                               ? QVariantMap()
                               : QVariantMap{{"error", kFailedToConnect}, {"errorText", failure}}));
        QTRY_VERIFY(page != QLatin1String("howTo3Page") ||
                    !itemText("howTo3PageAccessory").isEmpty());
        STEP(screenshot(QStringLiteral("%1-%2").arg(language, page)));
        // The same rounding as on the axis: the error text's block sits off
        // the pixel grid. Without buttons the page reaches the bottom edge.
        QRectF content = sceneRect(page).adjusted(-kAxisTolerance, 0, kAxisTolerance, 0);
        if (page != QLatin1String("progressPage"))
            content.setBottom(kWindowHeight - findItem(item(page), "buttonBand")->height());
        for (QQuickItem* text : visibleTexts(item(page))) {
            const QString what = page + ": " + text->property("text").toString();
            QVERIFY2(drawsEveryCharacter(text), qPrintable(what));
            // A title is as wide as its text; a wrapped text as its column
            // unless a word is wider.
            const QSizeF drawn(qMax(text->width(), text->property("contentWidth").toReal()),
                               qMax(text->height(), text->property("contentHeight").toReal()));
            if (text->objectName() == QLatin1String("buttonLabel"))
                QVERIFY2(drawn.width() <= controlOf(text)->width() - 2 * kLabelInset,
                         qPrintable(what));
            else
                QVERIFY2(content.contains(text->mapRectToScene(QRectF(QPointF(), drawn))),
                         qPrintable(what));
        }
    }
}

void tst_wizardlayout::textsFitAndStayClear_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QVariantMap>("properties");
    QTest::addColumn<QJsonObject>("copy");
    QTest::addColumn<int>("release");
    // TAVRIN_LAYOUT_LANGUAGES ("en,de,ja") narrows a run of the other sizes
    // to the languages whose texts are longest or of another script.
    const QStringList only =
        qEnvironmentVariable("TAVRIN_LAYOUT_LANGUAGES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const char* language : kLanguages) {
        if (!only.isEmpty() && !only.contains(QLatin1String(language)))
            continue;
        for (const PageState& state : pageStates())
            QTest::addRow("%s, %s, %s", qPrintable(displayName()), qPrintable(state.name), language)
                << QString::fromLatin1(language) << state.page << state.properties << state.copy
                << state.release;
    }
}

// Nothing runs past its box, off the window or under another item: not the
// notes of the ready page, not the error page's lines, not a translation.
// Also run on a small screen that scales the window down and at 200 %.
void tst_wizardlayout::textsFitAndStayClear() {
    QFETCH(QString, language);
    QFETCH(QString, page);
    QFETCH(QVariantMap, properties);
    QFETCH(QJsonObject, copy);
    QFETCH(int, release);
    QByteArray damaged = readFile(appfolder::path(text(kFirmwareKey)));
    damaged[0] = char(damaged[0] ^ 1);
    QVERIFY(appfolder::write(kDamagedFirmware, damaged));
    // The states change only names of files and versions, which come from
    // the English file in every language.
    if (!copy.isEmpty())
        STEP(reloadWithCopy(copy));
    if (language != QLatin1String(kStagedLanguage))
        STEP(loadScene(language));
    appfolder::remove(kDamagedFirmware);
    if (properties.value("errorText") == QLatin1String("failedConnectionText"))
        properties.insert("errorText", m_controller->getText("failedConnectionText"));
    if (release != kNoAccessory) {
        sim::AccessoryConfig config = demo::accessoryConfig();
        config.releaseNumber = uint16_t(release);
        sim::Bus::addAccessory(config);
    }
    STEP(showPage(page, properties));
    STEP(waitForFrame());
    const QStringList problems = textProblems(m_window);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
}

int main(int argc, char* argv[]) {
    return wizardtest::run<tst_wizardlayout>(argc, argv);
}

#include "tst_wizardlayout.moc"
