#include "pinned.h"

#include "last_error.h"
#include "text.h"

namespace {

// What each open of the path asks: the link itself, never what it leads
// to; where an open still reaches another machine, only the caller's
// identity, which that machine cannot act with.
constexpr DWORD kUnfollowed =
    FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Opens one part of the path and refuses it where it is a reparse point or
// not what it should be (a folder, or the file). A folder is opened to list
// it, so that its share mode counts: without FILE_SHARE_DELETE, no one can
// rename or delete it, nor put another in its place, while it is held.
DWORD OpenPart(const wchar_t* path, bool folder, HANDLE& opened) {
    opened = folder ? CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  kUnfollowed | FILE_FLAG_BACKUP_SEMANTICS, nullptr)
                    : CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  kUnfollowed, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    DWORD error = ERROR_SUCCESS;
    if (!GetFileInformationByHandle(opened, &information)) {
        error = LastErrorOfFailedCall();
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = ERROR_CANT_ACCESS_FILE;
    } else if (folder && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // A file opens as one without FILE_FLAG_BACKUP_SEMANTICS too; a
        // folder never opens as the file.
        error = ERROR_DIRECTORY;
    }
    if (error != ERROR_SUCCESS) {
        CloseHandle(opened);
        opened = INVALID_HANDLE_VALUE;
    }
    return error;
}

// Whether the path starts with a drive's root: a letter, ':' and '\'.
bool OnADrive(const wchar_t* path) {
    const wchar_t letter = static_cast<wchar_t>(path[0] | L' ');
    return letter >= L'a' && letter <= L'z' && path[1] == L':' && path[2] == L'\\';
}

}  // namespace

DWORD OpenPinned(const wchar_t* path, PinnedFile& pinned) {
    pinned.count = 0;
    pinned.file = INVALID_HANDLE_VALUE;
    if (!OnADrive(path)) {
        return ERROR_BAD_PATHNAME;
    }
    static Text part;
    Clear(part);
    Append(part, path);
    if (part.cut) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    DWORD error = ERROR_SUCCESS;
    // Each folder's path ends before its '\', but the root's with it.
    for (DWORD at = 2; error == ERROR_SUCCESS && at < part.length; ++at) {
        if (part.data[at] != L'\\') {
            continue;
        }
        if (pinned.count == kMostPinnedFolders) {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        const DWORD end = at == 2 ? at + 1 : at;
        const wchar_t kept = part.data[end];
        part.data[end] = L'\0';
        error = OpenPart(part.data, true, pinned.folders[pinned.count]);
        part.data[end] = kept;
        pinned.count += error == ERROR_SUCCESS ? 1 : 0;
    }
    if (error == ERROR_SUCCESS) {
        error = OpenPart(part.data, false, pinned.file);
    }
    if (error != ERROR_SUCCESS) {
        ClosePinned(pinned);
    }
    return error;
}

void ClosePinned(PinnedFile& pinned) {
    if (pinned.file != INVALID_HANDLE_VALUE) {
        CloseHandle(pinned.file);
        pinned.file = INVALID_HANDLE_VALUE;
    }
    while (pinned.count > 0) {
        CloseHandle(pinned.folders[--pinned.count]);
    }
}
