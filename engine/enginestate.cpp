#include "enginestate.h"

#include <algorithm>

int32 EngineState::setCode(int32 code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.setCode(code);
}

int32 EngineState::setCodeAndText(int32 code, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.setCodeAndText(code, text);
}

int32 EngineState::setConnectFailure(int32 cause, const std::string& text,
                                     const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.setConnectFailure(cause, text, reason);
}

void EngineState::reportCode(int32 code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_operationError.setCode(code);
    m_operationReported = true;
    m_error = m_operationError;
}

void EngineState::reportCodeAndText(int32 code, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_operationError.setCodeAndText(code, text);
    m_operationReported = true;
    m_error = m_operationError;
}

void EngineState::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = 0;
    m_operationReported = false;
    m_running = true;
}

void EngineState::finish(int32 exitCode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exitCode = exitCode;
    if (m_operationReported)
        m_error = m_operationError;
    m_running = false;
}

void EngineState::setProgress(uint8_t progress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = std::min<uint8_t>(progress, 100);
}

void EngineState::startWrite() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeFacts = HidDfuWriteFacts();
}

void EngineState::setBytesWritten(uint64_t written, uint64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeFacts.bytesWritten = written;
    m_writeFacts.totalBytes = total;
}

void EngineState::setStatusRead(uint8_t status, uint8_t state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeFacts.dfuStatus = status;
    m_writeFacts.dfuState = state;
}

bool EngineState::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

uint8_t EngineState::progress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running ? std::min<uint8_t>(m_progress, 99) : 100;
}

int32 EngineState::result() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running ? m_error.setCode(CHidDfuErrorState::Busy) : m_exitCode;
}

std::string EngineState::lastError() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error.text();
}

int32 EngineState::connectFailure(std::string& reason) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    reason = m_error.openReason();
    return m_error.connectFailure();
}

HidDfuWriteFacts EngineState::writeFacts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writeFacts;
}
