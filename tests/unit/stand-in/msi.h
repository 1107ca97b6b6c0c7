#pragma once

#include <windows.h>

using MSIHANDLE = unsigned long;

enum INSTALLMESSAGE : int {
    INSTALLMESSAGE_INFO = 0x04000000,
};

constexpr UINT ERROR_MORE_DATA = 234;
constexpr UINT ERROR_INSTALL_FAILURE = 1603;

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);
