#include "session.h"

#include <msiquery.h>

void Log(MSIHANDLE install, const Text& text) {
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, L"Zeltrane: [1]");
    MsiRecordSetStringW(record, 1, text.data);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

void Log(MSIHANDLE install, const wchar_t* message) {
    static Text text;
    Clear(text);
    Append(text, message);
    Log(install, text);
}

void LogError(MSIHANDLE install, const wchar_t* what, DWORD error) {
    static Text line;
    Clear(line);
    Append(line, what);
    Append(line, L", error ");
    AppendCode(line, error);
    Log(install, line);
}

void LogNaming(MSIHANDLE install, const wchar_t* before, const wchar_t* name,
               const wchar_t* after) {
    static Text line;
    Clear(line);
    Append(line, before);
    Append(line, L" \"");
    Append(line, name);
    Append(line, L"\"");
    Append(line, after);
    Log(install, line);
}

void LogPathError(MSIHANDLE install, const wchar_t* what, const wchar_t* path, DWORD error) {
    static Text line;
    Clear(line);
    Append(line, what);
    Append(line, L" \"");
    Append(line, path);
    Append(line, L"\"");
    LogError(install, line.data, error);
}

wchar_t* ReadData(MSIHANDLE install) {
    static wchar_t data[kCapacity];
    DWORD size = kCapacity;
    const UINT read = MsiGetPropertyW(install, L"CustomActionData", data, &size);
    if (read == ERROR_SUCCESS) {
        return data;
    }
    LogError(install, L"cannot read CustomActionData", read);
    return nullptr;
}
