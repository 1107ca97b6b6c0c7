#include "usage_box.h"

#include <windows.h>

void ShowUsageBox(const wchar_t* text) { MessageBoxW(nullptr, text, L"Program Usage", MB_OK); }
