#include "devicelock.h"

#include "wintext.h"

#include <cstdint>
#include <cwctype>
#include <windows.h>

using platform::widePath;

namespace {

// One name per device in this session: hidapi opens devices with shared
// access, so the device itself cannot be held exclusively. The path is
// hashed (a mutex name may not hold backslashes, and paths are long);
// device paths differ in case only, if at all, between enumerations.
std::wstring mutexName(const char* path) {
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const wchar_t c : widePath(path)) {
        hash ^= uint64_t(std::towlower(wint_t(c)));
        hash *= 1099511628211ull;
    }
    wchar_t name[64];
    swprintf(name, sizeof name / sizeof *name, L"Local\\tavrin-accessory-%016llx",
             static_cast<unsigned long long>(hash));
    return name;
}

} // namespace

// The holder stays unnamed: a named mutex does not tell who holds it.
DeviceLock::Outcome DeviceLock::lock(const char* path, std::string& holder) {
    unlock();
    holder.clear();
    if (!path || !*path)
        return Outcome::Unavailable;
    // Whoever made the mutex holds the lock for as long as a handle is open;
    // ownership in the thread sense is never taken, so any thread may let go.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName(path).c_str());
    if (!mutex)
        return Outcome::Unavailable;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Outcome::InUse;
    }
    m_held = reinterpret_cast<std::intptr_t>(mutex);
    return Outcome::Locked;
}

void DeviceLock::unlock() {
    if (m_held != kNone)
        CloseHandle(reinterpret_cast<HANDLE>(m_held));
    m_held = kNone;
}
