#include "usbgadget.h"

#include "simdescriptors.h"

#include <linux/hid.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>
#include <utility>

namespace usbgadget {

namespace fs = std::filesystem;

namespace {

const char kGadgets[] = "/sys/kernel/config/usb_gadget";
const char kConfiguration[] = "configs/c.1";
const char kEnglish[] = "strings/0x409";
const char kFunctionPrefix[] = "ffs.";
const char kMountPrefix[] = "/tmp/tavrin-ffs-";
const char kFunctionFs[] = "functionfs";
const char kUsb2[] = "0x0200";
const char kMaxPowerMa[] = "100";

// See uhid/uhiddevice.cpp: the host must get the answer that ended the
// generation before the device leaves the bus.
constexpr auto kLeaveBusDelay = std::chrono::milliseconds(100);
constexpr int kIdlePollMs = 5;
// Events read at once from endpoint 0; a SETUP is always the last of them.
constexpr std::size_t kEventsPerRead = 4;

// Setup packet (USB 2.0, 9.3) and its fields.
constexpr std::size_t kRequestType = 0;
constexpr std::size_t kRequest = 1;
constexpr std::size_t kValue = 2;
constexpr std::size_t kLength = 6;
// Report type codes on the wire (HID 1.11, 7.2.1), in wValue's high byte.
constexpr uint8_t kOutputReport = 2;
constexpr uint8_t kFeatureReport = 3;

// Interface descriptor fields.
constexpr uint8_t kInterfaceNumber = 0;
constexpr uint8_t kAlternateSetting = 0;
constexpr uint8_t kEndpointCount = 1;
constexpr uint8_t kNoString = 0;
// HID descriptor (HID 1.11, 6.2.1): one class descriptor, the report one.
constexpr uint16_t kHidRelease = 0x0111;
constexpr uint8_t kNoCountry = 0;
constexpr uint8_t kClassDescriptors = 1;
constexpr uint8_t kHidDescriptorLength = 9;
// The interrupt IN endpoint: never sent on, but usbhid wants one.
constexpr uint8_t kInterruptIn = USB_DIR_IN | 1;
constexpr uint16_t kFullSpeedMaxPacket = 64;
constexpr uint8_t kIntervalMs = 10;
constexpr uint32_t kFullSpeedDescriptorCount = 3;
constexpr uint32_t kDescriptorsHeaderLength = 16;
constexpr uint32_t kStringsHeaderLength = 16;

constexpr uint16_t kKeyboardVendorId = 0x0A0B;
constexpr uint16_t kKeyboardProductId = 0x0001;
constexpr uint16_t kKeyboardRelease = 0x0100;

uint16_t read16(const uint8_t* at) {
    return uint16_t(at[0] | (at[1] << 8));
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(uint8_t(value & 0xFF));
    out.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(uint8_t((value >> shift) & 0xFF));
}

std::string narrow(const std::optional<std::wstring>& text) {
    std::string out;
    if (!text)
        return out;
    for (wchar_t c : *text)
        out.push_back(c >= 0 && c < 0x80 ? char(c) : '?');
    return out;
}

std::string hex16(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

bool writeText(const fs::path& file, const std::string& text, std::string& error) {
    std::ofstream out(file);
    out << text;
    out.flush();
    if (!out) {
        error = "cannot write " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::vector<uint8_t> hidDescriptor(std::size_t reportDescriptorLength) {
    std::vector<uint8_t> out{kHidDescriptorLength, HID_DT_HID};
    put16(out, kHidRelease);
    out.push_back(kNoCountry);
    out.push_back(kClassDescriptors);
    out.push_back(HID_DT_REPORT);
    put16(out, uint16_t(reportDescriptorLength));
    return out;
}

// FunctionFS's descriptor blob: full-speed descriptors only, as the device
// is a full-speed one.
std::vector<uint8_t> functionDescriptors(const Identity& identity) {
    std::vector<uint8_t> body{USB_DT_INTERFACE_SIZE,
                              USB_DT_INTERFACE,
                              kInterfaceNumber,
                              kAlternateSetting,
                              kEndpointCount,
                              USB_INTERFACE_CLASS_HID,
                              identity.interfaceSubClass,
                              identity.interfaceProtocol,
                              kNoString};
    const std::vector<uint8_t> hid = hidDescriptor(identity.reportDescriptor.size());
    body.insert(body.end(), hid.begin(), hid.end());
    const uint8_t endpoint[] = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, kInterruptIn,
                                USB_ENDPOINT_XFER_INT};
    body.insert(body.end(), std::begin(endpoint), std::end(endpoint));
    put16(body, kFullSpeedMaxPacket);
    body.push_back(kIntervalMs);

    std::vector<uint8_t> out;
    put32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    put32(out, uint32_t(kDescriptorsHeaderLength + body.size()));
    put32(out, FUNCTIONFS_HAS_FS_DESC);
    put32(out, kFullSpeedDescriptorCount);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// No strings of the function's own: the device's strings are the gadget's.
std::vector<uint8_t> functionStrings() {
    std::vector<uint8_t> out;
    put32(out, FUNCTIONFS_STRINGS_MAGIC);
    put32(out, kStringsHeaderLength);
    put32(out, 0); // strings
    put32(out, 0); // languages
    return out;
}

bool writeAll(int fd, const std::vector<uint8_t>& data, std::string& error) {
    ssize_t written;
    do {
        written = ::write(fd, data.data(), data.size());
    } while (written < 0 && errno == EINTR);
    if (written != ssize_t(data.size())) {
        error = std::string("FunctionFS refused the descriptors: ") + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

Identity accessoryIdentity(const sim::DeviceModel& model) {
    const sim::AccessoryConfig& config = model.config();
    Identity identity;
    identity.name = "tavrin-accessory";
    identity.manufacturer = narrow(config.manufacturer);
    identity.product = narrow(config.product);
    identity.serialNumber = narrow(config.serialNumber);
    identity.vendorId = config.vendorId;
    identity.productId = config.productId;
    identity.releaseNumber = config.releaseNumber;
    identity.reportDescriptor = model.reportDescriptor();
    return identity;
}

Identity keyboardIdentity() {
    Identity identity;
    identity.name = "tavrin-keyboard";
    identity.product = "Virtual keyboard";
    identity.vendorId = kKeyboardVendorId;
    identity.productId = kKeyboardProductId;
    identity.releaseNumber = kKeyboardRelease;
    identity.interfaceSubClass = USB_INTERFACE_SUBCLASS_BOOT;
    identity.interfaceProtocol = USB_INTERFACE_PROTOCOL_KEYBOARD;
    identity.reportDescriptor = sim::bootKeyboardDescriptor();
    return identity;
}

Gadget::Gadget(Identity identity, std::string udc, sim::DeviceModel* model)
    : m_identity(std::move(identity)), m_udc(std::move(udc)), m_model(model),
      m_gadgetFolder(std::string(kGadgets) + "/" + m_identity.name),
      m_mountPoint(kMountPrefix + m_identity.name) {}

Gadget::~Gadget() {
    stop();
}

bool Gadget::start(std::string& error) {
    if (m_ep0 >= 0) {
        error = "already started";
        return false;
    }
    if (!fs::is_directory(kGadgets)) {
        error = std::string("no ") + kGadgets + ": configfs or libcomposite is missing";
        return false;
    }
    // What a program killed before it could clean up left behind.
    remove();
    if (!make(error) || !bind(error)) {
        remove();
        return false;
    }
    m_stopping = false;
    m_thread = std::thread(&Gadget::run, this);
    return true;
}

void Gadget::stop() {
    if (m_thread.joinable()) {
        m_stopping = true;
        m_thread.join();
    }
    if (m_ep0 >= 0)
        remove();
}

int Gadget::creations() const {
    return m_creations;
}

std::vector<std::string> Gadget::problems() const {
    std::lock_guard<std::mutex> lock(m_problemsMutex);
    return m_problems;
}

void Gadget::noteProblem(std::string text) {
    std::lock_guard<std::mutex> lock(m_problemsMutex);
    m_problems.push_back(std::move(text));
}

// configfs: the device's IDs and strings, one configuration holding the
// FunctionFS function; then the function's descriptors through its endpoint 0.
bool Gadget::make(std::string& error) {
    const fs::path gadget = m_gadgetFolder;
    const fs::path function = gadget / "functions" / (kFunctionPrefix + m_identity.name);
    const fs::path configuration = gadget / kConfiguration;
    std::error_code failure;
    for (const fs::path& folder :
         {gadget, gadget / kEnglish, configuration, configuration / kEnglish, function}) {
        if (!fs::create_directory(folder, failure) && failure) {
            error = "cannot make " + folder.string() + ": " + failure.message();
            return false;
        }
    }
    const std::pair<fs::path, std::string> attributes[] = {
        {gadget / "idVendor", hex16(m_identity.vendorId)},
        {gadget / "idProduct", hex16(m_identity.productId)},
        {gadget / "bcdDevice", hex16(m_identity.releaseNumber)},
        {gadget / "bcdUSB", kUsb2},
        {gadget / kEnglish / "manufacturer", m_identity.manufacturer},
        {gadget / kEnglish / "product", m_identity.product},
        {gadget / kEnglish / "serialnumber", m_identity.serialNumber},
        {configuration / "MaxPower", kMaxPowerMa},
    };
    for (const auto& [file, text] : attributes) {
        if (!writeText(file, text, error))
            return false;
    }
    fs::create_directory_symlink(function, configuration / function.filename(), failure);
    if (failure) {
        error = "cannot put the function into the configuration: " + failure.message();
        return false;
    }
    fs::create_directories(m_mountPoint, failure);
    if (::mount(m_identity.name.c_str(), m_mountPoint.c_str(), kFunctionFs, 0, nullptr) != 0) {
        error = "cannot mount FunctionFS at " + m_mountPoint + ": " + std::strerror(errno);
        return false;
    }
    m_ep0 = ::open((m_mountPoint + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    if (m_ep0 < 0) {
        error = "cannot open endpoint 0: " + std::string(std::strerror(errno));
        return false;
    }
    return writeAll(m_ep0, functionDescriptors(m_identity), error) &&
           writeAll(m_ep0, functionStrings(), error);
}

// Undoes make() in reverse order; each step may have been done or not.
void Gadget::remove() {
    const fs::path gadget = m_gadgetFolder;
    const fs::path function = gadget / "functions" / (kFunctionPrefix + m_identity.name);
    const fs::path configuration = gadget / kConfiguration;
    std::error_code ignored;
    if (fs::exists(gadget / "UDC", ignored))
        unbind();
    if (m_ep0 >= 0) {
        ::close(m_ep0);
        m_ep0 = -1;
    }
    ::umount2(m_mountPoint.c_str(), MNT_DETACH);
    fs::remove(m_mountPoint, ignored);
    fs::remove(configuration / function.filename(), ignored);
    for (const fs::path& folder :
         {configuration / kEnglish, configuration, function, gadget / kEnglish, gadget})
        fs::remove(folder, ignored);
}

bool Gadget::bind(std::string& error) {
    if (m_model)
        m_generation = m_model->generation();
    if (!writeText(fs::path(m_gadgetFolder) / "UDC", m_udc, error))
        return false;
    m_bound = true;
    m_generationEnded.reset();
    ++m_creations;
    return true;
}

// The device leaves the bus: to the host, a cable pulled.
void Gadget::unbind() {
    std::string error;
    if (!writeText(fs::path(m_gadgetFolder) / "UDC", "\n", error) && m_bound)
        noteProblem(error);
    m_bound = false;
}

void Gadget::run() {
    // The host's control write ends as soon as this thread has taken the
    // data, before the model has seen it; a device's own clock (its busy
    // time after a block) must start before the host's does, as it does on
    // a wire. Above every ordinary thread, this one handles the data first.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) != 0)
        noteProblem("cannot answer before the host's threads run: no real-time priority");
    while (!m_stopping) {
        pollfd waiting{m_ep0, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kIdlePollMs);
        if (ready > 0 && (waiting.revents & POLLIN)) {
            usb_functionfs_event events[kEventsPerRead];
            const ssize_t got = ::read(m_ep0, events, sizeof events);
            if (got < 0) {
                if (errno != EINTR && errno != EAGAIN)
                    noteProblem(std::string("reading endpoint 0 failed: ") + std::strerror(errno));
            } else {
                for (std::size_t i = 0; i < std::size_t(got) / sizeof(events[0]); ++i) {
                    // Bind, enable, suspend and their kin need no answer.
                    if (events[i].type == FUNCTIONFS_SETUP)
                        answerSetup(reinterpret_cast<const uint8_t*>(&events[i].u.setup));
                }
            }
        }
        if (m_model)
            followModelPresence();
    }
}

void Gadget::answerSetup(const uint8_t* setup) {
    const uint8_t requestType = setup[kRequestType];
    const uint8_t request = setup[kRequest];
    const uint8_t valueLow = setup[kValue];
    const uint8_t valueHigh = setup[kValue + 1];
    const uint16_t length = read16(setup + kLength);
    const bool hostToDevice = (requestType & USB_DIR_IN) == 0;
    const uint8_t type = requestType & USB_TYPE_MASK;
    if (type == USB_TYPE_STANDARD && request == USB_REQ_GET_DESCRIPTOR && !hostToDevice) {
        if (valueHigh == HID_DT_REPORT) {
            reply(m_identity.reportDescriptor, length);
            return;
        }
        if (valueHigh == HID_DT_HID) {
            reply(hidDescriptor(m_identity.reportDescriptor.size()), length);
            return;
        }
    }
    if (type == USB_TYPE_CLASS) {
        switch (request) {
        case HID_REQ_GET_REPORT:
            answerGetReport(valueHigh, valueLow, length);
            return;
        case HID_REQ_SET_REPORT:
            answerSetReport(valueHigh, valueLow, length);
            return;
        default:
            break;
        }
    }
    // SET_IDLE, protocols and anything else: not supported, as the
    // accessory's firmware answers them.
    stall(hostToDevice);
}

void Gadget::answerGetReport(uint8_t reportType, uint8_t reportId, uint16_t length) {
    if (!m_model || reportType != kFeatureReport || length == 0) {
        stall(false);
        return;
    }
    // The host's buffer starts with the report ID, and the reply with it.
    std::vector<uint8_t> buffer(length, 0);
    buffer[0] = reportId;
    const int count = m_model->getFeatureReport(m_generation, buffer.data(), buffer.size());
    if (count < 0) {
        stall(false);
        return;
    }
    buffer.resize(std::size_t(count));
    reply(buffer, length);
}

void Gadget::answerSetReport(uint8_t reportType, uint8_t reportId, uint16_t length) {
    const bool feature = reportType == kFeatureReport && length > 0;
    const bool admitted = m_model ? feature && m_model->admitFeatureReport(m_generation, reportId)
                                  : reportType == kOutputReport && length > 0;
    if (!admitted) {
        stall(true);
        return;
    }
    // A keyboard takes its LED report and keeps nothing of it.
    std::vector<uint8_t> data(length, 0);
    ssize_t got;
    do {
        got = ::read(m_ep0, data.data(), data.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        noteProblem(std::string("reading a SET_REPORT's data failed: ") + std::strerror(errno));
        return;
    }
    if (m_model)
        m_model->sendFeatureReport(m_generation, data.data(), std::size_t(got));
}

bool Gadget::reply(const std::vector<uint8_t>& data, uint16_t length) {
    const std::size_t count = std::min<std::size_t>(data.size(), length);
    ssize_t written;
    do {
        written = ::write(m_ep0, data.data(), count);
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        noteProblem(std::string("answering on endpoint 0 failed: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// FunctionFS stalls endpoint 0 when the program moves data the wrong way:
// a read in an IN request, a write in an OUT one.
void Gadget::stall(bool hostToDevice) {
    uint8_t none = 0;
    const ssize_t moved = hostToDevice ? ::write(m_ep0, &none, 0) : ::read(m_ep0, &none, 0);
    if (moved >= 0 || errno != EL2HLT)
        noteProblem(std::string("stalling endpoint 0 failed: ") + std::strerror(errno));
}

void Gadget::followModelPresence() {
    const bool present = m_model->present();
    const uint64_t generation = m_model->generation();
    if (m_bound && (!present || generation != m_generation)) {
        const auto now = std::chrono::steady_clock::now();
        if (!m_generationEnded)
            m_generationEnded = now;
        if (now - *m_generationEnded < kLeaveBusDelay)
            return;
        unbind();
    }
    if (!m_bound && present) {
        std::string error;
        if (!bind(error))
            noteProblem(error);
    }
}

} // namespace usbgadget
