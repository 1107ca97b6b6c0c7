#include "package.h"

#include "carried.h"
#include "last_error.h"
#include "pinned.h"
#include "session.h"

namespace {

// Whether the path names a file inside the package's folder: relative, its
// parts neither empty nor "." or "..", and no drive, stream or '/' in it.
bool InsidePackage(const wchar_t* path) {
    const wchar_t* part = path;
    for (const wchar_t* at = path;; ++at) {
        if (*at == L':' || *at == L'/') {
            return false;
        }
        if (*at == L'\\' || *at == L'\0') {
            const auto length = at - part;
            const bool dots = (length == 1 && part[0] == L'.') ||
                              (length == 2 && part[0] == L'.' && part[1] == L'.');
            if (length == 0 || dots) {
                return false;
            }
            if (*at == L'\0') {
                return true;
            }
            part = at + 1;
        }
    }
}

// The value of one hexadecimal digit, or -1.
int DigitValue(wchar_t digit) {
    constexpr int kTen = 10;
    if (digit >= L'0' && digit <= L'9') {
        return digit - L'0';
    }
    if (digit >= L'a' && digit <= L'f') {
        return digit - L'a' + kTen;
    }
    return digit >= L'A' && digit <= L'F' ? digit - L'A' + kTen : -1;
}

// Reads a digest written as 64 hexadecimal digits, nothing more.
bool ReadDigest(const wchar_t* hex, BYTE (&digest)[kDigestSize]) {
    constexpr int kDigitBits = 4;
    for (BYTE& byte : digest) {
        const int high = DigitValue(hex[0]);
        const int low = high < 0 ? -1 : DigitValue(hex[1]);
        if (low < 0) {
            return false;
        }
        byte = static_cast<BYTE>((high << kDigitBits) | low);
        hex += 2;
    }
    return *hex == L'\0';
}

// Makes the folders of the file's path in the copy, each new or already
// made for an earlier file.
DWORD MakeFoldersFor(Text& copy, DWORD folderLength) {
    for (DWORD at = folderLength + 1; at < copy.length; ++at) {
        if (copy.data[at] != L'\\') {
            continue;
        }
        copy.data[at] = L'\0';
        const bool made = CreateDirectoryW(copy.data, nullptr);
        const DWORD error = made ? ERROR_SUCCESS : LastErrorOfFailedCall();
        copy.data[at] = L'\\';
        if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

// Copies one file of the package into the copy and checks the copy against
// its digest; false (logged) where it cannot be copied or is not the file
// that the MSI installed.
bool CopyPackageFile(MSIHANDLE install, const wchar_t* folder, const Text& copyFolder,
                     const PackageFile& file) {
    static Text source;
    static Text copy;
    PackagePath(folder, file.path, source);
    PackagePath(copyFolder.data, file.path, copy);
    BYTE digest[kDigestSize] = {};
    // Neither is cut: the folders and the path together fit in CustomActionData.
    DWORD error = MakeFoldersFor(copy, copyFolder.length);
    static PinnedFile pinned;
    if (error == ERROR_SUCCESS) {
        error = OpenPinned(source.data, pinned);
    }
    if (error == ERROR_SUCCESS) {
        error = CopyWithDigest(pinned.file, copy.data, digest);
        ClosePinned(pinned);
    }
    static Text line;
    Clear(line);
    Append(line, L"the driver package's file \"");
    Append(line, source.data);
    if (error != ERROR_SUCCESS) {
        Append(line, L"\" cannot be copied to check it: the installation fails");
        LogError(install, line.data, error);
        return false;
    }
    if (!SameBytes(digest, file.digest, kDigestSize)) {
        Append(line, L"\" is not the file that this MSI installed: the installation fails");
        Log(install, line);
        return false;
    }
    return true;
}

}  // namespace

bool ReadPackage(MSIHANDLE install, wchar_t* list, Package& package) {
    package.count = 0;
    for (wchar_t* entry = list; entry != nullptr && *entry != L'\0';) {
        wchar_t* hex = SplitAt(entry, L'*');
        wchar_t* next = hex != nullptr ? SplitAt(hex, L'*') : nullptr;
        PackageFile& file = package.files[package.count];
        if (hex == nullptr || !InsidePackage(entry) || !ReadDigest(hex, file.digest)) {
            Log(install,
                L"the driver package's list of files is not <path>*<SHA-256>*...: "
                L"the installation fails");
            return false;
        }
        file.path = entry;
        ++package.count;
        entry = next;
    }
    if (package.count == 0) {
        Log(install,
            L"the MSI records no digests of the driver package's files "
            L"(record-digests.py writes them when the MSI is built): the installation fails");
        return false;
    }
    return true;
}

void PackagePath(const wchar_t* folder, const wchar_t* path, Text& joined) {
    Clear(joined);
    Append(joined, folder);
    if (joined.length > 0 && joined.data[joined.length - 1] != L'\\') {
        AppendChar(joined, L'\\');
    }
    Append(joined, path);
}

void RemovePackageCopy(MSIHANDLE install, const Text& copyFolder, const Package& package) {
    static Text path;
    for (DWORD i = package.count; i-- > 0;) {
        PackagePath(copyFolder.data, package.files[i].path, path);
        DeleteFileW(path.data);
        // Its folders, the deepest first; one that still holds another
        // file stays for that file's turn.
        for (DWORD at = path.length; at-- > copyFolder.length + 1;) {
            if (path.data[at] == L'\\') {
                path.data[at] = L'\0';
                RemoveDirectoryW(path.data);
            }
        }
    }
    RemoveFolder(install, copyFolder);
}

bool CopyPackage(MSIHANDLE install, const wchar_t* folder, const Package& package,
                 Text& copyFolder) {
    const DWORD error = MakeRunFolder(copyFolder);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot make a folder for the driver package", error);
        return false;
    }
    for (DWORD i = 0; i < package.count; ++i) {
        if (!CopyPackageFile(install, folder, copyFolder, package.files[i])) {
            RemovePackageCopy(install, copyFolder, package);
            return false;
        }
    }
    LogNaming(install, L"the driver package's files are the MSI's own, checked in", copyFolder.data,
              L"");
    return true;
}

const PackageFile* Listed(const Package& package, const wchar_t* path) {
    for (DWORD i = 0; i < package.count; ++i) {
        if (CompareStringOrdinal(package.files[i].path, -1, path, -1, TRUE) == CSTR_EQUAL) {
            return &package.files[i];
        }
    }
    return nullptr;
}
