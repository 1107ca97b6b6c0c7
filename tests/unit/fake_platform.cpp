#include "fake_platform.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <map>

FakePlatform fake;

HWND FakeDesktopWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10010)); }

HANDLE FakeChildProcess() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A4)); }
HANDLE FakeChildThread() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A8)); }

HMODULE FakeKernel32() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x75000000));
}

HMODULE FakeNewdev() { return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x76000000)); }

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

BOOL WINAPI FakeDiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot) {
    fake.order.push_back("DiUninstallDriverW");
    fake.uninstallDriverCalls.push_back({parent, infPath, flags, needReboot != nullptr});
    if (!fake.uninstallDriver.fails && needReboot != nullptr) {
        *needReboot = fake.needReboot;
    }
    return Complete(fake.uninstallDriver);
}

// The handles of the fake device list and of each device's driver key.
HDEVINFO FakeDeviceList() { return reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0xD1)); }
constexpr std::uintptr_t kFirstDriverKey = 0x5000;

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
    // The staged copy's path: where this call staged it, or where it already was.
    const bool named = !fake.copy.fails || fake.copy.error == ERROR_FILE_EXISTS;
    if (named && DestinationInfFileName != nullptr &&
        fake.published.size() < DestinationInfFileNameSize) {
        fake.published.copy(DestinationInfFileName, fake.published.size());
        DestinationInfFileName[fake.published.size()] = L'\0';
    }
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
    const std::string name = lpProcName;
    if (hModule == FakeNewdev() && fake.hasUninstallDriver && name == "DiUninstallDriverW") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeDiUninstallDriverW));
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
    const std::wstring name = szName;
    std::wstring value;
    if (hInstall == kFakeInstall && name == L"CustomActionData") {
        value = fake.customActionData;
    } else if (hInstall == kFakeInstall && name == L"ProductCode") {
        if (fake.productCodeError != 0) {
            return fake.productCodeError;
        }
        value = fake.productCode;
    }
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

UINT WINAPI MsiSetMode(MSIHANDLE hInstall, MSIRUNMODE eRunMode, BOOL fState) {
    fake.order.push_back("MsiSetMode");
    if (hInstall != kFakeInstall) {
        return ERROR_INVALID_PARAMETER;
    }
    fake.modesSet.emplace_back(eRunMode, fState);
    return ERROR_SUCCESS;
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

UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
    fake.order.push_back("MsiCloseHandle");
    records.erase(hAny);
    --fake.openRecords;
    return ERROR_SUCCESS;
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

HDEVINFO WINAPI SetupDiGetClassDevsW(const void* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    fake.order.push_back("SetupDiGetClassDevsW");
    if (ClassGuid != nullptr || Enumerator != nullptr || hwndParent != nullptr ||
        Flags != DIGCF_ALLCLASSES || !Complete(fake.deviceList)) {
        fake.lastError = fake.deviceList.fails ? fake.deviceList.error : ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    ++fake.openDeviceLists;
    return FakeDeviceList();
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiEnumDeviceInfo");
    if (DeviceInfoSet != FakeDeviceList() || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (++fake.enumerationCalls == fake.enumerationFailsOnCall) {
        return Complete(Fails(fake.enumerationError));
    }
    if (MemberIndex >= fake.devices.size()) {
        return Complete(Fails(ERROR_NO_MORE_ITEMS));
    }
    DeviceInfoData->DevInst = MemberIndex;
    return Complete(kSucceeds);
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                 DWORD Scope, DWORD HwProfile, DWORD KeyType, REGSAM samDesired) {
    fake.order.push_back("SetupDiOpenDevRegKey");
    const FakeDevice& device = fake.devices.at(DeviceInfoData->DevInst);
    if (DeviceInfoSet != FakeDeviceList() || Scope != DICS_FLAG_GLOBAL || HwProfile != 0 ||
        KeyType != DIREG_DRV || samDesired != KEY_QUERY_VALUE || !device.hasDriver) {
        fake.lastError = ERROR_FILE_NOT_FOUND;
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    ++fake.openKeys;
    fake.lastError = kLastErrorNoise;
    return reinterpret_cast<HKEY>(kFirstDriverKey + DeviceInfoData->DevInst);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                BYTE* lpData, LPDWORD lpcbData) {
    fake.order.push_back("RegQueryValueExW");
    const FakeDevice& device =
        fake.devices.at(reinterpret_cast<std::uintptr_t>(hKey) - kFirstDriverKey);
    if (std::wstring(lpValueName) != L"InfPath" || lpReserved != nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    // As the registry does: the bytes as stored, with no NUL added.
    const DWORD size = static_cast<DWORD>(device.infPath.size() * sizeof(wchar_t));
    *lpType = device.type;
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (size > room) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, device.infPath.data(), size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY /*hKey*/) {
    fake.order.push_back("RegCloseKey");
    --fake.openKeys;
    return ERROR_SUCCESS;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiCallClassInstaller");
    if (InstallFunction != DIF_REMOVE || DeviceInfoSet != FakeDeviceList()) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.removedDevices.push_back(DeviceInfoData->DevInst);
    return Complete(fake.deviceRemoval);
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                           SP_DEVINSTALL_PARAMS_W* DeviceInstallParams) {
    fake.order.push_back("SetupDiGetDeviceInstallParamsW");
    if (DeviceInfoSet != FakeDeviceList() ||
        DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (!fake.installParameters.fails) {
        DeviceInstallParams->Flags = fake.devices.at(DeviceInfoData->DevInst).flagsAfterRemoval;
    }
    return Complete(fake.installParameters);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    fake.order.push_back("SetupDiDestroyDeviceInfoList");
    fake.openDeviceLists -= DeviceInfoSet == FakeDeviceList() ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, void* /*Reserved*/) {
    fake.order.push_back("SetupUninstallOEMInfW");
    fake.uninstalledInfs.emplace_back(InfFileName, Flags);
    return Complete(fake.infUninstall);
}
