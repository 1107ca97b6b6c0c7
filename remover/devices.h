#pragma once

#include <windows.h>

// clang-format off
#include <setupapi.h>
// clang-format on

// Whether the device's driver was installed from the published INF: its
// driver key names that INF, by its name in the INF folder (InfPath).
bool InstalledFrom(HDEVINFO devices, SP_DEVINFO_DATA* device, const wchar_t* publishedName);

// Whether any device, present or not, has its driver installed from the
// published INF, into `used`; ERROR_SUCCESS, or the error of the call that
// could not tell.
DWORD AnyDeviceInstalledFrom(const wchar_t* publishedName, bool& used);
