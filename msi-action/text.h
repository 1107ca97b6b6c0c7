#pragma once

// Text in fixed buffers: a text put together without ever writing past its
// buffer, a program's argument quoted as the platform's start-up reads it,
// and the few comparisons and look-ups of plain wide strings.

#include <windows.h>

// The longest command line the platform allows, with its terminating NUL;
// CustomActionData is kept to the same length.
constexpr DWORD kCapacity = 32768;

// A text being put together in a fixed buffer; a text that does not fit is
// marked as cut, never written past the buffer.
struct Text {
    wchar_t data[kCapacity];
    DWORD length;
    bool cut;
};

// Empties the text.
void Clear(Text& text);

// Adds a character, or marks the text as cut where it does not fit.
void AppendChar(Text& text, wchar_t character);

// Adds a string, as far as it fits.
void Append(Text& text, const wchar_t* part);

// As 0x followed by eight upper-case hexadecimal digits, as the README lists codes.
void AppendCode(Text& text, DWORD code);

// One argument, quoted so that the program's start-up reads it back exactly:
// backslashes are doubled only before a quote or the closing quote, and a
// quote is escaped.
void AppendArgument(Text& text, const wchar_t* argument);

// Cuts the text at the first separator and returns what follows it, or
// nullptr where there is none.
wchar_t* SplitAt(wchar_t* text, wchar_t separator);

// Whether each piece of the list, separated by `separator`, passes the
// test; an empty list passes, an empty piece and a piece longer than
// MAX_PATH do not. The list is left as it is.
bool EachPiece(const wchar_t* list, wchar_t separator, bool (*test)(const wchar_t*));

// Whether the two strings are the same, case and all.
bool Same(const wchar_t* text, const wchar_t* word);

// The string's length in characters, without its NUL.
DWORD Length(const wchar_t* text);

// Whether the two blocks of that size hold the same bytes.
bool SameBytes(const BYTE* one, const BYTE* other, DWORD size);

// The path of a name in a folder: <folder>\\<name>, into `path`.
void Path(const Text& folder, const wchar_t* name, Text& path);
