#include "handover.h"

#include <setupapi.h>

#include "last_error.h"
#include "platform_function.h"

namespace {

// The longest path and the longest command line the platform allows, with
// their terminating NUL.
constexpr DWORD kCapacity = 32768;

// Where a release keeps the native builds, relative to the 32-bit image's folder.
const wchar_t kX64Folder[] = L"x64\\";
const wchar_t kArm64Folder[] = L"arm64\\";

// IsWow64Process2, as the platform documents it. It exists only from Windows
// 10 version 1511, and this image must load on every 32-bit Windows: so it is
// looked up when a hand-over needs it.
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine,
                                              USHORT* nativeMachine);

// Whether the machine itself is ARM64, where this image runs emulated. A
// Windows without IsWow64Process2 is older than every ARM64 Windows.
bool MachineIsArm64() {
    const auto isWow64Process2 = PlatformFunction<IsWow64Process2Function>(
        GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2");
    if (isWow64Process2 == nullptr) {
        return false;
    }
    USHORT process = 0;
    USHORT native = 0;
    return isWow64Process2(GetCurrentProcess(), &process, &native) &&
           native == IMAGE_FILE_MACHINE_ARM64;
}

// Appends text to path at length (kCapacity characters in all); the new
// length, or kCapacity where the text and its NUL do not fit.
DWORD Append(wchar_t* path, DWORD length, const wchar_t* text) {
    if (length >= kCapacity) {
        return kCapacity;
    }
    for (DWORD i = 0; text[i] != L'\0'; ++i, ++length) {
        if (length + 1 >= kCapacity) {
            return kCapacity;
        }
        path[length] = text[i];
    }
    path[length] = L'\0';
    return length;
}

// Puts the full path of the build (the image's name in a folder beside the
// running image) into path (kCapacity characters), from the running image's
// own path: never the search path or the current folder.
DWORD FindNativeBuild(const wchar_t* buildFolder, const wchar_t* imageName, wchar_t* path) {
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
    const DWORD end = Append(path, Append(path, folder, buildFolder), imageName);
    return end < kCapacity ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

// Copies this process's command line into line (kCapacity characters), which
// the start may write to, so that the native build gets exactly the same arguments.
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

DWORD HandOverToNativeBuild(const wchar_t* imageName) {
    // Static, not on the stack: 64 KiB each, and the image carries them as
    // uninitialised data, not on disk.
    static wchar_t imagePath[kCapacity];
    static wchar_t commandLine[kCapacity];
    DWORD error =
        FindNativeBuild(MachineIsArm64() ? kArm64Folder : kX64Folder, imageName, imagePath);
    if (error == ERROR_SUCCESS) {
        error = CopyOwnCommandLine(commandLine);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }

    // The child's current folder: the system folder, which only
    // administrators can write, never the caller's, where a DLL or a file
    // that the platform opens by a relative name could have been planted.
    wchar_t systemFolder[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH) {
        return systemLength == 0 ? LastErrorOfFailedCall() : ERROR_INSUFFICIENT_BUFFER;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(imagePath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, systemFolder,
                        &startup, &child)) {
        error = LastErrorOfFailedCall();
        // A package without the native build still says why nothing was installed.
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? ERROR_IN_WOW64 : error;
    }
    const DWORD result = ExitCodeOf(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return result;
}
