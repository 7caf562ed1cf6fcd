#include "launch.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

struct LaunchedChild {
    PROCESS_INFORMATION process;
    std::FILE* output;
};

namespace {

// One argument as the child's C runtime will split it off again: in quotes
// when it holds a blank or a quote, backslashes doubled before a quote.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

// The child inherits only handles marked so, and a standard handle that
// Wine or a console gave this process need not be.
HANDLE inheritable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (handle && handle != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    return copy;
}

void closeIfOpen(HANDLE handle) {
    if (handle)
        CloseHandle(handle);
}

} // namespace

LaunchedChild* launchChild(char* arguments[]) {
    // The arguments again from the UTF-16 command line, so that any file name
    // reaches the child as given, not through the ANSI code page.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide || count < 2) {
        std::fprintf(stderr, "bench_launch: cannot read the command line\n");
        return nullptr;
    }
    const std::wstring program = wide[1];
    std::wstring commandLine;
    for (int i = 1; i < count; ++i)
        commandLine += (i > 1 ? L" " : L"") + quoted(wide[i]);
    LocalFree(wide);

    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &attributes, 0)) {
        std::fprintf(stderr, "bench_launch: no pipe (error %lu)\n", GetLastError());
        return nullptr;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    // This process keeps no write end, so the pipe ends when the child does.
    CloseHandle(writeEnd);
    closeIfOpen(startup.hStdInput);
    closeIfOpen(startup.hStdError);
    if (!started) {
        std::fprintf(stderr, "bench_launch: cannot start %s (error %lu)\n", arguments[0], error);
        CloseHandle(readEnd);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(readEnd), _O_RDONLY | _O_TEXT);
    return new LaunchedChild{process, _fdopen(fd, "r")};
}

std::FILE* childOutput(LaunchedChild* child) {
    return child->output;
}

bool waitChild(LaunchedChild* child, long& peakKiB) {
    const HANDLE process = child->process.hProcess;
    WaitForSingleObject(process, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process, &status);
    // Windows keeps an ended process's counters while a handle to it is
    // open; Wine answers with zeros.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    peakKiB =
        GetProcessMemoryInfo(process, &counters, sizeof counters) && counters.PeakWorkingSetSize > 0
            ? long(counters.PeakWorkingSetSize / 1024)
            : -1;
    std::fclose(child->output);
    CloseHandle(child->process.hThread);
    CloseHandle(process);
    delete child;
    return status == 0;
}
