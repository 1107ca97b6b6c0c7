#include "handover.h"

#include <setupapi.h>

#include "last_error.h"

namespace {

// The longest path and the longest command line the platform allows, with
// their terminating NUL.
constexpr DWORD kCapacity = 32768;

// Where a release keeps the x64 build, relative to the 32-bit image's folder.
const wchar_t kX64Build[] = L"x64\\Zeltrane.exe";
constexpr DWORD kX64BuildLength = sizeof kX64Build / sizeof kX64Build[0] - 1;

// Puts the full path of the x64 build into path (kCapacity characters), from
// the running image's own path: never the search path or the current folder.
DWORD FindX64Build(wchar_t* path) {
    const DWORD length = GetModuleFileNameW(nullptr, path, kCapacity);
    if (length == 0) {
        return LastErrorOfFailedCall();
    }
    if (length >= kCapacity) {
        return ERROR_INSUFFICIENT_BUFFER;  // Truncated: not the image's path.
    }
    DWORD folder = length;
    while (folder > 0 && path[folder - 1] != L'\\') {
        --folder;
    }
    if (folder == 0) {
        return ERROR_BAD_PATHNAME;  // No folder: would name the current one.
    }
    if (folder + kX64BuildLength >= kCapacity) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    for (DWORD i = 0; i <= kX64BuildLength; ++i) {
        path[folder + i] = kX64Build[i];
    }
    return ERROR_SUCCESS;
}

// Copies this process's command line into line (kCapacity characters), which
// the start may write to, so that the x64 build gets exactly the same arguments.
DWORD CopyOwnCommandLine(wchar_t* line) {
    const wchar_t* own = GetCommandLineW();
    DWORD length = 0;
    while (own[length] != L'\0') {
        if (length + 1 >= kCapacity) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        line[length] = own[length];
        ++length;
    }
    line[length] = L'\0';
    return ERROR_SUCCESS;
}

// Waits for the started build to end; its exit code, or the error of the wait.
DWORD ExitCodeOf(HANDLE process) {
    if (WaitForSingleObject(process, INFINITE) == WAIT_FAILED) {
        return LastErrorOfFailedCall();
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode)) {
        return LastErrorOfFailedCall();
    }
    return exitCode;
}

}  // namespace

DWORD HandOverToX64Build() {
    // Static, not on the stack: 64 KiB each, and the image carries them as
    // uninitialised data, not on disk.
    static wchar_t imagePath[kCapacity];
    static wchar_t commandLine[kCapacity];
    DWORD error = FindX64Build(imagePath);
    if (error == ERROR_SUCCESS) {
        error = CopyOwnCommandLine(commandLine);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(imagePath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        error = LastErrorOfFailedCall();
        // A package without its x64 folder still says why nothing was installed.
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? ERROR_IN_WOW64 : error;
    }
    const DWORD result = ExitCodeOf(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return result;
}
