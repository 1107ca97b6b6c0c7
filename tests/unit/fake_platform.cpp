#include "fake_platform.h"

FakePlatform fake;

HWND FakeDesktopWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10010)); }

namespace {

BOOL Complete(const Outcome& outcome) {
    fake.lastError = outcome.fails ? outcome.error : kLastErrorNoise;
    return outcome.fails ? FALSE : TRUE;
}

}  // namespace

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    fake.order.push_back("MessageBoxW");
    fake.boxes.push_back({hWnd, lpText, lpCaption, uType});
    fake.lastError = kLastErrorNoise;
    return 1;
}

HWND WINAPI GetDesktopWindow() {
    fake.order.push_back("GetDesktopWindow");
    fake.lastError = kLastErrorNoise;
    return FakeDesktopWindow();
}

DWORD WINAPI GetLastError() { return fake.lastError; }

BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
                             DWORD OEMSourceMediaType, DWORD CopyStyle,
                             PWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PWSTR* DestinationInfFileNameComponent) {
    fake.order.push_back("SetupCopyOEMInfW");
    fake.copies.push_back({SourceInfFileName, OEMSourceMediaLocation, OEMSourceMediaType, CopyStyle,
                           DestinationInfFileName, DestinationInfFileNameSize, RequiredSize,
                           DestinationInfFileNameComponent});
    return Complete(fake.copy);
}

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId,
                                               LPCWSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired) {
    fake.order.push_back("UpdateDriverForPlugAndPlayDevicesW");
    fake.updates.push_back({hwndParent, HardwareId, FullInfPath, InstallFlags, bRebootRequired});
    return Complete(fake.update);
}
