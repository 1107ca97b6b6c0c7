#pragma once

// The programs that travel in this DLL as resources, and the run folders
// that each run writes them into: new, named from the random source, and
// open to SYSTEM and Administrators only.

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "text.h"

// A program that travels in this DLL: each build's resource, and where each
// goes in the run's folder, the layout of a release, so that the 32-bit
// build finds the machine's native build beside it and hands over to it.
struct Build {
    const wchar_t* resource;
    const wchar_t* path;
};

struct Program {
    Build builds[3];
};

// The three programs that the DLL carries.
extern const Program kZeltrane;
extern const Program kZeltraneRemove;
extern const Program kZeltraneCreate;

// This DLL, whose resources hold the programs: DllMain notes it.
HMODULE& ThisModule();

// Makes the run's folder, new, under the temporary folder, with
// kRunFolderAccess. A name that exists already, whatever it is (another
// user's folder, a file, a link), is passed over for a new one.
DWORD MakeRunFolder(Text& folder);

// Deletes a run's folder, emptied; says so in the log where it stays.
void RemoveFolder(MSIHANDLE install, const Text& folder);

// Deletes the run's folder and what the run wrote in it; says so in the
// log where anything stays.
void RemoveRunFolder(MSIHANDLE install, const Text& folder, const Program& program);

// Makes the run's folder and writes the program's builds into it, or logs
// why it cannot (and leaves nothing); the 32-bit build's path in `path`.
bool WriteProgram(MSIHANDLE install, const Program& program, Text& folder, Text& path);
