#include "superseded.h"

// clang-format off
#include <msiquery.h>
// clang-format on

#include "action.h"
#include "catalog.h"
#include "owners.h"
#include "published.h"
#include "record.h"
#include "run.h"
#include "session.h"
#include "settings.h"

namespace {

// What ZeltraneRemove.exe OLD NEW ends with where a device is installed
// from the older package, which then stays.
constexpr DWORD kInUse = 0xE000023D;  // ERROR_INF_IN_USE_BY_DEVICES

// The most names kept in one record, each oemNN.inf and a separator.
constexpr DWORD kNamesCapacity = 4096;

// Adds each published name of the list to `names`, separated by ';';
// anything else in it is passed over.
void AddNames(wchar_t* list, Text& names) {
    for (wchar_t* name = list; name != nullptr;) {
        wchar_t* rest = SplitAt(name, L';');
        if (IsPublishedName(name)) {
            if (names.length != 0) {
                AppendChar(names, L';');
            }
            Append(names, name);
        }
        name = rest;
    }
}

// The path of an older product's key.
void OlderKey(const wchar_t* code, Text& key) {
    Clear(key);
    Append(key, kProductsKey);
    AppendChar(key, L'\\');
    Append(key, code);
}

// Adds the names that an older product recorded, its own package's and
// those that it kept of the versions before it.
// Whether the older product's published name is still the package that it
// installed, by the INF's digest that it recorded (Package, from 1.10.1 on;
// an older record is taken as it is) and the catalog's where it recorded
// one (Catalog, from 1.12.0 on): a record that names another package,
// or a name that the platform gave a later package, is passed over, logged.
bool StillItsPackage(MSIHANDLE install, const Text& key, const wchar_t* name) {
    static Text own;
    if (!RecordedOwnPackage(key, own)) {
        return true;
    }
    static Text published;
    static Text record;
    if (IsPublishedName(name) && PublishedPath(name, published) == ERROR_SUCCESS &&
        PublishedRecord(published.data, record) == ERROR_SUCCESS && Same(own.data, record.data) &&
        StagedWithRecordedCatalog(key, name)) {
        return true;
    }
    LogNaming(install, L"the older product's recorded package", name,
              L" is no longer the package that it installed: it stays staged");
    return false;
}

void AddRecordedNames(MSIHANDLE install, const wchar_t* code, Text& names) {
    static Text key;
    OlderKey(code, key);
    const wchar_t* const values[] = {kPublishedValue, kSupersededValue};
    for (const wchar_t* value : values) {
        static wchar_t recorded[kNamesCapacity];
        recorded[0] = L'\0';
        const LSTATUS status =
            ReadProductValue(key, value, REG_SZ, static_cast<BYTE*>(static_cast<void*>(recorded)),
                             (kNamesCapacity - 1) * sizeof(wchar_t));
        if (status == ERROR_SUCCESS) {
            // The names that it kept of the versions before it carry no digest.
            if (value == kSupersededValue || StillItsPackage(install, key, recorded)) {
                AddNames(recorded, names);
            }
        } else if (status != ERROR_FILE_NOT_FOUND) {
            LogNaming(install, L"cannot read the record of the older product", code,
                      L": its package stays staged");
        }
    }
}

// The older versions, which this one replaced, use none of their packages
// any more: each is taken off the record of each package of the list (its
// names checked where the data was read), whatever becomes of the package.
void ReleaseOlderOwners(const Superseded& older) {
    static Text list;
    Clear(list);
    Append(list, older.names);
    static Text published;
    static Text record;
    for (wchar_t* name = list.data; name != nullptr;) {
        wchar_t* rest = SplitAt(name, L';');
        if (PublishedPath(name, published) == ERROR_SUCCESS &&
            PublishedRecord(published.data, record) == ERROR_SUCCESS) {
            TakeOwnersOff(record, {L"", older.products});
        }
        name = rest;
    }
}

// Whether another product still uses the older package (owners.h), logged
// where one does: then it is not this product's to delete.
bool UsedByAnother(MSIHANDLE install, const wchar_t* name, const Text& published,
                   const ThisInf& inf, const wchar_t* older) {
    static Text record;
    static Text users;
    Clear(users);
    if (PublishedRecord(published.data, record) == ERROR_SUCCESS) {
        OtherUsers(record, name, {inf.owner, older}, users);
    }
    if (users.length == 0) {
        return false;
    }
    static Text line;
    Clear(line);
    Append(line, L"the older version's package \"");
    Append(line, published.data);
    Append(line, L"\" is another product's too: it stays staged, used by ");
    Append(line, users.data);
    Log(install, line);
    return true;
}

// Deletes one older package where it is still the package of this
// product's INF and unused: true where it is gone, or is not this product's
// to delete; false where it stays, logged with why.
bool RemoveOlderPackage(MSIHANDLE install, const wchar_t* name, const ThisInf& inf,
                        const wchar_t* older) {
    static Text published;
    const Recorded recorded = CheckRecordedPackage(install, name, inf.name, published);
    if (recorded != Recorded::kOurs) {
        return recorded != Recorded::kUnreadable;
    }
    if (UsedByAnother(install, name, published, inf, older)) {
        return true;
    }
    static Text arguments;
    Clear(arguments);
    AppendArgument(arguments, published.data);
    AppendChar(arguments, L' ');
    AppendArgument(arguments, inf.path);
    static ProgramRun run;
    Clear(run.line);
    Append(run.line, L"the older version's package \"");
    Append(run.line, published.data);
    DWORD exitCode = 0;
    if (!RunCarried(install, kZeltraneRemove, arguments, run, exitCode)) {
        Log(install, L"the older version's package stays staged");
        return false;
    }
    Append(run.line, exitCode == ERROR_SUCCESS ? L", it is out of the driver store (or is this "
                                                 L"version's own)"
                     : exitCode == kInUse ? L", a device is still installed from it: it stays "
                                            L"staged"
                                          : L": it stays staged");
    Log(install, run.line);
    return exitCode == ERROR_SUCCESS;
}

// Deletes each older package of the list where unused; adds those that
// stay to `kept`. The older versions' codes in `older`.
void RemoveOlderPackages(MSIHANDLE install, wchar_t* names, const ThisInf& inf,
                         const wchar_t* older, Text& kept) {
    for (wchar_t* name = names; name != nullptr;) {
        wchar_t* rest = SplitAt(name, L';');
        if (IsPublishedName(name) && !RemoveOlderPackage(install, name, inf, older)) {
            if (kept.length != 0) {
                AppendChar(kept, L';');
            }
            Append(kept, name);
        }
        name = rest;
    }
}

// Records the older packages that stay with this product, for its removal
// or the next version, and no other: none stay, none recorded.
void RecordKept(MSIHANDLE install, const Text& key, const Text& kept) {
    const LSTATUS status = kept.length == 0
                               ? DeleteProductValue(key, kSupersededValue)
                               : SetProductValue(key, kSupersededValue, REG_SZ, kept.data,
                                                 (kept.length + 1) * sizeof(wchar_t));
    if (kept.length != 0 && status != ERROR_SUCCESS) {
        LogNaming(install, L"cannot record the older packages that stay staged,", kept.data,
                  L": the removal leaves them");
    }
}

// The records that earlier removals of this product line left (record.h):
// their codes, separated by ';', with each one's names added to `names`;
// this product's own (a reinstallation of the same version) adds only its
// names, as its record stays its own.
Text& AddLeftRecords(MSIHANDLE install, Text& names) {
    static Text left;
    Clear(left);
    static wchar_t own[kCapacity];
    static wchar_t line[kCapacity];
    DWORD size = kCapacity;
    DWORD lineSize = kCapacity;
    if (MsiGetPropertyW(install, L"ProductCode", own, &size) != ERROR_SUCCESS ||
        MsiGetPropertyW(install, L"UpgradeCode", line, &lineSize) != ERROR_SUCCESS) {
        Log(install, L"cannot read this product's codes: what its removals left stays staged");
        return left;
    }
    ForEachSubkey(kProductsKey, [&](const wchar_t* code) {
        static Text key;
        OlderKey(code, key);
        static wchar_t recorded[kNameCapacity];
        recorded[0] = L'\0';
        if (ReadProductValue(key, kLeftValue, REG_SZ,
                             static_cast<BYTE*>(static_cast<void*>(recorded)),
                             (kNameCapacity - 1) * sizeof(wchar_t)) != ERROR_SUCCESS ||
            !Same(recorded, line) || !IsProductCode(code)) {
            return true;
        }
        AddRecordedNames(install, code, names);
        if (!Same(code, own)) {
            if (left.length != 0) {
                AppendChar(left, L';');
            }
            Append(left, code);
        }
        // Names that no longer fit are passed on as none: no more to read.
        return !names.cut;
    });
    return left;
}

}  // namespace

bool IsPublishedName(const wchar_t* name) {
    const DWORD length = Length(name);
    constexpr DWORD kExtension = 4;  // ".inf"
    if (length <= kExtension || CompareStringOrdinal(name + length - kExtension, kExtension,
                                                     L".inf", kExtension, TRUE) != CSTR_EQUAL) {
        return false;
    }
    for (const wchar_t* at = name; *at != L'\0'; ++at) {
        if (*at == L'\\' || *at == L'/' || *at == L':') {
            return false;
        }
    }
    return true;
}

bool ReadSupersededSetting(MSIHANDLE install, const wchar_t* setting, Superseded& read) {
    read.remove = Same(setting, L"remove");
    if (!read.remove && !Same(setting, L"keep")) {
        Log(install, L"ZELTRANE_SUPERSEDED is neither remove nor keep");
        return false;
    }
    return true;
}

void SupersedeOlderVersions(MSIHANDLE install, const Text& key, Superseded& older,
                            const ThisInf& inf, bool restart) {
    static Text kept;
    Clear(kept);
    ReleaseOlderOwners(older);
    if (older.names[0] != L'\0' && !older.remove) {
        Log(install,
            L"ZELTRANE_SUPERSEDED=keep: the older versions' packages stay staged, for the "
            L"platform's driver rollback");
    } else if (older.names[0] != L'\0' && restart) {
        // A device may use an older package until the restart.
        AddNames(older.names, kept);
        LogNaming(install, L"a restart finishes the installation: the older packages", kept.data,
                  L" stay staged, recorded for the removal or the next version");
    } else {
        RemoveOlderPackages(install, older.names, inf, older.products, kept);
    }
    RecordKept(install, key, kept);
    // This product's record is a live one again, whatever a removal left.
    DeleteProductValue(key, kLeftValue);
    static Text olderKey;
    for (wchar_t* code = older.products; code != nullptr;) {
        wchar_t* rest = SplitAt(code, L';');
        if (IsProductCode(code)) {
            OlderKey(code, olderKey);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, olderKey.data);
        }
        code = rest;
    }
}

void RemoveRecordedSuperseded(MSIHANDLE install, const Text& key, const ThisInf& inf) {
    static wchar_t names[kNamesCapacity];
    names[0] = L'\0';
    const LSTATUS status = ReadProductValue(key, kSupersededValue, REG_SZ,
                                            static_cast<BYTE*>(static_cast<void*>(names)),
                                            (kNamesCapacity - 1) * sizeof(wchar_t));
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        LogError(install, L"cannot read the older packages recorded with this product",
                 static_cast<DWORD>(status));
    }
    static Text kept;
    Clear(kept);
    if (status == ERROR_SUCCESS) {
        RemoveOlderPackages(install, names, inf, L"", kept);
        // What stays is left recorded for this product line's next
        // installation (record.h), which tries again.
        RecordKept(install, key, kept);
        if (kept.length != 0) {
            LogNaming(install, L"the older packages", kept.data,
                      L" stay staged, recorded for this product's next installation");
        }
    }
}

extern "C" UINT WINAPI FindSupersededPackages(MSIHANDLE install) {
    static wchar_t products[kCapacity];
    DWORD size = kCapacity;
    const UINT read = MsiGetPropertyW(install, kOlderProperty, products, &size);
    if (read != ERROR_SUCCESS) {
        LogError(install, L"cannot read the older versions: their packages stay staged", read);
        return ERROR_SUCCESS;
    }
    static Text names;
    Clear(names);
    static Text older;
    Clear(older);
    Append(older, products);
    for (wchar_t* code = products; code != nullptr;) {
        wchar_t* rest = SplitAt(code, L';');
        if (IsProductCode(code)) {
            AddRecordedNames(install, code, names);
        }
        code = rest;
    }
    // The removed versions' records go with the older ones', once this
    // installation took what they name.
    Text& left = AddLeftRecords(install, names);
    if (older.length != 0 && left.length != 0) {
        AppendChar(older, L';');
    }
    Append(older, left.data);
    if (names.cut || older.cut) {
        Log(install, L"the older products record too many packages: they stay staged");
        Clear(names);
        Clear(left);
    }
    UINT set =
        left.length == 0 ? ERROR_SUCCESS : MsiSetPropertyW(install, kOlderProperty, older.data);
    if (set == ERROR_SUCCESS) {
        set = MsiSetPropertyW(install, kSupersededProperty, names.data);
    }
    if (set != ERROR_SUCCESS) {
        LogError(install, L"cannot pass the older packages on: they stay staged", set);
    } else if (names.length != 0) {
        LogNaming(install, L"the versions that this one replaces staged", names.data, L"");
    }
    return ERROR_SUCCESS;
}
