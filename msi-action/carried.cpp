#include "carried.h"

#include <sddl.h>

#include "digest.h"
#include "last_error.h"
#include "platform_function.h"
#include "session.h"

namespace {

// The run's folder: only SYSTEM and Administrators, with full access,
// inherited by what is made in it; nothing inherited from the temporary
// folder, which every user can write (P: protected).
const wchar_t kRunFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Names to try: each is new, so that one taken by chance costs one more.
constexpr DWORD kRunFolderAttempts = 8;

// The programs' resources, by name, of a type of their own (programs.rc.in).
const wchar_t kProgramResourceType[] = L"ZELTRANE_PROGRAM";
const wchar_t kZeltraneX86[] = L"ZELTRANE_X86";
const wchar_t kZeltraneX64[] = L"ZELTRANE_X64";
const wchar_t kZeltraneArm64[] = L"ZELTRANE_ARM64";
const wchar_t kZeltraneRemoveX86[] = L"ZELTRANE_REMOVE_X86";
const wchar_t kZeltraneRemoveX64[] = L"ZELTRANE_REMOVE_X64";
const wchar_t kZeltraneRemoveArm64[] = L"ZELTRANE_REMOVE_ARM64";
const wchar_t kZeltraneCreateX86[] = L"ZELTRANE_CREATE_X86";
const wchar_t kZeltraneCreateX64[] = L"ZELTRANE_CREATE_X64";
const wchar_t kZeltraneCreateArm64[] = L"ZELTRANE_CREATE_ARM64";

// The folders of the native builds, beside the 32-bit one.
const wchar_t* const kBuildFolders[] = {L"x64", L"arm64"};

// GetTempPath2W, as the platform documents it.
using GetTempPath2Function = DWORD(WINAPI*)(DWORD bufferLength, LPWSTR buffer);

// The temporary folder, with its closing backslash: for the local system
// account, where Windows has GetTempPath2W (Windows 11, and Windows 10 with
// its updates of 2022 on), its own, which no other user can enter; elsewhere
// the one every user may write, where only an unguessable name helps.
DWORD TemporaryFolder(wchar_t (&temporary)[MAX_PATH + 1]) {
    const auto getTempPath2 =
        PlatformFunction<GetTempPath2Function>(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W");
    const DWORD length = getTempPath2 != nullptr ? getTempPath2(MAX_PATH + 1, temporary)
                                                 : GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0) {
        return LastErrorOfFailedCall();
    }
    return length > MAX_PATH ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

// A new name for a run's folder in the temporary folder: Zeltrane- and 32
// hexadecimal digits from the platform's random source.
DWORD RunFolderName(const wchar_t* temporary, Text& folder) {
    constexpr DWORD kNameBytes = 16;
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    constexpr int kDigitBits = 4;
    constexpr BYTE kDigitMask = 0xF;
    BYTE random[kNameBytes];
    const DWORD error = RandomBytes(random, kNameBytes);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Clear(folder);
    Append(folder, temporary);
    Append(folder, L"Zeltrane-");
    for (const BYTE byte : random) {
        AppendChar(folder, kDigits[byte >> kDigitBits]);
        AppendChar(folder, kDigits[byte & kDigitMask]);
    }
    return ERROR_SUCCESS;
}

// Writes one build from this DLL's resources to its place in the run's folder.
DWORD WriteBuild(const Build& build, const Text& path) {
    const HRSRC found = FindResourceW(ThisModule(), build.resource, kProgramResourceType);
    const HGLOBAL loaded = found != nullptr ? LoadResource(ThisModule(), found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        return LastErrorOfFailedCall();
    }
    const DWORD size = SizeofResource(ThisModule(), found);
    // CREATE_NEW: never into a file that is there already.
    const HANDLE file = CreateFileW(path.data, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    // A file on a disk takes all of it, or the call fails.
    DWORD written = 0;
    const DWORD error =
        WriteFile(file, bytes, size, &written, nullptr) ? ERROR_SUCCESS : LastErrorOfFailedCall();
    CloseHandle(file);
    return error;
}

// Writes the program's builds into the run's folder, in a release's
// layout; where one fails, its path stays in `path`.
DWORD WriteBuilds(const Program& program, const Text& folder, Text& path) {
    for (const wchar_t* name : kBuildFolders) {
        Path(folder, name, path);
        if (!CreateDirectoryW(path.data, nullptr)) {
            return LastErrorOfFailedCall();
        }
    }
    for (const Build& build : program.builds) {
        Path(folder, build.path, path);
        const DWORD error = WriteBuild(build, path);
        if (error != ERROR_SUCCESS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace

const Program kZeltrane = {{{kZeltraneX86, L"Zeltrane.exe"},
                            {kZeltraneX64, L"x64\\Zeltrane.exe"},
                            {kZeltraneArm64, L"arm64\\Zeltrane.exe"}}};
const Program kZeltraneRemove = {{{kZeltraneRemoveX86, L"ZeltraneRemove.exe"},
                                  {kZeltraneRemoveX64, L"x64\\ZeltraneRemove.exe"},
                                  {kZeltraneRemoveArm64, L"arm64\\ZeltraneRemove.exe"}}};
const Program kZeltraneCreate = {{{kZeltraneCreateX86, L"ZeltraneCreate.exe"},
                                  {kZeltraneCreateX64, L"x64\\ZeltraneCreate.exe"},
                                  {kZeltraneCreateArm64, L"arm64\\ZeltraneCreate.exe"}}};

HMODULE& ThisModule() {
    static HMODULE module = nullptr;
    return module;
}

DWORD MakeRunFolder(Text& folder) {
    wchar_t temporary[MAX_PATH + 1];
    DWORD error = TemporaryFolder(temporary);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderAccess, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return LastErrorOfFailedCall();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    error = ERROR_ALREADY_EXISTS;
    for (DWORD attempt = 0; attempt < kRunFolderAttempts && error == ERROR_ALREADY_EXISTS;
         ++attempt) {
        error = RunFolderName(temporary, folder);
        if (error == ERROR_SUCCESS) {
            error = CreateDirectoryW(folder.data, &attributes) ? ERROR_SUCCESS
                                                               : LastErrorOfFailedCall();
        }
    }
    LocalFree(descriptor);
    return error;
}

void RemoveFolder(MSIHANDLE install, const Text& folder) {
    if (!RemoveDirectoryW(folder.data)) {
        LogPathError(install, L"cannot delete", folder.data, LastErrorOfFailedCall());
    }
}

void RemoveRunFolder(MSIHANDLE install, const Text& folder, const Program& program) {
    static Text path;
    for (const Build& build : program.builds) {
        Path(folder, build.path, path);
        DeleteFileW(path.data);
    }
    for (const wchar_t* name : kBuildFolders) {
        Path(folder, name, path);
        RemoveDirectoryW(path.data);
    }
    RemoveFolder(install, folder);
}

bool WriteProgram(MSIHANDLE install, const Program& program, Text& folder, Text& path) {
    DWORD error = MakeRunFolder(folder);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot make a folder for the programs", error);
        return false;
    }
    error = WriteBuilds(program, folder, path);
    if (error != ERROR_SUCCESS) {
        LogPathError(install, L"cannot write", path.data, error);
        RemoveRunFolder(install, folder, program);
        return false;
    }
    Path(folder, program.builds[0].path, path);
    return true;
}
