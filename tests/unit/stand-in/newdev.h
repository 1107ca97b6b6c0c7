#pragma once

#include <windows.h>

constexpr DWORD INSTALLFLAG_FORCE = 0x00000001;

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId,
                                               LPCWSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired);
