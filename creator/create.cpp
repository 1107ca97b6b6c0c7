#include "create.h"

#include <setupapi.h>
#include <string.h>

#include "attended.h"
#include "creation_lock.h"
#include "device_ids.h"
#include "install.h"
#include "last_error.h"
#include "unattended.h"
#ifdef ZELTRANE_HANDS_OVER
#include "handover.h"
#endif

namespace {

// The longest hardware ID that the new device is given, in characters.
constexpr DWORD kIdsCapacity = 4096;

// The longest class name, with its NUL: kClassNameCapacity of cfgmgr32.h.
constexpr DWORD kClassNameCapacity = 32;

// Whether any device of the list (every class, with `flags`: DIGCF_PRESENT
// or none) has the hardware ID among its hardware IDs, into `found`.
DWORD FindDevice(const wchar_t* hardwareId, DWORD flags, bool* found) {
    const HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | flags);
    if (devices == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    DWORD error = ERROR_SUCCESS;
    *found = false;
    for (DWORD index = 0; !*found && error == ERROR_SUCCESS; ++index) {
        if (!SetupDiEnumDeviceInfo(devices, index, &device)) {
            error = LastErrorOfFailedCall();
            break;
        }
        // A list that changed since its size was asked: unsure, so never a
        // second device.
        error = DeviceHasId(devices, device, SPDRP_HARDWAREID, hardwareId, *found);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
}

// The class that the INF names: its ClassGuid, or where [Version] gives
// only a Class name, the one class of that name installed on the machine;
// none, or more than one, is ERROR_INVALID_CLASS, and nothing is made.
DWORD InfClass(const wchar_t* infPath, GUID& classGuid, wchar_t (&className)[kClassNameCapacity]) {
    if (!SetupDiGetINFClassW(infPath, &classGuid, className, kClassNameCapacity, nullptr)) {
        return LastErrorOfFailedCall();
    }
    constexpr GUID kNoClass = {};
    if (memcmp(&classGuid, &kNoClass, sizeof classGuid) != 0) {
        return ERROR_SUCCESS;
    }
    DWORD count = 0;
    // One place: a second class of the name fails the call, as does none
    // that can be read.
    GUID classes[1] = {};
    if (!SetupDiClassGuidsFromNameW(className, classes, 1, &count) || count != 1) {
        return ERROR_INVALID_CLASS;
    }
    classGuid = classes[0];
    return ERROR_SUCCESS;
}

// The new device: its list and its data.
struct Created {
    HDEVINFO list;
    SP_DEVINFO_DATA device;
};

// The hardware ID as a REG_MULTI_SZ list of one: the ID, its NUL and the
// list's; its size in bytes.
struct IdList {
    wchar_t text[kIdsCapacity + 2];
    DWORD bytes;
};

DWORD MakeIdList(const wchar_t* hardwareId, IdList& list) {
    DWORD length = 0;
    for (; hardwareId[length] != L'\0'; ++length) {
        if (length == kIdsCapacity) {
            return ERROR_INVALID_PARAMETER;
        }
        list.text[length] = hardwareId[length];
    }
    list.text[length] = L'\0';
    list.text[length + 1] = L'\0';
    list.bytes = (length + 2) * sizeof(wchar_t);
    return ERROR_SUCCESS;
}

// Creates a root-enumerated device of the INF's class with the hardware ID
// as its one hardware ID, as Microsoft documents it for a device
// installation application, and registers it with the platform.
DWORD CreateDevice(const wchar_t* infPath, const IdList& ids, Created& created) {
    GUID classGuid = {};
    wchar_t className[kClassNameCapacity] = {};
    const DWORD error = InfClass(infPath, classGuid, className);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    created.list = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (created.list == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    created.device = {};
    created.device.cbSize = sizeof created.device;
    if (!SetupDiCreateDeviceInfoW(created.list, className, &classGuid, nullptr, nullptr,
                                  DICD_GENERATE_ID, &created.device) ||
        !SetupDiSetDeviceRegistryPropertyW(
            created.list, &created.device, SPDRP_HARDWAREID,
            static_cast<const BYTE*>(static_cast<const void*>(ids.text)), ids.bytes) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, created.list, &created.device)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

// The present device with the list's one ID found, or one made and
// registered (`made`). Where only a device that is not present has the ID
// (a phantom, or hardware that is not plugged in), none is made beside it,
// and nothing could be installed on it: ERROR_DEVICE_NOT_CONNECTED, a code
// of its own, which no setup reads as "no device".
DWORD FindOrMakeDevice(const wchar_t* infPath, const IdList& ids, Created& created, bool& made) {
    bool present = false;
    DWORD error = FindDevice(ids.text, DIGCF_PRESENT, &present);
    bool any = present;
    if (error == ERROR_SUCCESS && !present) {
        error = FindDevice(ids.text, 0, &any);
    }
    if (error != ERROR_SUCCESS || present) {
        return error;
    }
    if (any) {
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    error = CreateDevice(infPath, ids, created);
    made = error == ERROR_SUCCESS;
    return error;
}

// The platform's answer to a 32-bit caller on 64-bit Windows: the native
// build does the whole work; elsewhere the step's error.
DWORD Refused(DWORD error) {
#ifdef ZELTRANE_HANDS_OVER
    if (error == ERROR_IN_WOW64) {
        return HandOverToNativeBuild(L"ZeltraneCreate.exe");
    }
#endif
    return error;
}

}  // namespace

DWORD CreateDeviceAndInstall(const wchar_t* infPath, const wchar_t* hardwareId) {
    // Where no one can answer, a package that the installation would ask
    // about gets no device made for it; the installation asks again.
    if (!SomeoneCanAnswer()) {
        const DWORD prepared = PrepareUnattendedInstall(infPath);
        if (prepared != ERROR_SUCCESS) {
            return prepared;
        }
    }
    static IdList ids;
    DWORD error = MakeIdList(hardwareId, ids);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // One creation at a time, from its search to its installation; the lock
    // goes back before a hand-over, whose native build takes it itself.
    Created created = {INVALID_HANDLE_VALUE, {}};
    bool made = false;
    HANDLE lock = nullptr;
    error = TakeCreationLock(&lock);
    if (error == ERROR_SUCCESS) {
        error = FindOrMakeDevice(infPath, ids, created, made);
        if (error == ERROR_SUCCESS) {
            error = InstallDriverAs(infPath, hardwareId, Installer::kCaller);
        }
        GiveCreationLockBack(lock);
    }
    error = Refused(error);
    // Nothing half-made: the device made goes again with a failed
    // installation (a device that cannot run the driver included), whose
    // code stays the result. One that a restart finishes stays. A device
    // that could not be taken away is what the caller hears of: the
    // machine keeps one that no one asked for, and a rerun installs on it.
    if (made && error != ERROR_SUCCESS && error != ERROR_SUCCESS_REBOOT_REQUIRED &&
        !SetupDiCallClassInstaller(DIF_REMOVE, created.list, &created.device)) {
        error = LastErrorOfFailedCall();
    }
    if (created.list != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(created.list);
    }
    return error;
}
