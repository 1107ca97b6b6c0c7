#pragma once

#include <windows.h>

// Makes every DLL that this process loads from now on (the platform's class
// and co-installers, themes) come from System32 only, never from the
// program's folder or the current folder, where another user could have put
// one. Called first, before any other platform call that may load a DLL.
// Where the platform lacks SetDefaultDllDirectories (Windows Vista, and 7
// without update KB2533623), the process searches as the platform does by
// default.
void LoadDllsFromSystem32Only();
