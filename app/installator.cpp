#include "installator.h"

#include "filenames.h"
#include "files.h"
#include "folderview.h"
#include "language.h"
#include "logfile.h"
#include "sessioninhibitor.h"
#include "textcopy.h"
#include "textvariant.h"

#include "dfufile.h"
#include "hiddfu.h"
#include "progressrelay.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonValue>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <QVersionNumber>

#include <algorithm>

namespace {

// Usage 0 and usage page 0 let the engine accept any.
constexpr uint16_t kAnyUsage = 0;
constexpr uint16_t kAnyUsagePage = 0;

using textcopy::kFirmwareKey;
using textcopy::kFirmwareVersionKey;
// How often the ready page looks for the accessory.
constexpr int kAccessoryPollMs = 1000;
const char kBackupFileName[] = "tavrinFirmware.backup";

} // namespace

installator::installator() : installator(QLocale::system().uiLanguages()) {}

installator::installator(const QStringList& uiLanguages) : QObject(nullptr) {
    m_progressManager = new ProgressManager(this);
    m_inhibitor = new SessionInhibitor(QCoreApplication::applicationName(), this);
    // Made before QML can connect anything, so the device is restarted and
    // released before the pages react to the same result.
    QObject::connect(this, &installator::resultReady, this, &installator::restartAndDisconnect);
    m_textCopy = textcopy::loadTextCopy();
    const textcopy::Translation translation = textcopy::loadTranslation(uiLanguages);
    m_language = translation.language;
    m_translation = translation.texts;
    m_changelog = textcopy::loadChangelog(m_language);
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
    // The bytes checked at start, which the ready page's versions come from:
    // read again here, a file swapped meanwhile was written under the
    // version shown. The engine is asked also when the file failed its
    // check: it reports that case itself, through the operation's result.
    const int32 code = m_firmware.empty()
                           ? hidDfuUpgrade(encoded.constData())
                           : hidDfuUpgradeImage(m_firmware.data(), uint64_t(m_firmware.size()));
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

QString installator::getText(QString key) {
    // A text worded for this system (advice that names its tools) sits under
    // the key with the system's ending, beside the text the others show.
    const QString variant = key + QLatin1Char('.') + QLatin1String(platform::textVariant());
    if (m_translation.value(variant).isString() || m_textCopy.value(variant).isString())
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
    m_firmwareName = m_textCopy.value(kFirmwareKey).toString();
    m_firmwareSize = file ? qint64(bytes.size()) : -1;
    if (check.code == 0)
        m_firmwareCrc = QStringLiteral("0x%1").arg(
            dfu::le32(bytes.data() + bytes.size() - dfu::kSuffixLength + dfu::kSuffixCrc), 8, 16,
            QLatin1Char('0'));
    const uint16_t stated = dfu::suffixBcdDevice(bytes);
    if (check.code == 0 && dfu::suffixStatesVersion(stated))
        m_statedVersion = QString::fromStdString(dfu::versionText(stated));
    m_fileVersion = m_textCopy.value(kFirmwareVersionKey).isString()
                        ? m_textCopy.value(kFirmwareVersionKey).toString()
                        : m_statedVersion;
    if (check.code == 0)
        m_firmware = std::move(bytes);
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
    std::string serial;
    const int attached =
        std::max(0, hidDfuAttachedCount(kHidDfuVendorId, kHidDfuProductId, &release, &serial));
    // A device whose release number is 0, or not BCD, states no version.
    const QString version = attached > 0 && dfu::deviceStatesVersion(release)
                                ? QString::fromStdString(dfu::versionText(release))
                                : QString();
    m_lastAttached = attached;
    m_accessorySerial = QString::fromStdString(serial);
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

bool installator::openLogFolder() const {
    const QString folder = logFolder();
    QString why = QStringLiteral("this run has no log file");
    if (!folder.isEmpty() && showFolder(folder, why))
        return true;
    qWarning().noquote() << "The log folder cannot be shown:" << why;
    return false;
}

QString installator::textFamily() const {
    return language::textFamily(m_language);
}

QString installator::adviceKey(int code) const {
    // The engine's text is the same for both ("Upgrade failed (DFU status
    // code = 0)"); the state of the last status read tells them apart.
    const HidDfuWriteFacts facts = hidDfuGetWriteFacts();
    if (code == HidDfuResult::UpgradeFailed && facts.dfuStatus == 0 &&
        facts.dfuState == kHidDfuStateDnBusy)
        return QStringLiteral("errorAdviceBusy");
    return QStringLiteral("errorAdvice%1").arg(code);
}

namespace {
// Texts a device or a file gave, on one line of the details each.
QString oneLine(QString text) {
    return text.replace(QLatin1Char('\n'), QLatin1Char(' '));
}
} // namespace

QString installator::errorDetails(int code, const QStringList& shownTexts) const {
    const auto stated = [](const QString& version) {
        return version.isEmpty() ? QStringLiteral("not stated") : version;
    };
    const LogFile* log = LogFile::current();
    const QString engineText = QString::fromUtf8(hidDfuGetLastError());
    QStringList lines{QStringLiteral("%1 %2: error %3")
                          .arg(QCoreApplication::applicationName(), QStringLiteral(TAVRIN_VERSION))
                          .arg(code)};
    lines << QStringLiteral("Code: %1, %2")
                 .arg(code)
                 .arg(engineText.isEmpty() ? QString::fromLatin1(hidDfuResultText(code))
                                           : oneLine(engineText));
    if (m_lastAttached > 0)
        lines << QStringLiteral("Accessory: serial %1, firmware %2")
                     .arg(m_accessorySerial.isEmpty() ? QStringLiteral("not stated")
                                                      : oneLine(m_accessorySerial),
                          stated(m_installedVersion));
    else
        lines << QStringLiteral("Accessory: no accessory found");
    if (m_firmwareSize < 0)
        lines << QStringLiteral("Firmware file: %1, not readable").arg(m_firmwareName);
    else
        lines << QStringLiteral("Firmware file: %1, %2 bytes, CRC %3, states %4")
                     .arg(m_firmwareName)
                     .arg(m_firmwareSize)
                     .arg(m_firmwareCrc.isEmpty() ? QStringLiteral("none") : m_firmwareCrc,
                          m_statedVersion.isEmpty() ? QStringLiteral("no version")
                                                    : QStringLiteral("version ") + m_statedVersion);
    const HidDfuWriteFacts write = hidDfuGetWriteFacts();
    if (write.totalBytes == 0 && write.dfuStatus < 0)
        lines << QStringLiteral("Last write: none started");
    else
        lines << QStringLiteral("Last write: %1 of %2 bytes written; DFU status %3, state %4")
                     .arg(write.bytesWritten)
                     .arg(write.totalBytes)
                     .arg(write.dfuStatus)
                     .arg(write.dfuState);
    lines << QStringLiteral("Time: %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate))
          << QStringLiteral("Language: %1")
                 .arg(m_language.isEmpty() ? QStringLiteral("en") : m_language);
    lines << shownTexts;
    lines << QStringLiteral("Firmware in this program: %1").arg(stated(m_fileVersion))
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
        // What support asks first, in the file a person sends them.
        qInfo().noquote() << "Engine's text:" << getLastError();
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
