#include "device_state.h"

// clang-format off
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include "device_ids.h"
#include "last_error.h"

namespace {

// The update installs the driver on every present device and starts it
// before it returns, and knows then whether a restart is needed. Work that
// it leaves to the Plug and Play manager (a device that the start makes
// appear) is waited for this long at most; the states are read after that
// whatever the wait says.
constexpr DWORD kSettleMilliseconds = 10000;

// DEVPKEY_Device_DevNodeStatus and DEVPKEY_Device_ProblemCode (devpkey.h).
constexpr DEVPROPKEY kStatusKey = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 2};
constexpr DEVPROPKEY kProblemKey = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 3};

// The device's property, where it reports it as a 32-bit number; 0 where it
// reports none or another type.
ULONG Number(HDEVINFO devices, SP_DEVINFO_DATA& device, const DEVPROPKEY& key) {
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    ULONG value = 0;
    if (!SetupDiGetDevicePropertyW(devices, &device, &key, &type,
                                   static_cast<BYTE*>(static_cast<void*>(&value)), sizeof value,
                                   nullptr, 0) ||
        type != DEVPROP_TYPE_UINT32) {
        return 0;
    }
    return value;
}

// What one device's state says: ERROR_SUCCESS, ERROR_SUCCESS_REBOOT_REQUIRED
// or kDeviceProblem + its problem code.
DWORD StateOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const ULONG problem = Number(devices, device, kProblemKey);
    // Code 38: a previous instance of the driver is still in memory (an
    // uninstall and a reinstall before a restart), which a restart ends, as
    // it does code 14.
    if (problem == CM_PROB_NEED_RESTART || problem == CM_PROB_DRIVER_FAILED_PRIOR_UNLOAD) {
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    if (problem != 0 && problem != CM_PROB_DISABLED) {
        return kDeviceProblem + problem;
    }
    return (Number(devices, device, kStatusKey) & DN_NEED_RESTART) != 0
               ? ERROR_SUCCESS_REBOOT_REQUIRED
               : ERROR_SUCCESS;
}

// Whether the installation for the hardware ID targeted the device.
DWORD Targeted(HDEVINFO devices, SP_DEVINFO_DATA& device, const wchar_t* hardwareId,
               bool& targeted) {
    const DWORD error = DeviceHasId(devices, device, SPDRP_HARDWAREID, hardwareId, targeted);
    if (error != ERROR_SUCCESS || targeted) {
        return error;
    }
    return DeviceHasId(devices, device, SPDRP_COMPATIBLEIDS, hardwareId, targeted);
}

}  // namespace

DWORD StateOfDevices(const wchar_t* hardwareId) {
    CMP_WaitNoPendingInstallEvents(kSettleMilliseconds);
    const HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    // Until a device decides, or a call fails: 3010 is noted and the rest read.
    DWORD result = ERROR_SUCCESS;
    for (DWORD index = 0; result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_REQUIRED;
         ++index) {
        if (!SetupDiEnumDeviceInfo(devices, index, &device)) {
            const DWORD error = LastErrorOfFailedCall();
            result = error == ERROR_NO_MORE_ITEMS ? result : error;
            break;
        }
        bool targeted = false;
        DWORD state = Targeted(devices, device, hardwareId, targeted);
        if (state == ERROR_SUCCESS && targeted) {
            state = StateOf(devices, device);
        }
        result = state != ERROR_SUCCESS ? state : result;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return result;
}
