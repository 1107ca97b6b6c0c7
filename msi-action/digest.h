#pragma once

#include <windows.h>

// The SHA-256 digest of a file, in bytes.
constexpr DWORD kDigestSize = 32;

// Copies the file open to read as `source`, from where it is, into a new
// file at `copy` (never into one that is there already) and gives the
// SHA-256 digest of the bytes written: the copy holds exactly what was
// hashed. ERROR_SUCCESS, or the error of the step that failed, with the
// copy, where it was made, left to the caller.
DWORD CopyWithDigest(HANDLE source, const wchar_t* copy, BYTE (&digest)[kDigestSize]);

// The SHA-256 digest of the file's bytes; ERROR_SUCCESS, or the error of the
// step that failed.
DWORD FileDigest(const wchar_t* path, BYTE (&digest)[kDigestSize]);

// Fills the bytes from the platform's cryptographic random source.
DWORD RandomBytes(BYTE* bytes, DWORD count);
