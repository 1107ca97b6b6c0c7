#pragma once

// Host stand-in for the few platform declarations the installer uses, with
// the platform's own values. The functions are recording fakes (fake_platform.h).

#include <cstdint>

#define WINAPI

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using PDWORD = DWORD*;
using PBOOL = BOOL*;
using WCHAR = wchar_t;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using LPCWSTR = const WCHAR*;

struct HWND__;
using HWND = HWND__*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr UINT MB_OK = 0x00000000;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_BAD_ARGUMENTS = 160;

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);
HWND WINAPI GetDesktopWindow();
DWORD WINAPI GetLastError();
