#pragma once

// The custom actions of the MSI template (examples/setups/driver-setup.wxs),
// ZeltraneMsiAction.dll. InstallDriver (install.cpp) installs the driver
// package for each hardware ID of a product line with Zeltrane.exe, writes
// each run to the installation's log, decides the installation's result from
// the runs' exit codes, and records the name under which the platform staged
// the package. RemoveDriver (remove.cpp) takes exactly that package back with
// ZeltraneRemove.exe when the product is removed, and ScheduleRestart turns
// the removal's need of a restart into the installation's own request.
// After an upgrade, the older versions' packages go where nothing uses them
// (superseded.h).
//
// The driver's actions run as the local system account, so they neither
// start nor install anything that another user could have written:
// - The DLL carries Zeltrane.exe, ZeltraneRemove.exe and ZeltraneCreate.exe,
//   each in its x86, x64 and ARM64 builds, as resources (carried.cpp):
//   Windows Installer keeps the DLL in a folder of its own, and the MSI's
//   signature covers it. Each run writes a program's builds into a new
//   folder that only SYSTEM and Administrators can enter, named from the
//   random source in the system account's own temporary folder where
//   Windows has one (GetTempPath2W), starts the 32-bit build there with the
//   system folder as its current folder (run.cpp), and deletes the folder
//   again. The copies that the MSI installs under INSTALLDIR never run.
// - The driver package is taken from INSTALLDIR only as a copy in another
//   such folder, each file checked against the SHA-256 digest that the
//   MSI's build recorded with record-digests.py (package.cpp): a folder that
//   an administrator picked outside Program Files may hold a user's files,
//   or be swapped for a user's while the installation runs.
// - What the removal takes back is the package that the installation
//   recorded in the product's key under HKLM (record.cpp), while that is
//   still the package of the INF's own name (published.cpp).
//
// Each returns ERROR_SUCCESS where the installation may go on, and
// ERROR_INSTALL_FAILURE where it fails; each logs why.

#include <windows.h>
// clang-format off
#include <msi.h>
// clang-format on

// Notes the DLL's own handle, whose resources hold the programs (entry.cpp).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// Immediate, before anything changes: the public settings and the older
// versions, as this MSI decides them (settings.h).
extern "C" UINT WINAPI CheckSettings(MSIHANDLE install);

// Immediate, before an upgrade removes the older versions: their recorded
// packages, for InstallDriver to delete where unused (superseded.cpp).
extern "C" UINT WINAPI FindSupersededPackages(MSIHANDLE install);

// Deferred, on a first installation (install.cpp).
extern "C" UINT WINAPI InstallDriver(MSIHANDLE install);

// Deferred, when the product is removed; then, immediate after the script,
// the restart that the removal asked for (remove.cpp).
extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install);
extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install);
