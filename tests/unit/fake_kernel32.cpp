// The fakes of kernel32.dll but its files: the last error, processes,
// modules, atoms, strings, the heap and the platform's folders.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "fake_internal.h"

namespace {

// The pseudo-handle GetCurrentProcess returns.
HANDLE CurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }

BOOL WINAPI FakeIsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
    fake.order.push_back("IsWow64Process2");
    if (process != CurrentProcess()) {
        fake.lastError = 6;  // ERROR_INVALID_HANDLE
        return FALSE;
    }
    if (!fake.machine.fails) {
        *processMachine = IMAGE_FILE_MACHINE_I386;
        *nativeMachine = fake.nativeMachine;
    }
    return Complete(fake.machine);
}

// GetTempPathW and GetTempPath2W: the folder, or the size needed.
DWORD TemporaryFolder(const std::wstring& folder, DWORD nBufferLength, LPWSTR lpBuffer) {
    const DWORD length = static_cast<DWORD>(folder.size());
    if (length == 0) {
        fake.lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    if (length >= nBufferLength) {
        return length + 1;
    }
    folder.copy(lpBuffer, length);
    lpBuffer[length] = L'\0';
    return length;
}

DWORD WINAPI FakeGetTempPath2W(DWORD nBufferLength, LPWSTR lpBuffer) {
    fake.order.push_back("GetTempPath2W");
    return TemporaryFolder(fake.systemTempFolder, nBufferLength, lpBuffer);
}

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD directoryFlags) {
    fake.order.push_back("SetDefaultDllDirectories");
    fake.dllDirectoryFlags.push_back(directoryFlags);
    return Complete(kSucceeds);
}

}  // namespace

DWORD WINAPI GetLastError() { return fake.lastError; }

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    fake.order.push_back("GetModuleFileNameW");
    fake.moduleBufferSizes.push_back(nSize);
    if (hModule != nullptr || fake.module.fails) {
        fake.lastError = fake.module.error;
        return 0;
    }
    // As the platform does: a path that does not fit is cut to nSize - 1
    // characters, and the result is nSize.
    const std::wstring& path = fake.modulePath;
    const DWORD copied = std::min<DWORD>(static_cast<DWORD>(path.size()), nSize - 1);
    path.copy(lpFilename, copied);
    lpFilename[copied] = L'\0';
    const bool truncated = copied < path.size();
    fake.lastError = truncated ? ERROR_INSUFFICIENT_BUFFER : kLastErrorNoise;
    return truncated ? nSize : copied;
}

LPWSTR WINAPI GetCommandLineW() {
    fake.order.push_back("GetCommandLineW");
    fake.lastError = kLastErrorNoise;
    return fake.commandLine.data();
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    fake.order.push_back("CreateProcessW");
    fake.starts.push_back({lpApplicationName ? lpApplicationName : L"(null)",
                           lpCommandLine ? lpCommandLine : L"(null)",
                           lpCommandLine == fake.commandLine.data(), lpProcessAttributes != nullptr,
                           lpThreadAttributes != nullptr, bInheritHandles, dwCreationFlags,
                           lpEnvironment, lpCurrentDirectory ? lpCurrentDirectory : L"(null)",
                           lpStartupInfo->cb, lpStartupInfo->dwFlags});
    fake.filesAtStart = fake.files;
    fake.foldersAtStart = fake.folders;
    if (!fake.start.fails) {
        *lpProcessInformation = {FakeChildProcess(), FakeChildThread(), 0x140, 0x144};
    }
    return Complete(fake.start);
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName) {
    fake.order.push_back("CreateMutexW");
    fake.lockName = lpName;
    fake.lockDescriptor =
        *static_cast<const std::wstring*>(lpMutexAttributes->lpSecurityDescriptor);
    if (bInitialOwner || fake.lockCreate.fails) {
        Complete(bInitialOwner ? Fails(ERROR_INVALID_PARAMETER) : fake.lockCreate);
        return nullptr;
    }
    ++fake.lockHandles;
    fake.lastError = kLastErrorNoise;
    return FakeLock();
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    fake.order.push_back("ReleaseMutex");
    if (hMutex != FakeLock() || fake.locksHeld == 0) {
        return Complete(Fails(288));  // ERROR_NOT_OWNER
    }
    --fake.locksHeld;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (hHandle == FakeLock()) {
        fake.order.push_back("WaitForSingleObject(lock)");
        fake.waitTimeouts.push_back(dwMilliseconds);
        const DWORD answer = fake.lockWaitAnswer;
        if (answer == WAIT_OBJECT_0 || answer == WAIT_ABANDONED) ++fake.locksHeld;
        fake.lastError = answer == WAIT_FAILED ? fake.wait.error : kLastErrorNoise;
        return answer;
    }
    fake.order.push_back("WaitForSingleObject");
    fake.waitTimeouts.push_back(dwMilliseconds);
    const bool fails = fake.wait.fails || hHandle != FakeChildProcess();
    fake.lastError = fails ? fake.wait.error : kLastErrorNoise;
    return fails ? WAIT_FAILED : WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    fake.order.push_back("GetExitCodeProcess");
    if (hProcess != FakeChildProcess()) {
        fake.lastError = 6;  // ERROR_INVALID_HANDLE
        return FALSE;
    }
    if (!fake.exitCode.fails) {
        *lpExitCode = fake.childExitCodes.empty() ? fake.childExitCode
                                                  : fake.childExitCodes.at(fake.starts.size() - 1);
    }
    return Complete(fake.exitCode);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    fake.order.push_back("GetModuleHandleW");
    fake.modulesLookedUp.emplace_back(lpModuleName ? lpModuleName : L"(null)");
    fake.lastError = kLastErrorNoise;
    const bool kernel32 = lpModuleName && std::wstring(lpModuleName) == L"kernel32.dll";
    if (lpModuleName && std::wstring(lpModuleName) == L"setupapi.dll") {
        return FakeSetupapi();
    }
    return kernel32 && fake.kernel32Found ? FakeKernel32() : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    fake.order.push_back("GetProcAddress");
    fake.functionsLookedUp.emplace_back(lpProcName);
    fake.lastError = kLastErrorNoise;
    const std::string name = lpProcName;
    if (hModule == FakeKernel32() && fake.hasSetDefaultDllDirectories &&
        name == "SetDefaultDllDirectories") {
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)()>(&FakeSetDefaultDllDirectories));
    }
    if (hModule == FakeSetupapi() && fake.hasVerifyInfFile && name == "SetupVerifyInfFileW") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeSetupVerifyInfFileW));
    }
    if (hModule == FakeNewdev() && fake.hasUninstallDriver && name == "DiUninstallDriverW") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeDiUninstallDriverW));
    }
    if (hModule == FakeKernel32() && fake.hasGetTempPath2W && name == "GetTempPath2W") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeGetTempPath2W));
    }
    if (hModule != FakeKernel32() || !fake.hasIsWow64Process2 || name != "IsWow64Process2") {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeIsWow64Process2));
}

HANDLE WINAPI GetCurrentProcess() {
    fake.order.push_back("GetCurrentProcess");
    return CurrentProcess();
}

// This process's ID, and its session as `fake` tells it.
constexpr DWORD kProcessId = 4242;

DWORD WINAPI GetCurrentProcessId() { return kProcessId; }

BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
    if (dwProcessId != kProcessId) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    *pSessionId = fake.session;
    return Complete(fake.sessionRead);
}

// An atom is its index in the table, from 0xC000 as the platform numbers
// string atoms; a deleted one leaves an empty name.
constexpr ATOM kFirstAtom = 0xC000;

ATOM WINAPI GlobalAddAtomW(LPCWSTR lpString) {
    fake.order.push_back("GlobalAddAtomW");
    if (fake.atomsFail) {
        return 0;
    }
    fake.atoms.emplace_back(lpString);
    return static_cast<ATOM>(kFirstAtom + fake.atoms.size() - 1);
}

ATOM WINAPI GlobalFindAtomW(LPCWSTR lpString) {
    fake.order.push_back("GlobalFindAtomW");
    for (std::size_t i = 0; i < fake.atoms.size(); ++i) {
        if (fake.atoms[i] == lpString) {
            return static_cast<ATOM>(kFirstAtom + i);
        }
    }
    return 0;
}

ATOM WINAPI GlobalDeleteAtom(ATOM nAtom) {
    fake.order.push_back("GlobalDeleteAtom");
    fake.atoms.at(nAtom - kFirstAtom).clear();
    return 0;
}

HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    fake.order.push_back("LoadLibraryExW");
    fake.librariesLoaded.emplace_back(lpLibFileName, dwFlags);
    const bool loads = fake.newdevLoads && hFile == nullptr &&
                       std::wstring(lpLibFileName) == L"newdev.dll" &&
                       dwFlags == LOAD_LIBRARY_SEARCH_SYSTEM32;
    fake.lastError = loads ? kLastErrorNoise : ERROR_MOD_NOT_FOUND;
    return loads ? FakeNewdev() : nullptr;
}

int WINAPI CompareStringOrdinal(LPCWSTR lpString1, int cchCount1, LPCWSTR lpString2, int cchCount2,
                                BOOL bIgnoreCase) {
    std::wstring first(lpString1, cchCount1 < 0 ? std::wcslen(lpString1) : cchCount1);
    std::wstring second(lpString2, cchCount2 < 0 ? std::wcslen(lpString2) : cchCount2);
    if (bIgnoreCase) {
        for (std::wstring* text : {&first, &second}) {
            std::transform(text->begin(), text->end(), text->begin(),
                           [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
        }
    }
    return first < second ? 1 : first == second ? CSTR_EQUAL : 3;
}

HANDLE WINAPI GetProcessHeap() { return reinterpret_cast<HANDLE>(std::uintptr_t{0x5000}); }

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, std::size_t dwBytes) {
    fake.order.push_back("HeapAlloc");
    if (fake.heapFails || hHeap != GetProcessHeap() || dwFlags != HEAP_ZERO_MEMORY) {
        return nullptr;
    }
    ++fake.heapBlocks;
    return std::calloc(dwBytes, 1);
}

BOOL WINAPI HeapFree(HANDLE /*hHeap*/, DWORD /*dwFlags*/, LPVOID lpMem) {
    fake.order.push_back("HeapFree");
    --fake.heapBlocks;
    std::free(lpMem);
    return TRUE;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    fake.order.push_back("GetSystemDirectoryW");
    if (fake.systemFolderCall.fails) {
        fake.lastError = fake.systemFolderCall.error;
        return 0;
    }
    // As the platform does: the size it needs where the buffer is too small.
    const UINT length = static_cast<UINT>(fake.systemFolder.size());
    if (length >= uSize) {
        return length + 1;
    }
    fake.systemFolder.copy(lpBuffer, length);
    lpBuffer[length] = L'\0';
    fake.lastError = kLastErrorNoise;
    return length;
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    fake.order.push_back("GetSystemWindowsDirectoryW");
    const UINT length = static_cast<UINT>(fake.windowsFolder.size());
    if (length == 0) {
        fake.lastError = ERROR_ACCESS_DENIED;
        return 0;
    }
    if (length >= uSize) {
        return length + 1;
    }
    fake.windowsFolder.copy(lpBuffer, length);
    lpBuffer[length] = L'\0';
    return length;
}

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    fake.order.push_back("GetTempPathW");
    return TemporaryFolder(fake.tempFolder, nBufferLength, lpBuffer);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    fake.order.push_back("LocalFree");
    delete static_cast<std::wstring*>(hMem);
    --fake.openDescriptors;
    return nullptr;
}
