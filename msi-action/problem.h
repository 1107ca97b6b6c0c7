#pragma once

// What the programs' exit codes say of the devices after an installation:
// 3010 (a restart finishes it) and 0x20000000 + N (a device reports problem
// code N, as Device Manager shows it).

#include <windows.h>

#include "text.h"

constexpr DWORD kRestartNeeded = 3010;

// Whether the exit code says that a device cannot run the driver.
bool IsDeviceProblem(DWORD exitCode);

// Adds what a device problem's exit code says, for the log:
// "problem code N (<its meaning>)".
void AppendProblem(Text& text, DWORD exitCode);
