#include "install.h"

#include <newdev.h>
#include <setupapi.h>

#include "attended.h"
#include "device_state.h"
#include "last_error.h"
#include "unattended.h"
#ifdef ZELTRANE_HANDS_OVER
#include "handover.h"
#endif

DWORD InstallDriver(const wchar_t* infPath, const wchar_t* hardwareId) {
    return InstallDriverAs(infPath, hardwareId, Installer::kZeltrane);
}

DWORD InstallDriverAs(const wchar_t* infPath, const wchar_t* hardwareId,
                      [[maybe_unused]] Installer installer) {
    DWORD result = ERROR_SUCCESS;
    // Where no one can answer, nothing is staged that would ask a question
    // (unattended.h), and the update leaves a restart to its caller, which
    // it otherwise asks for.
    const bool attended = SomeoneCanAnswer();
    BOOL restart = FALSE;
    if (!attended) {
        const DWORD prepared = PrepareUnattendedInstall(infPath);
        if (prepared != ERROR_SUCCESS) {
            return prepared;
        }
    }

    if (!SetupCopyOEMInfW(infPath, nullptr, SPOST_PATH, 0, nullptr, 0, nullptr, nullptr)) {
        result = LastErrorOfFailedCall();
    }

    // The update stages the INF itself, so a failed copy does not stop it.
    const HWND parent = GetDesktopWindow();
    if (!UpdateDriverForPlugAndPlayDevicesW(parent, hardwareId, infPath, INSTALLFLAG_FORCE,
                                            attended ? nullptr : &restart)) {
        const DWORD error = LastErrorOfFailedCall();
#ifdef ZELTRANE_HANDS_OVER
        // 64-bit Windows refuses device installation to 32-bit callers: the
        // machine's native build makes it, and its exit code is the result.
        if (error == ERROR_IN_WOW64) {
            return installer == Installer::kZeltrane ? HandOverToNativeBuild(L"Zeltrane.exe")
                                                     : error;
        }
#endif
        if (result == ERROR_SUCCESS) {
            result = error;
        }
    }
    // Installed means running: what the devices report decides the result,
    // and a restart that the update asked for counts as theirs does.
    if (result == ERROR_SUCCESS) {
        result = StateOfDevices(hardwareId);
    }
    if (result == ERROR_SUCCESS && restart) {
        result = ERROR_SUCCESS_REBOOT_REQUIRED;
    }
    return result;
}
