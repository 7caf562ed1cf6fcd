#pragma once
// Everything tavrin-dfu prints while it works: progress as one updating line
// on a terminal, as plain lines when standard output is a pipe or a file, or
// as one JSON object per line with --json. Failures and notices go to
// standard error in the human modes.

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdint>

namespace cli {

enum class OutputMode { Terminal, Plain, Json };

class Output {
public:
    explicit Output(OutputMode mode) : m_mode(mode) {}
    // Terminal when standard output is one, else Plain; Json when asked.
    static OutputMode modeFor(bool json);

    OutputMode mode() const { return m_mode; }
    bool json() const { return m_mode == OutputMode::Json; }
    // --no-progress: transfers print nothing while they run, in every mode.
    void hideProgress() { m_showProgress = false; }
    bool showsProgress() const { return m_showProgress; }

    // One transfer ("write" or "read"); total is its byte count, -1 when the
    // accessory alone knows it.
    void beginTransfer(const QString& operation, qint64 total);
    void progress(int percent);
    // completed: the transfer ended well, and its line shows 100 % and the
    // time it took.
    void endTransfer(bool completed);

    // A line for people on standard output; nothing with --json.
    void say(const QString& line);
    // A line on standard error in every mode.
    void warn(const QString& line);
    // One object on a line of its own on standard output.
    void jsonLine(const QJsonObject& object);

private:
    void printTerminalLine(int percent, bool done = false);

    OutputMode m_mode;
    bool m_showProgress = true;
    QString m_operation;
    qint64 m_total = -1;
    int m_lastPercent = -1;
    bool m_lineOpen = false;
    int m_lastLineLength = 0;
    QElapsedTimer m_clock;
};

// The system's reason (an errno value) the first write to standard output
// failed, 0 when none did; a reader that went away counts as none.
int outputError();

// Text a device gave (a serial number) as a terminal may show it: control
// characters, which could move the cursor or rewrite the screen, as "\x1b".
QString escapeControls(const QString& text);
// One JSON line. The encoder escapes only the controls below 0x20; DEL and
// U+0080 to U+009F (C1, which a terminal may take for escape sequences too)
// are escaped here.
QByteArray compactJson(const QJsonDocument& document);

// "1.5 MiB", "64.0 KiB", "512 B".
QString formatBytes(qint64 bytes);
// "0x0a12": hexadecimal, zero-padded to at least digits digits.
QString hex(uint32_t value, int digits);

} // namespace cli
