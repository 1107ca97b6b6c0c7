#pragma once

#include <windows.h>

// The error of a platform call that has just returned failure. Must be called
// before any other platform call. A failure that left no error code still fails.
inline DWORD LastErrorOfFailedCall() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}
