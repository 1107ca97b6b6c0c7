#pragma once

#include <windows.h>

// The 32-bit build's answer to 64-bit Windows, which installs devices for
// 64-bit callers only: starts x64\Zeltrane.exe from the folder of the running
// image with this process's own command line, waits for it and returns its
// exit code. Returns ERROR_IN_WOW64 when that image is not there, and the
// error of the step that failed when it cannot be started.
DWORD HandOverToX64Build();
