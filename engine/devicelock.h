#pragma once

#include <string>

// One writer per accessory: an exclusive advisory lock on the device node,
// held from connect to disconnect, so that two programs (the wizard and the
// flasher, or two flashers) never interleave reports on one accessory.
// POSIX: flock on the node (devicelock_posix.cpp). Windows, where hidapi opens
// devices shared: a named mutex per device path (devicelock_windows.cpp).
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
#ifdef _WIN32
    void* m_mutex = nullptr; // the named mutex whose existence is the lock
#else
    int m_fd = -1; // the locked node's descriptor
#endif
};
