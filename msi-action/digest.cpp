// The platform's cryptography for the custom actions, from advapi32, which
// every Windows has: SHA-256 to check a driver package's files against the
// digests that the MSI's build recorded and to know a staged package by its
// INF's bytes, and random bytes for folder names
// that no other user can guess and take first.

#include "digest.h"

#include <wincrypt.h>

#include "last_error.h"

namespace {

// What is read and written at once.
constexpr DWORD kChunk = 64 * 1024;

// A provider for hashing and random bytes: no key container, no prompt.
DWORD AcquireProvider(HCRYPTPROV& provider) {
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

// The two open files of a copy.
struct Copying {
    HANDLE source;
    HANDLE copy;
};

// Hashes what it reads from the source, to the end, and writes each chunk
// into the copy as it hashes it, where there is one.
DWORD CopyHashing(const Copying& files, HCRYPTHASH hash) {
    static BYTE chunk[kChunk];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(files.source, chunk, kChunk, &read, nullptr)) {
            return LastErrorOfFailedCall();
        }
        if (read == 0) {
            return ERROR_SUCCESS;
        }
        // A file on a disk takes all of it, or the call fails.
        DWORD written = 0;
        if (!CryptHashData(hash, chunk, read, 0) ||
            (files.copy != INVALID_HANDLE_VALUE &&
             !WriteFile(files.copy, chunk, read, &written, nullptr))) {
            return LastErrorOfFailedCall();
        }
    }
}

// Hashes the source, and copies it where `copy` names a file to make.
DWORD CopyFiles(HANDLE source, const wchar_t* copy, HCRYPTHASH hash) {
    Copying files = {source, INVALID_HANDLE_VALUE};
    if (copy != nullptr) {
        files.copy = CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr);
        if (files.copy == INVALID_HANDLE_VALUE) {
            return LastErrorOfFailedCall();
        }
    }
    const DWORD error = CopyHashing(files, hash);
    if (copy != nullptr) {
        CloseHandle(files.copy);
    }
    return error;
}

DWORD CopyAndHash(HANDLE source, const wchar_t* copy, HCRYPTPROV provider,
                  BYTE (&digest)[kDigestSize]) {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        return LastErrorOfFailedCall();
    }
    DWORD error = CopyFiles(source, copy, hash);
    DWORD size = kDigestSize;
    if (error == ERROR_SUCCESS && !CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
        error = LastErrorOfFailedCall();
    }
    CryptDestroyHash(hash);
    return error;
}

}  // namespace

DWORD CopyWithDigest(HANDLE source, const wchar_t* copy, BYTE (&digest)[kDigestSize]) {
    HCRYPTPROV provider = 0;
    DWORD error = AcquireProvider(provider);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error = CopyAndHash(source, copy, provider, digest);
    CryptReleaseContext(provider, 0);
    return error;
}

DWORD FileDigest(const wchar_t* path, BYTE (&digest)[kDigestSize]) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    const DWORD error = CopyWithDigest(file, nullptr, digest);
    CloseHandle(file);
    return error;
}

DWORD RandomBytes(BYTE* bytes, DWORD count) {
    HCRYPTPROV provider = 0;
    DWORD error = AcquireProvider(provider);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!CryptGenRandom(provider, count, bytes)) {
        error = LastErrorOfFailedCall();
    }
    CryptReleaseContext(provider, 0);
    return error;
}
