// The engine's routes that depend on the operating system, for Windows: the
// feature report length as the system's HID parser reports it (hidapi 0.13
// keeps its own copy private), hidapi's descriptor call where the system's
// route is closed, the words when an interface cannot be opened, a file kept
// in memory as far as the system allows, and the backup's folder checks.
#include "platform.h"

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
#include <fcntl.h>
#include <io.h>
#include <limits>
#include <vector>
// clang-format off: windows.h first, the HID headers need its types; MinGW's
// declare their functions without C linkage of their own.
#include <windows.h>
extern "C" {
#include <hidsdi.h>
}
// clang-format on

namespace {

// Longest report descriptor a HID device may have.
constexpr size_t kMaxReportDescriptorSize = 4096;

// What the system's HID parser makes of the interface's descriptor. Opened
// without access rights: that needs no permission and leaves the device to
// whoever has it open.
bool lengthFromSystem(const char* path, uint16_t& length, std::string& error) {
    const HANDLE handle =
        CreateFileW(dfu::widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = dfu::systemMessage(GetLastError());
        return false;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    const bool ok = HidD_GetPreparsedData(handle, &preparsed) &&
                    HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (!ok)
        error = "not a HID interface (" + dfu::systemMessage(GetLastError()) + ")";
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
        const HANDLE handle = CreateFileW(dfu::widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            reason = dfu::systemMessage(GetLastError());
        else
            CloseHandle(handle);
    }
    qCWarning(adviceLog) << "Cannot open" << (path ? path : "") << ":"
                         << (reason.empty() ? "reason unknown" : reason.c_str());
    return reason;
}

std::FILE* memoryFile(std::string& error) {
    // A temporary file the system keeps in its cache where it can, gone
    // when closed, also when the program ends without closing it.
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempPathW(MAX_PATH + 1, folder) || !GetTempFileNameW(folder, L"tvr", 0, name)) {
        error = dfu::systemMessage(GetLastError());
        return nullptr;
    }
    const HANDLE handle =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = dfu::systemMessage(GetLastError());
        DeleteFileW(name);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    std::FILE* memory = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (!memory) {
        error = std::strerror(errno);
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(handle);
    }
    return memory;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string(".");
    // "C:\name" and "\name" lie in a root folder, kept with its separator.
    const bool root = slash == 0 || (slash == 2 && path[1] == ':');
    return path.substr(0, root ? slash + 1 : slash);
}

bool canCreateFilesIn(const std::string& folder) {
    const std::wstring wide = dfu::widePath(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // The folder's access rules are the system's to judge: a file made and
    // gone at once asks it.
    wchar_t probe[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(wide.c_str(), L"tvr", 0, probe))
        return false;
    DeleteFileW(probe);
    return true;
}

} // namespace platform
