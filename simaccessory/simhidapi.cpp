// hidapi answered in-process by the simulated bus. A program linked with this
// library instead of libhidapi-hidraw talks to the simulated interfaces
// through the very calls it would use on real ones. Only enumeration, opening,
// closing and feature reports work; everything else fails harmlessly.

#include "simbus.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

struct hid_device_ {
    sim::Connection connection;
};

namespace {

wchar_t* duplicate(const std::optional<std::wstring>& text) {
    if (!text) {
        return nullptr;
    }
    const size_t bytes = (text->size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text->c_str(), bytes);
    }
    return copy;
}

constexpr const wchar_t* kNotSupported = L"Not supported by the simulated HID bus";

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) {
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
    hid_device_info* first = nullptr;
    hid_device_info** next = &first;
    for (const sim::BusEntry& entry : sim::Bus::enumerate()) {
        if ((vendor_id != 0 && vendor_id != entry.vendorId) ||
            (product_id != 0 && product_id != entry.productId)) {
            continue;
        }
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        if (info == nullptr) {
            break;
        }
        info->path = strdup(entry.path.c_str());
        info->vendor_id = entry.vendorId;
        info->product_id = entry.productId;
        info->serial_number = duplicate(entry.serialNumber);
        info->release_number = entry.releaseNumber;
        info->manufacturer_string = duplicate(entry.manufacturer);
        info->product_string = duplicate(entry.product);
        info->usage_page = entry.usagePage;
        info->usage = entry.usage;
        info->interface_number = entry.interfaceNumber;
        info->bus_type = HID_API_BUS_USB;
        *next = info;
        next = &info->next;
    }
    return first;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short, unsigned short, const wchar_t*) {
    return nullptr;
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    const std::optional<sim::Connection> connection = sim::Bus::open(path);
    if (!connection) {
        // As the hidraw backend leaves it after a failed open(2): a refused
        // interface looks like a node that belongs to someone else.
        bool present = false;
        for (const sim::BusEntry& entry : sim::Bus::enumerate()) {
            present = present || entry.path == path;
        }
        errno = present ? EACCES : ENOENT;
        return nullptr;
    }
    return new hid_device{*connection};
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    if (dev == nullptr) {
        return;
    }
    sim::Bus::close(dev->connection);
    delete dev;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char* data,
                                                        size_t length) {
    if (dev == nullptr) {
        return -1;
    }
    return sim::Bus::sendFeatureReport(dev->connection, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char* data,
                                                       size_t length) {
    if (dev == nullptr) {
        return -1;
    }
    return sim::Bus::getFeatureReport(dev->connection, data, length);
}

// hidapi 0.14's call, defined here also when the installed header predates
// it, so that the engine's descriptor route can be tested in-process.
int HID_API_EXPORT_CALL hid_get_report_descriptor(hid_device* dev, unsigned char* buf,
                                                  size_t buf_size) {
    if (dev == nullptr || buf == nullptr) {
        return -1;
    }
    return sim::Bus::getReportDescriptor(dev->connection, buf, buf_size);
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device*, const unsigned char*, size_t) {
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device*, unsigned char*, size_t, int) {
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device*, unsigned char*, size_t) {
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device*, int) {
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device*, unsigned char*, size_t) {
    return -1;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device*, wchar_t*, size_t) {
    return -1;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device*, wchar_t*, size_t) {
    return -1;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device*, wchar_t*, size_t) {
    return -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device*) {
    return nullptr;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device*, int, wchar_t*, size_t) {
    return -1;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device*) {
    return kNotSupported;
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void) {
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                            HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) {
    return HID_API_VERSION_STR;
}

} // extern "C"
