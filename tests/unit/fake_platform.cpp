#include "fake_platform.h"

#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
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

HMODULE FakeActionModule() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x6C000000));
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

BOOL WINAPI FakeDiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, PBOOL needReboot) {
    fake.order.push_back("DiUninstallDriverW");
    fake.uninstallDriverCalls.push_back({parent, infPath, flags, needReboot != nullptr});
    if (!fake.uninstallDriver.fails && needReboot != nullptr) {
        *needReboot = fake.needReboot;
    }
    return Complete(fake.uninstallDriver);
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
                           lpEnvironment, lpCurrentDirectory ? lpCurrentDirectory : L"(null)",
                           lpStartupInfo->cb, lpStartupInfo->dwFlags});
    fake.filesAtStart = fake.files;
    fake.foldersAtStart = fake.folders;
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

namespace {

// Open files: each handle is its index in this list, from kFirstFile.
std::vector<std::wstring> openedFiles;
constexpr std::uintptr_t kFirstFile = 0xF000;
// Where each open file's next read begins.
std::vector<std::size_t> readPositions;

}  // namespace

BOOL WINAPI CloseHandle(HANDLE hObject) {
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hObject);
    if (handle >= kFirstFile && handle < kFirstFile + openedFiles.size()) {
        fake.order.push_back("CloseHandle(file)");
        --fake.openFiles;
        return Complete(kSucceeds);
    }
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
    if (hModule == FakeKernel32() && fake.hasSetDefaultDllDirectories &&
        name == "SetDefaultDllDirectories") {
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)()>(&FakeSetDefaultDllDirectories));
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

namespace {

// Keys of HKLM opened: each handle is its index in this list, from kFirstKey.
std::vector<std::wstring> openedKeys;
constexpr std::uintptr_t kFirstKey = 0x9000;

const std::wstring* OpenedKey(HKEY hKey) {
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hKey);
    return handle >= kFirstKey && handle < kFirstKey + openedKeys.size()
               ? &openedKeys[handle - kFirstKey]
               : nullptr;
}

bool RegistryCallFails(const char* name, LSTATUS& status) {
    status = fake.registryCallFails == name ? fake.registryError : ERROR_SUCCESS;
    return status != ERROR_SUCCESS;
}

HKEY OpenKey(const std::wstring& path) {
    openedKeys.push_back(path);
    ++fake.openKeys;
    return reinterpret_cast<HKEY>(kFirstKey + openedKeys.size() - 1);
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             HKEY* phkResult) {
    fake.order.push_back("RegOpenKeyExW");
    LSTATUS status;
    if (RegistryCallFails("RegOpenKeyExW", status)) {
        return status;
    }
    if (hKey != HKEY_LOCAL_MACHINE || ulOptions != 0 ||
        (samDesired != KEY_QUERY_VALUE && samDesired != KEY_SET_VALUE)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (fake.registry.count(lpSubKey) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = OpenKey(lpSubKey);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, HKEY* phkResult,
                               LPDWORD lpdwDisposition) {
    fake.order.push_back("RegCreateKeyExW");
    LSTATUS status;
    if (RegistryCallFails("RegCreateKeyExW", status)) {
        return status;
    }
    if (hKey != HKEY_LOCAL_MACHINE || Reserved != 0 || lpClass != nullptr ||
        dwOptions != REG_OPTION_NON_VOLATILE || samDesired != KEY_SET_VALUE ||
        lpSecurityAttributes != nullptr || lpdwDisposition != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    fake.registry[lpSubKey];
    *phkResult = OpenKey(lpSubKey);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    fake.order.push_back("RegSetValueExW");
    LSTATUS status;
    if (RegistryCallFails("RegSetValueExW", status)) {
        return status;
    }
    const std::wstring* key = OpenedKey(hKey);
    if (key == nullptr || Reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    fake.registry[*key][lpValueName] = {dwType,
                                        std::string(reinterpret_cast<const char*>(lpData), cbData)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    fake.order.push_back("RegDeleteValueW");
    LSTATUS status;
    if (RegistryCallFails("RegDeleteValueW", status)) {
        return status;
    }
    const std::wstring* key = OpenedKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return fake.registry[*key].erase(lpValueName) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    fake.order.push_back("RegDeleteKeyW");
    const std::wstring path = lpSubKey;
    if (hKey != HKEY_LOCAL_MACHINE || fake.registry.count(path) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    // As the registry does: a key that has subkeys stays.
    for (const auto& other : fake.registry) {
        if (other.first.rfind(path + L"\\", 0) == 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    fake.registry.erase(path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                BYTE* lpData, LPDWORD lpcbData) {
    fake.order.push_back("RegQueryValueExW");
    if (const std::wstring* key = OpenedKey(hKey)) {
        LSTATUS status;
        if (RegistryCallFails("RegQueryValueExW", status)) {
            return status;
        }
        const auto& values = fake.registry[*key];
        const auto value = values.find(lpValueName);
        if (value == values.end()) {
            return ERROR_FILE_NOT_FOUND;
        }
        *lpType = value->second.first;
        const DWORD size = static_cast<DWORD>(value->second.second.size());
        const DWORD room = *lpcbData;
        *lpcbData = size;
        if (size > room) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->second.second.data(), size);
        return ERROR_SUCCESS;
    }
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

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    fake.order.push_back(OpenedKey(hKey) != nullptr ? "RegCloseKey(HKLM)" : "RegCloseKey");
    --fake.openKeys;
    return ERROR_SUCCESS;
}

namespace {

// The list of the device that SetupDiCreateDeviceInfoList makes, and the
// class that the fake INF names.
HDEVINFO FakeCreatedList() { return reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0xD2)); }
constexpr GUID kNetClass = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool IsNetClass(const GUID* guid) {
    return guid != nullptr && std::memcmp(guid, &kNetClass, sizeof kNetClass) == 0;
}

}  // namespace

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetDeviceRegistryPropertyW");
    const FakeDevice& device = fake.devices.at(DeviceInfoData->DevInst);
    if (DeviceInfoSet != FakeDeviceList() || Property != SPDRP_HARDWAREID) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (device.hardwareIds.empty()) {
        return Complete(Fails(ERROR_INVALID_DATA));
    }
    // REG_NONE: a property that is there, but empty.
    std::wstring list;
    for (const std::wstring& id :
         device.idsType == REG_NONE ? std::vector<std::wstring>{} : device.hardwareIds) {
        list += id;
        list += L'\0';
    }
    list += device.idsType == REG_NONE ? L"" : std::wstring(1, L'\0');
    const DWORD size = static_cast<DWORD>(list.size() * sizeof(wchar_t));
    *PropertyRegDataType = device.idsType;
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (size > PropertyBufferSize || (PropertyBuffer != nullptr && fake.idsChange)) {
        return Complete(Fails(ERROR_INSUFFICIENT_BUFFER));
    }
    // An empty property fits a buffer of none.
    if (size > 0) {
        std::memcpy(PropertyBuffer, list.data(), size);
    }
    return Complete(kSucceeds);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetDeviceInstanceIdW");
    const std::wstring& id = fake.devices.at(DeviceInfoData->DevInst).instanceId;
    if (DeviceInfoSet != FakeDeviceList() || RequiredSize != nullptr || id.empty() ||
        id.size() >= DeviceInstanceIdSize) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    id.copy(DeviceInstanceId, id.size());
    DeviceInstanceId[id.size()] = L'\0';
    return Complete(kSucceeds);
}

BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, GUID* ClassGuid, PWSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetINFClassW");
    fake.infClassAsked = InfName;
    if (!fake.infClass.fails && ClassNameSize >= MAX_CLASS_NAME_LEN && RequiredSize == nullptr) {
        *ClassGuid = fake.infNamesNoGuid ? GUID{} : kNetClass;
        std::wcscpy(ClassName, L"Net");
    }
    return Complete(fake.infClass);
}

BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR ClassName, GUID* ClassGuidList,
                                       DWORD ClassGuidListSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiClassGuidsFromNameW");
    fake.classNameAsked = ClassName;
    const DWORD count = static_cast<DWORD>(fake.classesOfName.size());
    *RequiredSize = count;
    if (count > ClassGuidListSize) {
        return Complete(Fails(ERROR_INSUFFICIENT_BUFFER));
    }
    std::copy(fake.classesOfName.begin(), fake.classesOfName.end(), ClassGuidList);
    return Complete(kSucceeds);
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

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
    fake.order.push_back("SetupDiCreateDeviceInfoList");
    if (!IsNetClass(ClassGuid) || hwndParent != nullptr || !Complete(fake.createList)) {
        fake.lastError = fake.createList.fails ? fake.createList.error : ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    ++fake.openDeviceLists;
    return FakeCreatedList();
}

BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName,
                                     const GUID* ClassGuid, PCWSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiCreateDeviceInfoW");
    if (DeviceInfoSet != FakeCreatedList() || !IsNetClass(ClassGuid) ||
        DeviceDescription != nullptr || hwndParent != nullptr ||
        DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.createdName = DeviceName;
    fake.createdFlags = CreationFlags;
    DeviceInfoData->DevInst = 0xC0;
    return Complete(fake.createInfo);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize) {
    fake.order.push_back("SetupDiSetDeviceRegistryPropertyW");
    if (DeviceInfoSet != FakeCreatedList() || DeviceInfoData->DevInst != 0xC0 ||
        Property != SPDRP_HARDWAREID) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.createdIds.assign(reinterpret_cast<const wchar_t*>(PropertyBuffer),
                           PropertyBufferSize / sizeof(wchar_t));
    return Complete(fake.setIds);
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiCallClassInstaller");
    if (DeviceInfoSet == FakeCreatedList() && DeviceInfoData->DevInst == 0xC0) {
        if (InstallFunction == DIF_REGISTERDEVICE) {
            fake.registered = !fake.registration.fails;
            return Complete(fake.registration);
        }
        fake.createdRemoved = InstallFunction == DIF_REMOVE && fake.registered;
        return Complete(fake.createdRemoved ? kSucceeds : Fails(ERROR_INVALID_PARAMETER));
    }
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
    fake.openDeviceLists -=
        DeviceInfoSet == FakeDeviceList() || DeviceInfoSet == FakeCreatedList() ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, void* /*Reserved*/) {
    fake.order.push_back("SetupUninstallOEMInfW");
    fake.uninstalledInfs.emplace_back(InfFileName, Flags);
    return Complete(fake.infUninstall);
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

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    fake.order.push_back("GetFileAttributesW");
    if (fake.files.count(lpFileName) == 1) {
        return FILE_ATTRIBUTE_NORMAL;
    }
    fake.lastError = fake.missingFileError;
    return INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR StringSecurityDescriptor, DWORD StringSDRevision,
    PSECURITY_DESCRIPTOR* SecurityDescriptor, std::uint32_t* SecurityDescriptorSize) {
    fake.order.push_back("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (StringSDRevision != SDDL_REVISION_1 || SecurityDescriptorSize != nullptr ||
        fake.descriptor.fails) {
        return Complete(fake.descriptor.fails ? fake.descriptor : Fails(ERROR_INVALID_PARAMETER));
    }
    // The descriptor carries its SDDL, for CreateDirectoryW to note.
    *SecurityDescriptor = new std::wstring(StringSecurityDescriptor);
    ++fake.openDescriptors;
    return Complete(kSucceeds);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    fake.order.push_back("LocalFree");
    delete static_cast<std::wstring*>(hMem);
    --fake.openDescriptors;
    return nullptr;
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

// What CreateFileW does with a file opened to read (OPEN_EXISTING), or made
// to write (CREATE_NEW, in a folder that is there).
Outcome OpenFile(const std::wstring& path, bool reads, bool writes) {
    if (reads) {
        const bool unreadable = std::find(fake.unreadable.begin(), fake.unreadable.end(), path) !=
                                fake.unreadable.end();
        return unreadable                    ? Fails(ERROR_ACCESS_DENIED)
               : fake.files.count(path) == 0 ? Fails(ERROR_FILE_NOT_FOUND)
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

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    fake.order.push_back("CreateFileW");
    const std::wstring path = lpFileName;
    const bool common = lpSecurityAttributes == nullptr &&
                        dwFlagsAndAttributes == FILE_ATTRIBUTE_NORMAL && hTemplateFile == nullptr;
    const bool reads = common && dwDesiredAccess == GENERIC_READ &&
                       dwShareMode == FILE_SHARE_READ && dwCreationDisposition == OPEN_EXISTING;
    const bool writes = common && dwDesiredAccess == GENERIC_WRITE && dwShareMode == 0 &&
                        dwCreationDisposition == CREATE_NEW;
    if (!Complete(OpenFile(path, reads, writes))) {
        return INVALID_HANDLE_VALUE;
    }
    if (writes) {
        fake.files[path];
    }
    openedFiles.push_back(path);
    readPositions.push_back(0);
    ++fake.openFiles;
    return reinterpret_cast<HANDLE>(kFirstFile + openedFiles.size() - 1);
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

namespace {

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

BOOL WINAPI SetupGetInfInformationW(const void* InfSpec, DWORD SearchControl,
                                    SP_INF_INFORMATION* ReturnBuffer, DWORD ReturnBufferSize,
                                    PDWORD RequiredSize) {
    fake.order.push_back("SetupGetInfInformationW");
    const std::wstring path = static_cast<LPCWSTR>(InfSpec);
    const DWORD needed = static_cast<DWORD>(8 + (path.size() + 1) * sizeof(wchar_t));
    if (SearchControl != INFINFO_INF_NAME_IS_ABSOLUTE || RequiredSize != nullptr ||
        ReturnBufferSize < needed) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (fake.infInformation.fails || fake.originalNames.count(path) == 0) {
        return Complete(fake.infInformation.fails ? fake.infInformation
                                                  : Fails(ERROR_FILE_NOT_FOUND));
    }
    // As Wine does: the INF's path in VersionData.
    ReturnBuffer->InfStyle = 2;
    ReturnBuffer->InfCount = 1;
    std::memcpy(ReturnBuffer->VersionData, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return Complete(kSucceeds);
}

BOOL WINAPI SetupQueryInfOriginalFileInformationW(SP_INF_INFORMATION* InfInformation, UINT InfIndex,
                                                  SP_ALTPLATFORM_INFO* AlternatePlatformInfo,
                                                  SP_ORIGINAL_FILE_INFO_W* OriginalFileInfo) {
    fake.order.push_back("SetupQueryInfOriginalFileInformationW");
    if (InfIndex != 0 || AlternatePlatformInfo != nullptr ||
        OriginalFileInfo->cbSize != sizeof(SP_ORIGINAL_FILE_INFO_W) || fake.originalName.fails) {
        return Complete(fake.originalName.fails ? fake.originalName
                                                : Fails(ERROR_INVALID_PARAMETER));
    }
    std::wstring path(MAX_PATH, L'\0');
    std::memcpy(path.data(), InfInformation->VersionData, MAX_PATH * sizeof(wchar_t));
    const std::wstring& original = fake.originalNames.at(path.c_str());
    original.copy(OriginalFileInfo->OriginalInfName, original.size());
    OriginalFileInfo->OriginalInfName[original.size()] = L'\0';
    return Complete(kSucceeds);
}

namespace {

// Each hash's bytes so far, by handle.
std::map<HCRYPTHASH, std::string> hashes;
HCRYPTHASH nextHash = 0x4000;
constexpr HCRYPTPROV kFakeProvider = 0x3000;

}  // namespace

std::wstring FakeDigest(const std::string& bytes) {
    // Four FNV-1a sums of 64 bits, each from another start.
    constexpr std::uint64_t kPrime = 0x100000001B3;
    std::wstring hex;
    for (std::uint64_t start = 1; start <= 4; ++start) {
        std::uint64_t sum = 0xCBF29CE484222325 * start;
        for (const char byte : bytes) {
            sum = (sum ^ static_cast<unsigned char>(byte)) * kPrime;
        }
        for (int shift = 60; shift >= 0; shift -= 4) {
            hex += L"0123456789abcdef"[(sum >> shift) & 0xF];
        }
    }
    return hex;
}

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags) {
    fake.order.push_back("CryptAcquireContextW");
    const bool fails = ++fake.providerCalls == fake.providerFailsOnCall;
    if (szContainer != nullptr || szProvider != nullptr || dwProvType != PROV_RSA_AES ||
        dwFlags != (CRYPT_VERIFYCONTEXT | CRYPT_SILENT) || fails) {
        return Complete(Fails(fails ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER));
    }
    *phProv = kFakeProvider;
    ++fake.openProviders;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD /*dwFlags*/) {
    fake.order.push_back("CryptReleaseContext");
    fake.openProviders -= hProv == kFakeProvider ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash) {
    fake.order.push_back("CryptCreateHash");
    if (hProv != kFakeProvider || Algid != CALG_SHA_256 || hKey != 0 || dwFlags != 0 ||
        fake.hashCreation.fails) {
        return Complete(fake.hashCreation.fails ? fake.hashCreation
                                                : Fails(ERROR_INVALID_PARAMETER));
    }
    *phHash = ++nextHash;
    hashes[*phHash].clear();
    ++fake.openHashes;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    fake.order.push_back("CryptHashData");
    if (fake.hashing.fails || dwFlags != 0) {
        return Complete(fake.hashing.fails ? fake.hashing : Fails(ERROR_INVALID_PARAMETER));
    }
    hashes.at(hHash).append(reinterpret_cast<const char*>(pbData), dwDataLen);
    return Complete(kSucceeds);
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD /*dwFlags*/) {
    fake.order.push_back("CryptGetHashParam");
    if (dwParam != HP_HASHVAL || *pdwDataLen != 32 || fake.hashValue.fails) {
        return Complete(fake.hashValue.fails ? fake.hashValue : Fails(ERROR_INVALID_PARAMETER));
    }
    const std::wstring hex = FakeDigest(hashes.at(hHash));
    for (DWORD i = 0; i < 32; ++i) {
        pbData[i] = static_cast<BYTE>(
            std::stoi(std::string(hex.begin() + 2 * i, hex.begin() + 2 * i + 2), nullptr, 16));
    }
    return Complete(kSucceeds);
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
    fake.order.push_back("CryptDestroyHash");
    fake.openHashes -= hashes.erase(hHash) == 1 ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    fake.order.push_back("CryptGenRandom");
    if (hProv != kFakeProvider || fake.random.fails) {
        return Complete(fake.random.fails ? fake.random : Fails(ERROR_INVALID_PARAMETER));
    }
    std::memset(pbBuffer, ++fake.randomCalls, dwLen);
    return Complete(kSucceeds);
}
