#pragma once

// The file name of a full path: what follows its last backslash, or the
// whole path where it has none.
const wchar_t* FileNameOf(const wchar_t* path);
