#pragma once

#include <cstdint>
#include <string>

// One writer per accessory: an exclusive advisory lock on the device node,
// held from connect to disconnect, so that two programs (the wizard and the
// flasher, or two flashers) never interleave reports on one accessory.
// Linux: flock on the node, its holder named from /proc/locks
// (devicelock_linux.cpp). Windows, where hidapi opens devices shared: a named
// mutex per device path (devicelock_windows.cpp).
class DeviceLock {
public:
    enum class Outcome {
        Locked,
        InUse,       // another open of the node holds the lock
        Unavailable, // the node cannot be opened or locked; nothing is held
    };

    DeviceLock() = default;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock() { unlock(); }

    // Locks the node at path without waiting, releasing any lock held before.
    // On InUse, holder names the program that holds it when that can be
    // found ("tavrin-dfu, process 1234"), else stays empty. Unavailable lets
    // the caller go on unlocked: opening the device then says what is wrong.
    Outcome lock(const char* path, std::string& holder);
    void unlock();

private:
    // What holds the lock, in the system's own kind (a descriptor, a
    // handle); kNone while nothing is held.
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t m_held = kNone;
};
