// The fakes of user32.dll: the message box and the desktop window.

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
