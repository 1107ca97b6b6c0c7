#pragma once

#include <windows.h>

// The 32-bit build's answer to 64-bit Windows, which installs devices for
// native callers only: starts the machine's native build from the folder of
// the running image, arm64\<imageName> on an ARM64 machine and
// x64\<imageName> on any other (the program's fixed name, whatever the file
// was started as), with this process's own command line, waits
// for it and returns its exit code. The native build runs in the system
// folder. Returns ERROR_IN_WOW64 when that image is
// not there, and the error of the step that failed when it cannot be started.
DWORD HandOverToNativeBuild(const wchar_t* imageName);
