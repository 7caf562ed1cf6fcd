#pragma once
// The kernel attachment of the simulated accessory: a virtual HID device made
// through /dev/uhid whose feature reports are answered by a sim::DeviceModel,
// the same model the in-process attachment (simbus, simhidapi) answers from.
// To the kernel and to every program on the machine, hidapi-hidraw included,
// it is a HID device like one plugged in by cable: it gets a hidraw node and a
// report descriptor in sysfs, and its reports travel through the kernel's HID
// core. Linux only; plain C++, no Qt.

#include "simattachment.h"
#include "simdevicemodel.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace uhid {

// What the kernel is told about the device when it is created.
struct Identity {
    std::string name; // becomes hidapi's product string
    std::string uniq; // becomes hidapi's serial number
    uint16_t bus = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t version = 0;
    std::vector<uint8_t> reportDescriptor;
};

// The accessory as the model describes it: its IDs, product name, serial
// number and report descriptor, on the USB bus type.
Identity accessoryIdentity(const sim::DeviceModel& model);
// A boot keyboard of another vendor, the kind of HID device that is present
// on every desktop and enumerates before or beside the accessory.
Identity keyboardIdentity();

// One virtual device, created on start() and destroyed on stop() or
// destruction. A thread of its own answers the kernel's requests at once: the
// kernel fails a feature report request that is not answered within seconds.
//
// With a model, feature reports go to DeviceModel::sendFeatureReport and
// getFeatureReport, and the kernel device follows the model's presence: when
// the model resets or is unplugged the device is destroyed (the hidraw node
// disappears, open handles fail) a moment after answering the request that
// did it, and once the model is present again (after its re-enumeration
// time) it is created anew, as a new kernel device.
// Without a model every feature report fails, as on a keyboard.
class Device : public sim::Attachment {
public:
    explicit Device(Identity identity, sim::DeviceModel* model = nullptr);
    ~Device() override;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Opens /dev/uhid, creates the kernel device and starts answering. On
    // failure returns false and says why (with the system's reason).
    bool start(std::string& error) override;
    // Destroys the kernel device and stops the thread; harmless when stopped.
    void stop() override;

    // Whether the kernel device exists now.
    bool created() const;
    // How often the kernel device has been created: 1 after start(), one more
    // for every return after a reset.
    int creations() const override;
    // Kernel requests that were not feature report transfers or that could
    // not be answered, with what went wrong; empty while all is well.
    std::vector<std::string> problems() const override;

private:
    bool create(std::string& error);
    void destroy();
    void run();
    void answerGetReport(const void* event);
    void answerSetReport(const void* event);
    void followModelPresence();
    void noteProblem(std::string text);

    const Identity m_identity;
    sim::DeviceModel* const m_model;
    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_created{false};
    std::atomic<int> m_creations{0};
    // The model's generation the kernel device belongs to: the one that was
    // current when the device was created.
    uint64_t m_generation = 0;
    // When the thread first saw that generation end (unset while it lasts).
    std::optional<std::chrono::steady_clock::time_point> m_generationEnded;
    mutable std::mutex m_problemsMutex;
    std::vector<std::string> m_problems;
};

} // namespace uhid
