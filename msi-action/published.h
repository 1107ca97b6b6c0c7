#pragma once

// The staged package: its published INF in the platform's INF folder, found
// from the INF that was staged, and the name that INF had before.

#include <windows.h>

// clang-format off
#include <setupapi.h>

#include <msi.h>
// clang-format on

#include "package.h"
#include "text.h"

// The full path of a published INF, in the platform's INF folder.
DWORD PublishedPath(const wchar_t* name, Text& path);

// The name under which the platform staged the package (oemNN.inf), with
// the INF folder's path, into `published`: with SP_COPY_NOOVERWRITE, the
// platform refuses to copy a staged INF with ERROR_FILE_EXISTS and names the
// staged copy, the one staged with the package's catalog (catalog.h), whose
// digest goes into `catalog` (empty where the package has none).
DWORD FindPublishedName(const wchar_t* inf, const Package& package, Text& published, Text& catalog);

// The name that the package's INF had before the platform published it,
// as the platform recorded it when it staged the package.
DWORD OriginalName(const wchar_t* published, SP_ORIGINAL_FILE_INFO_W& original);

// A published INF's name: oem<number>.inf as Windows gives them, or the
// INF's own name, as Wine keeps it. Read from a record or a property, it
// names a file in the INF folder and no other: a file name that ends in
// .inf, with no folder, drive or stream in it (superseded.cpp).
bool IsPublishedName(const wchar_t* name);

// What a recorded published name stands for now.
enum class Recorded { kOurs, kGone, kAnothers, kUnreadable };

// Whether the package recorded as `name` (oemNN.inf) is still the package
// of the INF whose own name is `infName`: its published INF's full path
// into `published`, and kOurs. A name that the platform has since given to
// another INF's package is kAnothers, a package no longer staged kGone,
// and both are logged as nothing to remove; kUnreadable is logged with the
// error.
Recorded CheckRecordedPackage(MSIHANDLE install, const wchar_t* name, const wchar_t* infName,
                              Text& published);
