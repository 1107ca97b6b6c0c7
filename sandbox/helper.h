// What the sandbox helper's commands share, and its commands on files
// (helper-files.cpp).
#pragma once

// Prints "key=value" as a UTF-8 line, with \n, \t and \\ escaped.
void Print(const wchar_t* key, const wchar_t* value);
void PrintNumber(const wchar_t* key, const wchar_t* format, unsigned long long number);

int Hold(const wchar_t* path);
int Release();
