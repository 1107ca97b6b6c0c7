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

// The programs of the release that install as Zeltrane.exe does.
enum class Installer { kZeltrane, kZeltraneCreate };

// The same, for that program: the hand-over starts its native build.
DWORD InstallDriverAs(const wchar_t* infPath, const wchar_t* hardwareId, Installer installer);
