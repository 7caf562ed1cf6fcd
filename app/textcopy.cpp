#include "textcopy.h"

#include "language.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTextStream>

#include <algorithm>

namespace textcopy {

const char kFirmwareKey[] = "dfuUpdateUrl";
const char kFirmwareVersionKey[] = "firmwareVersion";

namespace {

const char kTextCopyFile[] = "/Resources/text_copy.json";
const char kChangelogFile[] = "/Resources/changelog.html";
const char kTextCopyMember[] = "copy";
const char* const kUntranslatedKeys[] = {kFirmwareKey, kFirmwareVersionKey, "productLogoUrl"};
// No real text copy or changelog comes near this; a file beside the program
// that does would be read whole, and could keep the window from appearing.
constexpr qint64 kMaxCompanionFileBytes = 1024 * 1024;

// Opens a file beside the executable for reading whole; false, as if it were
// missing, when it cannot be opened or is larger than the bound (said in a
// warning naming the file and its size).
bool openBounded(QFile& file, bool& tooLarge) {
    tooLarge = false;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    if (file.size() <= kMaxCompanionFileBytes)
        return true;
    qWarning() << "Ignoring" << file.fileName() << "of" << file.size() << "bytes; at most"
               << kMaxCompanionFileBytes << "are read";
    tooLarge = true;
    file.close();
    return false;
}

// The file of a translation: "/Resources/text_copy.json" and "de" give
// "/Resources/text_copy.de.json".
QString translatedFile(const char* file, const QString& code) {
    QString path = QString::fromLatin1(file);
    return path.insert(path.lastIndexOf(QLatin1Char('.')), QLatin1Char('.') + code);
}

} // namespace

QJsonObject loadTextCopy() {
    const QString path = QCoreApplication::applicationDirPath() + kTextCopyFile;
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge)) {
        if (!tooLarge)
            qWarning() << "Couldn't open \"" << path << "\" text copy file.";
        return {};
    }
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    // Anything but an object under "copy" leaves the text copy empty, exactly
    // as a missing file does; one line says why, else the pages showed key
    // names with nothing in the log to tell a broken file from a missing key.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    const QJsonValue copy = document.object().value(kTextCopyMember);
    if (error.error != QJsonParseError::NoError)
        qWarning().noquote() << QStringLiteral("The text copy %1 is not JSON: %2 at byte %3")
                                    .arg(path, error.errorString())
                                    .arg(error.offset);
    else if (!copy.isObject())
        qWarning().noquote() << QStringLiteral("The text copy %1 holds no object under \"%2\"")
                                    .arg(path, QLatin1String(kTextCopyMember));
    return copy.toObject();
}

Translation loadTranslation(const QStringList& uiLanguages) {
    Translation translation;
    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList languages = language::preferred(uiLanguages);
    translation.language = language::choose(languages, [&folder](const QString& code) {
        return QFileInfo(folder + translatedFile(kTextCopyFile, code)).isFile();
    });
    language::useFallbackFamilies(translation.language);
    if (translation.language.isEmpty()) {
        // A tester who asked for a language must not take English for it.
        const bool englishAsked =
            std::any_of(languages.begin(), languages.end(), [](const QString& tag) {
                return language::fileCodes(tag).contains(QStringLiteral("en"));
            });
        if (!qEnvironmentVariableIsEmpty(language::kOverrideVariable) && !englishAsked)
            qWarning() << language::kOverrideVariable << "asks for" << languages.join(':')
                       << "but there is no text copy file for it; the texts are English";
        return translation;
    }
    const QString path = folder + translatedFile(kTextCopyFile, translation.language);
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge))
        return translation;
    translation.texts =
        QJsonDocument::fromJson(file.readAll()).object().value(kTextCopyMember).toObject();
    for (const char* key : kUntranslatedKeys)
        translation.texts.remove(key);
    if (translation.texts.isEmpty())
        qWarning() << "No texts under \"copy\" in" << path << "- the texts are English";
    else
        qInfo() << "Texts in" << translation.language << "from" << path;
    return translation;
}

QString loadChangelog(const QString& code) {
    // The translation's own changelog when there is one, else the English.
    QString path = QCoreApplication::applicationDirPath() + kChangelogFile;
    if (!code.isEmpty()) {
        const QString translated =
            QCoreApplication::applicationDirPath() + translatedFile(kChangelogFile, code);
        if (QFileInfo(translated).isFile())
            path = translated;
    }
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge)) {
        if (!tooLarge)
            qWarning() << "Changelog file not found under" << path;
        return {};
    }
    // Default stream settings: a byte-order mark picks the Unicode encoding,
    // otherwise the locale's encoding applies.
    QTextStream stream(&file);
    return stream.readAll();
}

} // namespace textcopy
