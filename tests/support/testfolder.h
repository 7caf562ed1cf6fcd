#pragma once
// A folder of the test's own for firmware files and backups, removed when
// the test object goes. A Qt Test class inherits it beside QObject, so the
// test functions keep calling writeFile and readFile by their short names.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdint>
#include <vector>

class TestFolder {
public:
    QString writeFile(const QString& name, const std::vector<uint8_t>& bytes) const {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        return path;
    }

    // Empty when the file cannot be read.
    static std::vector<uint8_t> readFile(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QByteArray all = f.readAll();
        return std::vector<uint8_t>(all.begin(), all.end());
    }

protected:
    QTemporaryDir m_dir;
};
