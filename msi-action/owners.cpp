#include "owners.h"

// clang-format off
#include <sddl.h>
// clang-format on

#include "catalog.h"
#include "last_error.h"
#include "record.h"

namespace {

// The packages' key: SYSTEM and Administrators only, and each key under it
// the same.
const wchar_t kPackagesAccess[] = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// Whether the name is one of the owners', without case.
bool IsOneOf(const Owners& owners, const wchar_t* name) {
    const int length = static_cast<int>(Length(name));
    if (CompareStringOrdinal(owners.owner, -1, name, length, TRUE) == CSTR_EQUAL) {
        return true;
    }
    for (const wchar_t* piece = owners.more; *piece != L'\0';) {
        const wchar_t* end = piece;
        while (*end != L'\0' && *end != L';') {
            ++end;
        }
        if (CompareStringOrdinal(piece, static_cast<int>(end - piece), name, length, TRUE) ==
            CSTR_EQUAL) {
            return true;
        }
        piece = *end == L';' ? end + 1 : end;
    }
    return false;
}

void AddUser(Text& users, const wchar_t* user) {
    if (users.length != 0) {
        Append(users, L", ");
    }
    AppendChar(users, L'"');
    Append(users, user);
    AppendChar(users, L'"');
}

// Whether the product's record (its key) is one of 1.7.0 to 1.10.0 that
// names the published name: its PublishedInf, and no Package.
bool NamesOnly(const Text& product, const wchar_t* name) {
    wchar_t recorded[MAX_PATH];
    BYTE digits[2 * (2 * kDigestSize + 1)];
    return ReadProductValue(product, kPublishedValue, REG_SZ,
                            static_cast<BYTE*>(static_cast<void*>(recorded)),
                            (MAX_PATH - 1) * sizeof(wchar_t)) == ERROR_SUCCESS &&
           CompareStringOrdinal(recorded, -1, name, -1, TRUE) == CSTR_EQUAL &&
           ReadProductValue(product, kPackageValue, REG_SZ, digits, sizeof digits) ==
               ERROR_FILE_NOT_FOUND;
}

}  // namespace

void AppendHex(Text& text, const BYTE (&digest)[kDigestSize]) {
    for (const BYTE byte : digest) {
        constexpr BYTE kLowDigit = 0x0F;
        AppendChar(text, L"0123456789abcdef"[byte >> 4]);
        AppendChar(text, L"0123456789abcdef"[byte & kLowDigit]);
    }
}

void PackageRecord(const BYTE (&infDigest)[kDigestSize], Text& record) {
    Clear(record);
    Append(record, kPackagesKey);
    AppendChar(record, L'\\');
    AppendHex(record, infDigest);
}

DWORD PublishedRecord(const wchar_t* published, Text& record) {
    BYTE digest[kDigestSize];
    const DWORD error = FileDigest(published, digest);
    if (error == ERROR_SUCCESS) {
        PackageRecord(digest, record);
    }
    return error;
}

bool RecordedOwnPackage(const Text& key, Text& record) {
    constexpr DWORD kDigits = 2 * kDigestSize;
    wchar_t digits[kDigits + 1];
    if (ReadProductValue(key, kPackageValue, REG_SZ, static_cast<BYTE*>(static_cast<void*>(digits)),
                         sizeof digits) != ERROR_SUCCESS) {
        return false;
    }
    digits[kDigits] = L'\0';
    Clear(record);
    Append(record, kPackagesKey);
    AppendChar(record, L'\\');
    Append(record, digits);
    return true;
}

LSTATUS AddOwner(const Text& record, const wchar_t* owner, const Text& catalog) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPackagesAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return static_cast<LSTATUS>(LastErrorOfFailedCall());
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HKEY created = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_CREATE_SUB_KEY, &attributes, &created, nullptr);
    LocalFree(descriptor);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegCloseKey(created);
    static Text path;
    Path(record, owner, path);
    status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.data, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_CREATE_SUB_KEY, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    RegCloseKey(created);
    return catalog.length != 0 ? SetProductValue(path, kCatalogValue, REG_SZ, catalog.data,
                                                 (catalog.length + 1) * sizeof(wchar_t))
                               : DeleteProductValue(path, kCatalogValue);
}

void TakeOwnersOff(const Text& record, const Owners& owners) {
    static Text path;
    // After each deletion the next key has that one's index: start again.
    for (bool deleted = true; deleted;) {
        deleted = false;
        ForEachSubkey(record.data, [&](const wchar_t* name) {
            deleted = IsOneOf(owners, name);
            if (deleted) {
                Path(record, name, path);
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.data);
            }
            return !deleted;
        });
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, record.data);
}

void OtherUsers(const Text& record, const wchar_t* name, const Owners& owners, Text& users) {
    Clear(users);
    static Text owner;
    ForEachSubkey(record.data, [&](const wchar_t* user) {
        Path(record, user, owner);
        if (!IsOneOf(owners, user) && StagedWithRecordedCatalog(owner, name)) {
            AddUser(users, user);
        }
        return true;
    });
    static Text products;
    Clear(products);
    Append(products, kProductsKey);
    static Text product;
    ForEachSubkey(kProductsKey, [&](const wchar_t* code) {
        Path(products, code, product);
        if (!IsOneOf(owners, code) && NamesOnly(product, name)) {
            AddUser(users, code);
        }
        return true;
    });
}
