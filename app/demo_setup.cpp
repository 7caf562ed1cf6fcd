#include "demoscenarios.h"
#include "hidbackend.h"
#include "simbus.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <iostream>

namespace {

// Test hook of the demo program only: when set to a number of milliseconds,
// every visible window is sent a close event that long after the event loop
// starts, the same event the window system's close box delivers.
const char kCloseAfterVariable[] = "TAVRIN_DEMO_CLOSE_AFTER_MS";

constexpr int kUsageError = 2;
const QLatin1String kScenarioPrefix("--scenario=");

void scheduleClose() {
    bool ok = false;
    const int delayMs = qEnvironmentVariableIntValue(kCloseAfterVariable, &ok);
    if (!ok)
        return;
    QTimer::singleShot(delayMs, [] {
        for (QWindow* window : QGuiApplication::topLevelWindows()) {
            if (window->isVisible())
                QCoreApplication::postEvent(window, new QCloseEvent);
        }
    });
}

void printUsage(std::ostream& out) {
    out << "Usage: tavrin-installator-demo [--scenario NAME]\n"
           "The wizard against a simulated accessory. Scenarios:\n"
        << demo::scenarioHelp();
}

} // namespace

namespace {

// Reads the demo's own options; with plugIn false nothing is plugged in, so
// that the answer needs neither the bus nor the window system.
std::optional<int> readOptions(const QStringList& arguments, bool plugIn) {
    std::string scenario = demo::kDefaultScenario;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            printUsage(std::cout);
            return 0;
        }
        if (argument == QLatin1String("--scenario")) {
            if (i + 1 == arguments.size()) {
                std::cerr << "--scenario needs a name\n";
                printUsage(std::cerr);
                return kUsageError;
            }
            scenario = arguments.at(++i).toStdString();
        } else if (argument.startsWith(kScenarioPrefix)) {
            scenario = argument.mid(kScenarioPrefix.size()).toStdString();
        }
    }
    const bool known = plugIn ? demo::plugInScenario(scenario) : demo::isScenario(scenario);
    if (!known) {
        std::cerr << "Unknown scenario: " << scenario << "\n";
        printUsage(std::cerr);
        return kUsageError;
    }
    return std::nullopt;
}

} // namespace

// Other arguments are left alone, as the shipping program leaves all of them.
std::optional<int> prepareHidBackend(const QStringList& arguments) {
    const std::optional<int> exitCode = readOptions(arguments, true);
    if (!exitCode)
        scheduleClose();
    return exitCode;
}

std::optional<int> answerCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return readOptions(arguments, false);
}
