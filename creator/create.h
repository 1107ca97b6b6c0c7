#pragma once

#include <windows.h>

// Installs the driver of a device that no hardware enumerates (a virtual
// adapter): where no device, present or not, has the hardware ID among its
// hardware IDs, creates one root-enumerated device of the INF's class
// (ClassGuid in [Version]) with that hardware ID, then installs the driver
// from the INF on the devices with that ID exactly as Zeltrane.exe does
// (install.h), with the same result; where a present device has it, only
// installs. Where only a device that is not present has it, makes none and
// installs nothing: ERROR_DEVICE_NOT_CONNECTED. A device that it created
// and on which the installation then failed, or cannot run the driver, is
// removed again (where it cannot be, the removal's error is the result);
// one that a restart finishes stays. One creation at a time
// on the machine: the search, the device made and the installation are
// under a lock (creation_lock.h), so that two setups run at once make one
// device. In the 32-bit build, a step refused with ERROR_IN_WOW64 hands the
// whole over to the machine's native build (handover.h), whose result is
// returned instead.
DWORD CreateDeviceAndInstall(const wchar_t* infPath, const wchar_t* hardwareId);
