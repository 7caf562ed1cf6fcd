#include "benchprocess.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

namespace bench {

namespace {

// FILETIME durations count 100 ns.
double seconds(const FILETIME& time) {
    return double((ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}

} // namespace

long peakMemoryKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return long(counters.PeakWorkingSetSize / 1024);
}

long residentMemoryKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return long(counters.WorkingSetSize / 1024);
}

long threadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    long count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    return seconds(kernel) + seconds(user);
}

std::map<std::string, long> threadCpuMs() {
    std::map<std::string, long> ms;
    // The snapshot holds every thread of the system; ours are picked out.
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ms;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self)
            continue;
        const HANDLE thread =
            OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        FILETIME created, exited, kernel, user;
        // Qt names its threads for debuggers only, so the id is the name.
        if (GetThreadTimes(thread, &created, &exited, &kernel, &user))
            ms["thread/" + std::to_string(entry.th32ThreadID)] =
                long((seconds(kernel) + seconds(user)) * 1000);
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return ms;
}

} // namespace bench
