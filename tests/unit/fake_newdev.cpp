// The fakes of newdev.dll: the driver's update and its uninstallation.

#include "fake_internal.h"

BOOL WINAPI FakeDiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot) {
    fake.order.push_back("DiUninstallDriverW");
    fake.uninstallDriverCalls.push_back({parent, infPath, flags, needReboot != nullptr});
    if (!fake.uninstallDriver.fails && needReboot != nullptr) {
        *needReboot = fake.needReboot;
    }
    return Complete(fake.uninstallDriver);
}

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId,
                                               LPCWSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired) {
    fake.order.push_back("UpdateDriverForPlugAndPlayDevicesW");
    fake.updates.push_back({hwndParent, HardwareId, FullInfPath, InstallFlags, bRebootRequired});
    if (bRebootRequired != nullptr) {
        *bRebootRequired = fake.updateRestart;
    }
    return Complete(fake.update);
}
