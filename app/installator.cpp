#include "installator.h"

#include "filenames.h"
#include "files.h"
#include "language.h"
#include "logfile.h"
#include "sessioninhibitor.h"

#include "dfufile.h"
#include "hiddfu.h"
#include "progressrelay.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QVersionNumber>

#include <algorithm>

namespace {

// Usage 0 and usage page 0 let the engine accept any.
constexpr uint16_t kAnyUsage = 0;
constexpr uint16_t kAnyUsagePage = 0;

const char kTextCopyFile[] = "/Resources/text_copy.json";
const char kChangelogFile[] = "/Resources/changelog.html";
const char kTextCopyMember[] = "copy";
const char kFirmwareKey[] = "dfuUpdateUrl";
// A version for the file that its suffix does not state.
const char kFirmwareVersionKey[] = "firmwareVersion";
// Keys that name files or a version rather than texts: a translation never
// changes which firmware is written, or which logo and version are shown.
const char* const kUntranslatedKeys[] = {kFirmwareKey, kFirmwareVersionKey, "productLogoUrl"};
// How often the ready page looks for the accessory.
constexpr int kAccessoryPollMs = 1000;
const char kBackupFileName[] = "tavrinFirmware.backup";
// No real text copy or changelog comes near this; a file beside the program
// that does would be read whole, and could keep the window from appearing.
constexpr qint64 kMaxCompanionFileBytes = 1024 * 1024;

// Opens a file beside the executable for reading whole; false, as if it were
// missing, when it cannot be opened or is larger than the bound (said in a
// warning naming the file and its size).
bool openBounded(QFile& file, bool& tooLarge) {
    tooLarge = false;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    if (file.size() <= kMaxCompanionFileBytes)
        return true;
    qWarning() << "Ignoring" << file.fileName() << "of" << file.size() << "bytes; at most"
               << kMaxCompanionFileBytes << "are read";
    tooLarge = true;
    file.close();
    return false;
}

// The file of a translation: "/Resources/text_copy.json" and "de" give
// "/Resources/text_copy.de.json".
QString translatedFile(const char* file, const QString& code) {
    QString path = QString::fromLatin1(file);
    return path.insert(path.lastIndexOf(QLatin1Char('.')), QLatin1Char('.') + code);
}

} // namespace

installator::installator() : installator(QLocale::system().uiLanguages()) {}

installator::installator(const QStringList& uiLanguages) : QObject(nullptr) {
    m_progressManager = new ProgressManager(this);
    m_inhibitor = new SessionInhibitor(QCoreApplication::applicationName(), this);
    // Made before QML can connect anything, so the device is restarted and
    // released before the pages react to the same result.
    QObject::connect(this, &installator::resultReady, this, &installator::restartAndDisconnect);
    loadTextCopy();
    loadTranslation(uiLanguages);
    loadChangelog();
    checkFirmwareFile();
}

installator::~installator() {
    delete m_progressManager;
}

int installator::connect() {
    const int32 code = hidDfuConnect(kHidDfuVendorId, kHidDfuProductId, kAnyUsage, kAnyUsagePage);
    if (code == 0)
        qInfo() << "Connection established";
    else
        qWarning() << "Connection error " << code;
    return code;
}

int installator::backup() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // A folder that cannot be made shows up as the engine's open failure.
    QDir::root().mkpath(folder);
    const QString path = folder + "/" + kBackupFileName;
    const QByteArray encoded = platform::fileNameBytes(path);
    qInfo() << "Save firmware backup to " << path;
    qInfo() << "c style" << encoded.constData();
    const int32 code = hidDfuBackup(encoded.constData());
    // Also after a refusal: every call gets exactly one result.
    ++m_pendingResults;
    emit m_progressManager->startReportingProgress();
    return code;
}

int installator::upgrade() {
    const QString folder = QCoreApplication::applicationDirPath();
    const QString fileName = getText(kFirmwareKey);
    // Always relative to the executable's folder, even when the name itself
    // is absolute.
    const QString path = folder + "/" + fileName;
    const QByteArray encoded = platform::fileNameBytes(path);
    const QFileInfo info(path);
    const bool present = info.exists() && info.isFile();
    qInfo() << "Firmware file exists in location" << present << folder << "/" << fileName;
    // The engine is asked also when the file is missing: it reports that
    // case itself, through the operation's result.
    const int32 code = hidDfuUpgrade(encoded.constData());
    if (code == 0)
        m_inhibitor->acquire(SessionInhibitor::Wait::No);
    ++m_pendingResults;
    emit m_progressManager->startReportingProgress();
    return code;
}

QString installator::getLastError() {
    const char* text = hidDfuGetLastError();
    return text ? QString::fromUtf8(text) : QString();
}

namespace {
// A text that differs on this platform (advice that names its tools) sits
// under the key with this ending, beside the text the others show.
#ifdef Q_OS_WIN
const QLatin1String kPlatformEnding(".windows");
#else
const QLatin1String kPlatformEnding("");
#endif
} // namespace

QString installator::getText(QString key) {
    const QString variant = key + kPlatformEnding;
    if (!kPlatformEnding.isEmpty() &&
        (m_translation.value(variant).isString() || m_textCopy.value(variant).isString()))
        key = variant;
    // A key the translation lacks, or holds no string under, reads as in
    // English: texts added later show in English until translated.
    const QJsonValue translated = m_translation.value(key);
    if (translated.isString())
        return translated.toString();
    // The inserting lookup is deliberate: a missing key becomes a null entry,
    // so it reads as null on every later lookup too.
    const QJsonValue value = m_textCopy[key];
    if (value.isString())
        return value.toString();
    qWarning() << "Value under key \"" << key << "\" is not a string, it is " << int(value.type());
    return key;
}

// A bad file is found here, on the first page, and not after six pages and
// a device connection; the check is the upgrade's own.
void installator::checkFirmwareFile() {
    const QString path =
        QCoreApplication::applicationDirPath() + "/" + m_textCopy.value(kFirmwareKey).toString();
    std::string why;
    std::FILE* file = platform::openRegularFile(platform::fileNameBytes(path).constData(), why);
    std::vector<uint8_t> bytes;
    dfu::CheckResult check;
    if (!file) {
        check = {HidDfuResult::FailedToOpenFile,
                 "Failed to open file \"" + path.toStdString() + "\": " + why};
    } else {
        check = dfu::readWholeFile(file, kHidDfuMaxFirmwareFileBytes, bytes);
        std::fclose(file);
        if (check.code == 0)
            check = dfu::checkBytes(bytes);
    }
    m_firmwareCode = check.code;
    m_firmwareProblem = QString::fromStdString(check.message.empty() ? hidDfuResultText(check.code)
                                                                     : check.message);
    const uint16_t stated = dfu::suffixBcdDevice(bytes);
    if (m_textCopy.value(kFirmwareVersionKey).isString())
        m_fileVersion = m_textCopy.value(kFirmwareVersionKey).toString();
    else if (check.code == 0 && dfu::suffixStatesVersion(stated))
        m_fileVersion = QString::fromStdString(dfu::versionText(stated));
}

void installator::watchAccessory(bool on) {
    if (!m_accessoryTimer) {
        m_accessoryTimer = new QTimer(this);
        m_accessoryTimer->setInterval(kAccessoryPollMs);
        QObject::connect(m_accessoryTimer, &QTimer::timeout, this, &installator::lookForAccessory);
    }
    m_attached = -1;
    if (on) {
        m_accessoryTimer->start();
        lookForAccessory();
    } else {
        m_accessoryTimer->stop();
    }
}

// An enumeration takes milliseconds; it runs only while the ready page shows
// and no transfer runs.
void installator::lookForAccessory() {
    if (hidDfuGetProgress() != kHidDfuNothingRunning)
        return;
    uint16_t release = 0;
    const int attached =
        std::max(0, hidDfuAttachedCount(kHidDfuVendorId, kHidDfuProductId, &release));
    // A device whose release number is 0, or not BCD, states no version.
    const QString version = attached > 0 && dfu::deviceStatesVersion(release)
                                ? QString::fromStdString(dfu::versionText(release))
                                : QString();
    if (attached == m_attached && version == m_installedVersion)
        return;
    m_attached = attached;
    m_installedVersion = version;
    emit accessoryChanged(attached, version);
}

int installator::compareVersions(const QString& installed, const QString& file) {
    if (installed.isEmpty() || file.isEmpty())
        return 2;
    const int order = QVersionNumber::compare(QVersionNumber::fromString(file),
                                              QVersionNumber::fromString(installed));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

QString installator::logFolder() const {
    const LogFile* log = LogFile::current();
    return log && !log->path().isEmpty()
               ? QDir::toNativeSeparators(QFileInfo(log->path()).absolutePath())
               : QString();
}

QString installator::errorDetails(int code, const QStringList& shownTexts) const {
    const auto stated = [](const QString& version) {
        return version.isEmpty() ? QStringLiteral("not stated") : version;
    };
    const LogFile* log = LogFile::current();
    QStringList lines{QStringLiteral("%1 %2: error %3")
                          .arg(QCoreApplication::applicationName(), QStringLiteral(TAVRIN_VERSION))
                          .arg(code)};
    lines << shownTexts;
    lines << QStringLiteral("Firmware on the accessory: %1").arg(stated(m_installedVersion))
          << QStringLiteral("Firmware in this program: %1").arg(stated(m_fileVersion))
          << QStringLiteral("Firmware file check: code %1%2")
                 .arg(m_firmwareCode)
                 .arg(m_firmwareCode ? QStringLiteral(", ") + m_firmwareProblem : QString())
          << QStringLiteral("System: %1; Qt %2")
                 .arg(LogFile::systemDescription(), QString::fromLatin1(qVersion()))
          << QStringLiteral("Log file: %1")
                 .arg(log && !log->path().isEmpty() ? QDir::toNativeSeparators(log->path())
                                                    : QStringLiteral("none"))
          << QStringLiteral("Last lines of the log:");
    if (log)
        lines << log->tail();
    return lines.join('\n');
}

void installator::copyToClipboard(const QString& text) const {
    QGuiApplication::clipboard()->setText(text);
}

QString installator::applicationPath() {
    return QCoreApplication::applicationDirPath();
}

void installator::restartAndDisconnect(int status) {
    qInfo() << "Status after progress: " << status;
    m_inhibitor->release();
    if (m_pendingResults > 0)
        --m_pendingResults;
    if (status != 0) {
        qInfo() << "Error: " << status;
        // Left open, the device would refuse every later connect() of the run
        // as already connected. Not restarted: it holds no new firmware. A
        // result that arrives while another operation runs leaves that one
        // its device (and the last error text its own).
        if (hidDfuGetProgress() == kHidDfuNothingRunning)
            disconnect();
        return;
    }
    reset();
    // A device whose restart request failed is still open: release it anyway.
    disconnect();
}

int installator::reset() {
    const int32 code = hidDfuReset();
    qInfo() << "Reset status" << code;
    if (code != 0)
        qInfo() << "Error resetting device: " << hidDfuGetLastError();
    else
        qInfo() << "Device reset succeeded";
    return code;
}

int installator::disconnect() {
    const int32 code = hidDfuDisconnect();
    if (code != 0)
        qInfo() << "Error disconnecting: " << hidDfuGetLastError();
    else
        qInfo() << "Disconnected successfuly";
    return code;
}

void installator::loadTextCopy() {
    const QString path = QCoreApplication::applicationDirPath() + kTextCopyFile;
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge)) {
        if (!tooLarge)
            qWarning() << "Couldn't open \"" << path << "\" text copy file.";
        return;
    }
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    // Anything but an object under "copy" leaves the text copy empty, exactly
    // as a missing file does; parse errors are not reported.
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    m_textCopy = document.object().value(kTextCopyMember).toObject();
}

void installator::loadTranslation(const QStringList& uiLanguages) {
    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList languages = language::preferred(uiLanguages);
    m_language = language::choose(languages, [&folder](const QString& code) {
        return QFileInfo(folder + translatedFile(kTextCopyFile, code)).isFile();
    });
    language::useFallbackFamilies(m_language);
    if (m_language.isEmpty()) {
        // A tester who asked for a language must not take English for it.
        const bool englishAsked =
            std::any_of(languages.begin(), languages.end(), [](const QString& tag) {
                return language::fileCodes(tag).contains(QStringLiteral("en"));
            });
        if (!qEnvironmentVariableIsEmpty(language::kOverrideVariable) && !englishAsked)
            qWarning() << language::kOverrideVariable << "asks for" << languages.join(':')
                       << "but there is no text copy file for it; the texts are English";
        return;
    }
    const QString path = folder + translatedFile(kTextCopyFile, m_language);
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge))
        return;
    m_translation =
        QJsonDocument::fromJson(file.readAll()).object().value(kTextCopyMember).toObject();
    for (const char* key : kUntranslatedKeys)
        m_translation.remove(key);
    if (m_translation.isEmpty())
        qWarning() << "No texts under \"copy\" in" << path << "- the texts are English";
    else
        qInfo() << "Texts in" << m_language << "from" << path;
}

void installator::loadChangelog() {
    // The translation's own changelog when there is one, else the English.
    QString path = QCoreApplication::applicationDirPath() + kChangelogFile;
    if (!m_language.isEmpty()) {
        const QString translated =
            QCoreApplication::applicationDirPath() + translatedFile(kChangelogFile, m_language);
        if (QFileInfo(translated).isFile())
            path = translated;
    }
    QFile file(path);
    bool tooLarge = false;
    if (!openBounded(file, tooLarge)) {
        if (!tooLarge)
            qWarning() << "Changelog file not found under" << path;
        return;
    }
    // Default stream settings: a byte-order mark picks the Unicode encoding,
    // otherwise the locale's encoding applies.
    QTextStream stream(&file);
    m_changelog = stream.readAll();
}
