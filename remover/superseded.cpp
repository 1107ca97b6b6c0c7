#include "superseded.h"

#include <setupapi.h>

#include "devices.h"
#include "file_name.h"
#include "inf_store.h"
#include "last_error.h"
#ifdef ZELTRANE_HANDS_OVER
#include "handover.h"
#endif

namespace {

// The published INF of the package staged from the INF, or the published
// INF itself, into `published` (MAX_PATH characters); empty where the
// package is not staged, and nothing is changed.
DWORD StagedPackage(const wchar_t* inf, wchar_t* published) {
    published[0] = L'\0';
    bool isPublished = false;
    DWORD error = IsPublishedInf(inf, isPublished);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (isPublished) {
        if (GetFileAttributesW(inf) == INVALID_FILE_ATTRIBUTES) {
            error = LastErrorOfFailedCall();
            return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
        }
        for (DWORD length = 0; length < MAX_PATH; ++length) {
            published[length] = inf[length];
            if (inf[length] == L'\0') {
                return ERROR_SUCCESS;
            }
        }
        published[0] = L'\0';
        return ERROR_FILENAME_EXCED_RANGE;
    }
    bool stagedNow = false;
    error = FindStagedInf(inf, published, stagedNow);
    if (error != ERROR_SUCCESS || !stagedNow) {
        return error;
    }
    // It was not staged, and this very call staged it: taking that copy
    // back leaves the machine as it was. Never forced: one that the
    // platform installed on a device meanwhile is staged and used now, and
    // stays, under its name.
    if (!SetupUninstallOEMInfW(FileNameOf(published), 0, nullptr)) {
        error = LastErrorOfFailedCall();
        return error == kInUse ? ERROR_SUCCESS : error;
    }
    published[0] = L'\0';
    return ERROR_SUCCESS;
}

DWORD RemoveSuperseded(const wchar_t* oldInf, const wchar_t* newInf) {
    static wchar_t oldPublished[MAX_PATH];
    static wchar_t newPublished[MAX_PATH];
    DWORD error = StagedPackage(oldInf, oldPublished);
    if (error != ERROR_SUCCESS || oldPublished[0] == L'\0') {
        return error;
    }
    error = StagedPackage(newInf, newPublished);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const wchar_t* name = FileNameOf(oldPublished);
    if (CompareStringOrdinal(name, -1, FileNameOf(newPublished), -1, TRUE) == CSTR_EQUAL) {
        return ERROR_SUCCESS;  // The new version's package is the same.
    }
    // Checked here first: not every implementation of the platform refuses
    // to delete a package that devices use.
    bool used = false;
    error = AnyDeviceInstalledFrom(name, used);
    if (error != ERROR_SUCCESS || used) {
        return used ? kInUse : error;
    }
    if (!SetupUninstallOEMInfW(name, 0, nullptr)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD RemoveSupersededPackage(const wchar_t* oldInf, const wchar_t* newInf) {
    const DWORD result = RemoveSuperseded(oldInf, newInf);
#ifdef ZELTRANE_HANDS_OVER
    if (result == ERROR_IN_WOW64) {
        return HandOverToNativeBuild(L"ZeltraneRemove.exe");
    }
#endif
    return result;
}
