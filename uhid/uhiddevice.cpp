#include "uhiddevice.h"

#include "simdescriptors.h"

#include <linux/input.h>
#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace uhid {

namespace {

const char kUhidNode[] = "/dev/uhid";
// How long the device stays after its generation ended (a reset) before it
// leaves the bus. The kernel fails a request still waiting for its answer
// when the device goes, so the host must get the reset's answer first; a
// real device too answers the request before it drops off the bus.
constexpr auto kLeaveBusDelay = std::chrono::milliseconds(100);
// How long the thread waits for a kernel request before it looks at the
// model's presence again; also the reaction time to stop().
constexpr int kIdlePollMs = 5;

// The kernel lists HID devices in the order of their sysfs names, which
// begin with bus, vendor and product: this vendor sorts before the
// accessory's, so a host walking the list meets the keyboard first.
constexpr uint16_t kKeyboardVendorId = 0x0A0B;
constexpr uint16_t kKeyboardProductId = 0x0001;
constexpr uint16_t kKeyboardVersion = 0x0100;
constexpr uint16_t kAccessoryVersion = 0x0001;

// The model's strings are wide; the kernel takes bytes. Only ASCII is
// expected, anything else becomes '?'.
std::string narrow(const std::optional<std::wstring>& text) {
    std::string out;
    if (!text)
        return out;
    for (wchar_t c : *text)
        out.push_back(c >= 0 && c < 0x80 ? char(c) : '?');
    return out;
}

template <std::size_t N> void copyText(__u8 (&field)[N], const std::string& text) {
    const std::size_t count = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), count);
    field[count] = 0;
}

bool writeEvent(int fd, const uhid_event& event) {
    ssize_t written;
    do {
        written = ::write(fd, &event, sizeof event);
    } while (written < 0 && errno == EINTR);
    return written == ssize_t(sizeof event);
}

} // namespace

Identity accessoryIdentity(const sim::DeviceModel& model) {
    const sim::AccessoryConfig& config = model.config();
    Identity identity;
    identity.name = narrow(config.product);
    identity.uniq = narrow(config.serialNumber);
    identity.bus = BUS_USB;
    identity.vendorId = config.vendorId;
    identity.productId = config.productId;
    identity.version = kAccessoryVersion;
    identity.reportDescriptor = model.reportDescriptor();
    return identity;
}

Identity keyboardIdentity() {
    Identity identity;
    identity.name = "Virtual keyboard";
    identity.bus = BUS_USB;
    identity.vendorId = kKeyboardVendorId;
    identity.productId = kKeyboardProductId;
    identity.version = kKeyboardVersion;
    identity.reportDescriptor = sim::bootKeyboardDescriptor();
    return identity;
}

Device::Device(Identity identity, sim::DeviceModel* model)
    : m_identity(std::move(identity)), m_model(model) {}

Device::~Device() {
    stop();
}

bool Device::start(std::string& error) {
    if (m_fd >= 0) {
        error = "already started";
        return false;
    }
    m_fd = ::open(kUhidNode, O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        error = std::string("cannot open ") + kUhidNode + ": " + std::strerror(errno);
        return false;
    }
    if (!create(error)) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_stopping = false;
    m_thread = std::thread(&Device::run, this);
    return true;
}

void Device::stop() {
    if (m_thread.joinable()) {
        m_stopping = true;
        m_thread.join();
    }
    if (m_fd >= 0) {
        destroy();
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Device::created() const {
    return m_created;
}

int Device::creations() const {
    return m_creations;
}

std::vector<std::string> Device::problems() const {
    std::lock_guard<std::mutex> lock(m_problemsMutex);
    return m_problems;
}

void Device::noteProblem(std::string text) {
    std::lock_guard<std::mutex> lock(m_problemsMutex);
    m_problems.push_back(std::move(text));
}

bool Device::create(std::string& error) {
    if (m_identity.reportDescriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error = "report descriptor too long for uhid";
        return false;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& request = event.u.create2;
    copyText(request.name, m_identity.name);
    copyText(request.phys, std::string("tavrin-uhid"));
    copyText(request.uniq, m_identity.uniq);
    request.rd_size = __u16(m_identity.reportDescriptor.size());
    request.bus = m_identity.bus;
    request.vendor = m_identity.vendorId;
    request.product = m_identity.productId;
    request.version = m_identity.version;
    request.country = 0;
    std::copy(m_identity.reportDescriptor.begin(), m_identity.reportDescriptor.end(),
              request.rd_data);
    // Reports that reach this device belong to the model's generation of now: a
    // reset of the model ends it, and with it this kernel device.
    if (m_model)
        m_generation = m_model->generation();
    if (!writeEvent(m_fd, event)) {
        error = std::string("cannot create the uhid device: ") + std::strerror(errno);
        return false;
    }
    m_created = true;
    m_generationEnded.reset();
    ++m_creations;
    return true;
}

void Device::destroy() {
    if (!m_created)
        return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    if (!writeEvent(m_fd, event))
        noteProblem(std::string("cannot destroy the uhid device: ") + std::strerror(errno));
    m_created = false;
}

void Device::run() {
    while (!m_stopping) {
        pollfd waiting{m_fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kIdlePollMs);
        if (ready > 0 && (waiting.revents & POLLIN)) {
            uhid_event event{};
            const ssize_t got = ::read(m_fd, &event, sizeof event);
            if (got < 0) {
                if (errno != EINTR && errno != EAGAIN)
                    noteProblem(std::string("reading /dev/uhid failed: ") + std::strerror(errno));
            } else {
                switch (event.type) {
                case UHID_GET_REPORT:
                    answerGetReport(&event);
                    break;
                case UHID_SET_REPORT:
                    answerSetReport(&event);
                    break;
                default:
                    // Start, stop, open, close and output reports need no
                    // answer; the accessory has no output reports.
                    break;
                }
            }
        }
        if (m_model)
            followModelPresence();
    }
}

void Device::answerGetReport(const void* raw) {
    const uhid_get_report_req& request = static_cast<const uhid_event*>(raw)->u.get_report;
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    uhid_get_report_reply_req& answer = reply.u.get_report_reply;
    answer.id = request.id;
    int count = -1;
    if (m_model && request.rtype == UHID_FEATURE_REPORT) {
        // The kernel does not pass on how long the host's buffer is; the
        // model answers with the whole report and the kernel hands the host
        // as much of it as the host asked for.
        std::vector<uint8_t> buffer(UHID_DATA_MAX, 0);
        buffer[0] = request.rnum;
        count = m_model->getFeatureReport(m_generation, buffer.data(), buffer.size());
        if (count >= 0) {
            std::copy(buffer.begin(), buffer.begin() + count, answer.data);
            answer.size = __u16(count);
        }
    }
    answer.err = count < 0 ? EIO : 0;
    if (!writeEvent(m_fd, reply))
        noteProblem(std::string("cannot answer a get report: ") + std::strerror(errno));
}

void Device::answerSetReport(const void* raw) {
    const uhid_set_report_req& request = static_cast<const uhid_event*>(raw)->u.set_report;
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    uhid_set_report_reply_req& answer = reply.u.set_report_reply;
    answer.id = request.id;
    int count = -1;
    // The data starts with the report ID, as the host's buffer did.
    if (m_model && request.rtype == UHID_FEATURE_REPORT)
        count = m_model->sendFeatureReport(m_generation, request.data,
                                           std::min<std::size_t>(request.size, UHID_DATA_MAX));
    answer.err = count < 0 ? EIO : 0;
    if (!writeEvent(m_fd, reply))
        noteProblem(std::string("cannot answer a set report: ") + std::strerror(errno));
}

// A reset or an unplug ends the model's generation: the kernel device goes, as a
// device leaves the bus when it restarts, and comes back once the model is
// present again.
void Device::followModelPresence() {
    const bool present = m_model->present();
    const uint64_t generation = m_model->generation();
    if (m_created && (!present || generation != m_generation)) {
        const auto now = std::chrono::steady_clock::now();
        if (!m_generationEnded)
            m_generationEnded = now;
        if (now - *m_generationEnded < kLeaveBusDelay)
            return;
        destroy();
    }
    if (!m_created && present) {
        std::string error;
        if (!create(error))
            noteProblem(error);
    }
}

} // namespace uhid
