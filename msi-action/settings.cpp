#include "settings.h"

// clang-format off
#include <msiquery.h>
// clang-format on

#include "action.h"
#include "session.h"
#include "text.h"

namespace {

// A public setting, its words and how the log says them. A missing value
// is none of them: the MSI's Property table always sets one.
struct Setting {
    const wchar_t* name;
    const wchar_t* words[3];
    const wchar_t* saying;
};

// In the order of the private properties that carry them on (CheckSettings).
const Setting kSettings[] = {
    {L"ZELTRANE_NO_DEVICE", {L"succeed", L"fail", L"create"}, L"neither succeed, fail nor create"},
    {L"ZELTRANE_ON_UNINSTALL", {L"remove", L"keep", nullptr}, L"neither remove nor keep"},
    {L"ZELTRANE_SUPERSEDED", {L"remove", L"keep", nullptr}, L"neither remove nor keep"},
};

// The longest word, with room to tell a longer value from it.
constexpr DWORD kWordCapacity = 16;

const wchar_t kBeforeAnyChange[] = L": the installation fails before anything changes";

// Reads the setting: its word into `word`; false (logged) where its value
// is not one of its words, or cannot be read.
bool ReadSetting(MSIHANDLE install, const Setting& setting, const wchar_t*& word) {
    wchar_t value[kWordCapacity];
    DWORD size = kWordCapacity;
    const UINT read = MsiGetPropertyW(install, setting.name, value, &size);
    if (read != ERROR_SUCCESS && read != ERROR_MORE_DATA) {
        LogError(install, L"cannot read the settings", read);
        return false;
    }
    word = nullptr;
    for (const wchar_t* candidate : setting.words) {
        if (read == ERROR_SUCCESS && candidate != nullptr && Same(value, candidate)) {
            word = candidate;
        }
    }
    if (word == nullptr) {
        static Text line;
        Clear(line);
        Append(line, setting.name);
        Append(line, L" is \"");
        Append(line, value);
        Append(line, read == ERROR_MORE_DATA ? L"...\", " : L"\", ");
        Append(line, setting.saying);
        Append(line, kBeforeAnyChange);
        Log(install, line);
        return false;
    }
    return true;
}

// A product version's first three fields, as Windows Installer compares
// them; a field that is missing counts as 0.
struct Version {
    DWORD fields[3];
};

// A field's largest value that Windows Installer takes (the build's), and
// the base of its digits.
constexpr DWORD kLargestField = 65535;
constexpr DWORD kDecimal = 10;

// A product code, {GUID}, with its NUL; a version's text, with room to tell
// a longer one.
constexpr DWORD kCodeCapacity = 39;
constexpr DWORD kVersionCapacity = 32;

bool ReadVersion(const wchar_t* text, Version& version) {
    version = {};
    DWORD field = 0;
    bool digit = false;
    for (const wchar_t* at = text; *at != L'\0' && field < 3; ++at) {
        if (*at == L'.' && digit) {
            ++field;
            digit = false;
        } else if (*at >= L'0' && *at <= L'9' && version.fields[field] <= kLargestField) {
            version.fields[field] =
                version.fields[field] * kDecimal + static_cast<DWORD>(*at - L'0');
            digit = true;
        } else {
            return false;
        }
    }
    // A fourth field, which Windows Installer does not compare, is not read.
    return digit || field == 3;
}

bool IsLower(const Version& one, const Version& other) {
    for (DWORD field = 0; field < 3; ++field) {
        if (one.fields[field] != other.fields[field]) {
            return one.fields[field] < other.fields[field];
        }
    }
    return false;
}

// INSTALLPROPERTY_VERSIONSTRING, which msi.h spells in wide characters only
// where UNICODE is defined.
const wchar_t kVersionString[] = L"VersionString";

// This MSI's upgrade code and version, as its Property table gives them.
struct ThisProduct {
    wchar_t upgradeCode[kCodeCapacity];
    Version version;
};

bool ReadThisProduct(MSIHANDLE install, ThisProduct& product) {
    DWORD size = sizeof product.upgradeCode / sizeof product.upgradeCode[0];
    UINT read = MsiGetPropertyW(install, L"UpgradeCode", product.upgradeCode, &size);
    wchar_t version[kVersionCapacity];
    DWORD versionSize = sizeof version / sizeof version[0];
    if (read == ERROR_SUCCESS) {
        read = MsiGetPropertyW(install, L"ProductVersion", version, &versionSize);
    }
    if (read == ERROR_SUCCESS &&
        (!IsProductCode(product.upgradeCode) || !ReadVersion(version, product.version))) {
        read = ERROR_INVALID_DATA;
    }
    if (read != ERROR_SUCCESS) {
        LogError(install, L"cannot read this product's UpgradeCode and ProductVersion", read);
    }
    return read == ERROR_SUCCESS;
}

// Whether the product is installed with this product's upgrade code, at a
// lower version: one that RemoveExistingProducts may remove.
bool IsOlderVersion(const ThisProduct& product, const wchar_t* code) {
    wchar_t related[kCodeCapacity];
    bool found = false;
    for (DWORD index = 0;
         !found && MsiEnumRelatedProductsW(product.upgradeCode, 0, index, related) == ERROR_SUCCESS;
         ++index) {
        found = CompareStringOrdinal(related, -1, code, -1, TRUE) == CSTR_EQUAL;
    }
    wchar_t text[kVersionCapacity];
    DWORD size = sizeof text / sizeof text[0];
    Version version = {};
    return found && MsiGetProductInfoW(code, kVersionString, text, &size) == ERROR_SUCCESS &&
           ReadVersion(text, version) && IsLower(version, product.version);
}

// The older products that ZELTRANE_OLDER_FOUND names, into `older`, where
// each is an older version of this product; false (logged) where one is
// not, so that the installation fails before RemoveExistingProducts
// removes it.
bool ReadOlderProducts(MSIHANDLE install, Text& older) {
    static wchar_t found[kCapacity];
    DWORD size = kCapacity;
    const UINT read = MsiGetPropertyW(install, L"ZELTRANE_OLDER_FOUND", found, &size);
    if (read != ERROR_SUCCESS) {
        LogError(install, L"cannot read ZELTRANE_OLDER_FOUND", read);
        return false;
    }
    static ThisProduct product;
    Clear(older);
    for (wchar_t* code = found; code != nullptr;) {
        wchar_t* rest = SplitAt(code, L';');
        if (*code != L'\0') {
            if (!ReadThisProduct(install, product)) {
                return false;
            }
            if (!IsProductCode(code) || !IsOlderVersion(product, code)) {
                LogNaming(install, L"ZELTRANE_OLDER_FOUND names", code,
                          L", which is not an installed older version of this product: the "
                          L"installation fails before anything changes");
                return false;
            }
            if (older.length != 0) {
                AppendChar(older, L';');
            }
            Append(older, code);
        }
        code = rest;
    }
    return true;
}

bool IsHexDigit(wchar_t character) {
    return (character >= L'0' && character <= L'9') || (character >= L'A' && character <= L'F') ||
           (character >= L'a' && character <= L'f');
}

}  // namespace

bool IsProductCode(const wchar_t* code) {
    constexpr DWORD kLength = 38;
    if (Length(code) != kLength || code[0] != L'{' || code[kLength - 1] != L'}') {
        return false;
    }
    for (DWORD at = 1; at < kLength - 1; ++at) {
        const bool hyphen = at == 9 || at == 14 || at == 19 || at == 24;
        if (hyphen ? code[at] != L'-' : !IsHexDigit(code[at])) {
            return false;
        }
    }
    return true;
}

extern "C" UINT WINAPI CheckSettings(MSIHANDLE install) {
    const wchar_t* words[3] = {};
    for (DWORD i = 0; i < 3; ++i) {
        if (!ReadSetting(install, kSettings[i], words[i])) {
            return ERROR_INSTALL_FAILURE;
        }
    }
    static Text older;
    if (!ReadOlderProducts(install, older)) {
        return ERROR_INSTALL_FAILURE;
    }
    const wchar_t* const handed[][2] = {{kNoDeviceProperty, words[0]},
                                        {kOnUninstallProperty, words[1]},
                                        {kSupersedeProperty, words[2]},
                                        {kOlderProperty, older.data},
                                        {kSupersededProperty, L""}};
    for (const auto& property : handed) {
        const UINT set = MsiSetPropertyW(install, property[0], property[1]);
        if (set != ERROR_SUCCESS) {
            LogError(install, L"cannot hand the settings over", set);
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}
