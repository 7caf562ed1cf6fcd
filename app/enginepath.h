#pragma once
// File names go to the engine as bytes in the file system's own encoding
// (see hiddfu.h), one source per platform: the locale's on POSIX systems,
// UTF-8 on Windows, whose ANSI code page cannot name every file.

#include <QByteArray>
#include <QString>

QByteArray enginePath(const QString& path);
