// setupapi.dll as Windows answers, for the e2e sandboxes: Wine's own
// setupapi does the work, from a copy of Wine's setupapi.dll that the sandbox
// keeps beside this one as wine-setupapi.dll, to which every other function
// is forwarded (setupapi.def, made from Wine's at configure time), but for
// the staging of a driver package's catalog, which Windows documents
// otherwise than Wine does it. Placed in the prefix's system folders, chosen
// with the DLL override setupapi=n,b.
// - Windows keeps a staged package's catalog as
//   CatRoot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\oemNN.cat, beside the
//   published oemNN.inf. Wine copies it under the name that the INF gives it
//   (CatalogFile), so that every package whose catalog has that name shares
//   one file. Here, once Wine has staged a package, its catalog is moved to
//   the published INF's name, and a catalog that another package left under
//   Wine's name is put back.
// - Windows stages the same INF with another catalog (another signing)
//   under a name of its own, and names the staged copy of the INF and the
//   catalog both; Wine names the first copy of the INF's bytes. Where the
//   INF's bytes are staged more than once, or with another catalog, the copy
//   whose catalog is the INF's is named here; where none is, the INF is
//   staged under the next free oemN.inf, with its catalog and the PNF from
//   which Wine's SetupQueryInfOriginalFileInformationW reads the original
//   name.
// - Windows deletes a package's catalog with its INF (SetupUninstallOEMInfW):
//   here, after Wine's call, the catalog goes where the INF went.
// - Windows answers CMP_WaitNoPendingInstallEvents with WAIT_TIMEOUT where
//   a device installation is still under way when the time is up; Wine's
//   tracks none and answers at once. Where the run plays one under way (the
//   sandbox sets ZELTRANE_SANDBOX_PENDING=1 for it), the answer here is
//   WAIT_TIMEOUT, at once, with the time asked for in
//   C:\windows\temp\setupapi-pending.txt.
// A call answered here without Wine's SetupCopyOEMInfW adds a line with the
// INF and the name it answers (UTF-8) to C:\windows\temp\setupapi-staged.txt,
// so that a test can see it.

#include <stdio.h>
#include <wchar.h>

#include "record.h"
#include "setupapi-stand-in.h"

namespace {

using CopyOemInf = BOOL(WINAPI*)(PCWSTR, PCWSTR, DWORD, DWORD, PWSTR, DWORD, PDWORD, PWSTR*);
using UninstallOemInf = BOOL(WINAPI*)(PCWSTR, DWORD, PVOID);
using OpenInf = HINF(WINAPI*)(PCWSTR, PCWSTR, DWORD, PUINT);
using LineText = BOOL(WINAPI*)(PINFCONTEXT, HINF, PCWSTR, PCWSTR, PWSTR, DWORD, PDWORD);
using CloseInf = void(WINAPI*)(HINF);

// Wine's own function of that name, from its copy beside this DLL.
template <typename Function>
Function Wine(const char* name) {
    static HMODULE wine = nullptr;
    if (wine == nullptr) {
        wine = LoadLibraryW(L"wine-setupapi.dll");
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(wine, name)));
}

constexpr size_t kPath = MAX_PATH;

void CatalogFolder(wchar_t (&folder)[kPath]) {
    wchar_t system[kPath];
    GetSystemDirectoryW(system, kPath);
    swprintf(folder, kPath, L"%ls\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\", system);
}

// Where Windows keeps the catalog of the published INF at that path.
void StagedCatalog(const wchar_t* published, wchar_t (&catalog)[kPath]) {
    wchar_t folder[kPath];
    CatalogFolder(folder);
    const wchar_t* name = wcsrchr(published, L'\\') ? wcsrchr(published, L'\\') + 1 : published;
    swprintf(catalog, kPath, L"%ls%.*ls.cat", folder, static_cast<int>(wcslen(name) - 4), name);
}

// Whether the two files hold the same bytes.
bool SameFiles(const wchar_t* one, const wchar_t* other) {
    FILE* a = _wfopen(one, L"rb");
    FILE* b = _wfopen(other, L"rb");
    bool same = a != nullptr && b != nullptr;
    while (same) {
        const int x = fgetc(a);
        const int y = fgetc(b);
        same = x == y;
        if (x == EOF || y == EOF) {
            break;
        }
    }
    if (a) {
        fclose(a);
    }
    if (b) {
        fclose(b);
    }
    return same;
}

void Record(const wchar_t* inf, const wchar_t* answer) {
    wchar_t line[3 * kPath];
    swprintf(line, 3 * kPath, L"inf=%ls published=%ls\n", inf, answer);
    AddToRecord(L"C:\\windows\\temp\\setupapi-staged.txt", line);
}

// The answer for the published INF at that path, as the platform gives it.
BOOL Answer(const wchar_t* published, BOOL result, DWORD error, PWSTR dest, DWORD size,
            PDWORD required, PWSTR* filePart) {
    const DWORD length = static_cast<DWORD>(wcslen(published)) + 1;
    if (required) {
        *required = length;
    }
    if (dest) {
        if (size < length) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        wcscpy(dest, published);
        if (filePart) {
            *filePart = wcsrchr(dest, L'\\') + 1;
        }
    }
    SetLastError(error);
    return result;
}

// The copy of the INF's bytes in the INF folder that was staged with the
// catalog, into `published` (empty where none was), and the first copy
// whatever its catalog into `first`; how many copies the folder has.
int StagedCopies(const wchar_t* inf, const wchar_t* catalog, wchar_t (&published)[kPath],
                 wchar_t (&first)[kPath]) {
    wchar_t folder[kPath];
    GetWindowsDirectoryW(folder, kPath);
    wchar_t pattern[kPath];
    swprintf(pattern, kPath, L"%ls\\inf\\*.inf", folder);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern, &found);
    published[0] = L'\0';
    first[0] = L'\0';
    int copies = 0;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        wchar_t copy[kPath];
        swprintf(copy, kPath, L"%ls\\inf\\%ls", folder, found.cFileName);
        wchar_t itsCatalog[kPath];
        StagedCatalog(copy, itsCatalog);
        if (SameFiles(inf, copy)) {
            ++copies;
            if (first[0] == L'\0') {
                wcscpy(first, copy);
            }
            if (published[0] == L'\0' && SameFiles(catalog, itsCatalog)) {
                wcscpy(published, copy);
            }
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return copies;
}

// Stages the INF as Windows does where its bytes are staged with another
// catalog: the next free oemN.inf, its PNF as Wine writes one, its catalog.
bool StageAnotherCopy(const wchar_t* inf, const wchar_t* catalog, wchar_t (&published)[kPath]) {
    wchar_t folder[kPath];
    GetWindowsDirectoryW(folder, kPath);
    for (int number = 0; number < 10000; ++number) {
        swprintf(published, kPath, L"%ls\\inf\\oem%d.inf", folder, number);
        if (CopyFileW(inf, published, TRUE)) {
            wchar_t pnf[kPath];
            swprintf(pnf, kPath, L"%.*ls.pnf", static_cast<int>(wcslen(published) - 4), published);
            FILE* file = _wfopen(pnf, L"w");
            if (file) {
                fwprintf(file, L"Wine PNF header\n%ls", inf);
                fclose(file);
            }
            wchar_t itsCatalog[kPath];
            StagedCatalog(published, itsCatalog);
            return CopyFileW(catalog, itsCatalog, FALSE) != FALSE;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    return false;
}

// Wine's staging, with the caller's own arguments, so that Wine's trace
// shows them; then its catalog moved to the name of the INF's one copy, and
// a catalog that another package left under Wine's name kept there.
BOOL StageThroughWine(PCWSTR source, PCWSTR location, DWORD media, DWORD style, PWSTR dest,
                      DWORD size, PDWORD required, PWSTR* filePart, const wchar_t* catalog,
                      const wchar_t* catalogName) {
    wchar_t folder[kPath];
    CatalogFolder(folder);
    wchar_t wineCatalog[kPath];
    wchar_t kept[kPath];
    swprintf(wineCatalog, kPath, L"%ls%ls", folder, catalogName);
    swprintf(kept, kPath, L"%ls.kept", wineCatalog);
    const bool keeping = MoveFileExW(wineCatalog, kept, MOVEFILE_REPLACE_EXISTING) != FALSE;
    const BOOL staged = Wine<CopyOemInf>("SetupCopyOEMInfW")(source, location, media, style, dest,
                                                             size, required, filePart);
    const DWORD error = GetLastError();
    wchar_t published[kPath];
    wchar_t copy[kPath];
    if (staged && StagedCopies(source, catalog, published, copy) == 1) {
        wchar_t itsCatalog[kPath];
        StagedCatalog(copy, itsCatalog);
        if (_wcsicmp(itsCatalog, wineCatalog) != 0) {
            MoveFileExW(wineCatalog, itsCatalog, MOVEFILE_REPLACE_EXISTING);
        }
    }
    if (keeping) {
        MoveFileExW(kept, wineCatalog, 0);
        DeleteFileW(kept);
    }
    SetLastError(error);
    return staged;
}

}  // namespace

bool CatalogName(const wchar_t* inf, wchar_t (&name)[MAX_PATH]) {
    const HINF opened = Wine<OpenInf>("SetupOpenInfFileW")(inf, nullptr, INF_STYLE_WIN4, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL found = Wine<LineText>("SetupGetLineTextW")(nullptr, opened, L"Version",
                                                           L"CatalogFile", name, MAX_PATH, nullptr);
    Wine<CloseInf>("SetupCloseInfFile")(opened);
    return found && name[0] != L'\0';
}

extern "C" BOOL WINAPI SetupCopyOEMInfW(PCWSTR source, PCWSTR location, DWORD media, DWORD style,
                                        PWSTR dest, DWORD size, PDWORD required, PWSTR* filePart) {
    wchar_t catalogName[kPath];
    if (source == nullptr || !CatalogName(source, catalogName)) {
        return Wine<CopyOemInf>("SetupCopyOEMInfW")(source, location, media, style, dest, size,
                                                    required, filePart);
    }
    wchar_t catalog[kPath];
    swprintf(catalog, kPath, L"%.*ls%ls", static_cast<int>(wcsrchr(source, L'\\') + 1 - source),
             source, catalogName);
    if (GetFileAttributesW(catalog) == INVALID_FILE_ATTRIBUTES) {
        return Wine<CopyOemInf>("SetupCopyOEMInfW")(source, location, media, style, dest, size,
                                                    required, filePart);
    }
    // Where the INF's bytes are staged once, with its catalog, Wine names
    // that copy as Windows does, and answers itself; where they are staged
    // with another catalog, or more than once, the answer is Windows' own.
    wchar_t published[kPath];
    wchar_t first[kPath];
    const int copies = StagedCopies(source, catalog, published, first);
    if (copies > 1 || (copies == 1 && published[0] == L'\0')) {
        if (published[0] != L'\0') {
            Record(source, published);
            return (style & SP_COPY_NOOVERWRITE) != 0
                       ? Answer(published, FALSE, ERROR_FILE_EXISTS, dest, size, required, filePart)
                       : Answer(published, TRUE, ERROR_SUCCESS, dest, size, required, filePart);
        }
        if (!StageAnotherCopy(source, catalog, published)) {
            return FALSE;
        }
        Record(source, published);
        return Answer(published, TRUE, ERROR_SUCCESS, dest, size, required, filePart);
    }
    return StageThroughWine(source, location, media, style, dest, size, required, filePart, catalog,
                            catalogName);
}

extern "C" BOOL WINAPI SetupUninstallOEMInfW(PCWSTR name, DWORD flags, PVOID reserved) {
    const BOOL removed = Wine<UninstallOemInf>("SetupUninstallOEMInfW")(name, flags, reserved);
    const DWORD error = GetLastError();
    wchar_t folder[kPath];
    GetWindowsDirectoryW(folder, kPath);
    wchar_t published[kPath];
    swprintf(published, kPath, L"%ls\\inf\\%ls", folder, name ? name : L"");
    if (removed && name && wcslen(name) > 4 &&
        GetFileAttributesW(published) == INVALID_FILE_ATTRIBUTES) {
        wchar_t catalog[kPath];
        StagedCatalog(published, catalog);
        DeleteFileW(catalog);
    }
    SetLastError(error);
    return removed;
}

extern "C" DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD timeout) {
    wchar_t plays[4] = L"";
    if (GetEnvironmentVariableW(L"ZELTRANE_SANDBOX_PENDING", plays, 4) == 1 &&
        wcscmp(plays, L"1") == 0) {
        wchar_t line[64];
        swprintf(line, 64, L"timeout=%lu\n", static_cast<unsigned long>(timeout));
        AddToRecord(L"C:\\windows\\temp\\setupapi-pending.txt", line);
        return WAIT_TIMEOUT;
    }
    using Wait = DWORD(WINAPI*)(DWORD);
    return Wine<Wait>("CMP_WaitNoPendingInstallEvents")(timeout);
}
