#pragma once

// The product's record under HKLM, which only administrators can write:
//   HKLM\SOFTWARE\Zeltrane\Products\<product code> (the registry's 32-bit
//   view, where the 32-bit actions run)
//   PublishedInf   REG_SZ, the staged INF's name in the INF folder (oemNN.inf)
//   Package        REG_SZ, the SHA-256 of its INF, in hex (owners.h)
//   Catalog        REG_SZ, the SHA-256 of the catalog it was staged with, in
//                  hex, where it has one (catalog.h)
//   RestartNeeded  REG_DWORD 1, from InstallDriver or RemoveDriver to
//                  ScheduleRestart
//   SupersededInf  REG_SZ, the published names of the packages of the
//                  versions that this one replaced and that are still
//                  staged, separated by ';' (superseded.cpp)
//   LeftBy         REG_SZ, the product's UpgradeCode, in the one record that
//                  stays after the product's removal: where older packages
//                  that the removal could not take stay staged, it keeps
//                  only their SupersededInf, and the next installation of
//                  the product line (its UpgradeCode) takes them as an
//                  upgrade takes its older versions', then the record goes

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "text.h"

// Where the actions keep what they know of each installed product.
const wchar_t kProductsKey[] = L"SOFTWARE\\Zeltrane\\Products";
const wchar_t kVendorKey[] = L"SOFTWARE\\Zeltrane";
const wchar_t kPublishedValue[] = L"PublishedInf";
const wchar_t kRestartValue[] = L"RestartNeeded";
const wchar_t kSupersededValue[] = L"SupersededInf";
const wchar_t kLeftValue[] = L"LeftBy";

// The path of the product's key under HKLM, from its product code, which
// Windows Installer gives deferred actions too; false (logged) where it
// cannot be read.
bool ProductKey(MSIHANDLE install, Text& path);

// Takes a value out of the product's key; a key or value that is not there
// is already as wanted.
LSTATUS DeleteProductValue(const Text& key, const wchar_t* name);

LSTATUS SetProductValue(const Text& key, const wchar_t* name, DWORD type, const void* data,
                        DWORD size);

// Reads a value of the product's key, of that type, into data (at most
// size bytes); ERROR_FILE_NOT_FOUND where there is none.
LSTATUS ReadProductValue(const Text& key, const wchar_t* name, DWORD wantedType, BYTE* data,
                         DWORD size);

// The longest key name that the records hold: a product code, an NSIS
// setup's owner, a digest's 64 digits.
constexpr DWORD kNameCapacity = 256;

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
