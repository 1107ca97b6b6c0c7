#pragma once

#include <windows.h>
// clang-format off
#include <msi.h>
// clang-format on

// The MSI's deferred custom action (see action.cpp): ERROR_SUCCESS where the
// installation may go on, ERROR_INSTALL_FAILURE where it fails.
extern "C" UINT WINAPI InstallDriver(MSIHANDLE install);
