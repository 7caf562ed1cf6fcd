#pragma once
// What the flasher needs of the operating system, all of it from platform/,
// under the one name its sources use.

#include "arguments.h"
#include "console.h"
#include "filenames.h"
#include "files.h"
#include "hidaccess.h"
#include "memoryfile.h"
#include "stoprequests.h"

#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace cli::system {

using platform::fileNameBytes;
using platform::fileNameText;

using platform::holdingStopRequests;
using platform::onStopRequests;
using platform::passStopRequest;
using platform::stopStatusHelp;
using platform::stopText;

using platform::terminalColumns;
using platform::terminalOutput;
using platform::writeText;

using platform::openBytes;
using platform::regularFile;
using platform::sameFile;

// The program's arguments from the bytes main was given (arguments.h).
inline QStringList programArguments(const QByteArrayList& given) {
    return platform::programArguments(given, decodeArguments);
}

// What the advice for a missing accessory adds on this system, after
// "check the cable, run `tavrin-dfu list`".
inline QString accessAdvice() {
    return QString::fromUtf8(platform::accessAdvice());
}

} // namespace cli::system
