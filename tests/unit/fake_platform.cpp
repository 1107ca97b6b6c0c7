#include "fake_platform.h"

#include <algorithm>
#include <map>

FakePlatform fake;

HWND FakeDesktopWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10010)); }

HANDLE FakeChildProcess() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A4)); }
HANDLE FakeChildThread() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A8)); }

HMODULE FakeKernel32() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x75000000));
}

namespace {

BOOL Complete(const Outcome& outcome) {
    fake.lastError = outcome.fails ? outcome.error : kLastErrorNoise;
    return outcome.fails ? FALSE : TRUE;
}

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

}  // namespace

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    fake.order.push_back("MessageBoxW");
    fake.boxes.push_back({hWnd, lpText, lpCaption, uType});
    fake.lastError = kLastErrorNoise;
    return 1;
}

HWND WINAPI GetDesktopWindow() {
    fake.order.push_back("GetDesktopWindow");
    fake.lastError = kLastErrorNoise;
    return FakeDesktopWindow();
}

DWORD WINAPI GetLastError() { return fake.lastError; }

BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
                             DWORD OEMSourceMediaType, DWORD CopyStyle,
                             PWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PWSTR* DestinationInfFileNameComponent) {
    fake.order.push_back("SetupCopyOEMInfW");
    fake.copies.push_back({SourceInfFileName, OEMSourceMediaLocation, OEMSourceMediaType, CopyStyle,
                           DestinationInfFileName, DestinationInfFileNameSize, RequiredSize,
                           DestinationInfFileNameComponent});
    return Complete(fake.copy);
}

BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND hwndParent, LPCWSTR HardwareId,
                                               LPCWSTR FullInfPath, DWORD InstallFlags,
                                               PBOOL bRebootRequired) {
    fake.order.push_back("UpdateDriverForPlugAndPlayDevicesW");
    fake.updates.push_back({hwndParent, HardwareId, FullInfPath, InstallFlags, bRebootRequired});
    return Complete(fake.update);
}

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
                           lpEnvironment, lpCurrentDirectory, lpStartupInfo->cb,
                           lpStartupInfo->dwFlags});
    if (!fake.start.fails) {
        *lpProcessInformation = {FakeChildProcess(), FakeChildThread(), 0x140, 0x144};
    }
    return Complete(fake.start);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
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

BOOL WINAPI CloseHandle(HANDLE hObject) {
    fake.order.push_back("CloseHandle");
    fake.closed.push_back(hObject);
    fake.lastError = kLastErrorNoise;
    return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    fake.order.push_back("GetModuleHandleW");
    fake.modulesLookedUp.emplace_back(lpModuleName ? lpModuleName : L"(null)");
    fake.lastError = kLastErrorNoise;
    const bool kernel32 = lpModuleName && std::wstring(lpModuleName) == L"kernel32.dll";
    return kernel32 && fake.kernel32Found ? FakeKernel32() : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    fake.order.push_back("GetProcAddress");
    fake.functionsLookedUp.emplace_back(lpProcName);
    fake.lastError = kLastErrorNoise;
    if (hModule != FakeKernel32() || !fake.hasIsWow64Process2 ||
        std::string(lpProcName) != "IsWow64Process2") {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeIsWow64Process2));
}

HANDLE WINAPI GetCurrentProcess() {
    fake.order.push_back("GetCurrentProcess");
    return CurrentProcess();
}

namespace {

// The fields of each open record, by handle.
std::map<MSIHANDLE, std::map<UINT, std::wstring>> records;
MSIHANDLE nextRecord = 0x1000;

}  // namespace

UINT WINAPI MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf,
                            DWORD* pcchValueBuf) {
    fake.order.push_back("MsiGetPropertyW");
    if (fake.propertyError != 0) {
        return fake.propertyError;
    }
    // As msi.dll does: a property not set reads as empty; a value that does
    // not fit is cut to the buffer, with its length and ERROR_MORE_DATA.
    const std::wstring value =
        hInstall == kFakeInstall && std::wstring(szName) == L"CustomActionData"
            ? fake.customActionData
            : L"";
    const DWORD size = *pcchValueBuf;
    *pcchValueBuf = static_cast<DWORD>(value.size());
    const DWORD copied = std::min<DWORD>(static_cast<DWORD>(value.size()), size - 1);
    value.copy(szValueBuf, copied);
    szValueBuf[copied] = L'\0';
    return copied < value.size() ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
    fake.order.push_back("MsiCreateRecord");
    if (fake.recordFails || cParams < 1) {
        return 0;
    }
    ++fake.openRecords;
    records[++nextRecord] = {};
    return nextRecord;
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue) {
    records.at(hRecord)[iField] = szValue;
    return ERROR_SUCCESS;
}

int WINAPI MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord) {
    fake.order.push_back("MsiProcessMessage");
    if (hInstall != kFakeInstall || eMessageType != INSTALLMESSAGE_INFO) {
        return -1;
    }
    // MSI formats the template, field 0: [1] is field 1; other brackets in a
    // field's text are that text.
    std::map<UINT, std::wstring>& fields = records.at(hRecord);
    std::wstring text = fields[0];
    const std::size_t at = text.find(L"[1]");
    if (at != std::wstring::npos) {
        text.replace(at, 3, fields[1]);
    }
    fake.logged.push_back(text);
    return 0;
}

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
    fake.order.push_back("MsiCloseHandle");
    records.erase(hAny);
    --fake.openRecords;
    return ERROR_SUCCESS;
}
