#pragma once

// Starting a program and waiting for it, with the log line that says what
// the run was for and how it ended.

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "carried.h"
#include "text.h"

// A run of a program: its command line, and the log line that says what the
// run is for and how it ended.
struct ProgramRun {
    Text commandLine;
    Text line;
};

// Runs the program with the run's command line. Where the command line was
// cut, or the program could not be started or waited for, logs why and
// returns false; otherwise adds "<program> ended with <code>" to the run's
// line, for the caller to finish and log.
bool RunAndSay(MSIHANDLE install, const wchar_t* program, ProgramRun& run, DWORD& exitCode);

// Writes the carried program into a run folder of its own, starts it once
// with its path, quoted, and the arguments, waits for it and deletes the
// folder again: as RunAndSay, false (logged) where it did not run.
bool RunCarried(MSIHANDLE install, const Program& program, const Text& arguments, ProgramRun& run,
                DWORD& exitCode);
