#pragma once

#include <windows.h>
// clang-format off
#include <msi.h>
// clang-format on

// The MSI's custom actions (see action.cpp): ERROR_SUCCESS where the
// installation may go on, ERROR_INSTALL_FAILURE where it fails.
// Notes the DLL's own handle, whose resources hold the programs.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
extern "C" UINT WINAPI InstallDriver(MSIHANDLE install);
extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install);
extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install);
