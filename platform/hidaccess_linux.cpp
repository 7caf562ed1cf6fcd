// The feature report length from the report descriptor (hidapi's call where
// the linked library has it, the hidraw node's sysfs file otherwise) and the
// advice when a node cannot be opened, for Linux.
#include "hidaccess.h"

#include "reportdescriptor.h"

#include <QDebug>

#include <hidapi/hidapi.h>

#if defined(__GNUC__)
// Declared weak, whichever hidapi's header is here (0.14 declares it), so
// that a program linked with an older hidapi still loads and one linked
// with no hidapi at all (tst_hidaccess) still links: the address is null
// unless the linked library defines the call.
extern "C" int hid_get_report_descriptor(hid_device* dev, unsigned char* buf, size_t buf_size)
    __attribute__((weak));
#define TAVRIN_HIDAPI_DECLARES_DESCRIPTOR_CALL 1
#elif HID_API_VERSION_MAJOR > 0 || HID_API_VERSION_MINOR >= 14
#define TAVRIN_HIDAPI_DECLARES_DESCRIPTOR_CALL 1
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using DescriptorCall = int (*)(hid_device*, unsigned char*, size_t);

DescriptorCall descriptorCall() {
#ifdef TAVRIN_HIDAPI_DECLARES_DESCRIPTOR_CALL
    return &hid_get_report_descriptor;
#else
    return nullptr;
#endif
}

// Longest report descriptor a HID device may have (the kernel's and hidapi's
// limit).
constexpr size_t kMaxReportDescriptorSize = 4096;

// hidapi 0.14 and later read the descriptor on every backend (hidraw, libusb,
// Windows, macOS). Older ones lack the call (Debian 12 ships 0.13), and a
// library may decline it; the caller then falls back to sysfs.
bool descriptorFromHidapi(hid_device* device, std::vector<uint8_t>& out) {
    const DescriptorCall call = descriptorCall();
    if (!device || !call)
        return false;
    out.resize(kMaxReportDescriptorSize);
    const int length = call(device, out.data(), out.size());
    out.resize(length > 0 ? size_t(length) : 0);
    return length > 0;
}

// Report descriptors are at most a few kilobytes (the kernel caps them at
// 4096 bytes); a file far larger is not a descriptor.
constexpr size_t kMaxDescriptorFileSize = 1 << 16;

// Empty when the path has no node or no folder above the node's folder.
std::string storedDescriptorPath(const std::string& devicePath) {
    const size_t nodeStart = devicePath.rfind('/');
    if (nodeStart == std::string::npos || nodeStart + 1 == devicePath.size())
        return {};
    const std::string node = devicePath.substr(nodeStart + 1);
    if (nodeStart == 0)
        return {}; // "/hidraw3": the node's folder is the file system root
    const size_t folderStart = devicePath.rfind('/', nodeStart - 1);
    if (folderStart == std::string::npos)
        return {};
    const std::string root = devicePath.substr(0, folderStart + 1);
    return root + "sys/class/hidraw/" + node + "/device/report_descriptor";
}

} // namespace

namespace platform {

bool readStoredDescriptor(const char* devicePath, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    const std::string path = storedDescriptorPath(devicePath ? devicePath : "");
    if (path.empty()) {
        error = "device path \"" + std::string(devicePath ? devicePath : "") +
                "\" names no hidraw node inside a folder";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    // sysfs announces a size that is not the descriptor's: read to the end.
    std::vector<uint8_t> bytes(kMaxDescriptorFileSize + 1);
    const size_t count = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    if (count > kMaxDescriptorFileSize) {
        error = "\"" + path + "\" is larger than " + std::to_string(kMaxDescriptorFileSize) +
                " bytes, too large for a report descriptor";
        return false;
    }
    bytes.resize(count);
    out = std::move(bytes);
    return true;
}

uint16_t featureReportLength(hid_device* device, const char* path) {
    std::vector<uint8_t> descriptor;
    std::string error;
    if (!descriptorFromHidapi(device, descriptor) &&
        !readStoredDescriptor(path, descriptor, error)) {
        qWarning() << "Cannot read the report descriptor of" << (path ? path : "") << ":"
                   << error.c_str();
        return 0;
    }
    const auto parsed = hiddescriptor::longestFeatureReport(descriptor.data(), descriptor.size());
    if (!parsed.ok) {
        qWarning() << "Invalid report descriptor of" << (path ? path : "") << ":"
                   << parsed.error.c_str();
        return 0;
    }
    return uint16_t(
        std::min(parsed.featureReportLength, int(std::numeric_limits<uint16_t>::max())));
}

std::string warnOpenFailed(const char* path, int error) {
    if (error == 0 && path && ::access(path, R_OK | W_OK) != 0)
        error = errno;
    const char* reason = error ? std::strerror(error) : "reason unknown";
    qCWarning(adviceLog) << "Cannot open" << (path ? path : "") << ":" << reason
                         << "- to reach the accessory without root, install the udev rule"
                         << "70-tavrin-accessory.rules (see README)";
    return error ? reason : "";
}

} // namespace platform
