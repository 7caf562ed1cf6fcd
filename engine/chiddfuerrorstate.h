#pragma once

#include <cstdint>
#include <map>
#include <string>

typedef int32_t int32;

// Result codes of the engine and their texts. The table is fixed at
// construction; the last error (code and text) changes with every failure.
// Not synchronised itself: the engine guards it with its state mutex.
class CHidDfuErrorState {
public:
    enum Code : int32 {
        Success = 0,
        InvalidSequence = -1,
        FailedToConnect = -2,
        FailedToOpenFile = -3,
        FailedToWriteFile = -4,
        InvalidFileFormat = -5,
        InvalidFileCrc = -6,
        FileReadFailed = -7,
        UpgradeFailed = -8,
        ResetFailed = -9,
        OutOfMemory = -10,
        InvalidParameter = -11,
        DriverOperationFailed = -12,
        OperationFailedToStart = -13,
        Busy = -14,
        FailedToClearStatus = -15,
        FirmwareCorrupt = -16,
        TimedOut = -17,
        UnknownError = -20,
    };

    CHidDfuErrorState();

    // Stores code with its table text ("Unknown error code" for codes the
    // table lacks); returns code.
    int32 setCode(int32 code);
    // Stores code with the given text; returns code.
    int32 setCodeAndText(int32 code, const std::string& text);

    const std::string& text() const { return m_text; }
    int32 code() const { return m_code; }
    const std::map<int32, std::string>& table() const { return m_table; }

private:
    std::map<int32, std::string> m_table;
    std::string m_text;
    int32 m_code = 0;
};
