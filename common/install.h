#pragma once

#include <windows.h>

// Stages the INF in the platform's INF store, then force-installs the driver
// from that same INF path on every present device with the hardware ID.
// Both platform calls are always made. Where both succeeded, the result is
// what the devices report (device_state.h): ERROR_SUCCESS where the driver
// runs, ERROR_SUCCESS_REBOOT_REQUIRED where a restart must finish the
// installation, kDeviceProblem + N where a device reports problem code N.
// Otherwise the error code of the first call that failed. In the 32-bit
// build, an update refused with ERROR_IN_WOW64 hands the installation over to
// the machine's native build (handover.h), whose result is returned instead.
DWORD InstallDriver(const wchar_t* infPath, const wchar_t* hardwareId);

// Who hands an installation refused with ERROR_IN_WOW64 over: this code, to
// Zeltrane.exe's native build, or the caller (ZeltraneCreate.exe, which
// gives its lock back first), to which the error is returned at once.
enum class Installer { kZeltrane, kCaller };

// The same, with the hand-over as `installer` says.
DWORD InstallDriverAs(const wchar_t* infPath, const wchar_t* hardwareId, Installer installer);
