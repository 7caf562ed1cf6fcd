// The text copy lookup and the changelog, both read once by the controller's
// constructor from the files beside the executable.
#include "appfolder.h"
#include "installator.h"
#include "language.h"
#include "logcapture.h"
#include "textvariant.h"

#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtTest>

namespace {

QString textCopyPath() {
    return appfolder::path(appfolder::textCopyFile());
}
QString changelogPath() {
    return appfolder::path(appfolder::changelogFile());
}

// The lines logged on this thread, each warning that names key (quoted, as
// the log quotes it) as "warning: key"; the controller words it its own way.
QStringList loggedAbout(const LogCapture& log, const QString& key) {
    QStringList lines;
    for (const LogLine& line : log.lines(LogCapture::onThisThread()))
        lines << (line.type == QtWarningMsg && line.text.contains('"' + key + '"')
                      ? QStringLiteral("warning: ") + key
                      : LogCapture::format(line.type, line.text));
    return lines;
}

// The translations a test writes, and their titles.
const QHash<QString, QString> kTitles = {
    {"de", "Titel"}, {"fr", "Titre"}, {"ja", "タイトル"}, {"zh_CN", "标题"}, {"es", ""}};
QString translation(const char* file, const QString& code) {
    return QString::fromLatin1(file).replace(".", "." + code + ".");
}
QStringList matches(const QString& text, const char* pattern) {
    QStringList found;
    for (auto it = QRegularExpression(pattern).globalMatch(text); it.hasNext();)
        found << it.next().captured();
    return found;
}

} // namespace

class tst_textcopy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void lookup_data();
    void lookup();
    void missingTextCopyFile();
    void changelog_data();
    void changelog();
    void missingChangelog();
    void oversizedFilesAreIgnored_data();
    void oversizedFilesAreIgnored();
    void language_data();
    void language();
    void shippedTranslations_data();
    void shippedTranslations();

private:
    LogCapture m_log;
    const QJsonObject m_englishCopy = {{"applicationTitle", "Title"},
                                       {"welcomePageTitle", "Welcome"},
                                       {"howTo1PageTitle", "Charge"},
                                       {"dfuUpdateUrl", "tavrinFirmware.dfu"}};
};

void tst_textcopy::initTestCase() {
    m_log.install();
}

void tst_textcopy::init() {
    appfolder::remove(appfolder::textCopyFile());
    appfolder::remove(appfolder::changelogFile());
    for (const QString& code : kTitles.keys()) {
        appfolder::remove(translation(appfolder::textCopyFile(), code));
        appfolder::remove(translation(appfolder::changelogFile(), code));
    }
    qunsetenv(language::kOverrideVariable);
    m_log.clear();
}

void tst_textcopy::cleanupTestCase() {
    init();
}

void tst_textcopy::lookup_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    // -1: no warning; otherwise the JSON type of what stands under the key.
    QTest::addColumn<int>("warningType");
    // The one line a file that holds no texts gives when read, %1 its path.
    QTest::addColumn<QString>("why");

    const QString noCopy = "The text copy %1 holds no object under \"copy\"";
    QTest::newRow("string") << QByteArray(R"({"copy": {"applicationTitle": "Firmware update"}})")
                            << "applicationTitle"
                            << "Firmware update" << -1 << QString();
    QTest::newRow("non-ASCII and escapes")
        << QByteArray("{\"copy\": {\"k\": \"Gr\xc3\xbc\xc3\x9f"
                      R"(e \"quoted\"\n\u00e9"}})")
        << "k" << QString::fromUtf8("Grüße \"quoted\"\né") << -1 << QString();
    QTest::newRow("empty string") << QByteArray(R"({"copy": {"k": ""}})") << "k"
                                  << "" << -1 << QString();
    QTest::newRow("number") << QByteArray(R"({"copy": {"k": 42}})") << "k"
                            << "k" << 2 << QString();
    QTest::newRow("boolean") << QByteArray(R"({"copy": {"k": true}})") << "k"
                             << "k" << 1 << QString();
    QTest::newRow("null") << QByteArray(R"({"copy": {"k": null}})") << "k"
                          << "k" << 0 << QString();
    QTest::newRow("array value") << QByteArray(R"({"copy": {"k": ["v"]}})") << "k"
                                 << "k" << 4 << QString();
    QTest::newRow("object value") << QByteArray(R"({"copy": {"k": {"v": "w"}}})") << "k"
                                  << "k" << 5 << QString();
    QTest::newRow("missing key") << QByteArray(R"({"copy": {"other": "v"}})") << "k"
                                 << "k" << 0 << QString();
    QTest::newRow("case differs") << QByteArray(R"({"copy": {"applicationTitle": "T"}})")
                                  << "ApplicationTitle"
                                  << "ApplicationTitle" << 0 << QString();
    QTest::newRow("key at the top, not in copy") << QByteArray(R"({"k": "v", "copy": {}})") << "k"
                                                 << "k" << 0 << QString();
    QTest::newRow("invalid JSON") << QByteArray(R"({"copy": {"k": "v")") << "k"
                                  << "k" << 0
                                  << "The text copy %1 is not JSON: unterminated string at byte 18";
    QTest::newRow("array at the top") << QByteArray(R"([{"copy": {"k": "v"}}])") << "k"
                                      << "k" << 0 << noCopy;
    QTest::newRow("copy a string") << QByteArray(R"({"copy": "k"})") << "k"
                                   << "k" << 0 << noCopy;
    QTest::newRow("no copy") << QByteArray(R"({"text": {"k": "v"}})") << "k"
                             << "k" << 0 << noCopy;
    QTest::newRow("empty file") << QByteArray() << "k"
                                << "k" << 0
                                << "The text copy %1 is not JSON: illegal value at byte 0";
    // Advice that names a system's tools: each system reads its own wording,
    // every other the text that names none.
    const QByteArray here = platform::textVariant();
    QTest::newRow("worded for this system")
        << QByteArray(R"({"copy": {"k": "any", "k.)" + here + R"(": "this"}})") << "k"
        << "this" << -1 << QString();
    QTest::newRow("worded for another system")
        << QByteArray(R"({"copy": {"k": "any", "k.other": "there"}})") << "k"
        << "any" << -1 << QString();
}

void tst_textcopy::lookup() {
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QFETCH(int, warningType);
    QFETCH(QString, why);
    QVERIFY(appfolder::write(appfolder::textCopyFile(), file));
    QVERIFY(appfolder::write(appfolder::changelogFile(), "<p>notes</p>"));

    installator controller;
    // A file that holds no texts says why, once; no other line is logged yet.
    QCOMPARE(m_log.texts(LogCapture::onThisThread()),
             why.isEmpty()
                 ? QStringList()
                 : QStringList{LogCapture::format(
                       QtWarningMsg, why.arg(appfolder::path(appfolder::textCopyFile())))});
    m_log.clear();

    // Twice: a value that is not a string warns on every lookup, and the
    // null entry a missing key leaves behind reads as null again.
    QCOMPARE(controller.getText(key), expected);
    QCOMPARE(controller.getText(key), expected);

    QStringList warnings;
    if (warningType >= 0)
        warnings << "warning: " + key << "warning: " + key;
    QCOMPARE(loggedAbout(m_log, key), warnings);
}

void tst_textcopy::missingTextCopyFile() {
    QVERIFY(appfolder::write(appfolder::changelogFile(), "<p>notes</p>"));

    installator controller;
    QCOMPARE(
        m_log.texts(LogCapture::onThisThread()),
        QStringList{LogCapture::format(
            QtWarningMsg,
            QStringLiteral("Couldn't open \" \"%1\" \" text copy file.").arg(textCopyPath()))});

    m_log.clear();
    QCOMPARE(controller.getText("applicationTitle"), QStringLiteral("applicationTitle"));
    QCOMPARE(loggedAbout(m_log, "applicationTitle"), QStringList{"warning: applicationTitle"});
}

void tst_textcopy::changelog_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    QTest::newRow("line feeds") << QByteArray("<h1>1.2</h1>\n<p>Faster.</p>\n")
                                << "<h1>1.2</h1>\n<p>Faster.</p>\n";
    QTest::newRow("CRLF line ends")
        << QByteArray("<h1>1.2</h1>\r\n<p>Faster.</p>\r\n") << "<h1>1.2</h1>\n<p>Faster.</p>\n";
    QTest::newRow("UTF-8 with byte-order mark") << QByteArray("\xef\xbb\xbf<p>Gr\xc3\xbc\xc3\x9f"
                                                              "e</p>")
                                                << QString::fromUtf8("<p>Grüße</p>");
    QTest::newRow("UTF-16 with byte-order mark")
        << QByteArray("\xff\xfe<\0p\0>\0\xfc\0<\0/\0p\0>\0", 18) << QString::fromUtf8("<p>ü</p>");
    QTest::newRow("empty") << QByteArray() << "";
}

void tst_textcopy::changelog() {
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    QVERIFY(appfolder::writeTextCopy({}));
    QVERIFY(appfolder::write(appfolder::changelogFile(), file));

    installator controller;
    QCOMPARE(controller.changelog(), expected);
    QCOMPARE(controller.property("changelog").toString(), expected);
    QCOMPARE(m_log.texts(LogCapture::onThisThread()), QStringList());
}

void tst_textcopy::missingChangelog() {
    installator controller;
    // Text copy first, then the changelog.
    QCOMPARE(
        m_log.texts(LogCapture::onThisThread()),
        (QStringList{
            LogCapture::format(
                QtWarningMsg,
                QStringLiteral("Couldn't open \" \"%1\" \" text copy file.").arg(textCopyPath())),
            LogCapture::format(
                QtWarningMsg,
                QStringLiteral("Changelog file not found under \"%1\"").arg(changelogPath())),
        }));
    QCOMPARE(controller.changelog(), QString());
}

void tst_textcopy::oversizedFilesAreIgnored_data() {
    QTest::addColumn<bool>("changelogTooLarge");
    QTest::newRow("text copy") << false;
    QTest::newRow("changelog") << true;
}

void tst_textcopy::oversizedFilesAreIgnored() {
    QFETCH(bool, changelogTooLarge);
    constexpr int kBound = 1024 * 1024;
    const QByteArray copy = R"({"copy": {"k": "v"}})";
    const QByteArray large = copy + QByteArray(kBound + 1 - copy.size(), ' ');
    QVERIFY(appfolder::write(appfolder::textCopyFile(), changelogTooLarge ? copy : large));
    QVERIFY(appfolder::write(appfolder::changelogFile(), changelogTooLarge ? large : copy));

    installator controller;
    const QString path = changelogTooLarge ? changelogPath() : textCopyPath();
    QCOMPARE(m_log.texts(LogCapture::onThisThread()),
             QStringList{LogCapture::format(
                 QtWarningMsg,
                 QStringLiteral("Ignoring \"%1\" of 1048577 bytes; at most 1048576 are read")
                     .arg(path))});
    QCOMPARE(controller.changelog(), changelogTooLarge ? QString() : QString(copy));
    QCOMPARE(controller.getText("k"),
             changelogTooLarge ? QStringLiteral("v") : QStringLiteral("k"));
}

void tst_textcopy::language_data() {
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<QByteArray>("forced"); // TAVRIN_LANGUAGE; empty: unset
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("warning");
    const auto row = [](const char* name, const QStringList& languages, const QByteArray& forced,
                        const char* chosen, const char* warning = "") {
        QTest::newRow(name) << languages << forced << QString(chosen) << QString(warning);
    };
    row("de-AT, en", {"de-AT", "en"}, "", "de");
    row("pt-BR, fr", {"pt-BR", "fr"}, "", "fr");
    row("ja-JP", {"ja-JP"}, "", "ja");
    for (const char* tag : {"zh-Hans-CN", "zh-CN", "zh_SG", "zh"})
        row(tag, {tag}, "", "zh_CN");
    row("no traditional Chinese", {"zh-TW", "zh-Hant"}, "", "");
    row("pt", {"pt"}, "", "");
    row("en-US before de", {"en-US", "de"}, "", "");
    row("C locale", {"C"}, "", "");
    row("invalid translation", {"es"}, "", "es",
        R"(No texts under "copy" in "%1" - the texts are English)");
    row("forced de over fr", {"fr"}, "de", "de");
    row("forced zh_CN", {"de"}, "zh_CN", "zh_CN");
    row("forced en over de", {"de"}, "en", "");
    row("forced pt", {"de"}, "pt", "",
        R"(TAVRIN_LANGUAGE asks for "pt" but there is no text copy file for it; the texts are English)");
}

void tst_textcopy::language() {
    QFETCH(QStringList, uiLanguages);
    QFETCH(QByteArray, forced);
    QFETCH(QString, chosen);
    QFETCH(QString, warning);
    QVERIFY(appfolder::writeTextCopy(m_englishCopy));
    QVERIFY(appfolder::write(appfolder::changelogFile(), "<p>notes</p>"));
    for (const QString& code : kTitles.keys()) {
        const QJsonObject copy = {{"applicationTitle", kTitles[code]},
                                  {"howTo1PageTitle", 42},
                                  {"dfuUpdateUrl", "x.dfu"}};
        QVERIFY(appfolder::write(
            translation(appfolder::textCopyFile(), code),
            code == "es" ? "{" : QJsonDocument(QJsonObject{{"copy", copy}}).toJson()));
    }
    QVERIFY(appfolder::write(translation(appfolder::changelogFile(), "de"),
                             "\xef\xbb\xbf<p>Änderungen</p>"));
    if (!forced.isEmpty())
        qputenv(language::kOverrideVariable, forced);

    installator controller(uiLanguages);
    QCOMPARE(controller.language(), chosen);
    const QString title = kTitles.value(chosen);
    QCOMPARE(controller.getText("applicationTitle"), title.isEmpty() ? "Title" : title);
    // A text the translation lacks or holds no string under, and the
    // firmware file's name, read as in English.
    for (const char* key : {"welcomePageTitle", "howTo1PageTitle", "dfuUpdateUrl"})
        QCOMPARE(controller.getText(key), m_englishCopy.value(key).toString());
    QCOMPARE(controller.changelog(),
             QString::fromUtf8(chosen == "de" ? "<p>Änderungen</p>" : "<p>notes</p>"));
    warning.replace("%1", appfolder::path(translation(appfolder::textCopyFile(), chosen)));
    QCOMPARE(m_log.texts([](const LogLine& line) { return line.type == QtWarningMsg; }),
             warning.isEmpty() ? QStringList()
                               : QStringList{LogCapture::format(QtWarningMsg, warning)});
}

void tst_textcopy::shippedTranslations_data() {
    QTest::addColumn<QString>("code");
    // The shipped files, which the build copies beside the test.
    for (const QString& file : QDir(appfolder::path("shipped")).entryList({"text_copy.*.json"}))
        QTest::newRow(qPrintable(file)) << file.section('.', 1, 1);
}

// Every text of the English file and nothing else, none empty, each with the
// English text's placeholders; the changelog with its markup, and a
// byte-order mark so that it is not read in the system's 8-bit encoding.
void tst_textcopy::shippedTranslations() {
    QFETCH(QString, code);
    const auto read = [](const QString& name) {
        QFile file(appfolder::path("shipped/" + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto copyOf = [&](const QString& name) {
        return QJsonDocument::fromJson(read(name)).object().value("copy").toObject();
    };
    const QJsonObject english = copyOf("text_copy.json");
    const QJsonObject translated = copyOf(translation("text_copy.json", code));
    QStringList expected = english.keys();
    // Names of files and of the product, not texts.
    for (const char* name : {"dfuUpdateUrl", "productLogoUrl", "productName", "firmwareVersion"})
        expected.removeAll(name);
    QCOMPARE(translated.keys(), expected);
    for (const QString& key : expected) {
        const QString text = translated.value(key).toString();
        const char* placeholder = "%[0-9]+";
        QVERIFY2(!text.trimmed().isEmpty() &&
                     matches(text, placeholder) ==
                         matches(english.value(key).toString(), placeholder),
                 qPrintable(key));
    }
    // Only Linux's wording names Linux's tools, in English as translated; a
    // wording for one system has the text every other system shows beside it.
    for (const QJsonObject& copy : {english, translated}) {
        for (const QString& key : copy.keys()) {
            QVERIFY2(key.endsWith(".linux") || !copy.value(key).toString().contains(
                                                   QRegularExpression("udev|Linux|\\bman tavrin")),
                     qPrintable(key));
            QVERIFY2(copy.value(key.section('.', 0, 0)).isString(), qPrintable(key));
        }
    }
    const QByteArray changelog = read(translation("changelog.html", code));
    QVERIFY(changelog.startsWith("\xef\xbb\xbf"));
    QCOMPARE(matches(changelog, "</?[a-z0-9]+"), matches(read("changelog.html"), "</?[a-z0-9]+"));
}

QTEST_GUILESS_MAIN(tst_textcopy)
#include "tst_textcopy.moc"
