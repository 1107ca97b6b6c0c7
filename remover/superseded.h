#pragma once

#include <windows.h>

// After an upgrade: deletes the package of the older version, given by the
// INF that was installed or by its published INF (C:\Windows\INF\oemNN.inf),
// from the driver store, unless it is the same package as the new one
// (newInf, found by its contents as the older one is) or any device,
// present or not, is installed from it. It never takes a driver off a
// device: the package goes with SetupUninstallOEMInfW and no force flag.
// Returns ERROR_SUCCESS when the older package is gone, was not staged, or
// is the new one; ERROR_INF_IN_USE_BY_DEVICES when a device uses it, and
// then nothing is changed; otherwise the error code of the platform call
// that failed. In the 32-bit build, a step refused with ERROR_IN_WOW64 is
// handed over to the machine's native build (handover.h).
DWORD RemoveSupersededPackage(const wchar_t* oldInf, const wchar_t* newInf);
