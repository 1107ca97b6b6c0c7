#include "inf_store.h"

// clang-format off
#include <setupapi.h>
// clang-format on

#include "file_name.h"
#include "last_error.h"

DWORD InfFolder(wchar_t (&folder)[MAX_PATH]) {
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0) {
        return LastErrorOfFailedCall();
    }
    const wchar_t kInfFolder[] = L"\\INF\\";
    constexpr UINT kInfFolderLength = 5;
    if (length + kInfFolderLength >= MAX_PATH) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    for (UINT i = 0; i <= kInfFolderLength; ++i) {
        folder[length + i] = kInfFolder[i];
    }
    return ERROR_SUCCESS;
}

DWORD IsPublishedInf(const wchar_t* infPath, bool& published) {
    wchar_t folder[MAX_PATH];
    const DWORD error = InfFolder(folder);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const wchar_t* name = FileNameOf(infPath);
    const int folderLength = static_cast<int>(name - infPath);
    published = CompareStringOrdinal(infPath, folderLength, folder, -1, TRUE) == CSTR_EQUAL;
    return ERROR_SUCCESS;
}

DWORD FindStagedInf(const wchar_t* inf, wchar_t* published, bool& stagedNow) {
    published[0] = L'\0';
    stagedNow = SetupCopyOEMInfW(inf, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, published, MAX_PATH,
                                 nullptr, nullptr) != FALSE;
    if (stagedNow) {
        return ERROR_SUCCESS;
    }
    const DWORD error = LastErrorOfFailedCall();
    return error == ERROR_FILE_EXISTS && published[0] != L'\0' ? ERROR_SUCCESS : error;
}
