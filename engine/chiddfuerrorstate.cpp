#include "chiddfuerrorstate.h"

CHidDfuErrorState::CHidDfuErrorState() {
    m_table.emplace(Success, "");
    m_table.emplace(InvalidSequence, "Invalid sequence (hidDfuConnect must be called first)");
    m_table.emplace(FailedToConnect, "Failed to connect to device");
    m_table.emplace(FailedToOpenFile, "Failed to open file");
    m_table.emplace(FailedToWriteFile, "Failed to write to file");
    m_table.emplace(InvalidFileFormat, "File format is invalid");
    m_table.emplace(InvalidFileCrc, "File CRC is incorrect");
    m_table.emplace(FileReadFailed, "File read failed");
    m_table.emplace(UpgradeFailed, "Upgrade failed");
    m_table.emplace(ResetFailed, "Device reset failed");
    m_table.emplace(OutOfMemory, "Out of memory");
    m_table.emplace(InvalidParameter, "Invalid parameter");
    m_table.emplace(DriverOperationFailed, "Driver operation failed");
    m_table.emplace(OperationFailedToStart, "Operation failed to start");
    m_table.emplace(Busy, "Busy, operation in progress");
    m_table.emplace(FailedToClearStatus, "Failed to clear device status");
    m_table.emplace(FirmwareCorrupt, "Device firmware is corrupt");
    m_table.emplace(TimedOut, "Operation took too long");
    m_table.emplace(UnknownError, "Unknown error");
}

int32 CHidDfuErrorState::setCode(int32 code) {
    m_code = code;
    m_text.clear();
    const auto row = m_table.find(code);
    m_text = row != m_table.end() ? row->second : std::string("Unknown error code");
    return code;
}

int32 CHidDfuErrorState::setCodeAndText(int32 code, const std::string& text) {
    m_code = code;
    m_text = text;
    return code;
}
