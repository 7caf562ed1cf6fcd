/* A stand-in for cfgmgr32.dll in the Wine guest only (tests/windows/guest),
 * never shipped. hidapi's Windows backend lists the HID interfaces with
 * CM_Get_Device_Interface_List_SizeW and CM_Get_Device_Interface_ListW,
 * and learns an interface's device, its hardware IDs and its parent's
 * compatible IDs (interface number, bus type) with
 * CM_Get_Device_Interface_PropertyW, CM_Locate_DevNodeW, CM_Get_Parent and
 * CM_Get_DevNode_PropertyW. In Wine 10.0 all but the last are stubs: the
 * list is empty, so hid_enumerate finds nothing. On Windows they are the
 * configuration manager's own; here the stubs are answered through
 * SetupAPI, whose device lists Wine fills from its HID class. Every other
 * export goes on to Wine's own: to its SetupAPI where Wine forwards it there
 * (cfgmgr32.def), else to Wine's cfgmgr32.dll itself, loaded from the
 * system folder (cfgmgr32-wine.h). Loaded from the programs' folder with
 * WINEDLLOVERRIDES=cfgmgr32=n,b. */
/* windows.h first, the others need its types; the property keys defined
 * here (initguid.h before devpkey.h). */
#define _CFGMGR32_
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <initguid.h>
#include <devpkey.h>
#include <setupapi.h>
// clang-format on
#include <wchar.h>

/* What a call Wine's own DLL lacks answers (none should). */
static INT_PTR WINAPI notImplemented(void) {
    return CR_CALL_NOT_IMPLEMENTED;
}

/* Each of Wine's own calls: an exported jump through a pointer that
 * DllMain fills in, so that arguments and results pass untouched. */
#define WINE_OWN(name)                                                                             \
    __attribute__((used)) static FARPROC wine_##name = notImplemented;                             \
    __asm__(".text\n.globl " #name "\n.def " #name ";.scl 2;.type 32;.endef\n" #name               \
            ":\n\tjmp *wine_" #name "(%rip)\n");
#include "cfgmgr32-wine.h"
#undef WINE_OWN

/* Every device the calls below have named, in one set that lives as long as
 * the process: a device's DEVINST is the number Wine's SetupAPI gave it in
 * this set, which its CM_Get_DevNode_PropertyW understands, and which stays
 * valid only while the set holds the device. */
static HDEVINFO g_devices = INVALID_HANDLE_VALUE;
static CRITICAL_SECTION g_lock;

static HDEVINFO devices(void) {
    if (g_devices == INVALID_HANDLE_VALUE)
        g_devices = SetupDiCreateDeviceInfoList(NULL, NULL);
    return g_devices;
}

/* The device of that instance ID in the set, added when missing. */
static BOOL openDevice(const WCHAR* id, SP_DEVINFO_DATA* device) {
    ZeroMemory(device, sizeof *device);
    device->cbSize = sizeof *device;
    return devices() != INVALID_HANDLE_VALUE &&
           SetupDiOpenDeviceInfoW(g_devices, id, NULL, 0, device);
}

/* The device of that DEVINST in the set. */
static BOOL deviceOf(DEVINST node, SP_DEVINFO_DATA* device) {
    ZeroMemory(device, sizeof *device);
    device->cbSize = sizeof *device;
    for (DWORD i = 0;
         devices() != INVALID_HANDLE_VALUE && SetupDiEnumDeviceInfo(g_devices, i, device); ++i) {
        if (device->DevInst == node)
            return TRUE;
    }
    return FALSE;
}

/* A string property in the caller's buffer, as the configuration manager
 * hands it out: CR_BUFFER_SMALL with the size needed when it does not fit. */
static CONFIGRET giveString(const WCHAR* text, DEVPROPTYPE* type, PBYTE buffer, PULONG size) {
    const ULONG needed = (ULONG)(lstrlenW(text) + 1) * sizeof(WCHAR);
    *type = DEVPROP_TYPE_STRING;
    if (!buffer || *size < needed) {
        *size = needed;
        return CR_BUFFER_SMALL;
    }
    CopyMemory(buffer, text, needed);
    *size = needed;
    return CR_SUCCESS;
}

/* The instance ID of the device behind an interface path. Wine 10's
 * SetupDiOpenDeviceInterfaceW is a stub too: the interface is looked up
 * among the present interfaces of its class (the GUID that ends the path). */
static BOOL instanceIdOf(const WCHAR* path, WCHAR* id) {
    const WCHAR* brace = wcsrchr(path, L'{');
    GUID guid;
    unsigned long d1;
    unsigned short d2, d3;
    unsigned char d4[8];
    if (!brace ||
        swscanf(brace, L"{%8lx-%4hx-%4hx-%2hhx%2hhx-%2hhx%2hhx%2hhx%2hhx%2hhx%2hhx}", &d1, &d2, &d3,
                &d4[0], &d4[1], &d4[2], &d4[3], &d4[4], &d4[5], &d4[6], &d4[7]) != 11)
        return FALSE;
    guid.Data1 = d1;
    guid.Data2 = d2;
    guid.Data3 = d3;
    CopyMemory(guid.Data4, d4, sizeof d4);
    const HDEVINFO set =
        SetupDiGetClassDevsW(&guid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL found = FALSE;
    SP_DEVICE_INTERFACE_DATA data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    for (DWORD i = 0; !found && SetupDiEnumDeviceInterfaces(set, NULL, &guid, i, &data); ++i) {
        BYTE buffer[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) + MAX_PATH * 2 * sizeof(WCHAR)];
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)buffer;
        detail->cbSize = sizeof *detail;
        SP_DEVINFO_DATA device;
        ZeroMemory(&device, sizeof device);
        device.cbSize = sizeof device;
        found =
            SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof buffer, NULL, &device) &&
            !lstrcmpiW(detail->DevicePath, path) &&
            SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, NULL);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

/* The interface's device instance ID; Wine answers no other key either. */
CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR path, const DEVPROPKEY* key,
                                                   DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                                   ULONG flags) {
    if (!path || !key || !type || !size)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    if (!IsEqualDevPropKey(*key, DEVPKEY_Device_InstanceId))
        return CR_NO_SUCH_VALUE;
    WCHAR id[MAX_DEVICE_ID_LEN];
    return instanceIdOf(path, id) ? giveString(id, type, buffer, size)
                                  : CR_NO_SUCH_DEVICE_INTERFACE;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags) {
    if (!node || !id || !*id)
        return CR_INVALID_POINTER;
    if (flags & ~CM_LOCATE_DEVNODE_BITS)
        return CR_INVALID_FLAG;
    EnterCriticalSection(&g_lock);
    SP_DEVINFO_DATA device;
    const BOOL found = openDevice(id, &device);
    LeaveCriticalSection(&g_lock);
    if (!found)
        return CR_NO_SUCH_DEVNODE;
    *node = device.DevInst;
    return CR_SUCCESS;
}

/* The hardware and compatible IDs, which Wine keeps as the device's
 * registry properties only; any other key goes on to Wine's own call. */
CONFIGRET WINAPI CM_Get_DevNode_PropertyW(DEVINST node, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                          PBYTE buffer, PULONG size, ULONG flags) {
    const BOOL hardware = key && IsEqualDevPropKey(*key, DEVPKEY_Device_HardwareIds);
    const BOOL compatible = key && IsEqualDevPropKey(*key, DEVPKEY_Device_CompatibleIds);
    if (!hardware && !compatible) {
        typedef CONFIGRET(WINAPI * Call)(DEVINST, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG,
                                         ULONG);
        const Call wine = (Call)(void*)GetProcAddress(GetModuleHandleW(L"setupapi.dll"),
                                                      "CM_Get_DevNode_PropertyW");
        return wine ? wine(node, key, type, buffer, size, flags) : CR_CALL_NOT_IMPLEMENTED;
    }
    if (!type || !size)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    CONFIGRET result = CR_INVALID_DEVNODE;
    EnterCriticalSection(&g_lock);
    SP_DEVINFO_DATA device;
    if (deviceOf(node, &device)) {
        DWORD needed = 0;
        result = CR_NO_SUCH_VALUE;
        *type = DEVPROP_TYPE_STRING_LIST;
        if (SetupDiGetDeviceRegistryPropertyW(g_devices, &device,
                                              hardware ? SPDRP_HARDWAREID : SPDRP_COMPATIBLEIDS,
                                              NULL, buffer, buffer ? *size : 0, &needed)) {
            *size = needed;
            result = CR_SUCCESS;
        } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            *size = needed;
            result = CR_BUFFER_SMALL;
        }
    }
    LeaveCriticalSection(&g_lock);
    return result;
}

/* The parent as Wine's SetupAPI records it (the device's parent property). */
CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
    if (!parent)
        return CR_INVALID_POINTER;
    if (flags)
        return CR_INVALID_FLAG;
    CONFIGRET result = CR_INVALID_DEVNODE;
    EnterCriticalSection(&g_lock);
    SP_DEVINFO_DATA device;
    if (deviceOf(node, &device)) {
        WCHAR id[MAX_DEVICE_ID_LEN];
        DEVPROPTYPE type = 0;
        result = CR_NO_SUCH_DEVNODE;
        if (SetupDiGetDevicePropertyW(g_devices, &device, &DEVPKEY_Device_Parent, &type, (PBYTE)id,
                                      sizeof id, NULL, 0) &&
            type == DEVPROP_TYPE_STRING && openDevice(id, &device)) {
            *parent = device.DevInst;
            result = CR_SUCCESS;
        }
    }
    LeaveCriticalSection(&g_lock);
    return result;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    DisableThreadLibraryCalls(self);
    InitializeCriticalSection(&g_lock);
    WCHAR path[MAX_PATH + 16];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (!length || length >= MAX_PATH)
        return TRUE;
    lstrcatW(path, L"\\cfgmgr32.dll");
    const HMODULE wine = LoadLibraryW(path);
    if (!wine || wine == self) {
        static const char kNone[] = "cfgmgr32 stand-in: Wine's own cfgmgr32.dll cannot be loaded; "
                                    "its calls answer CR_CALL_NOT_IMPLEMENTED\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kNone, sizeof kNone - 1, &written, NULL);
        return TRUE;
    }
#define WINE_OWN(name)                                                                             \
    if (GetProcAddress(wine, #name))                                                               \
        wine_##name = GetProcAddress(wine, #name);
#include "cfgmgr32-wine.h"
#undef WINE_OWN
    return TRUE;
}

/* The interface paths of the class, each ended by a NUL and the list by
 * another, in a block from the process heap; its length in characters in
 * *length. present: only interfaces of devices attached now. */
static CONFIGRET interfaceList(const GUID* guid, const WCHAR* deviceId, ULONG flags, WCHAR** list,
                               ULONG* length) {
    if (!guid || (flags & ~CM_GET_DEVICE_INTERFACE_LIST_BITS))
        return guid ? CR_INVALID_FLAG : CR_INVALID_POINTER;
    DWORD which = DIGCF_DEVICEINTERFACE;
    if (!(flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES))
        which |= DIGCF_PRESENT;
    const HDEVINFO set =
        SetupDiGetClassDevsW(guid, deviceId && *deviceId ? deviceId : NULL, NULL, which);
    if (set == INVALID_HANDLE_VALUE)
        return CR_FAILURE;
    ULONG used = 0, capacity = 256;
    WCHAR* paths = HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(WCHAR));
    SP_DEVICE_INTERFACE_DATA data;
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    for (DWORD i = 0; paths && SetupDiEnumDeviceInterfaces(set, NULL, guid, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, NULL, 0, &size, NULL);
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = HeapAlloc(GetProcessHeap(), 0, size);
        if (!detail)
            continue;
        detail->cbSize = sizeof *detail;
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, NULL, NULL)) {
            const ULONG n = (ULONG)lstrlenW(detail->DevicePath) + 1;
            if (used + n + 1 > capacity) {
                capacity = 2 * (used + n + 1);
                WCHAR* grown = HeapReAlloc(GetProcessHeap(), 0, paths, capacity * sizeof(WCHAR));
                if (!grown)
                    HeapFree(GetProcessHeap(), 0, paths);
                paths = grown;
            }
            if (paths) {
                CopyMemory(paths + used, detail->DevicePath, n * sizeof(WCHAR));
                used += n;
            }
        }
        HeapFree(GetProcessHeap(), 0, detail);
    }
    SetupDiDestroyDeviceInfoList(set);
    if (!paths)
        return CR_OUT_OF_MEMORY;
    paths[used++] = 0;
    *list = paths;
    *length = used;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID guid,
                                                    DEVINSTID_W deviceId, ULONG flags) {
    if (!length)
        return CR_INVALID_POINTER;
    WCHAR* list = NULL;
    const CONFIGRET result = interfaceList(guid, deviceId, flags, &list, length);
    if (list)
        HeapFree(GetProcessHeap(), 0, list);
    return result;
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID guid, DEVINSTID_W deviceId, PZZWSTR buffer,
                                               ULONG capacity, ULONG flags) {
    if (!buffer || !capacity)
        return CR_INVALID_POINTER;
    WCHAR* list = NULL;
    ULONG length = 0;
    CONFIGRET result = interfaceList(guid, deviceId, flags, &list, &length);
    if (result != CR_SUCCESS)
        return result;
    if (length > capacity) {
        buffer[0] = 0;
        result = CR_BUFFER_SMALL;
    } else {
        CopyMemory(buffer, list, length * sizeof(WCHAR));
    }
    HeapFree(GetProcessHeap(), 0, list);
    return result;
}
