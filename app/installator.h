#pragma once
// The one object through which the wizard reaches the firmware engine. QML
// creates it as the element Installator of the module installator 1.0.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class QTimer;
class SessionInhibitor;

class ProgressManager;

class installator : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString changelog READ changelog CONSTANT)

public:
    // Starts the progress relay's thread and reads the text copy file and the
    // changelog beside the executable, once, with the translation of the
    // system's first preferred language that has one.
    installator();
    // The same for the preferred languages given, most preferred first
    // ("de-AT", "en"); the variable TAVRIN_LANGUAGE overrides them as it
    // does the system's.
    explicit installator(const QStringList& uiLanguages);
    // Stops the relay. A polling run that is active finishes first, which
    // means the engine's running operation ends first; its result is not
    // delivered any more.
    ~installator() override;

    QString changelog() const { return m_changelog; }
    // The translation shown, as in its file name ("de", "zh_CN"); "" for
    // English.
    QString language() const { return m_language; }
    // The family the pages draw their text in; "" for Roboto (see
    // language::textFamily).
    Q_INVOKABLE QString textFamily() const;

    // The method order below is the class's QML interface; keep it.
signals:
    // Emitted only by the progress relay.
    void progressChanged(int);
    void resultReady(int);
    // While watchAccessory(true): how many accessories are attached and the
    // version the first one states ("" when none or it states none), at the
    // first look and whenever either changes.
    void accessoryChanged(int attached, const QString& installedVersion);

public slots:
    // Runs on every resultReady before any QML handler: after a success the
    // device is restarted and released; after a failure it is released
    // without a restart, so that the next connect() finds it anew.
    void restartAndDisconnect(int status);

public:
    Q_INVOKABLE int connect();
    // Starts reading the device's firmware into the per-user data folder; the
    // outcome arrives through resultReady.
    Q_INVOKABLE int backup();
    // Starts writing the firmware file named by "dfuUpdateUrl"; the outcome
    // arrives through resultReady.
    Q_INVOKABLE int upgrade();
    Q_INVOKABLE QString getLastError();
    // The text under the given key in the translation, else in the English
    // text copy; the key itself when neither has a string under it.
    Q_INVOKABLE QString getText(QString);
    Q_INVOKABLE QString applicationPath();
    // True from a backup() or upgrade() call until its resultReady has been
    // handled: the window must not close before the device is restarted and
    // released.
    Q_INVOKABLE bool resultPending() const { return m_pendingResults > 0; }
    // Whether the text copy has a string under the key; asks quietly, for
    // texts that only some cases have.
    Q_INVOKABLE bool hasText(const QString& key) const {
        return m_translation.value(key).isString() || m_textCopy.value(key).isString();
    }
    // The firmware file beside the program, checked once at start as an
    // upgrade would check it: 0 or the code an upgrade would end with, and
    // that failure's text.
    Q_INVOKABLE int firmwareFileCode() const { return m_firmwareCode; }
    Q_INVOKABLE QString firmwareFileProblem() const { return m_firmwareProblem; }
    // The version of the firmware the file holds: the text copy's
    // "firmwareVersion", else what the file's suffix states; "" when neither
    // states one.
    Q_INVOKABLE QString fileVersion() const { return m_fileVersion; }
    // Looks for attached accessories about once a second while on (nothing is
    // opened), and reports through accessoryChanged.
    Q_INVOKABLE void watchAccessory(bool on);
    // -1 when the file's version is older than installed, 0 equal, 1 newer,
    // 2 when either is not stated; versions as "J.M.N".
    Q_INVOKABLE static int compareVersions(const QString& installed, const QString& file);
    // The folder of this run's log file (the newest there) as the system
    // writes paths; "" when the run has no file.
    Q_INVOKABLE QString logFolder() const;
    // Shows that folder in the desktop's file manager; false (said in the
    // log) when there is none or it cannot be shown.
    Q_INVOKABLE bool openLogFolder() const;
    // The text copy key of what a person can do about code: "errorAdvice-6"
    // for -6, and for a write the accessory was still busy with when the
    // time for it ran out (-8 with status 0) one of its own, so that a slow
    // accessory is not told it refused the firmware.
    Q_INVOKABLE QString adviceKey(int code) const;
    // What a person sends to support after a failure: a header of what
    // support asks first (program, accessory, firmware file, the code with
    // the engine's text, how far the write came, the time and the page's
    // language), the texts the error page shows, the system and the log's
    // end.
    Q_INVOKABLE QString errorDetails(int code, const QStringList& shownTexts) const;
    Q_INVOKABLE void copyToClipboard(const QString& text) const;

private:
    int reset();
    int disconnect();
    void checkFirmwareFile();
    void lookForAccessory();

    ProgressManager* m_progressManager = nullptr;
    QString m_changelog;
    QJsonObject m_textCopy;
    // The translation's "copy" object: consulted first, and only for texts.
    QJsonObject m_translation;
    QString m_language;
    // One per backup() or upgrade() call whose resultReady has not arrived.
    int m_pendingResults = 0;
    // Held from the start of an upgrade to its result.
    SessionInhibitor* m_inhibitor = nullptr;
    int m_firmwareCode = 0;
    QString m_firmwareProblem;
    QString m_fileVersion;
    // The firmware file as found at start, for the details: its name beside
    // the program, size, the CRC its suffix states (when it has one) and the
    // version its suffix states ("" for none).
    QString m_firmwareName;
    qint64 m_firmwareSize = -1;
    QString m_firmwareCrc;
    QString m_statedVersion;
    // The firmware file's bytes as checked at start, when they passed: what
    // the ready page showed is what is written, whatever happens to the file.
    std::vector<uint8_t> m_firmware;
    QTimer* m_accessoryTimer = nullptr;
    int m_attached = -1; // -1: not looked yet
    // What the last look found, kept after the watch stops.
    int m_lastAttached = -1;
    QString m_installedVersion;
    QString m_accessorySerial;
};
