#pragma once
// The engine's state that crosses threads: whether an operation runs, its
// progress, the last exit code, the last error and the last write's facts.
// The worker thread writes it, the GUI and relay threads read it; one mutex
// guards it all, so that a reader that sees "not running" also sees the
// final code and text of the operation that has just ended. Plain C++, no
// Qt: it can be tested from plain threads under ThreadSanitizer.

#include "chiddfuerrorstate.h"

#include <cstdint>
#include <mutex>
#include <string>

class EngineState {
public:
    // Record a failure (the table's text, or the given one); return code.
    int32 setCode(int32 code);
    int32 setCodeAndText(int32 code, const std::string& text);
    // Record a failed connect (CHidDfuErrorState::setConnectFailure).
    int32 setConnectFailure(int32 cause, const std::string& text,
                            const std::string& reason = std::string());
    // The running operation's own reports: recorded as above, and kept apart,
    // so that a busy refusal or result query that lands between the worker's
    // last report and its exit code cannot stand in for the operation's text.
    void reportCode(int32 code);
    void reportCodeAndText(int32 code, const std::string& text);

    // An operation starts: running, from progress 0 (a finished operation may
    // have left any value, even 100, which a reader must not take for done).
    void start();
    // The operation's exit code, the last thing its worker reports: stored,
    // the operation's last report becomes the last error again, and the
    // operation no longer runs.
    void finish(int32 exitCode);
    // Stored capped at 100.
    void setProgress(uint8_t progress);
    // An upgrade starts: its write facts start afresh (hidDfuGetWriteFacts).
    void startWrite();
    void setBytesWritten(uint64_t written, uint64_t total);
    void setStatusRead(uint8_t status, uint8_t state);

    bool running() const;
    // 100 when nothing runs; a running operation reads at most 99.
    uint8_t progress() const;
    // The last exit code once nothing runs; while one runs, the busy code,
    // recorded as the last error.
    int32 result();
    std::string lastError() const;
    // The last error's connect failure cause, and the system's reason in reason.
    int32 connectFailure(std::string& reason) const;
    HidDfuWriteFacts writeFacts() const;

private:
    mutable std::mutex m_mutex;
    CHidDfuErrorState m_error;
    CHidDfuErrorState m_operationError;
    bool m_operationReported = false;
    uint8_t m_progress = 0;
    bool m_running = false;
    int32 m_exitCode = 0;
    HidDfuWriteFacts m_writeFacts;
};
