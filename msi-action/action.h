#pragma once

#include <windows.h>
// clang-format off
#include <msi.h>
// clang-format on

// The MSI's custom actions (see action.cpp): ERROR_SUCCESS where the
// installation may go on, ERROR_INSTALL_FAILURE where it fails.
extern "C" UINT WINAPI InstallDriver(MSIHANDLE install);
extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install);
extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install);
