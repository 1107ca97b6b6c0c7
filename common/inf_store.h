#pragma once

#include <windows.h>

// The platform's INF folder, <Windows>\INF\ with its closing backslash, where
// the platform keeps the INFs of staged packages under the names that it
// chose for them (oemNN.inf, the published names).
DWORD InfFolder(wchar_t (&folder)[MAX_PATH]);

// Whether the INF path names a file in the INF folder, which is then the
// published INF of a staged package, into `published`; ERROR_SUCCESS, or
// the error of the call that could not tell.
DWORD IsPublishedInf(const wchar_t* infPath, bool& published);

// The published INF of the package staged from the INF, its full path into
// `published` (MAX_PATH characters). With SP_COPY_NOOVERWRITE the platform
// refuses to copy an INF whose package is staged, with ERROR_FILE_EXISTS,
// and names the staged copy. Where the package was not staged, this call
// stages it, and says so in `stagedNow`. Otherwise the error of the copy.
DWORD FindStagedInf(const wchar_t* inf, wchar_t* published, bool& stagedNow);
