#include "remove.h"

#include <newdev.h>
#include <setupapi.h>

#include "devices.h"
#include "file_name.h"
#include "inf_store.h"
#include "last_error.h"
#include "platform_function.h"
#ifdef ZELTRANE_HANDS_OVER
#include "handover.h"
#endif

namespace {

// The longest device instance ID, with its NUL (MAX_DEVICE_ID_LEN).
constexpr DWORD kInstanceIdCapacity = 200;

// DiUninstallDriverW, as the platform documents it.
using UninstallDriverFunction = BOOL(WINAPI*)(HWND parent, LPCWSTR infPath, DWORD flags,
                                              PBOOL needReboot);

// From Windows 10 version 1703, Microsoft documents DiUninstallDriverW as the
// way to remove a driver package: it moves every device installed from the
// package to its next best driver, or none, and then deletes the package
// from the driver store, all in one call. It does not exist on older
// Windows, where this image must still load, so it is looked up when needed.
// newdev.dll is loaded from System32 only. Every Windows that has the
// function understands LOAD_LIBRARY_SEARCH_SYSTEM32; an older one without
// that flag refuses the load, and has no such function either.
UninstallDriverFunction FindUninstallDriver() {
    return PlatformFunction<UninstallDriverFunction>(
        LoadLibraryExW(L"newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), "DiUninstallDriverW");
}

// Removes the device as its class installer would (DIF_REMOVE); notes
// whether the platform wants a restart to finish.
DWORD RemoveDevice(HDEVINFO devices, SP_DEVINFO_DATA* device, bool* restart) {
    if (!SetupDiCallClassInstaller(DIF_REMOVE, devices, device)) {
        return LastErrorOfFailedCall();
    }
    SP_DEVINSTALL_PARAMS_W parameters = {};
    parameters.cbSize = sizeof parameters;
    if (SetupDiGetDeviceInstallParamsW(devices, device, &parameters) &&
        (parameters.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0) {
        *restart = true;
    }
    return ERROR_SUCCESS;
}

// Whether the device is root-enumerated (ROOT\...): one that no hardware
// enumerates, which a setup made for a virtual adapter.
bool RootEnumerated(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    wchar_t instanceId[kInstanceIdCapacity];
    if (!SetupDiGetDeviceInstanceIdW(devices, device, instanceId, kInstanceIdCapacity, nullptr)) {
        return false;
    }
    const wchar_t kRoot[] = L"ROOT\\";
    for (int i = 0; kRoot[i] != L'\0'; ++i) {
        if (CompareStringOrdinal(instanceId + i, 1, kRoot + i, 1, TRUE) != CSTR_EQUAL) {
            return false;
        }
    }
    return true;
}

// Which devices a removal takes.
enum class Devices { kAll, kRootEnumerated };

// Removes every device, present or not, whose driver was installed from the
// published INF, or only the root-enumerated ones among them.
DWORD RemoveDevicesInstalledFrom(const wchar_t* publishedName, Devices which, bool* restart) {
    const HDEVINFO devices = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD count = 0;
    while (SetupDiEnumDeviceInfo(devices, count, &device)) {
        ++count;
    }
    DWORD error = LastErrorOfFailedCall();
    if (error == ERROR_NO_MORE_ITEMS) {
        error = ERROR_SUCCESS;
    }
    // From the last device to the first: a removal never moves those before it.
    for (DWORD index = count; index > 0 && error == ERROR_SUCCESS; --index) {
        if (!SetupDiEnumDeviceInfo(devices, index - 1, &device)) {
            error = LastErrorOfFailedCall();
        } else if (InstalledFrom(devices, &device, publishedName) &&
                   (which == Devices::kAll || RootEnumerated(devices, &device))) {
            error = RemoveDevice(devices, &device, restart);
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return error;
}

// Before Windows 10 version 1703, Microsoft documents the removal in two
// steps: DIF_REMOVE on each device installed from the package, then
// SetupUninstallOEMInfW with the package's published name, which deletes its
// INF, PNF and catalog and, from Windows Vista, its copy in the driver store.
// Without SUOI_FORCEDELETE the platform refuses to delete a package that a
// device still uses (ERROR_INF_IN_USE_BY_DEVICES): that is the answer wanted
// should any such device be left.
DWORD RemoveDevicesThenPackage(const wchar_t* publishedName, bool* restart) {
    const DWORD error = RemoveDevicesInstalledFrom(publishedName, Devices::kAll, restart);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!SetupUninstallOEMInfW(publishedName, 0, nullptr)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

// Takes the package back whose published INF is at that full path.
DWORD RemovePublished(const wchar_t* published) {
    bool restart = false;
    const UninstallDriverFunction uninstallDriver = FindUninstallDriver();
    if (uninstallDriver != nullptr) {
        // DiUninstallDriverW leaves the nodes of the devices in place; one
        // that no hardware enumerates would stay as an unknown device: those
        // go first, as before Windows 10 version 1703.
        const DWORD removal =
            RemoveDevicesInstalledFrom(FileNameOf(published), Devices::kRootEnumerated, &restart);
        if (removal != ERROR_SUCCESS) {
            return removal;
        }
        // A place for the answer, so that the platform never prompts for a restart.
        BOOL needReboot = FALSE;
        if (!uninstallDriver(nullptr, published, 0, &needReboot)) {
            return LastErrorOfFailedCall();
        }
        restart = restart || needReboot != FALSE;
    } else {
        const DWORD removal = RemoveDevicesThenPackage(FileNameOf(published), &restart);
        if (removal != ERROR_SUCCESS) {
            return removal;
        }
    }
    return restart ? ERROR_SUCCESS_REBOOT_REQUIRED : ERROR_SUCCESS;
}

DWORD Remove(const wchar_t* infPath) {
    // A published INF (C:\Windows\INF\oemNN.inf) names its package itself: a
    // setup that recorded the name removes exactly that package. One that is
    // no longer there is a package that is no longer staged.
    bool isPublished = false;
    const DWORD where = IsPublishedInf(infPath, isPublished);
    if (where != ERROR_SUCCESS) {
        return where;
    }
    if (isPublished) {
        if (GetFileAttributesW(infPath) == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = LastErrorOfFailedCall();
            return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
        }
        return RemovePublished(infPath);
    }

    // The platform's name of the package staged from this INF.
    static wchar_t published[MAX_PATH];
    bool stagedNow = false;
    const DWORD error = FindStagedInf(infPath, published, stagedNow);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (stagedNow) {
        // It was not staged, and this very call staged it: taking that copy
        // back leaves the machine as it was. Never forced: the platform may
        // have installed it on a device meanwhile, and then takes it off
        // that device as any staged package's removal does.
        if (SetupUninstallOEMInfW(FileNameOf(published), 0, nullptr)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = LastErrorOfFailedCall();
        if (error != kInUse) {
            return error;
        }
    }
    return RemovePublished(published);
}

}  // namespace

DWORD RemoveDriverPackage(const wchar_t* infPath) {
    const DWORD result = Remove(infPath);
#ifdef ZELTRANE_HANDS_OVER
    // 64-bit Windows refuses device removal to 32-bit callers: the machine's
    // native build makes it, and its exit code is the result.
    if (result == ERROR_IN_WOW64) {
        return HandOverToNativeBuild(L"ZeltraneRemove.exe");
    }
#endif
    return result;
}
