#include "usage_box.h"

#include <windows.h>

#include "attended.h"

void ShowUsageBox(const wchar_t* text) {
    // A box that no one can see would wait for ever.
    if (SomeoneCanAnswer()) {
        MessageBoxW(nullptr, text, L"Program Usage", MB_OK);
    }
}
