#include "chiddfuerrorstate.h"

const std::map<int32, std::string>& CHidDfuErrorState::table() {
    static const std::map<int32, std::string> texts{
        {Success, ""},
        {InvalidSequence, "Invalid sequence (hidDfuConnect must be called first)"},
        {FailedToConnect, "Failed to connect to device"},
        {FailedToOpenFile, "Failed to open file"},
        {FailedToWriteFile, "Failed to write to file"},
        {InvalidFileFormat, "File format is invalid"},
        {InvalidFileCrc, "File CRC is incorrect"},
        {FileReadFailed, "File read failed"},
        {UpgradeFailed, "Upgrade failed"},
        {ResetFailed, "Device reset failed"},
        {OutOfMemory, "Out of memory"},
        {InvalidParameter, "Invalid parameter"},
        {DriverOperationFailed, "Driver operation failed"},
        {OperationFailedToStart, "Operation failed to start"},
        {Busy, "Busy, operation in progress"},
        {FailedToClearStatus, "Failed to clear device status"},
        {FirmwareCorrupt, "Device firmware is corrupt"},
        {TimedOut, "Operation took too long"},
        {UnknownError, "Unknown error"},
    };
    return texts;
}

const char* hidDfuResultText(int32 code) {
    const auto row = CHidDfuErrorState::table().find(code);
    return row != CHidDfuErrorState::table().end() ? row->second.c_str() : "Unknown error code";
}

bool hidDfuIsResultCode(int32 code) {
    return CHidDfuErrorState::table().count(code) != 0;
}

CHidDfuErrorState::CHidDfuErrorState() = default;

int32 CHidDfuErrorState::setCode(int32 code) {
    return setCodeAndText(code, hidDfuResultText(code));
}

int32 CHidDfuErrorState::setCodeAndText(int32 code, const std::string& text) {
    m_code = code;
    m_text = text;
    m_connectFailure = HidDfuConnectFailure::None;
    m_openReason.clear();
    return code;
}

int32 CHidDfuErrorState::setConnectFailure(int32 cause, const std::string& text,
                                           const std::string& reason) {
    setCodeAndText(FailedToConnect, text);
    m_connectFailure = cause;
    m_openReason = reason;
    return m_code;
}
