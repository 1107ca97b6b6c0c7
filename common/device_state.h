#pragma once

#include <windows.h>

// Bit 29 of an exit code marks an application's own code, which no Windows
// error has: kDeviceProblem + N says that a device reports problem code N.
constexpr DWORD kDeviceProblem = 0x20000000;

// Whether the driver runs on the present devices that an installation for
// the hardware ID targeted (those with the ID among their hardware or
// compatible IDs), from the state that each reports
// (DEVPKEY_Device_DevNodeStatus, DEVPKEY_Device_ProblemCode):
// - kDeviceProblem + N where a device reports problem code N, other than
//   14 (a restart is needed) and 22 (disabled, which an installation does
//   not change); the first such device decides;
// - else ERROR_SUCCESS_REBOOT_REQUIRED where a device needs a restart to run
//   the driver (DN_NEED_RESTART, or problem code 14);
// - else ERROR_SUCCESS, also for a device that reports no state (a platform
//   that keeps none; a property of another type);
// - the error of a call that failed, where the devices cannot be read.
DWORD StateOfDevices(const wchar_t* hardwareId);
