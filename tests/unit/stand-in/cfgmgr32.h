#pragma once

#include <windows.h>

constexpr ULONG CM_PROB_NEED_RESTART = 0x0000000E;
constexpr ULONG CM_PROB_DISABLED = 0x00000016;
constexpr ULONG DN_NEED_RESTART = 0x00000100;
constexpr ULONG DN_STARTED = 0x00000008;
constexpr ULONG DN_HAS_PROBLEM = 0x00000400;

DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout);
