// The fakes of kernel32.dll's files: folders, files by handle, searches,
// and the custom action DLL's resources.

#include <algorithm>
#include <cstring>

#include "fake_internal.h"

namespace {

// Open files: each handle is its index in this list, from kFirstFile.
std::vector<std::wstring> openedFiles;
constexpr std::uintptr_t kFirstFile = 0xF000;
// Where each open file's next read begins.
std::vector<std::size_t> readPositions;

// The search of FindFirstFileW: the files it lists, and the next one's index.
std::vector<std::wstring> listed;
std::size_t nextListed = 0;
HANDLE FakeSearch() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0xE000)); }

void FillFound(WIN32_FIND_DATAW* found) {
    const std::wstring& path = listed.at(nextListed++);
    const std::wstring name = path.substr(path.rfind(L'\\') + 1);
    *found = {};
    const auto size = fake.listedSizes.find(path);
    found->nFileSizeLow = size != fake.listedSizes.end()
                              ? size->second
                              : static_cast<DWORD>(fake.files.at(path).size());
    name.copy(found->cFileName, name.size());
    found->cFileName[name.size()] = L'\0';
}

}  // namespace

BOOL WINAPI CloseHandle(HANDLE hObject) {
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hObject);
    if (handle >= kFirstFile && handle < kFirstFile + openedFiles.size()) {
        fake.order.push_back("CloseHandle(file)");
        --fake.openFiles;
        return Complete(kSucceeds);
    }
    if (hObject == FakeLock()) {
        fake.order.push_back("CloseHandle(lock)");
        --fake.lockHandles;
        return TRUE;
    }
    fake.order.push_back("CloseHandle");
    fake.closed.push_back(hObject);
    fake.lastError = kLastErrorNoise;
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    fake.order.push_back("GetFileAttributesW");
    if (fake.files.count(lpFileName) == 1) {
        return FILE_ATTRIBUTE_NORMAL;
    }
    fake.lastError = fake.missingFileError;
    return INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    fake.order.push_back("CreateDirectoryW");
    const std::wstring path = lpPathName;
    if (++fake.createFolderCalls == fake.createFolderFailsOnCall) {
        return Complete(Fails(fake.createFolderError));
    }
    if (fake.folders.count(path) == 1 || fake.files.count(path) == 1) {
        return Complete(Fails(ERROR_ALREADY_EXISTS));
    }
    const bool described = lpSecurityAttributes != nullptr &&
                           lpSecurityAttributes->nLength == sizeof(SECURITY_ATTRIBUTES) &&
                           !lpSecurityAttributes->bInheritHandle;
    fake.folders[path] =
        described ? *static_cast<std::wstring*>(lpSecurityAttributes->lpSecurityDescriptor) : L"";
    return Complete(kSucceeds);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
    fake.order.push_back("RemoveDirectoryW");
    const std::wstring path = lpPathName;
    if (fake.removeFolder.fails) {
        return Complete(fake.removeFolder);
    }
    if (fake.folders.count(path) == 0) {
        return Complete(Fails(ERROR_FILE_NOT_FOUND));
    }
    for (const auto& file : fake.files) {
        if (file.first.rfind(path + L"\\", 0) == 0) {
            return Complete(Fails(ERROR_DIR_NOT_EMPTY));
        }
    }
    for (const auto& folder : fake.folders) {
        if (folder.first.rfind(path + L"\\", 0) == 0) {
            return Complete(Fails(ERROR_DIR_NOT_EMPTY));
        }
    }
    fake.folders.erase(path);
    return Complete(kSucceeds);
}

namespace {

// Whether the path is a folder of the file system: made, or one that holds
// a file or folder.
bool IsFolder(const std::wstring& path) {
    const std::wstring inside = path.back() == L'\\' ? path : path + L'\\';
    const auto holds = [&](const auto& entry) { return entry.first.rfind(inside, 0) == 0; };
    return fake.folders.count(path) == 1 ||
           std::any_of(fake.files.begin(), fake.files.end(), holds) ||
           std::any_of(fake.folders.begin(), fake.folders.end(), holds);
}

// What CreateFileW does with a file opened to read (OPEN_EXISTING), a
// folder opened as one, or a file made to write (CREATE_NEW, in a folder
// that is there).
Outcome OpenFile(const std::wstring& path, bool reads, bool lists, bool writes) {
    if (reads || lists) {
        const bool unreadable = std::find(fake.unreadable.begin(), fake.unreadable.end(), path) !=
                                fake.unreadable.end();
        const bool there = fake.files.count(path) == 1 || (lists && IsFolder(path));
        return unreadable ? Fails(ERROR_ACCESS_DENIED)
               : !there   ? Fails(ERROR_FILE_NOT_FOUND)
                          : kSucceeds;
    }
    if (!writes) {
        return Fails(ERROR_INVALID_PARAMETER);
    }
    if (fake.createFile.fails) {
        return fake.createFile;
    }
    if (fake.files.count(path) == 1) {
        return Fails(ERROR_FILE_EXISTS);
    }
    const bool folder = fake.folders.count(path.substr(0, path.rfind(L'\\'))) == 1;
    return folder ? kSucceeds : Fails(ERROR_PATH_NOT_FOUND);
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    fake.order.push_back("CreateFileW");
    const std::wstring path = lpFileName;
    // A file is opened plainly, or as the link that it may be with no more
    // than an identity for another machine; a folder only so, to list it.
    constexpr DWORD kUnfollowed =
        FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    const bool common = lpSecurityAttributes == nullptr && hTemplateFile == nullptr &&
                        dwCreationDisposition == OPEN_EXISTING;
    const bool reads =
        common && dwDesiredAccess == GENERIC_READ && dwShareMode == FILE_SHARE_READ &&
        (dwFlagsAndAttributes == FILE_ATTRIBUTE_NORMAL || dwFlagsAndAttributes == kUnfollowed);
    const bool lists = common && dwDesiredAccess == (FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES) &&
                       dwShareMode == (FILE_SHARE_READ | FILE_SHARE_WRITE) &&
                       dwFlagsAndAttributes == (kUnfollowed | FILE_FLAG_BACKUP_SEMANTICS);
    const bool writes = lpSecurityAttributes == nullptr && hTemplateFile == nullptr &&
                        dwFlagsAndAttributes == FILE_ATTRIBUTE_NORMAL &&
                        dwDesiredAccess == GENERIC_WRITE && dwShareMode == 0 &&
                        dwCreationDisposition == CREATE_NEW;
    if (!Complete(OpenFile(path, reads, lists, writes))) {
        return INVALID_HANDLE_VALUE;
    }
    if (writes) {
        fake.files[path];
    }
    if (lists) {
        fake.listedFolders.push_back(path);
    }
    openedFiles.push_back(path);
    readPositions.push_back(0);
    ++fake.openFiles;
    return reinterpret_cast<HANDLE>(kFirstFile + openedFiles.size() - 1);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
    if (fake.fileInformation.fails) {
        return Complete(fake.fileInformation);
    }
    const std::wstring& path = openedFiles.at(reinterpret_cast<std::uintptr_t>(hFile) - kFirstFile);
    const bool link = std::find(fake.reparsePoints.begin(), fake.reparsePoints.end(), path) !=
                      fake.reparsePoints.end();
    *lpFileInformation = {};
    lpFileInformation->dwFileAttributes =
        (fake.files.count(path) == 1 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_DIRECTORY) |
        (link ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    return Complete(kSucceeds);
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    fake.order.push_back("WriteFile");
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hFile);
    if (fake.writeFile.fails || lpOverlapped != nullptr) {
        return Complete(fake.writeFile.fails ? fake.writeFile : Fails(ERROR_INVALID_PARAMETER));
    }
    fake.files.at(openedFiles.at(handle - kFirstFile))
        .append(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return Complete(kSucceeds);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    fake.order.push_back("ReadFile");
    const std::size_t index = reinterpret_cast<std::uintptr_t>(hFile) - kFirstFile;
    const bool fails = fake.readFile.fails &&
                       (fake.readFailsFor.empty() || fake.readFailsFor == openedFiles.at(index));
    if (fails || lpOverlapped != nullptr) {
        return Complete(fails ? fake.readFile : Fails(ERROR_INVALID_PARAMETER));
    }
    // The file's bytes from where the last read ended.
    const std::string& data = fake.files.at(openedFiles.at(index));
    std::size_t& position = readPositions.at(index);
    const DWORD size = static_cast<DWORD>(
        std::min<std::size_t>(data.size() - std::min(position, data.size()), nNumberOfBytesToRead));
    std::memcpy(lpBuffer, data.data() + std::min(position, data.size()), size);
    position += size;
    *lpNumberOfBytesRead = size;
    return Complete(kSucceeds);
}

// Lists the files of "<folder>\*.inf", as the custom action asks, by name.
HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
    fake.order.push_back("FindFirstFileW");
    const std::wstring pattern = lpFileName;
    const std::wstring folder = pattern.substr(0, pattern.rfind(L'\\') + 1);
    listed.clear();
    nextListed = 0;
    for (const auto& file : fake.files) {
        const std::wstring& path = file.first;
        const std::wstring name = path.substr(std::min(folder.size(), path.size()));
        if (pattern == folder + L"*.inf" && path.rfind(folder, 0) == 0 &&
            name.find(L'\\') == std::wstring::npos && name.size() > 4 &&
            name.compare(name.size() - 4, 4, L".inf") == 0) {
            listed.push_back(path);
        }
    }
    if (listed.empty()) {
        fake.lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    FillFound(lpFindFileData);
    ++fake.openSearches;
    return FakeSearch();
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
    fake.order.push_back("FindNextFileW");
    if (hFindFile != FakeSearch() || nextListed >= listed.size()) {
        return Complete(Fails(ERROR_NO_MORE_ITEMS));
    }
    FillFound(lpFindFileData);
    return Complete(kSucceeds);
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    fake.order.push_back("FindClose");
    fake.openSearches -= hFindFile == FakeSearch() ? 1 : 0;
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    fake.order.push_back("DeleteFileW");
    return Complete(fake.files.erase(lpFileName) == 1 ? kSucceeds : Fails(ERROR_FILE_NOT_FOUND));
}

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    fake.order.push_back("FindResourceW");
    fake.resourceModules.push_back(hModule);
    const auto found = fake.resources.find(lpName);
    if (std::wstring(lpType) != L"ZELTRANE_PROGRAM" || found == fake.resources.end()) {
        fake.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return nullptr;
    }
    // The resource's handle is its entry's address, as good as any.
    return reinterpret_cast<HRSRC>(const_cast<std::string*>(&found->second));
}

HGLOBAL WINAPI LoadResource(HMODULE /*hModule*/, HRSRC hResInfo) { return hResInfo; }

LPVOID WINAPI LockResource(HGLOBAL hResData) { return static_cast<std::string*>(hResData)->data(); }

DWORD WINAPI SizeofResource(HMODULE /*hModule*/, HRSRC hResInfo) {
    return static_cast<DWORD>(reinterpret_cast<std::string*>(hResInfo)->size());
}
