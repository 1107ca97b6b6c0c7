#pragma once

// The record that a stand-in keeps of the calls it answers itself, for the
// tests to read: a line of text (UTF-8) added to a file.

#include <stdio.h>
#include <windows.h>

inline void AddToRecord(const wchar_t* file, const wchar_t* line) {
    static char utf8[4 * 8192];
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    FILE* record = _wfopen(file, L"ab");
    if (record) {
        fwrite(utf8, 1, length > 0 ? length - 1 : 0, record);
        fclose(record);
    }
}
