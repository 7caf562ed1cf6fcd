#include "system.h"

#include "arguments.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli::system {

namespace {
void (*g_record)(int, bool) = nullptr;

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

void onSignal(int number, siginfo_t* info, void*) {
    // si_code <= 0: sent by a process (kill, sigqueue), not by the terminal.
    g_record(number, info && info->si_code <= 0 && info->si_pid == ::getppid());
}
} // namespace

QByteArray fileNameBytes(const QString& name) {
    return name.toLocal8Bit();
}

QString fileNameText(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes);
}

QStringList programArguments(const QByteArrayList& given) {
    return decodeArguments(given);
}

void onStopRequests(void (*record)(int number, bool passedOn)) {
    g_record = record;
    // A logout or a service manager stops a program this way: a transfer cut
    // mid-block leaves the accessory half-written, so they wait as Ctrl+C does.
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO;
    action.sa_mask = stopSignals();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // Ignored from the start (nohup, a shell's background job) is the
        // caller's wish that it not stop the program: it stays ignored.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
    // A --all parent starts its children with them blocked
    // (holdingStopRequests); one that came meanwhile arrives now.
    const sigset_t held = stopSignals();
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
    // A reader that went away (| head -1) is no reason to stop writing
    // firmware: writes to it fail instead, and the run goes on.
    action.sa_flags = 0;
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, nullptr);
}

void holdingStopRequests(const std::function<void()>& start) {
    const sigset_t held = stopSignals();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &held, &before);
    start();
    sigprocmask(SIG_SETMASK, &before, nullptr);
}

QString stopText(int number) {
    return number == SIGTERM  ? QStringLiteral("Terminated")
           : number == SIGHUP ? QStringLiteral("Hung up")
                              : QStringLiteral("Interrupted");
}

const char* stopStatusHelp() {
    return "  129  hung up (SIGHUP); a running transfer was let finish first\n"
           "  130  interrupted (Ctrl+C); a running transfer was let finish first\n"
           "  143  terminated (SIGTERM); a running transfer was let finish first\n";
}

// From a terminal the children have the signal already; from kill they
// would not. They take one from their parent as the same request
// (onStopRequests' passedOn), so it never counts twice.
void passStopRequest(qint64 processId, int number) {
    ::kill(pid_t(processId), number);
}

QString accessAdvice() {
    return QStringLiteral(", and on Linux the udev rule (man tavrin-dfu)");
}

bool terminalOutput() {
    return ::isatty(STDOUT_FILENO);
}

void writeText(std::FILE* file, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file);
    std::fflush(file);
}

int terminalColumns() {
    struct winsize size {};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0;
}

bool regularFile(const std::string& name, qint64* size) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (size)
        *size = qint64(info.st_size);
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::FILE* openBytes(std::vector<uint8_t>& bytes) {
    return ::fmemopen(bytes.data(), bytes.size(), "rb");
}

} // namespace cli::system
