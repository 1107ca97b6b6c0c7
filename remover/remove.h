#pragma once

#include <windows.h>

// Takes a driver package back off the machine: the package staged from the
// INF at infPath (the INF that was installed, in its own folder) is removed
// from every device installed from it, whatever their hardware IDs, and then
// deleted from the driver store. Another package is never touched, not even
// one whose INF has the same name: the platform names the package by its
// contents. Returns ERROR_SUCCESS when the package is gone, or was never
// staged (then nothing is changed); ERROR_SUCCESS_REBOOT_REQUIRED when the
// platform needs a restart to finish, which it never prompts for; otherwise
// the error code of the platform call that failed. A path in the platform's
// INF folder (C:\Windows\INF\oemNN.inf) is taken as the published INF of
// the package to remove; where it is no longer there, nothing is changed. In the 32-bit build, a
// removal refused with ERROR_IN_WOW64 is handed over to the machine's native
// build (handover.h), whose result is returned instead.
DWORD RemoveDriverPackage(const wchar_t* infPath);
