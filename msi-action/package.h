#pragma once

// The driver package, taken from the folder where the MSI installed it only
// as a copy in a run folder of its own, each file checked against the
// SHA-256 digest that the MSI's build recorded (record-digests.py).

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "digest.h"
#include "text.h"

// The driver package as the MSI's build recorded it: each file's path in
// the package's folder and its SHA-256 digest.
struct PackageFile {
    const wchar_t* path;
    BYTE digest[kDigestSize];
};

// More files than the longest CustomActionData can list: each takes a path
// of one character at least, '*' and 64 digits, and a '*' between two.
constexpr DWORD kMostPackageFiles = kCapacity / (2 * kDigestSize + 2) + 1;

struct Package {
    PackageFile files[kMostPackageFiles];
    DWORD count;
};

// Reads the package's list, <path>*<digest>*<path>*<digest>..., as the
// MSI's build wrote it; false (logged) where it lists nothing or is not so.
bool ReadPackage(MSIHANDLE install, wchar_t* list, Package& package);

// Where the package's file is, in a folder: folder and path, joined.
void PackagePath(const wchar_t* folder, const wchar_t* path, Text& joined);

// Deletes the copy's files and folders, then the copy's own folder.
void RemovePackageCopy(MSIHANDLE install, const Text& copyFolder, const Package& package);

// Copies the package's files from the folder where the MSI installed them,
// which a user may have changed, read through no link (pinned.h), into a
// run folder of its own, which only
// SYSTEM and Administrators can write, and checks each copy against its
// digest: what the programs install is the copy, and only where every file
// is the MSI's own. False (logged, nothing left) where not.
bool CopyPackage(MSIHANDLE install, const wchar_t* folder, const Package& package,
                 Text& copyFolder);

// The package's file of that path, as the MSI names it, or nullptr where
// the package does not list it.
const PackageFile* Listed(const Package& package, const wchar_t* path);
