#include "runningmark.h"

#include <windows.h>

#include <string>

void markProgramRunning() {
    const std::wstring name(kRunningMarkName,
                            kRunningMarkName + std::char_traits<char>::length(kRunningMarkName));
    // The handles stay open until the process ends. The global one lets an
    // uninstall for all users see a program of another session; making it
    // may be refused, and the session's own one is enough for the person's
    // own setup.
    for (const wchar_t* space : {L"Local\\", L"Global\\"})
        CreateMutexW(nullptr, FALSE, (space + name).c_str());
}
