// hidapi 0.14's report descriptor call for a program linked with an older
// hidapi on Windows, which lacks it: it declines, as such a library would,
// and the engine has the system's own route first
// (platform/hidaccess_windows.cpp).
#include <hidapi/hidapi.h>

extern "C" int hid_get_report_descriptor(hid_device*, unsigned char*, size_t) {
    return -1;
}
