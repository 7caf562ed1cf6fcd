#include "station.h"

#include "console.h"
#include "exitstatus.h"
#include "flasher.h"
#include "stoprequests.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <vector>

namespace cli {

namespace {

constexpr int kRedrawMs = 200;
constexpr int kPlainStepPercent = 10;

struct Child {
    StationJob job;
    std::unique_ptr<QProcess> process;
    QString operation = QStringLiteral("start");
    int percent = 0;
    int printedStep = -1;
    bool done = false;
    QJsonObject result; // the child's result line, empty when none came
    int status = Success;

    QString label() const {
        return escapeControls(job.serialNumber.isEmpty() ? job.path : job.serialNumber);
    }
    QString state() const {
        if (!done)
            return QStringLiteral("%1 %2 %").arg(operation).arg(percent, 3);
        return status == Success ? QStringLiteral("done") : QStringLiteral("FAILED");
    }
};

class Station {
public:
    Station(Report& report, const QString& command)
        : m_report(report), m_out(report.out), m_command(command) {}

    int run(const QVector<StationJob>& jobs) {
        for (const StationJob& job : jobs) {
            auto child = std::make_unique<Child>();
            child->job = job;
            m_children.push_back(std::move(child));
        }
        m_out.say(QStringLiteral("%1 on %2 accessories").arg(m_command).arg(jobs.size()));
        for (auto& child : m_children)
            start(*child);
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [this] { onTick(); });
        tick.start(kRedrawMs);
        if (running() > 0)
            m_loop.exec();
        tick.stop();
        redraw();
        return summarise();
    }

private:
    int running() const {
        int count = 0;
        for (const auto& child : m_children)
            count += child->done ? 0 : 1;
        return count;
    }

    void start(Child& child) {
        child.process = std::make_unique<QProcess>();
        QProcess* process = child.process.get();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(process, &QProcess::readyReadStandardOutput,
                         [this, &child] { readLines(child); });
        QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                         [this, &child](int exitCode, QProcess::ExitStatus how) {
                             readLines(child);
                             finish(child, how == QProcess::NormalExit ? exitCode : DeviceFailed);
                         });
        QObject::connect(process, &QProcess::errorOccurred,
                         [this, &child](QProcess::ProcessError e) {
                             if (e == QProcess::FailedToStart)
                                 finish(child, DeviceFailed);
                         });
        platform::holdingStopRequests([process, &child] {
            process->start(QCoreApplication::applicationFilePath(), child.job.arguments);
        });
    }

    void readLines(Child& child) {
        while (child.process->canReadLine()) {
            QJsonObject line = QJsonDocument::fromJson(child.process->readLine()).object();
            if (line.isEmpty())
                continue;
            const QString event = line.value(QStringLiteral("event")).toString();
            if (event == QLatin1String("progress")) {
                child.operation = line.value(QStringLiteral("operation")).toString();
                child.percent = line.value(QStringLiteral("percent")).toInt();
                printPlainStep(child);
            } else if (event == QLatin1String("result")) {
                child.result = line;
            }
            // The parent's view of the accessory: a child may enumerate it
            // under another path (the demo's simulated nodes do).
            line.insert(QStringLiteral("path"), child.job.path);
            line.insert(QStringLiteral("serial"), child.job.serialNumber);
            if (m_out.json())
                m_out.jsonLine(line);
        }
    }

    void printPlainStep(Child& child) {
        if (m_out.mode() != OutputMode::Plain || !m_out.showsProgress())
            return;
        const int step = child.percent / kPlainStepPercent;
        if (step == child.printedStep && !child.done)
            return;
        child.printedStep = step;
        m_out.say(QStringLiteral("%1: %2").arg(child.label(), child.state()));
    }

    void finish(Child& child, int exitStatus) {
        if (child.done)
            return;
        child.done = true;
        // A child that crashed or could not start leaves no result line.
        if (child.result.isEmpty())
            child.result = {
                {QStringLiteral("status"), exitStatus == Success ? DeviceFailed : exitStatus},
                {QStringLiteral("code"), 0},
                {QStringLiteral("text"),
                 QStringLiteral("The child process ended without a result")}};
        child.status = child.result.value(QStringLiteral("status")).toInt();
        printPlainStep(child);
        if (running() == 0)
            m_loop.quit();
    }

    void onTick() {
        if (interrupted() && !m_interruptForwarded) {
            m_interruptForwarded = true;
            m_out.warn(QStringLiteral("%1: the running transfers are finishing; keep "
                                      "the accessories plugged in.")
                           .arg(interruptText()));
            for (const auto& child : m_children) {
                if (!child->done && child->process->processId() > 0)
                    platform::passStopRequest(child->process->processId(), interruptSignal());
            }
        }
        redraw();
    }

    // Terminal only: the block of live lines, one per accessory, redrawn in
    // place.
    void redraw() {
        if (m_out.mode() != OutputMode::Terminal || !m_out.showsProgress())
            return;
        QString block;
        if (m_drawn)
            block += QStringLiteral("\033[%1A").arg(m_children.size());
        for (const auto& child : m_children)
            block +=
                QStringLiteral("\r\033[K%1  %2\n").arg(child->label(), -16).arg(child->state());
        m_drawn = true;
        platform::writeText(stdout, block);
    }

    int summarise() {
        int status = Success;
        int failed = 0;
        if (!m_out.json())
            m_out.say(QStringLiteral("\n%1  %2  %3  %4  %5")
                          .arg(QStringLiteral("ACCESSORY"), -16)
                          .arg(QStringLiteral("RESULT"), -6)
                          .arg(QStringLiteral("STATUS"))
                          .arg(QStringLiteral("CODE"), 5)
                          .arg(QStringLiteral("TEXT")));
        for (const auto& child : m_children) {
            // Stopped by the signal after its write: the firmware is on it.
            const bool written = child->status != Success &&
                                 child->result.value(QStringLiteral("writeCompleted")).toBool();
            const QString detail = child->result.value(QStringLiteral("detail")).toString();
            QString text = child->result.value(QStringLiteral("text")).toString();
            if (!detail.isEmpty())
                text += QStringLiteral(": ") + detail;
            m_out.say(QStringLiteral("%1  %2  %3  %4  %5")
                          .arg(child->label(), -16)
                          .arg(child->status == Success ? QStringLiteral("ok")
                               : written                ? QStringLiteral("written")
                                                        : QStringLiteral("failed"),
                               -6)
                          .arg(child->status, 6)
                          .arg(child->result.value(QStringLiteral("code")).toInt(), 5)
                          .arg(child->status == Success ? QString() : text)
                          .trimmed());
            if (child->status != Success) {
                failed += written ? 0 : 1;
                if (status == Success)
                    status = child->status;
            }
        }
        m_out.say(QStringLiteral("%1 of %2 accessories succeeded")
                      .arg(m_children.size() - failed)
                      .arg(m_children.size()));
        if (m_out.json()) {
            QJsonObject summary{{QStringLiteral("event"), QStringLiteral("summary")},
                                {QStringLiteral("command"), m_command},
                                {QStringLiteral("status"), status},
                                {QStringLiteral("accessories"), int(m_children.size())},
                                {QStringLiteral("failed"), failed}};
            m_report.stamp(summary);
            m_out.jsonLine(summary);
        }
        return status;
    }

    Report& m_report;
    Output& m_out;
    QString m_command;
    std::vector<std::unique_ptr<Child>> m_children;
    QEventLoop m_loop;
    bool m_drawn = false;
    bool m_interruptForwarded = false;
};

} // namespace

int runStation(Report& report, const QString& command, const QVector<StationJob>& jobs) {
    Station station(report, command);
    return station.run(jobs);
}

} // namespace cli
