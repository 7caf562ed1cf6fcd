#include "clibackend.h"
#include "demoscenarios.h"
#include "simbus.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The demo twin's accessories are simulated in-process: its options say
// which, when they appear and where their nodes lie. A child process of --all
// rebuilds the same accessories from the same --scenario and picks its own by
// serial number, as the shipping program's children do on real hardware.
namespace cli {

namespace {

const QString kScenario = QStringLiteral("scenario");
const QString kAppearAfter = QStringLiteral("appear-after");
const QString kBusRoot = QStringLiteral("bus-root");
const QString kRecord = QStringLiteral("record");
const QString kSerialNumbers = QStringLiteral("serial-numbers");
const QString kReleaseNumber = QStringLiteral("release-number");

struct Plugged {
    std::mutex mutex;
    std::vector<std::pair<std::wstring, sim::DeviceModel*>> accessories;
    std::string recordPath;
    int releaseNumber = -1;
};

// Never destroyed: written from an exit handler.
Plugged& plugged() {
    static Plugged* const instance = new Plugged;
    return *instance;
}

// Every report each accessory received, in the format of the uhid accessory
// tool: "# serial" and then one line a report, "> " host to device, "< "
// device to host, "!" when it failed, the bytes in hexadecimal.
void writeRecords() {
    Plugged& p = plugged();
    std::lock_guard<std::mutex> lock(p.mutex);
    std::FILE* file = std::fopen(p.recordPath.c_str(), "w");
    if (!file)
        return;
    for (const auto& [serial, model] : p.accessories) {
        std::fprintf(file, "# %ls\n", serial.c_str());
        for (const sim::Report& report : model->records()) {
            std::fputs(report.direction == sim::Direction::HostToDevice ? ">" : "<", file);
            if (report.failed)
                std::fprintf(file, " ! %02x", report.reportId);
            for (uint8_t byte : report.bytes)
                std::fprintf(file, " %02x", byte);
            std::fputs("\n", file);
        }
    }
    std::fclose(file);
}

std::wstring serialNumberOf(int index) {
    return QStringLiteral("SIM-%1").arg(index + 1, 4, 10, QLatin1Char('0')).toStdWString();
}

QString scenarioNames() {
    QStringList names;
    for (const demo::Scenario& s : demo::scenarios())
        names << QLatin1String(s.name);
    return names.join(QStringLiteral(", "));
}

void plugIn(const QStringList& names, const QStringList& serialNumbers) {
    Plugged& p = plugged();
    std::lock_guard<std::mutex> lock(p.mutex);
    for (int i = 0; i < names.size(); ++i) {
        const std::wstring serial =
            i < serialNumbers.size() ? serialNumbers[i].toStdWString() : serialNumberOf(i);
        if (sim::DeviceModel* model = demo::plugInScenario(
                names[i].toStdString(), serial,
                p.recordPath.empty() ? demo::kRecordLimit : SIZE_MAX, p.releaseNumber))
            p.accessories.emplace_back(serial, model);
    }
}

} // namespace

QList<QCommandLineOption> backendOptions() {
    return {
        {kScenario,
         QStringLiteral("Demo: simulated accessories, one per comma-separated scenario name "
                        "(%1), with serial numbers SIM-0001, SIM-0002 and so on.")
             .arg(scenarioNames()),
         QStringLiteral("names"), QString::fromLatin1(demo::kDefaultScenario)},
        {kAppearAfter, QStringLiteral("Demo: the accessories appear this long after the start."),
         QStringLiteral("milliseconds")},
        {kBusRoot,
         QStringLiteral("Demo: lay the simulated device nodes out under this folder, so that "
                        "their paths are known in advance."),
         QStringLiteral("folder")},
        {kRecord,
         QStringLiteral("Demo: at exit, write every report each accessory received to this file."),
         QStringLiteral("file")},
        {kSerialNumbers,
         QStringLiteral("Demo: the accessories' serial numbers, comma-separated, instead of "
                        "SIM-0001, SIM-0002 and so on."),
         QStringLiteral("texts")},
        {kReleaseNumber,
         QStringLiteral("Demo: the accessories' USB release number (their firmware version) in "
                        "hexadecimal BCD, 0230 for 2.3.0; 0 states none."),
         QStringLiteral("bcd")},
    };
}

bool prepareBackend(const QCommandLineParser& parser, QString& error) {
    const QStringList names = parser.value(kScenario).split(QLatin1Char(','));
    const QStringList serialNumbers = parser.isSet(kSerialNumbers)
                                          ? parser.value(kSerialNumbers).split(QLatin1Char(','))
                                          : QStringList();
    for (const QString& name : names) {
        bool known = false;
        for (const demo::Scenario& s : demo::scenarios())
            known = known || name == QLatin1String(s.name);
        if (!known) {
            error = QStringLiteral("unknown scenario \"%1\"").arg(name);
            return false;
        }
    }
    if (parser.isSet(kBusRoot) && !sim::Bus::useRoot(parser.value(kBusRoot).toStdString())) {
        error = QStringLiteral("the simulated bus is in use already");
        return false;
    }
    if (parser.isSet(kReleaseNumber)) {
        bool ok = false;
        plugged().releaseNumber = int(parser.value(kReleaseNumber).toUShort(&ok, 16));
        if (!ok) {
            error = QStringLiteral("--release-number needs a hexadecimal BCD number");
            return false;
        }
    }
    if (parser.isSet(kRecord)) {
        plugged().recordPath = parser.value(kRecord).toStdString();
        std::atexit(writeRecords);
    }
    if (!parser.isSet(kAppearAfter)) {
        plugIn(names, serialNumbers);
        return true;
    }
    bool ok = false;
    const int delayMs = parser.value(kAppearAfter).toInt(&ok);
    if (!ok || delayMs < 0) {
        error = QStringLiteral("--appear-after needs a number of milliseconds");
        return false;
    }
    // The bus is thread-safe; the accessories turn up while the program polls.
    std::thread([names, serialNumbers, delayMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        plugIn(names, serialNumbers);
    }).detach();
    return true;
}

QStringList backendChildArguments(const QCommandLineParser& parser) {
    QStringList arguments{QLatin1String("--") + kScenario, parser.value(kScenario)};
    for (const QString& option : {kSerialNumbers, kReleaseNumber}) {
        if (parser.isSet(option))
            arguments << QLatin1String("--") + option << parser.value(option);
    }
    return arguments;
}

} // namespace cli
