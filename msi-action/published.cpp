#include "published.h"

#include "catalog.h"
#include "file_name.h"
#include "inf_store.h"
#include "last_error.h"
#include "session.h"

namespace {

// The largest INF whose staged copy is found by its bytes, and one byte more.
constexpr DWORD kInfCapacity = 8 * 1024 * 1024 + 1;

// Reads a whole file of less than `capacity` bytes into data, its size into
// size; a larger one is refused, never cut.
DWORD ReadWhole(const wchar_t* path, BYTE* data, DWORD capacity, DWORD& size) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    size = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ReadFile(file, data, capacity, &size, nullptr)) {
        error = LastErrorOfFailedCall();
    } else if (size == capacity) {
        error = ERROR_FILE_TOO_LARGE;
    }
    CloseHandle(file);
    return error;
}

// The comparison that the platform makes, made here: the INF folder's copy
// whose bytes are the INF's, as the platform publishes an INF, and that was
// staged with one of the package's catalogs, into `published`.
DWORD FindPublishedCopy(const wchar_t* inf, const Package& package, Text& published,
                        Text& catalog) {
    static BYTE ours[kInfCapacity];
    static BYTE theirs[kInfCapacity];
    DWORD ourSize = 0;
    DWORD error = ReadWhole(inf, ours, kInfCapacity, ourSize);
    static Text folder;
    if (error == ERROR_SUCCESS) {
        error = PublishedPath(L"", folder);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Clear(published);
    Append(published, folder.data);
    Append(published, L"*.inf");
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW(published.data, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    error = ERROR_FILE_NOT_FOUND;
    do {
        DWORD theirSize = 0;
        if (found.nFileSizeLow != ourSize) {
            continue;
        }
        Clear(published);
        Append(published, folder.data);
        Append(published, found.cFileName);
        if (ReadWhole(published.data, theirs, kInfCapacity, theirSize) == ERROR_SUCCESS &&
            theirSize == ourSize && SameBytes(ours, theirs, ourSize) &&
            StagedWithItsCatalog(package, found.cFileName, catalog)) {
            error = ERROR_SUCCESS;
        }
    } while (error != ERROR_SUCCESS && FindNextFileW(search, &found));
    FindClose(search);
    return error;
}

}  // namespace

DWORD PublishedPath(const wchar_t* name, Text& path) {
    wchar_t folder[MAX_PATH];
    const DWORD error = InfFolder(folder);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Clear(path);
    Append(path, folder);
    Append(path, name);
    return ERROR_SUCCESS;
}

DWORD FindPublishedName(const wchar_t* inf, const Package& package, Text& published,
                        Text& catalog) {
    Clear(published);
    bool stagedNow = false;
    const DWORD error = FindStagedInf(inf, published.data, stagedNow);
    // Where 64-bit Windows refuses the look-up to this 32-bit process, or
    // the platform names a copy of the INF that another catalog came with
    // (an implementation that compares the INF alone), the copies are
    // compared here.
    if (error == ERROR_IN_WOW64 ||
        (error == ERROR_SUCCESS &&
         !StagedWithItsCatalog(package, FileNameOf(published.data), catalog))) {
        return FindPublishedCopy(inf, package, published, catalog);
    }
    return error;
}

DWORD OriginalName(const wchar_t* published, SP_ORIGINAL_FILE_INFO_W& original) {
    struct InfInformation {
        SP_INF_INFORMATION header;
        BYTE versionData[kCapacity];
    };
    static InfInformation information;
    if (!SetupGetInfInformationW(published, INFINFO_INF_NAME_IS_ABSOLUTE, &information.header,
                                 sizeof information, nullptr)) {
        return LastErrorOfFailedCall();
    }
    original = {};
    original.cbSize = sizeof original;
    if (!SetupQueryInfOriginalFileInformationW(&information.header, 0, nullptr, &original)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

Recorded CheckRecordedPackage(MSIHANDLE install, const wchar_t* name, const wchar_t* infName,
                              Text& published) {
    DWORD error = PublishedPath(name, published);
    SP_ORIGINAL_FILE_INFO_W original = {};
    if (error == ERROR_SUCCESS) {
        error = OriginalName(published.data, original);
    }
    static Text line;
    Clear(line);
    Append(line, L"the recorded package \"");
    Append(line, name);
    if (error == ERROR_FILE_NOT_FOUND) {
        Append(line, L"\" is no longer staged: nothing to remove");
        Log(install, line);
        return Recorded::kGone;
    }
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot read the original name of the staged package", error);
        return Recorded::kUnreadable;
    }
    if (CompareStringOrdinal(original.OriginalInfName, -1, infName, -1, TRUE) != CSTR_EQUAL) {
        Append(line, L"\" is now the package of \"");
        Append(line, original.OriginalInfName);
        Append(line, L"\", not of \"");
        Append(line, infName);
        Append(line, L"\": nothing removed");
        Log(install, line);
        return Recorded::kAnothers;
    }
    return Recorded::kOurs;
}
