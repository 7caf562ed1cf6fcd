#pragma once
// Each tavrin-dfu executable links exactly one definition of these, matching
// the hidapi implementation it links: the shipping program's
// (clibackend_system.cpp, also on Windows) reaches the system's HID devices and
// has no options of its own; the demo twin's plugs simulated accessories into
// its in-process bus, as its options say.

#include <QList>
#include <QStringList>

class QCommandLineOption;
class QCommandLineParser;
class QString;

namespace cli {

// Extra options of this executable, offered by every command that reaches
// accessories.
QList<QCommandLineOption> backendOptions();
// Runs before the first hidapi call; false with a reason for bad values.
bool prepareBackend(const QCommandLineParser& parser, QString& error);
// What a child process of --all needs on its command line to see the same
// accessories as its parent (the parent has waited for them already).
QStringList backendChildArguments(const QCommandLineParser& parser);

} // namespace cli
