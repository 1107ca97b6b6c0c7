#include "record.h"

#include <msiquery.h>

#include "session.h"

namespace {

// The longest product code, {GUID}, with its terminating NUL.
constexpr DWORD kProductCodeCapacity = 39;

}  // namespace

bool ProductKey(MSIHANDLE install, Text& path) {
    wchar_t productCode[kProductCodeCapacity];
    DWORD size = kProductCodeCapacity;
    const UINT read = MsiGetPropertyW(install, L"ProductCode", productCode, &size);
    if (read != ERROR_SUCCESS) {
        LogError(install, L"cannot read ProductCode", read);
        return false;
    }
    Clear(path);
    Append(path, kProductsKey);
    AppendChar(path, L'\\');
    Append(path, productCode);
    return true;
}

LSTATUS DeleteProductValue(const Text& key, const wchar_t* name) {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, KEY_SET_VALUE, &opened);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(opened, name);
        RegCloseKey(opened);
    }
    return status == ERROR_FILE_NOT_FOUND ? static_cast<LSTATUS>(ERROR_SUCCESS) : status;
}

LSTATUS SetProductValue(const Text& key, const wchar_t* name, DWORD type, const void* data,
                        DWORD size) {
    HKEY created = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &created, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(created, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(created);
    }
    return status;
}

LSTATUS ReadProductValue(const Text& key, const wchar_t* name, DWORD wantedType, BYTE* data,
                         DWORD size) {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, KEY_QUERY_VALUE, &opened);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = REG_NONE;
    DWORD read = size;
    status = RegQueryValueExW(opened, name, nullptr, &type, data, &read);
    RegCloseKey(opened);
    if (status == ERROR_SUCCESS && type != wantedType) {
        return static_cast<LSTATUS>(ERROR_INVALID_DATA);
    }
    return status;
}
