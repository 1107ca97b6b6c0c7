#pragma once

// The installation session: the action's CustomActionData, and lines in the
// installation's log.

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "text.h"

// One line in the installation's log. The text is the record's field 1, not
// its template, so that brackets in a hardware ID are not read as properties.
void Log(MSIHANDLE install, const Text& text);

void Log(MSIHANDLE install, const wchar_t* message);

// Logs what failed, with the platform's error.
void LogError(MSIHANDLE install, const wchar_t* what, DWORD error);

// Logs a line that names a path or a name, quoted: <before> "<name>"<after>.
void LogNaming(MSIHANDLE install, const wchar_t* before, const wchar_t* name, const wchar_t* after);

// Logs what failed on a path, quoted, with the platform's error.
void LogPathError(MSIHANDLE install, const wchar_t* what, const wchar_t* path, DWORD error);

// The action's CustomActionData, or nullptr (logged) where it cannot be read.
wchar_t* ReadData(MSIHANDLE install);
