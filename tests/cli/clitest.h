#pragma once
// What the tst_cli_* tests build and read besides the command lines: the bytes of a
// file, the reports a --record file holds, the reports an upgrade sends.

#include "demoaccessory.h"
#include "devicetraffic.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <vector>

using traffic::Bytes;

inline QByteArray toByteArray(const std::vector<uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}

inline Bytes toBytes(const QByteArray& a) {
    return Bytes(a.begin(), a.end());
}

// The reports a --record file says the accessory received.
inline std::vector<Bytes> sentReports(const QString& record) {
    QFile file(record);
    std::vector<Bytes> sent;
    for (const QByteArray& line :
         (file.open(QIODevice::ReadOnly) ? file.readAll() : "").split('\n')) {
        if (line.startsWith('>'))
            sent.push_back(toBytes(QByteArray::fromHex(line.mid(1))));
    }
    return sent;
}

// The reports an upgrade with the DFU file sends, and the reset.
inline std::vector<Bytes> expectedUpgrade(const QString& dfuFile, bool reset) {
    QFile file(dfuFile);
    std::vector<Bytes> reports = traffic::upgradeReports(
        demo::kFeatureReportLength, toBytes(file.open(QIODevice::ReadOnly) ? file.readAll() : ""));
    if (reset)
        reports.push_back({3, 0xFF});
    return reports;
}
