#include "language.h"

#include <QFont>
#include <QFontDatabase>
#include <QLocale>
#include <QRegularExpression>
#include <QtGlobal>

namespace language {

const char kOverrideVariable[] = "TAVRIN_LANGUAGE";

namespace {

const char kEnglish[] = "en";

bool isLetters(const QString& text) {
    static const QRegularExpression letters(QStringLiteral("^[A-Za-z]+$"));
    return letters.match(text).hasMatch();
}

bool isDigits(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

QStringList fallbackFamilies(const QString& code) {
    // The first of each list that is installed wins: Debian's Noto CJK, then
    // what Windows 10 and later ship.
    if (code == QLatin1String("ja") || code.startsWith(QLatin1String("ja_")))
        return {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Yu Gothic UI"),
                QStringLiteral("Meiryo UI"), QStringLiteral("Meiryo")};
    if (code == QLatin1String("zh_CN") || code == QLatin1String("zh"))
        return {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Microsoft YaHei UI"),
                QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei")};
    if (code == QLatin1String("zh_TW"))
        return {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Microsoft JhengHei UI"),
                QStringLiteral("Microsoft JhengHei")};
    return {};
}

} // namespace

QStringList fileCodes(const QString& tag) {
    // A POSIX name may carry an encoding or a modifier ("de_DE.UTF-8",
    // "ca_ES@valencia"); neither names another language.
    QString name = tag.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    const QStringList parts = name.split(QLatin1Char('-'));
    const QString language = parts.value(0).toLower();
    // "C" and "POSIX" say nothing about a language.
    if (language.size() < 2 || language.size() > 3 || !isLetters(language))
        return {};
    QString script;
    QString region;
    for (int i = 1; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part.size() == 4 && isLetters(part) && script.isEmpty() && region.isEmpty())
            script = part.toLower();
        else if (((part.size() == 2 && isLetters(part)) || (part.size() == 3 && isDigits(part))) &&
                 region.isEmpty())
            region = part.toUpper();
    }
    if (language == QLatin1String("zh")) {
        // Chinese is written in two scripts, and a region alone implies one:
        // Taiwan, Hong Kong and Macao read traditional characters, the
        // mainland and Singapore simplified ones. The files are named after
        // the region where each script is at home.
        bool simplified = true;
        if (script == QLatin1String("hant"))
            simplified = false;
        else if (script.isEmpty() && !region.isEmpty())
            simplified =
                QLocale(QStringLiteral("zh_") + region).script() != QLocale::TraditionalHanScript;
        else if (!script.isEmpty() && script != QLatin1String("hans"))
            return {language};
        region = simplified ? QStringLiteral("CN") : QStringLiteral("TW");
    }
    QStringList codes;
    if (!region.isEmpty())
        codes << language + QLatin1Char('_') + region;
    codes << language;
    return codes;
}

QStringList preferred(const QStringList& systemLanguages) {
    if (qEnvironmentVariableIsEmpty(kOverrideVariable))
        return systemLanguages;
    // Colon-separated like LANGUAGE, so a tester can give a fallback too.
    return qEnvironmentVariable(kOverrideVariable).split(QLatin1Char(':'));
}

QString choose(const QStringList& languages, const std::function<bool(const QString&)>& hasFile) {
    for (const QString& tag : languages) {
        for (const QString& code : fileCodes(tag)) {
            if (code == QLatin1String(kEnglish))
                return QString();
            if (hasFile(code))
                return code;
        }
    }
    return QString();
}

void useFallbackFamilies(const QString& code) {
    const QStringList families = fallbackFamilies(code);
    // The Medium face reports "Roboto Medium" on some systems and "Roboto"
    // on others.
    for (const QString& roboto : {QStringLiteral("Roboto"), QStringLiteral("Roboto Medium")}) {
        QFont::removeSubstitutions(roboto);
        if (!families.isEmpty())
            QFont::insertSubstitutions(roboto, families);
    }
}

QString textFamily(const QString& code) {
    if (!code.startsWith(QLatin1String("zh")))
        return QString();
    const QStringList installed = QFontDatabase().families();
    for (const QString& family : fallbackFamilies(code)) {
        if (installed.contains(family))
            return family;
    }
    return QString();
}

} // namespace language
