#include "catalog.h"

#include "owners.h"
#include "record.h"

namespace {

// Where the platform keeps the catalogs of staged driver packages, under
// the system folder; 64-bit Windows does not redirect it for 32-bit callers.
const wchar_t kCatalogFolder[] = L"\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";

// The staged catalog's path: the published name with .cat for .inf.
bool StagedCatalogPath(const wchar_t* publishedName, Text& path) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    Clear(path);
    Append(path, system);
    Append(path, kCatalogFolder);
    const DWORD nameLength = Length(publishedName);
    constexpr DWORD kExtension = 3;  // "inf"
    for (DWORD i = 0; i + kExtension < nameLength; ++i) {
        AppendChar(path, publishedName[i]);
    }
    Append(path, L"cat");
    return !path.cut;
}

bool EndsInCat(const wchar_t* path) {
    const wchar_t* extension = path;
    for (const wchar_t* character = path; *character != L'\0'; ++character) {
        if (*character == L'.') {
            extension = character;
        }
    }
    return CompareStringOrdinal(extension, -1, L".cat", -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool StagedCatalog(const wchar_t* publishedName, Text& hex) {
    static Text path;
    BYTE digest[kDigestSize];
    if (!StagedCatalogPath(publishedName, path) || FileDigest(path.data, digest) != ERROR_SUCCESS) {
        return false;
    }
    Clear(hex);
    AppendHex(hex, digest);
    return true;
}

bool HasCatalog(const Package& package) {
    for (DWORD i = 0; i < package.count; ++i) {
        if (EndsInCat(package.files[i].path)) {
            return true;
        }
    }
    return false;
}

bool StagedWithItsCatalog(const Package& package, const wchar_t* publishedName, Text& catalog) {
    Clear(catalog);
    if (!HasCatalog(package)) {
        return true;
    }
    if (!StagedCatalog(publishedName, catalog)) {
        return false;
    }
    static Text listed;
    for (DWORD i = 0; i < package.count; ++i) {
        Clear(listed);
        AppendHex(listed, package.files[i].digest);
        if (EndsInCat(package.files[i].path) && Same(listed.data, catalog.data)) {
            return true;
        }
    }
    return false;
}

bool StagedWithRecordedCatalog(const Text& key, const wchar_t* publishedName) {
    constexpr DWORD kDigits = 2 * kDigestSize;
    wchar_t recorded[kDigits + 2] = {};
    const LSTATUS status = ReadProductValue(key, kCatalogValue, REG_SZ,
                                            static_cast<BYTE*>(static_cast<void*>(recorded)),
                                            (kDigits + 1) * sizeof(wchar_t));
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    static Text staged;
    return status == ERROR_SUCCESS && StagedCatalog(publishedName, staged) &&
           Same(recorded, staged.data);
}
