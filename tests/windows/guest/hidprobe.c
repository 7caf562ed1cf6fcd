/* hidprobe: what hidapi's Windows backend and the configuration manager
 * under it make of the HID devices, one fact a line, for the Wine guest
 * (tests/windows/guest). Takes no arguments; exit status 0 when the
 * accessory (0a12:fffe) was listed by hid_enumerate, opened, and answered
 * feature reports 1 and 2. */
/* windows.h first, the others need its types. */
#define INITGUID
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <devpkey.h>
#include <hidsdi.h>
#include <setupapi.h>
// clang-format on

#include <hidapi/hidapi.h>

#include <stdio.h>
#include <wchar.h>

typedef CONFIGRET(WINAPI* ListSize)(PULONG, LPGUID, DEVINSTID_W, ULONG);
typedef CONFIGRET(WINAPI* List)(LPGUID, DEVINSTID_W, PZZWSTR, ULONG, ULONG);
typedef CONFIGRET(WINAPI* InterfaceProperty)(LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE,
                                             PULONG, ULONG);
typedef CONFIGRET(WINAPI* Locate)(PDEVINST, DEVINSTID_W, ULONG);
typedef CONFIGRET(WINAPI* NodeProperty)(DEVINST, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG,
                                        ULONG);
typedef CONFIGRET(WINAPI* Parent)(PDEVINST, DEVINST, ULONG);

/* The first HID interface as SetupAPI lists it, and how many it lists. */
static int setupApiInterfaces(const GUID* guid, WCHAR* first, DWORD capacity) {
    const HDEVINFO set =
        SetupDiGetClassDevsW(guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    int count = 0;
    SP_DEVICE_INTERFACE_DATA data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    first[0] = 0;
    while (set != INVALID_HANDLE_VALUE &&
           SetupDiEnumDeviceInterfaces(set, NULL, guid, count, &data)) {
        BYTE buffer[2048];
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)buffer;
        detail->cbSize = sizeof *detail;
        if (!count &&
            SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, NULL, NULL))
            lstrcpynW(first, detail->DevicePath, (int)capacity);
        ++count;
    }
    if (set != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(set);
    return count;
}

/* Each configuration manager call hidapi makes: the list of the class's
 * interfaces, then, for the interface at path, its device, the device's
 * hardware IDs and its parent's compatible IDs. */
static void configurationManager(GUID guid, const WCHAR* path) {
    HMODULE cm = LoadLibraryW(L"cfgmgr32.dll");
    WCHAR file[MAX_PATH] = L"";
    if (cm)
        GetModuleFileNameW(cm, file, MAX_PATH);
    printf("cfgmgr32 loaded from %ls\n", file);
    if (!cm)
        return;
    ListSize listSize = (ListSize)(void*)GetProcAddress(cm, "CM_Get_Device_Interface_List_SizeW");
    List list = (List)(void*)GetProcAddress(cm, "CM_Get_Device_Interface_ListW");
    InterfaceProperty interfaceProperty =
        (InterfaceProperty)(void*)GetProcAddress(cm, "CM_Get_Device_Interface_PropertyW");
    Locate locate = (Locate)(void*)GetProcAddress(cm, "CM_Locate_DevNodeW");
    NodeProperty nodeProperty = (NodeProperty)(void*)GetProcAddress(cm, "CM_Get_DevNode_PropertyW");
    Parent parent = (Parent)(void*)GetProcAddress(cm, "CM_Get_Parent");
    if (!listSize || !list || !interfaceProperty || !locate || !nodeProperty || !parent) {
        printf("cfgmgr32 lacks a call hidapi needs\n");
        return;
    }
    ULONG length = 0;
    CONFIGRET cr = listSize(&length, &guid, NULL, CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
    printf("CM_Get_Device_Interface_List_SizeW: cr %lu, %lu characters\n", cr, length);
    /* Wine's own is a stub that ends the program; hidapi calls it only
     * after the size. */
    if (cr == CR_SUCCESS) {
        WCHAR listed[8192] = L"";
        const CONFIGRET listed_cr = list(&guid, NULL, listed, sizeof listed / sizeof *listed,
                                         CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
        int count = 0;
        for (const WCHAR* p = listed; listed_cr == CR_SUCCESS && *p; p += wcslen(p) + 1)
            ++count;
        printf("CM_Get_Device_Interface_ListW: cr %lu, %d interfaces\n", listed_cr, count);
    }
    if (!path)
        return;
    WCHAR id[512] = L"";
    DEVPROPTYPE type = 0;
    ULONG size = sizeof id;
    cr = interfaceProperty(path, &DEVPKEY_Device_InstanceId, &type, (PBYTE)id, &size, 0);
    printf("CM_Get_Device_Interface_PropertyW(InstanceId): cr %lu, %ls\n", cr, id);
    DEVINST node = 0;
    cr = locate(&node, id, CM_LOCATE_DEVNODE_NORMAL);
    printf("CM_Locate_DevNodeW: cr %lu\n", cr);
    WCHAR ids[1024] = L"";
    size = sizeof ids;
    cr = nodeProperty(node, &DEVPKEY_Device_HardwareIds, &type, (PBYTE)ids, &size, 0);
    printf("CM_Get_DevNode_PropertyW(HardwareIds): cr %lu, %ls\n", cr, ids);
    DEVINST up = 0;
    cr = parent(&up, node, 0);
    printf("CM_Get_Parent: cr %lu\n", cr);
    if (cr != CR_SUCCESS)
        return;
    ids[0] = 0;
    size = sizeof ids;
    cr = nodeProperty(up, &DEVPKEY_Device_CompatibleIds, &type, (PBYTE)ids, &size, 0);
    printf("CM_Get_DevNode_PropertyW(CompatibleIds of the parent): cr %lu, %ls\n", cr, ids);
}

/* The system's HID parser on the interface, opened without access rights. */
static void capabilities(const char* path) {
    WCHAR wide[1024];
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 1024);
    const HANDLE h =
        CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    PHIDP_PREPARSED_DATA preparsed = NULL;
    HIDP_CAPS caps;
    ZeroMemory(&caps, sizeof caps);
    if (h != INVALID_HANDLE_VALUE && HidD_GetPreparsedData(h, &preparsed)) {
        HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
    }
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    printf("HidP_GetCaps: feature %u, input %u, output %u\n", caps.FeatureReportByteLength,
           caps.InputReportByteLength, caps.OutputReportByteLength);
}

int main(void) {
    setvbuf(stdout, NULL, _IONBF, 0);
    printf("hid_init: %d\n", hid_init());
    GUID guid;
    HidD_GetHidGuid(&guid);
    WCHAR first[1024];
    printf("SetupAPI: %d HID interfaces\n", setupApiInterfaces(&guid, first, 1024));
    configurationManager(guid, NULL);

    int result = 1;
    struct hid_device_info* devices = hid_enumerate(0, 0);
    for (struct hid_device_info* d = devices; d; d = d->next) {
        printf("hid_enumerate: %04x:%04x %04x:%04x interface %d bus %d serial \"%ls\" product "
               "\"%ls\" %s\n",
               d->vendor_id, d->product_id, d->usage_page, d->usage, d->interface_number,
               (int)d->bus_type, d->serial_number ? d->serial_number : L"",
               d->product_string ? d->product_string : L"", d->path);
        if (d->vendor_id != 0x0a12 || d->product_id != 0xfffe)
            continue;
        WCHAR path[1024];
        MultiByteToWideChar(CP_UTF8, 0, d->path, -1, path, 1024);
        configurationManager(guid, path);
        capabilities(d->path);
        hid_device* device = hid_open_path(d->path);
        printf("hid_open_path: %s\n", device ? "opened" : "failed");
        if (!device)
            continue;
        unsigned char report[256] = {1};
        const int data = hid_get_feature_report(device, report, sizeof report);
        report[0] = 2;
        const int status = hid_get_feature_report(device, report, sizeof report);
        printf("hid_get_feature_report: report 1 %d bytes, report 2 %d bytes\n", data, status);
        hid_close(device);
        if (data > 0 && status > 0)
            result = 0;
    }
    hid_free_enumeration(devices);
    hid_exit();
    return result;
}
