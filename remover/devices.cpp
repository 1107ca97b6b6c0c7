#include "devices.h"

#include "last_error.h"

bool InstalledFrom(HDEVINFO devices, SP_DEVINFO_DATA* device, const wchar_t* publishedName) {
    const HKEY driverKey =
        SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (driverKey == INVALID_HANDLE_VALUE) {
        return false;  // No driver installed.
    }
    // One character more than is read: the value need not end with a NUL.
    wchar_t infName[MAX_PATH + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = MAX_PATH * sizeof(wchar_t);
    const LSTATUS status = RegQueryValueExW(driverKey, L"InfPath", nullptr, &type,
                                            static_cast<BYTE*>(static_cast<void*>(infName)), &size);
    RegCloseKey(driverKey);
    return status == ERROR_SUCCESS && type == REG_SZ &&
           CompareStringOrdinal(infName, -1, publishedName, -1, TRUE) == CSTR_EQUAL;
}

DWORD AnyDeviceInstalledFrom(const wchar_t* publishedName, bool& used) {
    used = false;
    const HDEVINFO devices = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD index = 0;
    while (!used && SetupDiEnumDeviceInfo(devices, index++, &device)) {
        used = InstalledFrom(devices, &device, publishedName);
    }
    DWORD error = ERROR_SUCCESS;
    if (!used) {
        error = LastErrorOfFailedCall();
        error = error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return error;
}
