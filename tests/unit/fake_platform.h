#pragma once

// Recording fakes for the platform functions the installer calls. Each test
// resets `fake`, may tell a call to fail, runs the code and reads the record.

#include <msiquery.h>
#include <newdev.h>
#include <setupapi.h>
#include <windows.h>

#include <string>
#include <vector>

struct CopyCall {
    PCWSTR source;
    PCWSTR mediaLocation;
    DWORD mediaType;
    DWORD style;
    PWSTR destination;
    DWORD destinationSize;
    PDWORD requiredSize;
    PWSTR* destinationComponent;
};

struct UpdateCall {
    HWND parent;
    LPCWSTR hardwareId;
    LPCWSTR infPath;
    DWORD flags;
    PBOOL restartRequired;
};

struct BoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

struct StartCall {
    std::wstring application;
    std::wstring commandLine;
    bool commandLineIsOwn;  // the very buffer GetCommandLineW returned
    bool processAttributes;
    bool threadAttributes;
    BOOL inheritHandles;
    DWORD flags;
    LPVOID environment;
    LPCWSTR currentDirectory;
    DWORD startupSize;
    DWORD startupFlags;
};

struct UninstallDriverCall {
    HWND parent;
    std::wstring infPath;
    DWORD flags;
    bool needRebootGiven;
};

// A device as the removal sees it: whether it has a driver key, the InfPath
// value there (of that registry type), and the install parameters' flags
// after its removal.
struct FakeDevice {
    std::wstring infPath;
    bool hasDriver = true;
    DWORD type = REG_SZ;
    DWORD flagsAfterRemoval = 0;
};

// What a call does: succeed, or return FALSE leaving `error` as the last error.
struct Outcome {
    bool fails;
    DWORD error;
};

// The outcomes by name, for tables of cases.
constexpr Outcome kSucceeds{false, 0};
constexpr Outcome Fails(DWORD error) { return {true, error}; }

struct FakePlatform {
    Outcome copy{false, 0};
    Outcome update{false, 0};
    std::vector<std::string> order;
    std::vector<CopyCall> copies;
    std::vector<UpdateCall> updates;
    std::vector<BoxCall> boxes;
    DWORD lastError = 0;

    // The running image's path and command line, and what starting another
    // image does: a started child ends with `childExitCode`.
    std::wstring modulePath = L"C:\\Program Files (x86)\\Zeltrane\\Zeltrane.exe";
    Outcome module{false, 0};
    std::wstring commandLine = L"Zeltrane.exe x.inf PCI\\VEN_1";
    Outcome start{false, 0};
    Outcome wait{false, 0};
    Outcome exitCode{false, 0};
    DWORD childExitCode = 0;
    // Where not empty: each start's exit code in turn, in place of childExitCode.
    std::vector<DWORD> childExitCodes;
    std::vector<StartCall> starts;
    std::vector<DWORD> moduleBufferSizes;
    std::vector<DWORD> waitTimeouts;
    std::vector<HANDLE> closed;

    // The machine as IsWow64Process2 tells it, where kernel32 exports that
    // function (Windows 10 version 1511 and later).
    bool kernel32Found = true;
    bool hasIsWow64Process2 = true;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_AMD64;
    Outcome machine{false, 0};
    std::vector<std::wstring> modulesLookedUp;
    std::vector<std::string> functionsLookedUp;

    // The installation session a custom action is given: its CustomActionData
    // (MsiGetPropertyW answers `propertyError` where it is not 0), whether
    // MsiCreateRecord fails, and each message logged, as MSI formats it.
    std::wstring customActionData;
    std::wstring productCode = L"{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
    UINT productCodeError = 0;
    UINT propertyError = 0;
    bool recordFails = false;
    std::vector<std::wstring> logged;
    int openRecords = 0;
    // The global atom table (GlobalAddAtomW fails where `atomsFail`), and
    // each MsiSetMode call as (mode, state).
    std::vector<std::wstring> atoms;
    bool atomsFail = false;
    std::vector<std::pair<int, BOOL>> modesSet;

    // Driver package removal. A copy that succeeds, or fails with
    // ERROR_FILE_EXISTS, gives back `published`. newdev.dll loads from
    // System32 and exports DiUninstallDriverW (Windows 10 version 1703 and
    // later) where told. The devices, each listed once; what each removal
    // call does; handles still open at the end.
    std::wstring published = L"C:\\Windows\\INF\\oem7.inf";
    bool newdevLoads = true;
    bool hasUninstallDriver = true;
    Outcome uninstallDriver{false, 0};
    BOOL needReboot = FALSE;
    std::vector<UninstallDriverCall> uninstallDriverCalls;
    std::vector<FakeDevice> devices;
    Outcome deviceList{false, 0};
    // The call of SetupDiEnumDeviceInfo, counted from 1, that fails with
    // `enumerationError` (none: 0); the calls so far.
    int enumerationFailsOnCall = 0;
    DWORD enumerationError = 0;
    int enumerationCalls = 0;
    Outcome deviceRemoval{false, 0};
    Outcome installParameters{false, 0};
    std::vector<DWORD> removedDevices;
    Outcome infUninstall{false, 0};
    std::vector<std::pair<std::wstring, DWORD>> uninstalledInfs;
    std::vector<std::pair<std::wstring, DWORD>> librariesLoaded;
    int openKeys = 0;
    int openDeviceLists = 0;
};

extern FakePlatform fake;

// The handle the fake GetDesktopWindow returns.
HWND FakeDesktopWindow();

// The handles of a process the fake CreateProcessW starts.
HANDLE FakeChildProcess();
HANDLE FakeChildThread();

// The installation session's handle, as the fakes of msi.dll know it.
constexpr MSIHANDLE kFakeInstall = 0x4E;

// The handle the fake GetModuleHandleW returns for kernel32.dll, and the one
// the fake LoadLibraryExW returns for newdev.dll.
HMODULE FakeKernel32();
HMODULE FakeNewdev();

// The last error a call leaves behind when it succeeds: real platform calls
// may change it on success too, so code must read it right after a failure.
constexpr DWORD kLastErrorNoise = 0x00007777;
