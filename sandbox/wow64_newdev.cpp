// newdev.dll as 64-bit Windows presents it to a 32-bit process, for the
// e2e-x86 sandbox: Wine itself never refuses 32-bit callers. Placed in the
// prefix's windows\syswow64 and chosen with the DLL override newdev=n,b, it
// refuses every device installation with ERROR_IN_WOW64, as the platform
// does, after adding a line with the call's arguments to
// C:\windows\temp\wow64-newdev.txt (UTF-8), so a test can see the call.

#include <windows.h>
// clang-format off
#include <setupapi.h>
// clang-format on

#include <stdio.h>

extern "C" BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND parent, LPCWSTR hardwareId,
                                                          LPCWSTR infPath, DWORD flags,
                                                          PBOOL restart) {
    static wchar_t line[8192];
    static char utf8[4 * 8192];
    swprintf(line, 8192, L"parent=0x%llX hardware_id=%ls inf_path=%ls flags=0x%lX reboot=0x%llX\n",
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(parent)),
             hardwareId ? hardwareId : L"(null)", infPath ? infPath : L"(null)", flags,
             static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(restart)));
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    FILE* record = _wfopen(L"C:\\windows\\temp\\wow64-newdev.txt", L"ab");
    if (record) {
        fwrite(utf8, 1, length > 0 ? length - 1 : 0, record);
        fclose(record);
    }
    SetLastError(ERROR_IN_WOW64);
    return FALSE;
}
