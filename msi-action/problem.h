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

// Adds what to do where the program refused the package because no one can
// answer (the custom action runs it as SYSTEM, with no one to see a
// window): a publisher that the machine does not trust (0xE0000242), one that
// it explicitly distrusts (0xE0000243), another installation under way
// (1618). Nothing for any other code.
void AppendWhatToDo(Text& text, DWORD exitCode);
