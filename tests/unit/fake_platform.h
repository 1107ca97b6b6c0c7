#pragma once

// Recording fakes for the platform functions the programs and the custom
// action call, a file for each Windows DLL (fake_<dll>.cpp). Each test
// resets `fake`, may tell a call to fail, runs the code and reads the record.

#include <cfgmgr32.h>
#include <msiquery.h>
#include <newdev.h>
#include <setupapi.h>
#include <windows.h>

#include <map>
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
    std::wstring currentDirectory;
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
    // Its hardware IDs, none where the device has no such property.
    std::vector<std::wstring> hardwareIds = {};
    DWORD idsType = REG_MULTI_SZ;
    // Its device instance ID; none where it cannot be read.
    std::wstring instanceId = L"PCI\\VEN_7A5C&DEV_0C31\\3&11583659&0&10";
    // Its compatible IDs; whether it is present.
    std::vector<std::wstring> compatibleIds = {};
    bool present = true;
    // Its state as the platform reports it (DEVPKEY_Device_DevNodeStatus,
    // DEVPKEY_Device_ProblemCode): a property of that type, none where
    // DEVPROP_TYPE_EMPTY.
    DEVPROPTYPE statusType = DEVPROP_TYPE_EMPTY;
    ULONG status = 0;
    DEVPROPTYPE problemType = DEVPROP_TYPE_EMPTY;
    ULONG problem = 0;
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
    // What the update answers where it is given a place for its restart
    // indicator.
    BOOL updateRestart = FALSE;
    // Who can answer the run's windows: its session (what reading it does)
    // and its window station (none where not found; what reading its flags
    // does). Read, not steps: these calls are not in `order`.
    DWORD session = 1;
    Outcome sessionRead{false, 0};
    bool stationFound = true;
    DWORD stationFlags = WSF_VISIBLE;
    Outcome stationRead{false, 0};
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
    // The session's other properties, read and set by name; a set fails
    // with `setPropertyError` where it is not 0.
    std::map<std::wstring, std::wstring> properties;
    UINT setPropertyError = 0;
    // The products installed on the machine: by upgrade code, each
    // product's code and its VersionString.
    std::map<std::wstring, std::map<std::wstring, std::wstring>> related;
    std::vector<std::wstring> logged;
    int openRecords = 0;
    // The global atom table (GlobalAddAtomW fails where `atomsFail`), and
    // each MsiSetMode call as (mode, state).
    std::vector<std::wstring> atoms;
    bool atomsFail = false;
    std::vector<std::pair<int, BOOL>> modesSet;
    // Whether the session removes the product (REMOVE="ALL"), the one
    // condition that MsiEvaluateConditionW knows.
    bool removing = true;

    // Driver package removal. A copy that succeeds, or fails with
    // ERROR_FILE_EXISTS, gives back `published`. newdev.dll loads from
    // System32 and exports DiUninstallDriverW (Windows 10 version 1703 and
    // later) where told. The devices, each listed once; what each removal
    // call does; handles still open at the end.
    std::wstring published = L"C:\\Windows\\INF\\oem7.inf";
    // INFs whose packages are staged under other published INFs: the copy
    // of one is refused with ERROR_FILE_EXISTS and names that one.
    std::map<std::wstring, std::wstring> stagedAs;
    // setupapi.dll exports SetupVerifyInfFileW (Windows Vista and later)
    // where told; what it answers; the INFs it was asked about, and the size
    // of the signer information that each call gave.
    bool hasVerifyInfFile = false;
    Outcome verifyInfFile{false, 0};
    std::vector<std::pair<std::wstring, DWORD>> verifiedInfs;
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
    // Where not empty: each deletion's outcome in turn, in place of infUninstall.
    std::vector<Outcome> infUninstalls;
    std::vector<std::pair<std::wstring, DWORD>> uninstalledInfs;
    std::vector<std::pair<std::wstring, DWORD>> librariesLoaded;
    int openKeys = 0;
    int openDeviceLists = 0;
    // The flags of the last device list opened; the time each wait for
    // pending installations was given, and what every wait answers.
    DWORD listFlags = 0;
    std::vector<DWORD> installWaits;
    DWORD installWaitAnswer = WAIT_OBJECT_0;
    // The creation lock, a named mutex: what making it does, whose it is
    // (BA, SY, another user's, or "" where its owner cannot be read), what
    // waiting on it answers; its name and descriptor as made; how many holds
    // and handles are open.
    Outcome lockCreate{false, 0};
    std::string lockOwner = "BA";
    DWORD lockWaitAnswer = WAIT_OBJECT_0;
    std::wstring lockName;
    std::wstring lockDescriptor;
    int locksHeld = 0;
    int lockHandles = 0;

    // Device creation: what asking the INF's class, making the list and the
    // device, setting its IDs and registering it do; the device as those
    // calls left it (its IDs as the REG_MULTI_SZ given, with its NULs);
    // whether it was registered, and removed again (what its removal does).
    Outcome infClass{false, 0};
    Outcome createList{false, 0};
    Outcome createInfo{false, 0};
    Outcome setIds{false, 0};
    Outcome registration{false, 0};
    Outcome createdRemoval{false, 0};
    std::wstring infClassAsked;
    // Where the INF names only its class's name: the GUID it gives is null,
    // and the classes installed under that name are these.
    bool infNamesNoGuid = false;
    std::vector<GUID> classesOfName;
    std::wstring classNameAsked;
    // Whether the process heap gives memory; blocks taken and not freed.
    bool heapFails = false;
    // How many reads of a device's IDs find them grown since the question
    // of their size; the error of their read where the device leaves, or
    // loses them, before it (none: 0).
    int idsChanges = 0;
    DWORD idsGoneWith = 0;
    int heapBlocks = 0;
    std::wstring createdName;
    DWORD createdFlags = 0;
    std::wstring createdIds;
    bool registered = false;
    bool createdRemoved = false;

    // The process's own hardening: whether kernel32 exports
    // SetDefaultDllDirectories, and the flags of each call to it.
    bool hasSetDefaultDllDirectories = true;
    std::vector<DWORD> dllDirectoryFlags;

    // The platform's folders; what asking for the system folder does.
    std::wstring systemFolder = L"C:\\Windows\\system32";
    Outcome systemFolderCall{false, 0};
    std::wstring windowsFolder = L"C:\\Windows";
    std::wstring tempFolder = L"C:\\Windows\\Temp\\";
    // Where kernel32 exports GetTempPath2W (Windows 11, Windows 10 with its
    // updates of 2022), the folder it gives the local system account.
    bool hasGetTempPath2W = false;
    std::wstring systemTempFolder = L"C:\\Windows\\SystemTemp\\";

    // The cryptographic provider: the call of CryptAcquireContextW, counted
    // from 1, that fails with ERROR_ACCESS_DENIED (none: 0); what making a
    // hash, hashing, reading its value and asking for random bytes do; the
    // random bytes of call n (from 1) are all n. A hash's digest is
    // FakeDigest of the bytes hashed.
    int providerFailsOnCall = 0;
    int providerCalls = 0;
    Outcome hashCreation{false, 0};
    Outcome hashing{false, 0};
    Outcome hashValue{false, 0};
    Outcome random{false, 0};
    int randomCalls = 0;
    int openProviders = 0;
    int openHashes = 0;

    // A file system: files by full path, with their bytes; folders by full
    // path, with the access (SDDL) each was made with ("" where inherited).
    // What making a folder or a file, writing and removing a folder does
    // (making a folder that is there already fails as the platform does).
    std::map<std::wstring, std::string> files;
    std::map<std::wstring, std::wstring> folders;
    // The call of CreateDirectoryW, counted from 1, that fails with
    // `createFolderError` (none: 0); the calls so far.
    int createFolderFailsOnCall = 0;
    DWORD createFolderError = 0;
    int createFolderCalls = 0;
    // Every descriptor made from SDDL fails as `descriptor` says, or only
    // the call `descriptorFailsOnCall` (from 1) with ERROR_ACCESS_DENIED.
    Outcome descriptor{false, 0};
    int descriptorFailsOnCall = 0;
    int descriptorCalls = 0;
    Outcome createFile{false, 0};
    Outcome writeFile{false, 0};
    Outcome removeFolder{false, 0};
    DWORD missingFileError = ERROR_FILE_NOT_FOUND;
    // Files that cannot be opened to read (ERROR_ACCESS_DENIED); what reading
    // does; sizes that a folder's listing gives in place of the file's own.
    std::vector<std::wstring> unreadable;
    // Files and folders that are reparse points (links, mount points);
    // what reading an open file's information does; the folders opened as
    // folders, in order.
    std::vector<std::wstring> reparsePoints;
    Outcome fileInformation{false, 0};
    std::vector<std::wstring> listedFolders;
    Outcome readFile{false, 0};
    // Where not empty: the only file whose reads fail so.
    std::wstring readFailsFor;
    std::map<std::wstring, DWORD> listedSizes;
    int openSearches = 0;
    int openFiles = 0;
    int openDescriptors = 0;
    // The files and folders as the last started program found them.
    std::map<std::wstring, std::string> filesAtStart;
    std::map<std::wstring, std::wstring> foldersAtStart;

    // The custom action DLL's resources, by name, and the modules asked.
    std::map<std::wstring, std::string> resources;
    std::vector<HMODULE> resourceModules;

    // HKLM: each key's values by name, as (type, bytes). The registry call
    // named in `registryCallFails` fails with `registryError`.
    std::map<std::wstring, std::map<std::wstring, std::pair<DWORD, std::string>>> registry;
    // The SDDL of each key made with a descriptor; a key whose creation
    // fails with `registryError`.
    std::map<std::wstring, std::wstring> keyAccess;
    std::wstring keyFails;
    std::string registryCallFails;
    // A value whose RegSetValueExW fails with `registryError`, by name.
    std::wstring registryValueFails;
    LSTATUS registryError = 0;

    // Published INFs by full path, with their original names; what reading
    // them does.
    std::map<std::wstring, std::wstring> originalNames;
    Outcome infInformation{false, 0};
    Outcome originalName{false, 0};
};

extern FakePlatform fake;

// The handle the fake GetDesktopWindow returns.
HWND FakeDesktopWindow();

// The handles of a process the fake CreateProcessW starts.
HANDLE FakeChildProcess();
HANDLE FakeChildThread();
// The handle of the mutex the fake CreateMutexW makes.
HANDLE FakeLock();

// The installation session's handle, as the fakes of msi.dll know it.
constexpr MSIHANDLE kFakeInstall = 0x4E;

// The handle the fake GetModuleHandleW returns for kernel32.dll, and the one
// the fake LoadLibraryExW returns for newdev.dll.
HMODULE FakeKernel32();
HMODULE FakeNewdev();
// The handle the fake GetModuleHandleW returns for setupapi.dll.
HMODULE FakeSetupapi();

// What the programs' hardening calls, first, where the platform has
// SetDefaultDllDirectories.
inline const std::vector<std::string> kHardening = {"GetModuleHandleW", "GetProcAddress",
                                                    "SetDefaultDllDirectories"};

// The module handle the fake custom action DLL is loaded at.
HMODULE FakeActionModule();

// The digest that the fake provider's hash gives the bytes, as 64
// hexadecimal digits: not SHA-256, but as sure to change with any byte.
std::wstring FakeDigest(const std::string& bytes);

// The last error a call leaves behind when it succeeds: real platform calls
// may change it on success too, so code must read it right after a failure.
constexpr DWORD kLastErrorNoise = 0x00007777;
