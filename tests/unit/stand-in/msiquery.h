#pragma once

#include <msi.h>

enum MSIRUNMODE : int {
    MSIRUNMODE_REBOOTATEND = 6,
};

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams);
int WINAPI MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord);
UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue);
UINT WINAPI MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue);
UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf,
                            DWORD* pcchValueBuf);
UINT WINAPI MsiSetMode(MSIHANDLE hInstall, MSIRUNMODE eRunMode, BOOL fState);

enum MSICONDITION : int {
    MSICONDITION_FALSE = 0,
    MSICONDITION_TRUE = 1,
};
MSICONDITION WINAPI MsiEvaluateConditionW(MSIHANDLE hInstall, LPCWSTR szCondition);
