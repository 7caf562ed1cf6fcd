#include "arguments.h"
#include "clibackend.h"
#include "commands.h"
#include "hid_interfaces.h"
#include "station.h"

#include <QSet>

namespace cli {

// --all: this process stays the parent and runs the same command once per
// accessory in a child, each choosing its accessory by serial number when
// every serial number is distinct, else by path.
int allCommand(Run& run, const QVector<HidInterface>& accessories, const QString& file) {
    QSet<QString> serials;
    for (const HidInterface& h : accessories)
        serials.insert(h.serialNumber);
    const bool bySerial = !serials.contains(QString()) && serials.size() == accessories.size();
    QVector<StationJob> jobs;
    for (const HidInterface& h : accessories) {
        QStringList arguments{QLatin1String(run.command.name), QStringLiteral("--json")};
        for (const QCommandLineOption* flag :
             {&kVerify, &kNoReset, &kForce, &kNewerOnly, &kNoProgress}) {
            if (run.parser.isSet(*flag))
                arguments << QStringLiteral("--") + flag->names().first();
        }
        arguments << backendChildArguments(run.parser);
        arguments << (bySerial ? QStringLiteral("--serial") : QStringLiteral("--path"))
                  << (bySerial ? h.serialNumber : h.path) << QStringLiteral("--file-bytes")
                  << QString::fromLatin1(nativeName(file).toPercentEncoding("/"));
        jobs.push_back({h.path, h.serialNumber, arguments});
    }
    return runStation(run, QLatin1String(run.command.name), jobs);
}

} // namespace cli
