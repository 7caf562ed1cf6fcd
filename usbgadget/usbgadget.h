#pragma once
// The USB attachment of the simulated accessory: a USB device made through
// configfs and FunctionFS, whose endpoint 0 this program answers itself, bound
// to a device-side controller (dummy_hcd's in the kernel test guest, which a
// virtual host controller beside it enumerates). The host's whole USB stack
// meets it: enumeration, control transfers, usbhid, a disconnect. Feature
// reports go to the same sim::DeviceModel the other attachments answer from.
// Linux only, root only; plain C++, no Qt.

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

namespace usbgadget {

// What the host reads from the device's descriptors.
struct Identity {
    // The gadget's name in configfs and its FunctionFS instance: one device
    // of this name at a time on the machine.
    std::string name;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t releaseNumber = 0; // bcdDevice
    uint8_t interfaceSubClass = 0;
    uint8_t interfaceProtocol = 0;
    std::vector<uint8_t> reportDescriptor;
};

// The device-side controllers that dummy_hcd num=2 adds (the kernel test
// guest's): the keyboard's sorts first, so hosts meet it first, as they do
// on the uhid route.
constexpr char kKeyboardController[] = "dummy_udc.0";
constexpr char kAccessoryController[] = "dummy_udc.1";

// The accessory as the model describes it: IDs, release number, strings and
// report descriptor.
Identity accessoryIdentity(const sim::DeviceModel& model);
// A boot keyboard of another vendor, a second USB device beside the accessory.
Identity keyboardIdentity();

// One USB device, on the controller `udc` from start() to stop() or
// destruction. A thread of its own answers endpoint 0's requests as they
// come: the host waits for each until the program has answered it.
//
// With a model, GET_REPORT and SET_REPORT of feature reports go to the model;
// a report the model refuses is stalled (a SET_REPORT before its data moves:
// DeviceModel::admitFeatureReport). The device follows the model's presence:
// when the model resets or is unplugged it leaves the bus (the gadget is
// unbound from its controller) a moment after answering the request that did
// it, and once the model is present again it is bound again and enumerated
// anew. Without a model every feature report is stalled, as on a keyboard.
// The interrupt IN endpoint that usbhid needs is declared and never used.
class Gadget : public sim::Attachment {
public:
    Gadget(Identity identity, std::string udc, sim::DeviceModel* model = nullptr);
    ~Gadget() override;
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    bool start(std::string& error) override;
    void stop() override;
    int creations() const override;
    std::vector<std::string> problems() const override;

private:
    bool make(std::string& error);
    void remove();
    bool bind(std::string& error);
    void unbind();
    void run();
    void answerSetup(const uint8_t* setup);
    void answerGetReport(uint8_t reportType, uint8_t reportId, uint16_t length);
    void answerSetReport(uint8_t reportType, uint8_t reportId, uint16_t length);
    bool reply(const std::vector<uint8_t>& data, uint16_t length);
    void acknowledge();
    void stall(bool hostToDevice);
    void followModelPresence();
    void noteProblem(std::string text);

    const Identity m_identity;
    const std::string m_udc;
    sim::DeviceModel* const m_model;
    const std::string m_gadgetFolder;
    const std::string m_mountPoint;
    int m_ep0 = -1;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_bound{false};
    std::atomic<int> m_creations{0};
    uint64_t m_generation = 0;
    std::optional<std::chrono::steady_clock::time_point> m_generationEnded;
    mutable std::mutex m_problemsMutex;
    std::vector<std::string> m_problems;
};

} // namespace usbgadget
