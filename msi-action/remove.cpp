#include "action.h"

// clang-format off
#include <msiquery.h>
// clang-format on

#include "catalog.h"
#include "file_name.h"
#include "owners.h"
#include "problem.h"
#include "published.h"
#include "record.h"
#include "run.h"
#include "session.h"
#include "superseded.h"
#include "text.h"

namespace {

// Runs ZeltraneRemove.exe on the published INF and decides from its code.
UINT RunRemoval(MSIHANDLE install, const Text& key, const wchar_t* published) {
    static Text arguments;
    Clear(arguments);
    AppendArgument(arguments, published);
    static ProgramRun run;
    Clear(run.line);
    Append(run.line, L"removal of \"");
    Append(run.line, published);
    DWORD exitCode = 0;
    if (!RunCarried(install, kZeltraneRemove, arguments, run, exitCode)) {
        return ERROR_INSTALL_FAILURE;
    }
    if (exitCode == ERROR_SUCCESS) {
        Append(run.line, L", the driver package is off its devices and out of the driver store");
        Log(install, run.line);
        return ERROR_SUCCESS;
    }
    if (exitCode != kRestartNeeded) {
        Append(run.line, L", the driver was not removed: the product stays installed");
        Log(install, run.line);
        return ERROR_INSTALL_FAILURE;
    }
    Append(run.line, L", the platform finishes the removal after a restart");
    Log(install, run.line);
    // The driver is off its devices: the removal goes on, and only the
    // restart request can be lost, which the log then says.
    const DWORD needed = 1;
    if (SetProductValue(key, kRestartValue, REG_DWORD, &needed, sizeof needed) != ERROR_SUCCESS) {
        Log(install, L"cannot pass the restart request on: restart Windows to finish");
    }
    return ERROR_SUCCESS;
}

// Whether the published package is still the one that this product
// installed, by its INF's bytes and its catalog, where the installation
// recorded them: the platform gives a name that a package left to a later
// package of the same INF name, or of the same INF with another catalog
// (kAnothers, logged). Its record in `record`.
Recorded StillOurs(MSIHANDLE install, const Text& key, const wchar_t* published, Text& record) {
    static Text own;
    const bool recorded = RecordedOwnPackage(key, own);
    const DWORD error = PublishedRecord(published, record);
    if (error != ERROR_SUCCESS) {
        LogPathError(install, L"cannot read the staged package's INF", published, error);
        return Recorded::kUnreadable;
    }
    if ((recorded && !Same(own.data, record.data)) ||
        !StagedWithRecordedCatalog(key, FileNameOf(published))) {
        LogNaming(install, L"the recorded package", published,
                  L" is no longer the package that this product installed: nothing removed");
        return Recorded::kAnothers;
    }
    return Recorded::kOurs;
}

// Takes back the package that the installation recorded, and no other: the
// recorded name must still be the package of the INF that this product
// installed, by its original name and its bytes; and where another product
// still uses it (owners.h), it stays, and only this product's use goes.
UINT RemoveRecordedPackage(MSIHANDLE install, const Text& key, const wchar_t* inf) {
    // The INF's own name, where the MSI names it with the folder it has in
    // the package.
    const wchar_t* infName = FileNameOf(inf);
    static wchar_t name[MAX_PATH];
    name[0] = L'\0';
    const LSTATUS status =
        ReadProductValue(key, kPublishedValue, REG_SZ, static_cast<BYTE*>(static_cast<void*>(name)),
                         (MAX_PATH - 1) * sizeof(wchar_t));
    if (status == ERROR_FILE_NOT_FOUND) {
        Log(install, L"no driver package is recorded for this product: nothing to remove");
        return ERROR_SUCCESS;
    }
    // Only a plain INF file name names a file in the INF folder and no other.
    if (status != ERROR_SUCCESS || !IsPublishedName(name)) {
        LogError(install, L"cannot read the recorded name of the staged package",
                 status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return ERROR_INSTALL_FAILURE;
    }
    static Text published;
    const Recorded recorded = CheckRecordedPackage(install, name, infName, published);
    if (recorded == Recorded::kUnreadable) {
        return ERROR_INSTALL_FAILURE;
    }
    // The older versions' packages first, while this one's devices still
    // use this version's; and whatever became of this one's, which another
    // removal may have taken.
    const wchar_t* owner = FileNameOf(key.data);
    RemoveRecordedSuperseded(install, key, {infName, published.data, owner});
    if (recorded != Recorded::kOurs) {
        return ERROR_SUCCESS;
    }
    static Text record;
    const Recorded still = StillOurs(install, key, published.data, record);
    if (still != Recorded::kOurs) {
        return still == Recorded::kUnreadable ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
    }
    static Text users;
    const Owners self = {owner, L""};
    OtherUsers(record, name, self, users);
    if (users.length != 0) {
        TakeOwnersOff(record, self);
        static Text line;
        Clear(line);
        Append(line, L"the driver package \"");
        Append(line, published.data);
        Append(line, L"\" stays installed and staged: it is still used by ");
        Append(line, users.data);
        Log(install, line);
        return ERROR_SUCCESS;
    }
    const UINT removed = RunRemoval(install, key, published.data);
    if (removed == ERROR_SUCCESS) {
        TakeOwnersOff(record, self);
    }
    return removed;
}

// After the removal: where older packages stay staged that it could not
// take (SupersededInf), the record stays with only them and the product
// line's UpgradeCode (record.h); true where it stays.
bool LeaveRecord(MSIHANDLE install, const Text& key) {
    BYTE names[2];
    static wchar_t line[kNameCapacity];
    DWORD size = kNameCapacity;
    const LSTATUS status = ReadProductValue(key, kSupersededValue, REG_SZ, names, sizeof names);
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (MsiGetPropertyW(install, L"UpgradeCode", line, &size) != ERROR_SUCCESS ||
        SetProductValue(key, kLeftValue, REG_SZ, line, (Length(line) + 1) * sizeof(wchar_t)) !=
            ERROR_SUCCESS) {
        Log(install, L"cannot keep the record of the older packages that stay staged");
        return false;
    }
    const wchar_t* const installed[] = {kPublishedValue, kPackageValue, kCatalogValue,
                                        kRestartValue};
    for (const wchar_t* value : installed) {
        DeleteProductValue(key, value);
    }
    return true;
}

}  // namespace

// Reads its CustomActionData, which the MSI sets before it as
//   <the INF's own file name>|<remove or keep>
extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install) {
    wchar_t* infName = ReadData(install);
    if (infName == nullptr) {
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t* setting = SplitAt(infName, L'|');
    if (setting == nullptr || SplitAt(setting, L'|') != nullptr) {
        Log(install, L"CustomActionData is not <INF name>|<setting>");
        return ERROR_INSTALL_FAILURE;
    }
    const bool keep = Same(setting, L"keep");
    if (!keep && !Same(setting, L"remove")) {
        Log(install, L"ZELTRANE_ON_UNINSTALL is neither remove nor keep");
        return ERROR_INSTALL_FAILURE;
    }
    static Text key;
    if (!ProductKey(install, key)) {
        return ERROR_INSTALL_FAILURE;
    }
    // The restart request is this removal's own: whatever an earlier one
    // left goes first.
    const LSTATUS cleared = DeleteProductValue(key, kRestartValue);
    if (cleared != ERROR_SUCCESS) {
        LogError(install, L"cannot clear an earlier restart request", static_cast<DWORD>(cleared));
        return ERROR_INSTALL_FAILURE;
    }
    if (keep) {
        // Kept, the package is no longer this product's: another's removal
        // may take it.
        static Text record;
        if (RecordedOwnPackage(key, record)) {
            TakeOwnersOff(record, {FileNameOf(key.data), L""});
        }
        Log(install,
            L"ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package staged");
        return ERROR_SUCCESS;
    }
    return RemoveRecordedPackage(install, key, infName);
}

// Immediate, after the script: reads the restart request that the
// installation or the removal left, asks for the restart where there is one
// (a deferred action may not call MsiSetMode) and takes the request away;
// after a removal, deletes the product's key, and its parents where they
// hold no other product.
extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install) {
    static Text key;
    if (!ProductKey(install, key)) {
        return ERROR_SUCCESS;
    }
    DWORD needed = 0;
    const bool restart = ReadProductValue(key, kRestartValue, REG_DWORD,
                                          static_cast<BYTE*>(static_cast<void*>(&needed)),
                                          sizeof needed) == ERROR_SUCCESS &&
                         needed == 1;
    const bool removed = MsiEvaluateConditionW(install, L"REMOVE=\"ALL\"") == MSICONDITION_TRUE;
    if (removed && !LeaveRecord(install, key)) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.data);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductsKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kVendorKey);
    } else if (!removed) {
        DeleteProductValue(key, kRestartValue);
    }
    if (restart) {
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        Log(install, removed
                         ? L"the driver's removal needs a restart: the installation asks for one"
                         : L"a device runs the driver only after a restart: the installation "
                           L"asks for one");
    }
    return ERROR_SUCCESS;
}
