#include "unattended.h"

#include <cfgmgr32.h>
#include <setupapi.h>

#include "last_error.h"
#include "platform_function.h"

namespace {

// How long a run that no one can answer waits for the installations under
// way to end before it stages anything.
constexpr DWORD kPendingMilliseconds = 60000;

// SP_INF_SIGNER_INFO_V2_W, as Windows Vista and later document it; the
// headers that the project builds with have only its first version.
struct InfSignerInfoV2 {
    DWORD cbSize;
    WCHAR CatalogFile[MAX_PATH];
    WCHAR DigitalSigner[MAX_PATH];
    WCHAR DigitalSignerVersion[MAX_PATH];
    DWORD SignerScore;
};

using VerifyInfFile = BOOL(WINAPI*)(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatformInfo,
                                    InfSignerInfoV2* infSignerInfo);

// The platform's verdict on the signature of the package of the INF.
DWORD SignatureVerdict(const wchar_t* infPath) {
    const VerifyInfFile verify =
        PlatformFunction<VerifyInfFile>(GetModuleHandleW(L"setupapi.dll"), "SetupVerifyInfFileW");
    if (verify == nullptr) {
        return ERROR_SUCCESS;
    }
    InfSignerInfoV2 signer = {};
    signer.cbSize = sizeof signer;
    if (verify(infPath, nullptr, &signer)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = LastErrorOfFailedCall();
    // Signed by a publisher that the machine trusts: installed without a question.
    return error == ERROR_AUTHENTICODE_TRUSTED_PUBLISHER ? ERROR_SUCCESS : error;
}

}  // namespace

DWORD PrepareUnattendedInstall(const wchar_t* infPath) {
    SetupSetNonInteractiveMode(TRUE);
    if (CMP_WaitNoPendingInstallEvents(kPendingMilliseconds) == WAIT_TIMEOUT) {
        return ERROR_INSTALL_ALREADY_RUNNING;
    }
    return SignatureVerdict(infPath);
}
