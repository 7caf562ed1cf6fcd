// The feature report length as the system's HID parser reports it (hidapi
// 0.13 keeps its own copy private), hidapi's descriptor call where the
// system's route is closed, and the words when an interface cannot be
// opened, for Windows.
#include "hidaccess.h"

#include "reportdescriptor.h"
#include "wintext.h"

#include <QDebug>

#include <hidapi/hidapi.h>

// Declared here where the header predates the call. The program links a
// definition in any case: hidapi 0.14's, the simulated accessory's, or, for
// an older hidapi, one that declines (see cmake/windows.cmake).
#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0)
extern "C" int hid_get_report_descriptor(hid_device* dev, unsigned char* buf, size_t buf_size);
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <vector>
// clang-format off: windows.h first, the HID headers need its types; MinGW's
// declare their functions without C linkage of their own.
#include <windows.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

namespace {

using platform::systemMessage;
using platform::widePath;

// Longest report descriptor a HID device may have.
constexpr size_t kMaxReportDescriptorSize = 4096;

// What the system's HID parser makes of the interface's descriptor. Opened
// without access rights: that needs no permission and leaves the device to
// whoever has it open.
bool lengthFromSystem(const char* path, uint16_t& length, std::string& error) {
    const HANDLE handle = CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = systemMessage(GetLastError());
        return false;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const bool ok = HidD_GetPreparsedData(handle, &preparsed) &&
                    HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (!ok)
        error = "not a HID interface (" + systemMessage(GetLastError()) + ")";
    if (preparsed)
        HidD_FreePreparsedData(preparsed);
    CloseHandle(handle);
    length = caps.FeatureReportByteLength;
    return ok;
}

bool lengthFromHidapi(hid_device* device, uint16_t& length, std::string& error) {
    std::vector<uint8_t> descriptor(kMaxReportDescriptorSize);
    const int read =
        device ? hid_get_report_descriptor(device, descriptor.data(), descriptor.size()) : -1;
    if (read <= 0) {
        error = device ? "hidapi gives no report descriptor" : "the interface is not open";
        return false;
    }
    const auto parsed = hiddescriptor::longestFeatureReport(descriptor.data(), size_t(read));
    if (!parsed.ok) {
        error = "invalid report descriptor: " + parsed.error;
        return false;
    }
    length =
        uint16_t(std::min(parsed.featureReportLength, int(std::numeric_limits<uint16_t>::max())));
    return true;
}

} // namespace

namespace platform {

bool readStoredDescriptor(const char*, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    error = "Windows keeps no report descriptor beside the device";
    return false;
}

uint16_t featureReportLength(hid_device* device, const char* path) {
    uint16_t length = 0;
    std::string systemError = "no path", error;
    if (path && *path && lengthFromSystem(path, length, systemError))
        return length;
    // The system's route fails where the path names no device of its own
    // (the simulated accessory's) or where a driver stands in the way.
    if (lengthFromHidapi(device, length, error))
        return length;
    qWarning() << "Cannot read the report descriptor of" << (path ? path : "") << ":"
               << (systemError + "; " + error).c_str();
    return 0;
}

std::string warnOpenFailed(const char* path, int error) {
    std::string reason = error ? std::strerror(error) : std::string();
    if (reason.empty() && path) {
        // The system's own answer to an open like hidapi's.
        const HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            reason = systemMessage(GetLastError());
        else
            CloseHandle(handle);
    }
    qCWarning(adviceLog) << "Cannot open" << (path ? path : "") << ":"
                         << (reason.empty() ? "reason unknown" : reason.c_str());
    return reason;
}

} // namespace platform
