#include "simbus.h"

#include "simdescriptors.h"
#include "temporaryfolder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Keyboards and mice come from an imaginary maker of input devices.
constexpr uint16_t kInputVendorId = 0x0B0A;
constexpr uint16_t kKeyboardProductId = 0x0001;
constexpr uint16_t kMouseProductId = 0x0002;
constexpr uint16_t kGenericDesktopPage = 0x01;
constexpr uint16_t kKeyboardUsage = 0x06;
constexpr uint16_t kMouseUsage = 0x02;
constexpr uint16_t kReleaseNumber = 0x0100;

struct Interface {
    BusEntry entry;
    std::vector<uint8_t> descriptor;
    bool answersDescriptorCall = true;
    std::shared_ptr<DeviceModel> model; // null for interfaces without feature reports
    bool openFails = false;
};

struct State {
    std::mutex mutex;
    std::string root;
    uint64_t generation = 1;
    std::vector<Interface> interfaces;
    int openConnections = 0;
};

void removeTree();

std::string& chosenRoot() {
    static std::string folder;
    return folder;
}
bool& stateMade() {
    static bool made = false;
    return made;
}

// Never destroyed: the engine's global instance may close its device from
// its own destructor at exit, after function-local statics would be gone.
State& state() {
    static State* const instance = [] {
        auto* s = new State;
        stateMade() = true;
        if (!chosenRoot().empty()) {
            fs::create_directories(chosenRoot());
            s->root = chosenRoot();
            return s;
        }
        s->root = platform::makeTemporaryFolder("simaccessory-");
        if (s->root.empty())
            throw std::runtime_error("cannot create a folder for the simulated HID bus");
        std::atexit(removeTree);
        return s;
    }();
    return *instance;
}

void removeTree() {
    std::error_code ignored;
    fs::remove_all(state().root, ignored);
}

std::string nodeName(size_t index) {
    return "hidraw" + std::to_string(index);
}

// Lays out the node and its descriptor the way the kernel does for real ones.
std::string plugIn(State& s, const std::vector<uint8_t>& descriptor, bool inSysfs = true) {
    const std::string node = nodeName(s.interfaces.size());
    const fs::path root(s.root);
    const fs::path deviceFolder = root / "sys" / "class" / "hidraw" / node / "device";
    fs::create_directories(root / "dev");
    fs::create_directories(deviceFolder);
    std::ofstream(root / "dev" / node, std::ios::binary | std::ios::trunc);
    // With '/' also on Windows, as the root: node paths are plain strings
    // to their users, and tests build them by hand.
    if (!inSysfs) {
        return (root / "dev" / node).generic_string();
    }
    std::ofstream file(deviceFolder / "report_descriptor", std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(descriptor.data()),
               std::streamsize(descriptor.size()));
    if (!file) {
        throw std::runtime_error("cannot write the simulated report descriptor of " + node);
    }
    return (root / "dev" / node).generic_string();
}

std::string addInputDevice(uint16_t productId, uint16_t usage, const wchar_t* name,
                           const std::vector<uint8_t>& descriptor) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Interface interface;
    interface.entry.path = plugIn(s, descriptor);
    interface.descriptor = descriptor;
    interface.entry.vendorId = kInputVendorId;
    interface.entry.productId = productId;
    interface.entry.releaseNumber = kReleaseNumber;
    interface.entry.usagePage = kGenericDesktopPage;
    interface.entry.usage = usage;
    interface.entry.manufacturer = std::wstring(L"Input Works");
    interface.entry.product = std::wstring(name);
    s.interfaces.push_back(interface);
    return interface.entry.path;
}

// The interface a live connection refers to, or null.
std::shared_ptr<DeviceModel> modelOf(const Connection& connection) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (connection.busGeneration != s.generation || connection.index >= s.interfaces.size()) {
        return nullptr;
    }
    return s.interfaces[connection.index].model;
}

} // namespace

void Bus::reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.generation;
    s.interfaces.clear();
    s.openConnections = 0;
    std::error_code ignored;
    fs::remove_all(fs::path(s.root) / "dev", ignored);
    fs::remove_all(fs::path(s.root) / "sys", ignored);
}

DeviceModel& Bus::addAccessory(const AccessoryConfig& config) {
    State& s = state();
    auto model = std::make_shared<DeviceModel>(config);
    std::lock_guard<std::mutex> lock(s.mutex);
    Interface interface;
    interface.descriptor = model->reportDescriptor();
    interface.answersDescriptorCall = config.answersDescriptorCall;
    interface.entry.path = plugIn(s, interface.descriptor, config.descriptorInSysfs);
    interface.entry.vendorId = config.vendorId;
    interface.entry.productId = config.productId;
    interface.entry.releaseNumber = config.releaseNumber;
    interface.entry.usagePage = config.usagePage;
    interface.entry.usage = config.usage;
    interface.entry.serialNumber = config.serialNumber;
    interface.entry.manufacturer = config.manufacturer;
    interface.entry.product = config.product;
    interface.model = model;
    s.interfaces.push_back(interface);
    return *model;
}

std::string Bus::addKeyboard() {
    return addInputDevice(kKeyboardProductId, kKeyboardUsage, L"Simulated keyboard",
                          bootKeyboardDescriptor());
}

std::string Bus::addMouse() {
    return addInputDevice(kMouseProductId, kMouseUsage, L"Simulated mouse", mouseDescriptor());
}

std::string Bus::pathOf(const DeviceModel& device) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const Interface& interface : s.interfaces) {
        if (interface.model.get() == &device) {
            return interface.entry.path;
        }
    }
    return {};
}

void Bus::setOpenFails(const std::string& path, bool fails) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (Interface& interface : s.interfaces) {
        if (interface.entry.path == path) {
            interface.openFails = fails;
        }
    }
}

void Bus::setOpenFails(const DeviceModel& device, bool fails) {
    setOpenFails(pathOf(device), fails);
}

int Bus::openConnections() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.openConnections;
}

std::string Bus::root() {
    return state().root;
}

bool Bus::useRoot(const std::string& folder) {
    if (stateMade())
        return false;
    chosenRoot() = folder;
    return true;
}

std::vector<BusEntry> Bus::enumerate() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<BusEntry> entries;
    for (const Interface& interface : s.interfaces) {
        if (!interface.model || interface.model->present()) {
            entries.push_back(interface.entry);
        }
    }
    return entries;
}

std::optional<Connection> Bus::open(const std::string& path) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (size_t i = 0; i < s.interfaces.size(); ++i) {
        const Interface& interface = s.interfaces[i];
        if (interface.entry.path != path) {
            continue;
        }
        if (interface.openFails || (interface.model && !interface.model->present())) {
            return std::nullopt;
        }
        ++s.openConnections;
        return Connection{s.generation, i, interface.model ? interface.model->generation() : 0};
    }
    return std::nullopt;
}

void Bus::close(const Connection& connection) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (connection.busGeneration == s.generation && s.openConnections > 0) {
        --s.openConnections;
    }
}

int Bus::sendFeatureReport(const Connection& connection, const uint8_t* data, size_t length) {
    // The model is called without the bus lock: a report may take its time
    // while tests and enumeration go on.
    const std::shared_ptr<DeviceModel> model = modelOf(connection);
    return model ? model->sendFeatureReport(connection.deviceGeneration, data, length) : -1;
}

int Bus::getFeatureReport(const Connection& connection, uint8_t* data, size_t length) {
    const std::shared_ptr<DeviceModel> model = modelOf(connection);
    return model ? model->getFeatureReport(connection.deviceGeneration, data, length) : -1;
}

int Bus::getReportDescriptor(const Connection& connection, uint8_t* data, size_t length) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (connection.busGeneration != s.generation || connection.index >= s.interfaces.size()) {
        return -1;
    }
    const Interface& interface = s.interfaces[connection.index];
    if (!interface.answersDescriptorCall) {
        return -1;
    }
    const size_t count = std::min(length, interface.descriptor.size());
    std::copy_n(interface.descriptor.begin(), count, data);
    return int(count);
}

} // namespace sim
