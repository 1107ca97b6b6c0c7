#pragma once

#include <windows.h>

using MSIHANDLE = unsigned long;

enum INSTALLMESSAGE : int {
    INSTALLMESSAGE_INFO = 0x04000000,
};

constexpr UINT ERROR_MORE_DATA = 234;
constexpr UINT ERROR_INSTALL_FAILURE = 1603;
constexpr UINT ERROR_UNKNOWN_PRODUCT = 1605;

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny);
UINT WINAPI MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                                    LPWSTR lpProductBuf);
UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf,
                               DWORD* pcchValueBuf);
