#pragma once

#include <windows.h>

// clang-format off
#include <setupapi.h>
// clang-format on

// A package that devices use: the platform's answer to its deletion without
// the force flag (ERROR_INF_IN_USE_BY_DEVICES), and the removal's where a
// device is found installed from it before the platform is asked.
constexpr DWORD kInUse = 0xE000023D;

// Whether the device's driver was installed from the published INF: its
// driver key names that INF, by its name in the INF folder (InfPath).
bool InstalledFrom(HDEVINFO devices, SP_DEVINFO_DATA* device, const wchar_t* publishedName);

// Whether any device, present or not, has its driver installed from the
// published INF, into `used`; ERROR_SUCCESS, or the error of the call that
// could not tell.
DWORD AnyDeviceInstalledFrom(const wchar_t* publishedName, bool& used);
