// newdev.dll as Windows answers, for the e2e sandboxes: Wine's own
// UpdateDriverForPlugAndPlayDevicesW does the work, from a copy of Wine's
// newdev.dll that the sandbox keeps beside this one as wine-newdev.dll, but
// for two answers that Windows documents and Wine does not give. Placed in
// the prefix's system folders, chosen with the DLL override newdev=n,b.
// - A 32-bit caller on 64-bit Windows: refused with ERROR_IN_WOW64, where
//   Wine installs. Only where the run plays 64-bit Windows (the sandbox sets
//   ZELTRANE_SANDBOX_WINDOWS=64 for it).
// - No present device has the ID among its hardware or compatible IDs:
//   ERROR_NO_SUCH_DEVINST, where Wine's returns TRUE having installed
//   nothing. Which devices match is left to Wine.
// - DiUninstallDriverW (Windows 10 version 1703 and later), which Wine's
//   newdev.dll lacks: the 32-bit stand-in has it for the one answer that
//   64-bit Windows gives a 32-bit caller, ERROR_IN_WOW64, where the run plays
//   64-bit Windows. Elsewhere it answers ERROR_CALL_NOT_IMPLEMENTED: the
//   sandbox plays no 32-bit Windows of that version. The 64-bit stand-in does
//   not have it, so the removal program's native build takes the route of
//   Windows before version 1703, which Wine implements.
// - A restart that the installation needs: Windows sets the caller's restart
//   indicator (or, where it has none, asks the user), where Wine's never
//   does. Where the run plays one (the sandbox sets ZELTRANE_SANDBOX_RESTART=1
//   for it), Wine's update runs and the indicator, where there is one, is
//   then set.
// A call answered here leaves no trace of Wine's: it adds a line with its
// arguments (UTF-8) to C:\windows\temp\wow64-newdev.txt or
// newdev-no-device.txt, so that a test can see it.

#include <windows.h>
// clang-format off
#include <setupapi.h>
// clang-format on

#include <stdio.h>
#include <wchar.h>

#include "record.h"

namespace {

using Update = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

bool RefusedAsOn64BitWindows() {
    BOOL wow64 = FALSE;
    wchar_t plays[8] = L"";
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
           GetEnvironmentVariableW(L"ZELTRANE_SANDBOX_WINDOWS", plays, 8) == 2 &&
           wcscmp(plays, L"64") == 0;
}

void Record(const wchar_t* file, HWND parent, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags,
            PBOOL restart) {
    static wchar_t line[8192];
    swprintf(line, 8192, L"parent=0x%llX hardware_id=%ls inf_path=%ls flags=0x%lX reboot=0x%llX\n",
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(parent)),
             hardwareId ? hardwareId : L"(null)", infPath ? infPath : L"(null)", flags,
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(restart)));
    AddToRecord(file, line);
}

// Whether the REG_MULTI_SZ list holds the ID; IDs compare without case.
bool Listed(const wchar_t* list, const wchar_t* id) {
    for (const wchar_t* entry = list; *entry; entry += wcslen(entry) + 1) {
        if (_wcsicmp(entry, id) == 0) {
            return true;
        }
    }
    return false;
}

// Whether a present device has the ID among its hardware or compatible IDs;
// true where the devices cannot be listed, so that Wine answers.
bool Present(const wchar_t* hardwareId) {
    HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return true;
    }
    static wchar_t ids[16384];
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    bool found = false;
    const DWORD properties[] = {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS};
    for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        for (const DWORD property : properties) {
            // Two zero characters beyond what is read end the list.
            ZeroMemory(ids, sizeof ids);
            if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                                  reinterpret_cast<BYTE*>(ids),
                                                  sizeof ids - 2 * sizeof(wchar_t), nullptr) &&
                Listed(ids, hardwareId)) {
                found = true;
            }
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

}  // namespace

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId,
                                                          LPCWSTR infPath, DWORD flags,
                                                          PBOOL restart) {
    if (RefusedAsOn64BitWindows()) {
        Record(L"C:\\windows\\temp\\wow64-newdev.txt", parent, hardwareId, infPath, flags, restart);
        SetLastError(ERROR_IN_WOW64);
        return FALSE;
    }
    if (hardwareId && !Present(hardwareId)) {
        Record(L"C:\\windows\\temp\\newdev-no-device.txt", parent, hardwareId, infPath, flags,
               restart);
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    // GetSystemDirectoryW names syswow64 in a 32-bit process.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH - 20);
    if (length == 0 || length >= MAX_PATH - 20) {
        return FALSE;
    }
    wcscat(path, L"\\wine-newdev.dll");
    HMODULE wine = LoadLibraryW(path);
    const FARPROC found =
        wine ? GetProcAddress(wine, "UpdateDriverForPlugAndPlayDevicesW") : nullptr;
    if (!found) {
        return FALSE;
    }
    // Through void (*)(), which the compilers accept between function types.
    const auto update = reinterpret_cast<Update>(reinterpret_cast<void (*)()>(found));
    const BOOL updated = update(parent, hardwareId, infPath, flags, restart);
    wchar_t plays[4] = L"";
    if (updated && restart && GetEnvironmentVariableW(L"ZELTRANE_SANDBOX_RESTART", plays, 4) == 1 &&
        wcscmp(plays, L"1") == 0) {
        *restart = TRUE;
    }
    return updated;
}

#ifndef _WIN64
extern "C" BOOL WINAPI DiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags,
                                          PBOOL needReboot) {
    if (!RefusedAsOn64BitWindows()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    Record(L"C:\\windows\\temp\\wow64-newdev.txt", parent, nullptr, infPath, flags, needReboot);
    SetLastError(ERROR_IN_WOW64);
    return FALSE;
}
#endif
