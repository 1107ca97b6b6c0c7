#pragma once

// Shows a program's usage text in a modal box with one OK button and the
// fixed caption, and waits for it to be dismissed; where no one can answer
// it (attended.h), shows nothing and returns at once.
void ShowUsageBox(const wchar_t* text);
