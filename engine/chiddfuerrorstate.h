#pragma once

#include "hiddfu.h"

#include <map>
#include <string>

// The last error (code and text) of the engine; the codes and their texts are
// the contract's (hiddfu.h). Not synchronised itself: the engine guards it
// with its state mutex.
class CHidDfuErrorState : public HidDfuResult {
public:
    CHidDfuErrorState();

    // Stores code with its table text ("Unknown error code" for codes the
    // table lacks); returns code.
    int32 setCode(int32 code);
    // Stores code with the given text; returns code.
    int32 setCodeAndText(int32 code, const std::string& text);
    // Stores a failed connect: FailedToConnect with text, the cause
    // (HidDfuConnectFailure) and the system's reason; returns the code. The
    // two calls above clear the cause and the reason.
    int32 setConnectFailure(int32 cause, const std::string& text,
                            const std::string& reason = std::string());

    const std::string& text() const { return m_text; }
    int32 code() const { return m_code; }
    int32 connectFailure() const { return m_connectFailure; }
    const std::string& openReason() const { return m_openReason; }
    // Every code of the table with its text.
    static const std::map<int32, std::string>& table();

private:
    std::string m_text;
    int32 m_code = 0;
    int32 m_connectFailure = HidDfuConnectFailure::None;
    std::string m_openReason;
};
