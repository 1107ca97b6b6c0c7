#include "install.h"

#include <newdev.h>
#include <setupapi.h>

namespace {

// The error of a call that has just returned FALSE. Must be called before
// any other platform call. A failure that left no error code still fails.
DWORD LastErrorOfFailedCall() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

}  // namespace

DWORD InstallDriver(const wchar_t* infPath, const wchar_t* hardwareId) {
    DWORD result = ERROR_SUCCESS;

    if (!SetupCopyOEMInfW(infPath, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
        result = LastErrorOfFailedCall();
    }

    // The update stages the INF itself, so a failed copy does not stop it.
    const HWND parent = GetDesktopWindow();
    if (!UpdateDriverForPlugAndPlayDevicesW(parent, hardwareId, infPath, INSTALLFLAG_FORCE,
                                            nullptr)) {
        const DWORD error = LastErrorOfFailedCall();
        if (result == ERROR_SUCCESS) {
            result = error;
        }
    }
    return result;
}
