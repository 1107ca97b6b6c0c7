#pragma once

// Shows a program's usage text in a modal box with one OK button and the
// fixed caption, and waits for it to be dismissed.
void ShowUsageBox(const wchar_t* text);
