#include "commands.h"
#include "firmware_files.h"
#include "hid_interfaces.h"
#include "hiddfu.h"
#include "output.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace cli {

int listCommand(Run& run, const QStringList&) {
    QJsonArray array;
    QStringList rows;
    for (const HidInterface& h : enumerateHid()) {
        const uint16_t length = hidDfuFeatureReportLength(QFile::encodeName(h.path).constData());
        array.append(
            QJsonObject{{QStringLiteral("path"), h.path},
                        {QStringLiteral("vendorId"), h.vendorId},
                        {QStringLiteral("productId"), h.productId},
                        {QStringLiteral("usagePage"), h.usagePage},
                        {QStringLiteral("usage"), h.usage},
                        {QStringLiteral("serialNumber"), h.serialNumber},
                        {QStringLiteral("manufacturer"), h.manufacturer},
                        {QStringLiteral("product"), h.product},
                        {QStringLiteral("featureReportLength"), length},
                        {QStringLiteral("accessory"), h.isAccessory()},
                        {QStringLiteral("deviceVersion"), deviceVersion(h.releaseNumber)}});
        rows << QStringLiteral("%1 %2:%3  %4:%5  %6  %7  %8  %9")
                    .arg(h.isAccessory() ? QLatin1Char('*') : QLatin1Char(' '))
                    .arg(h.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(h.productId, 4, 16, QLatin1Char('0'))
                    .arg(h.usagePage, 4, 16, QLatin1Char('0'))
                    .arg(h.usage, 4, 16, QLatin1Char('0'))
                    .arg(length, 6)
                    .arg(h.serialNumber.isEmpty() ? QStringLiteral("-")
                                                  : escapeControls(h.serialNumber),
                         -12)
                    .arg(versionShown(deviceVersion(h.releaseNumber))
                             .replace(QStringLiteral("not stated"), QStringLiteral("-")),
                         -7)
                    .arg(escapeControls(h.path));
    }
    if (run.out.json()) {
        std::printf("%s\n", compactJson(QJsonDocument(array)).constData());
        return Success;
    }
    if (rows.isEmpty()) {
        if (const QString why = hidSystemFailure(); !why.isEmpty())
            return run.fail(
                {NoDevice, 0, QStringLiteral("The system's HID layer did not start"), why});
        run.out.say(QStringLiteral("No HID interfaces found."));
        return Success;
    }
    run.out.say(QStringLiteral("  %1  %2  REPORT  %3  %4  PATH")
                    .arg(QStringLiteral("VID:PID"), -9)
                    .arg(QStringLiteral("USAGE"), -9)
                    .arg(QStringLiteral("SERIAL"), -12)
                    .arg(QStringLiteral("VERSION"), -7));
    for (const QString& row : rows)
        run.out.say(row);
    run.out.say(QStringLiteral(
        "(* the accessory; REPORT: feature report length in bytes; VERSION: the USB release "
        "number, - when it states none)"));
    return Success;
}

} // namespace cli
