#pragma once
// The controller reads its files beside the executable; each test executable
// has a build folder of its own, so tests write their fixtures there without
// meeting each other.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace appfolder {

inline QString path(const QString& relative) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + relative;
}

inline bool write(const QString& relative, const QByteArray& bytes) {
    const QString target = path(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile file(target);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline void remove(const QString& relative) {
    QFile::remove(path(relative));
}

inline const char* textCopyFile() {
    return "Resources/text_copy.json";
}
inline const char* changelogFile() {
    return "Resources/changelog.html";
}

// A text copy file whose "copy" object is copy.
inline bool writeTextCopy(const QJsonObject& copy) {
    return write(textCopyFile(), QJsonDocument(QJsonObject{{"copy", copy}}).toJson());
}

} // namespace appfolder
