#pragma once

// The staged package: its published INF in the platform's INF folder, found
// from the INF that was staged, and the name that INF had before.

#include <windows.h>

// clang-format off
#include <setupapi.h>
// clang-format on

#include "text.h"

// The full path of a published INF, in the platform's INF folder.
DWORD PublishedPath(const wchar_t* name, Text& path);

// The name under which the platform staged the package (oemNN.inf), with
// the INF folder's path, into `published`: with SP_COPY_NOOVERWRITE, the
// platform refuses to copy a staged INF with ERROR_FILE_EXISTS and names the
// staged copy.
DWORD FindPublishedName(const wchar_t* inf, Text& published);

// The name that the package's INF had before the platform published it,
// as the platform recorded it when it staged the package.
DWORD OriginalName(const wchar_t* published, SP_ORIGINAL_FILE_INFO_W& original);
