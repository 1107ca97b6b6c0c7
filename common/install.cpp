#include "install.h"

#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

#include "attended.h"
#include "device_state.h"
#include "last_error.h"
#ifdef ZELTRANE_HANDS_OVER
#include "handover.h"
#endif

namespace {

// How long a run that no one can answer waits for the installations under
// way to end before it stages anything.
constexpr DWORD kPendingMilliseconds = 60000;

}  // namespace

DWORD InstallDriver(const wchar_t* infPath, const wchar_t* hardwareId) {
    return InstallDriverAs(infPath, hardwareId, Installer::kZeltrane);
}

DWORD InstallDriverAs(const wchar_t* infPath, const wchar_t* hardwareId,
                      [[maybe_unused]] Installer installer) {
    DWORD result = ERROR_SUCCESS;
    // Where no one can answer, the Setup API fails what it would ask, and the
    // update leaves a restart to its caller, which it otherwise asks for.
    const bool attended = SomeoneCanAnswer();
    BOOL restart = FALSE;
    if (!attended) {
        SetupSetNonInteractiveMode(TRUE);
        // Another installation under way (a setup, Windows Update): the
        // caller's tools retry on 1618, which beats racing it.
        if (CMP_WaitNoPendingInstallEvents(kPendingMilliseconds) == WAIT_TIMEOUT) {
            return ERROR_INSTALL_ALREADY_RUNNING;
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
            return HandOverToNativeBuild(
                installer == Installer::kZeltraneCreate ? L"ZeltraneCreate.exe" : L"Zeltrane.exe");
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
