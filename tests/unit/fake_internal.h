#pragma once

// What the fakes of the platform's DLLs share with each other, and no test
// needs.

#include <cstdint>

#include "fake_platform.h"

// Completes a fake call as the outcome says: TRUE, or FALSE with the
// outcome's error as the last error.
BOOL Complete(const Outcome& outcome);

// newdev.dll's DiUninstallDriverW, which kernel32's GetProcAddress hands out.
BOOL WINAPI FakeDiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot);

// setupapi.dll's SetupVerifyInfFileW, which kernel32's GetProcAddress hands out.
BOOL WINAPI FakeSetupVerifyInfFileW(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatformInfo,
                                    void* infSignerInfo);

// The handles of the devices' driver keys, from this one on: setupapi opens
// them, advapi32 reads and closes them.
constexpr std::uintptr_t kFirstDriverKey = 0x5000;
