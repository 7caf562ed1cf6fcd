#pragma once
// The files the wizard reads its words from, beside the executable: the text
// copy ("Resources/text_copy.json"), its translation into the language the
// person prefers, and the changelog. Each is read once, at start; a file that
// is missing or cannot be used reads as empty, said in the message log.

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace textcopy {

// Keys that name a file or a version rather than a text: a translation never
// changes which firmware is written, or which logo and version are shown.
extern const char kFirmwareKey[];
// A version for the firmware file that its suffix does not state.
extern const char kFirmwareVersionKey[];

// The text copy file's "copy" object; empty when the file is missing, is not
// JSON or holds no object there.
QJsonObject loadTextCopy();

struct Translation {
    // As in its file name ("de", "zh_CN"); "" for English.
    QString language;
    // The translation's "copy" object without the keys above: consulted
    // first, and only for texts.
    QJsonObject texts;
};

// The translation of the first of the preferred languages given (most
// preferred first, "de-AT"; TAVRIN_LANGUAGE overrides them) that has a text
// copy file, with the fonts that language needs made the fallback.
Translation loadTranslation(const QStringList& uiLanguages);

// The changelog of the translation code names ("" for English) when it has
// one, else the English.
QString loadChangelog(const QString& code);

} // namespace textcopy
