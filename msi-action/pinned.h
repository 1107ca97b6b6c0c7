#pragma once

// A file of the folder where the MSI installed the driver package, opened
// to read by SYSTEM without following a link that a user may have made: a
// custom INSTALLDIR can lie under folders that users may change, where a
// mount point or a symbolic link would lead the open elsewhere (a share,
// reached with the computer's credentials, or a pipe that never answers).

#include <windows.h>

// The most folders in a package file's path, its drive's root included.
constexpr DWORD kMostPinnedFolders = 32;

// The open file and the folders of its path, each held open so that none
// can be renamed, deleted or replaced while the file is read.
struct PinnedFile {
    HANDLE folders[kMostPinnedFolders];
    DWORD count;
    HANDLE file;
};

// Opens the file at `path` (a full path on a drive, "X:\..."): each folder
// from the drive's root down, then the file, none through a reparse point
// (ERROR_CANT_ACCESS_FILE) and, where one still leads off the
// machine, with no more than the caller's identity to give away. A path of
// another form is ERROR_BAD_PATHNAME, a deeper one
// ERROR_FILENAME_EXCED_RANGE. Where it fails, nothing stays open.
DWORD OpenPinned(const wchar_t* path, PinnedFile& pinned);

// Closes the file and its folders.
void ClosePinned(PinnedFile& pinned);
