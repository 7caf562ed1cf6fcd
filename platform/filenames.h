#pragma once
// File names as the engine, the file library and the C runtime take them:
// bytes in the file system's own encoding (see hiddfu.h). The locale's on
// POSIX systems; UTF-8 on Windows, where the programs' file functions turn
// UTF-8 names into UTF-16 ones, so that no name outside the ANSI code page
// is lost.

#include <QByteArray>
#include <QString>

namespace platform {

QByteArray fileNameBytes(const QString& name);
QString fileNameText(const QByteArray& bytes);

} // namespace platform
