#include "owners.h"

// clang-format off
#include <sddl.h>
// clang-format on

#include "last_error.h"
#include "record.h"

namespace {

// The packages' key: SYSTEM and Administrators only, and each key under it
// the same.
const wchar_t kPackagesAccess[] = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";

// The longest key name that the records hold: a product code, an NSIS
// setup's owner, a digest's 64 digits.
constexpr DWORD kNameCapacity = 256;

// Whether the name is one of the list's, separated by ';', without case.
bool IsListed(const wchar_t* list, const wchar_t* name) {
    const int length = static_cast<int>(Length(name));
    for (const wchar_t* piece = list; *piece != L'\0';) {
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

// Calls `each` with the name of each key under `path`, until it returns
// false or none is left; a key that cannot be read has none.
template <typename Each>
void ForEachSubkey(const wchar_t* path, Each each) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) {
        return;
    }
    wchar_t name[kNameCapacity];
    DWORD size = kNameCapacity;
    for (DWORD index = 0; RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr,
                                        nullptr) == ERROR_SUCCESS &&
                          each(name);
         ++index) {
        size = kNameCapacity;
    }
    RegCloseKey(key);
}

// Whether the product's record is one of 1.7.0 to 1.10.0 that names the
// published name: its PublishedInf, and no Package.
bool NamesOnly(const wchar_t* code, const wchar_t* name) {
    static Text product;
    Clear(product);
    Append(product, kProductsKey);
    AppendChar(product, L'\\');
    Append(product, code);
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
        AppendChar(text, L"0123456789abcdef"[byte >> 4]);
        AppendChar(text, L"0123456789abcdef"[byte & 0xF]);
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

LSTATUS AddOwner(const Text& record, const wchar_t* owner) {
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
    if (status == ERROR_SUCCESS) {
        RegCloseKey(created);
    }
    return status;
}

void TakeOwnersOff(const Text& record, const wchar_t* owner, const wchar_t* more) {
    static Text path;
    Path(record, owner, path);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.data);
    // After each deletion the next key has that one's index: start again.
    for (bool deleted = true; deleted;) {
        deleted = false;
        ForEachSubkey(record.data, [&](const wchar_t* name) {
            deleted = IsListed(more, name);
            if (deleted) {
                Path(record, name, path);
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.data);
            }
            return !deleted;
        });
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, record.data);
}

void OtherUsers(const Text& record, const wchar_t* name, const wchar_t* owner, const wchar_t* more,
                Text& users) {
    Clear(users);
    const auto other = [&](const wchar_t* user) {
        return CompareStringOrdinal(user, -1, owner, -1, TRUE) != CSTR_EQUAL &&
               !IsListed(more, user);
    };
    ForEachSubkey(record.data, [&](const wchar_t* user) {
        if (other(user)) {
            AddUser(users, user);
        }
        return true;
    });
    ForEachSubkey(kProductsKey, [&](const wchar_t* code) {
        if (other(code) && NamesOnly(code, name)) {
            AddUser(users, code);
        }
        return true;
    });
}
