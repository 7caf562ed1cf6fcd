#pragma once
// The simulated HID bus of this process: which interfaces are plugged in, in
// which order, under which paths, and the connections opened to them. The
// in-process hidapi attachment (simhidapi.cpp) is its only user besides
// tests; it knows nothing of hidapi itself.
//
// Every interface gets a node path <root>/dev/hidrawN and its report
// descriptor in <root>/sys/class/hidraw/hidrawN/device/report_descriptor,
// the layout the kernel gives real nodes, under a temporary <root> made once
// per process and removed at exit.

#include "simdevicemodel.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// One enumerated interface, as an attachment reports it.
struct BusEntry {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0;
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int interfaceNumber = 0;
    std::optional<std::wstring> serialNumber;
    std::optional<std::wstring> manufacturer;
    std::optional<std::wstring> product;
};

// What an open connection remembers. It owns nothing on the bus: after the
// device resets, unplugs or the bus is reset, reports through it fail.
struct Connection {
    uint64_t busGeneration = 0;
    size_t index = 0;
    uint64_t deviceGeneration = 0;
};

class Bus {
public:
    // --- Test control ---------------------------------------------------
    // Removes every interface and restarts node numbering at hidraw0.
    // Connections still open become dead.
    static void reset();
    // Plugs in an accessory. The model lives until the next reset().
    static DeviceModel& addAccessory(const AccessoryConfig& config = AccessoryConfig());
    // Plug in other kinds of HID interface (no feature reports); return their paths.
    static std::string addKeyboard();
    static std::string addMouse();
    // The node path of a plugged-in accessory; empty if it is not on this bus.
    static std::string pathOf(const DeviceModel& device);
    // Opening the interface fails as if permission were denied.
    static void setOpenFails(const std::string& path, bool fails);
    static void setOpenFails(const DeviceModel& device, bool fails);
    // Connections opened and not yet closed since the last reset().
    static int openConnections();
    // The temporary folder that holds dev/ and sys/.
    static std::string root();
    // Lays the bus out under folder (created if missing) instead of a
    // temporary folder, and leaves it there at exit, so that node paths are
    // known in advance. Only before the bus is first used; false after.
    static bool useRoot(const std::string& folder);

    // --- For attachments ------------------------------------------------
    // Interfaces present now, in the order they were added.
    static std::vector<BusEntry> enumerate();
    static std::optional<Connection> open(const std::string& path);
    static void close(const Connection& connection);
    // Byte count or -1; -1 on dead connections and on interfaces without
    // feature reports.
    static int sendFeatureReport(const Connection& connection, const uint8_t* data, size_t length);
    static int getFeatureReport(const Connection& connection, uint8_t* data, size_t length);
    // Copies at most length bytes of the interface's report descriptor; the
    // byte count, or -1 on dead connections and accessories that decline.
    static int getReportDescriptor(const Connection& connection, uint8_t* data, size_t length);
};

} // namespace sim
