#include "arguments.h"
#include "console.h"
#include "flasher.h"
#include "runningmark.h"

#include <QCoreApplication>

// The engine instance is set up by static initialisation before this runs,
// and torn down (after any running transfer has ended) after it returns.
int main(int argc, char* argv[]) {
    markProgramRunning();
    cli::installInterruptHandler();
    // The bytes as given, before anything decodes them (arguments.h).
    QByteArrayList given;
    for (int i = 0; i < argc; ++i)
        given << QByteArray(argv[i]);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    return cli::run(platform::programArguments(given, cli::decodeArguments));
}
