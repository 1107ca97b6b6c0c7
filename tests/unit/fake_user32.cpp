// The fakes of user32.dll: the message box, the desktop window and the
// process's window station.

#include "fake_internal.h"

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

HWINSTA WINAPI GetProcessWindowStation() {
    fake.lastError = kLastErrorNoise;
    return fake.stationFound ? reinterpret_cast<HWINSTA>(&fake.stationFlags) : nullptr;
}

BOOL WINAPI GetUserObjectInformationW(HANDLE hObj, int nIndex, LPVOID pvInfo, DWORD nLength,
                                      LPDWORD lpnLengthNeeded) {
    *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
    if (hObj != &fake.stationFlags || nIndex != UOI_FLAGS || nLength < sizeof(USEROBJECTFLAGS)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    static_cast<USEROBJECTFLAGS*>(pvInfo)->dwFlags = fake.stationFlags;
    return Complete(fake.stationRead);
}
