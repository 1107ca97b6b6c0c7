// The sandbox helper, run under Wine by the end-to-end tests and the demo.
// Commands:
//   run CMDLINE-FILE OUT-FILE ERR-FILE
//       Starts the command line held (UTF-8) in CMDLINE-FILE as it is, with
//       its standard output and error going to the two files; reads, checks
//       and dismisses every message box the child shows; prints what it saw
//       and the child's full 32-bit exit code.
//   run-unseen CMDLINE-FILE OUT-FILE ERR-FILE
//       The same, on a desktop of a window station that is not visible,
//       where no box could be seen, answered or dismissed.
//   add-device HARDWARE-ID...
//       Creates a root-enumerated device of class Net with each hardware ID.
//   device-state HARDWARE-ID [STATUS PROBLEM]
//       Gives every device with that hardware ID the state that Windows
//       would report (DEVPKEY_Device_DevNodeStatus, DEVPKEY_Device_ProblemCode,
//       as numbers) through Wine's own SetupDiSetDevicePropertyW, or without
//       numbers takes it away; prints how many devices it set.
//   driver HARDWARE-ID VALUE...
//       Prints the named values of the driver key of every device with that
//       hardware ID; a name written hw:NAME is read from the device's
//       hardware key instead.
//   service NAME VALUE...
//       Prints the service's state and configuration, and the named values
//       of its Parameters key.
//   product NAME
//       Prints what the platform records of an installed program NAME: its
//       Windows Installer state, when NAME is a product code, and its entry
//       among the installed programs as a 32-bit setup makes it, with the
//       IDs the NSIS setup records it installed for, its version,
//       publisher, folder and size.
//   hold PATH
//       Opens the file with no sharing, as any user who may read it could,
//       prints "held=PATH" and keeps it open until "release" (at most ten
//       minutes).
//   release
//       Lets the file that "hold" keeps open go.
// Output is UTF-8 "key=value" lines, with \n, \t and \\ escaped in values.

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <devguid.h>
// clang-format on
#include <msi.h>
#include <stdio.h>
#include <wchar.h>

#include "helper.h"

namespace {

const size_t kTextMax = 8192;

}  // namespace

void Print(const wchar_t* key, const wchar_t* value) {
    static wchar_t line[2 * kTextMax];
    static char utf8[6 * kTextMax];
    size_t length = 0;
    for (const wchar_t* c = key; *c; ++c) line[length++] = *c;
    line[length++] = L'=';
    for (const wchar_t* c = value; *c && length < 2 * kTextMax - 3; ++c) {
        const wchar_t escape = *c == L'\n' ? L'n' : *c == L'\t' ? L't' : *c == L'\\' ? L'\\' : 0;
        if (escape) line[length++] = L'\\';
        line[length++] = escape ? escape : *c;
    }
    line[length++] = L'\n';
    line[length] = L'\0';
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    fputs(utf8, stdout);
    fflush(stdout);
}

void PrintNumber(const wchar_t* key, const wchar_t* format, unsigned long long number) {
    wchar_t text[32];
    swprintf(text, 32, format, number);
    Print(key, text);
}

namespace {

bool ReadUtf8File(const wchar_t* path, wchar_t* text) {
    static char bytes[4 * kTextMax];
    FILE* file = _wfopen(path, L"rb");
    if (!file) return false;
    const size_t count = fread(bytes, 1, sizeof bytes - 1, file);
    fclose(file);
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(count), text, kTextMax - 1);
    text[length] = L'\0';
    return true;
}

HANDLE InheritableFile(const wchar_t* path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool HasClass(HWND window, const wchar_t* name) {
    wchar_t actual[64] = L"";
    GetClassNameW(window, actual, 64);
    return _wcsicmp(actual, name) == 0;
}

void PrintText(const wchar_t* key, HWND window) {
    static wchar_t text[kTextMax];
    text[0] = L'\0';
    GetWindowTextW(window, text, kTextMax);
    Print(key, text);
}

struct Search {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && HasClass(window, L"#32770")) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

struct Controls {
    wchar_t buttons[256];
    int icons;
};

BOOL CALLBACK ListControl(HWND control, LPARAM context) {
    Controls* controls = reinterpret_cast<Controls*>(context);
    if (!IsWindowVisible(control)) return TRUE;
    if (HasClass(control, L"Button")) {
        const size_t used = wcslen(controls->buttons);
        swprintf(controls->buttons + used, 256 - used, used ? L",%d" : L"%d",
                 GetDlgCtrlID(control));
    } else if (HasClass(control, L"Static") &&
               (GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
               SendMessageW(control, STM_GETICON, 0, 0) != 0) {
        ++controls->icons;
    }
    return TRUE;
}

void ReportAndDismiss(HWND box) {
    PrintText(L"box.caption", box);
    PrintText(L"box.text", GetDlgItem(box, 0xFFFF));
    PrintNumber(L"box.owner", L"0x%llX", reinterpret_cast<ULONG_PTR>(GetWindow(box, GW_OWNER)));
    Controls controls = {L"", 0};
    EnumChildWindows(box, ListControl, reinterpret_cast<LPARAM>(&controls));
    Print(L"box.buttons", controls.buttons);
    PrintNumber(L"box.icons", L"%llu", static_cast<unsigned long long>(controls.icons));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

// The desktop of a window station of its own, which is not visible: a run
// started there is one that no one can answer, as a service's is.
const wchar_t* UnseenDesktop() {
    static const wchar_t kDesktop[] = L"zt-unseen\\Default";
    HWINSTA station = CreateWindowStationW(L"zt-unseen", 0, WINSTA_ALL_ACCESS, nullptr);
    HWINSTA own = GetProcessWindowStation();
    if (!station || !SetProcessWindowStation(station)) return nullptr;
    HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    return desktop ? kDesktop : nullptr;
}

int Run(const wchar_t* commandLineFile, const wchar_t* outFile, const wchar_t* errFile,
        bool unseen) {
    static wchar_t commandLine[kTextMax];
    if (!ReadUtf8File(commandLineFile, commandLine)) {
        Print(L"error", L"cannot read the command line file");
        return 1;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = InheritableFile(outFile);
    startup.hStdError = InheritableFile(errFile);
    if (unseen) {
        startup.lpDesktop = const_cast<wchar_t*>(UnseenDesktop());
        if (!startup.lpDesktop) {
            PrintNumber(L"error.unseen", L"%llu", GetLastError());
            return 1;
        }
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        PrintNumber(L"error.CreateProcessW", L"%llu", GetLastError());
        return 1;
    }
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    PrintNumber(L"desktop", L"0x%llX", reinterpret_cast<ULONG_PTR>(GetDesktopWindow()));

    int boxes = 0;
    HWND dismissed = nullptr;
    // Generous: under user-mode emulation a 32-bit start takes a minute or
    // two, and a setup starts two or three 32-bit programs in turn.
    const ULONGLONG deadline = GetTickCount64() + 600000;
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
        if (GetTickCount64() > deadline) {
            TerminateProcess(process.hProcess, 1);
            Print(L"exit", L"timeout");
            return 1;
        }
        Search search = {process.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box && search.box != dismissed) {
            ++boxes;
            ReportAndDismiss(search.box);
            dismissed = search.box;
        }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    PrintNumber(L"boxes", L"%llu", static_cast<unsigned long long>(boxes));
    PrintNumber(L"exit", L"%llu", exitCode);
    return 0;
}

int AddDevice(const wchar_t* hardwareId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_NET, nullptr);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    wchar_t ids[1024] = L"";
    wcsncpy(ids, hardwareId, 1022);
    const bool ok = set != INVALID_HANDLE_VALUE &&
                    SetupDiCreateDeviceInfoW(set, L"NET", &GUID_DEVCLASS_NET, nullptr, nullptr,
                                             DICD_GENERATE_ID, &device) &&
                    SetupDiSetDeviceRegistryPropertyW(
                        set, &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
                        static_cast<DWORD>((wcslen(ids) + 2) * sizeof(wchar_t))) &&
                    SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    const DWORD error = GetLastError();
    if (!ok) {
        PrintNumber(L"error.add-device", L"0x%llX", error);
        return 1;
    }
    wchar_t instance[256];
    SetupDiGetDeviceInstanceIdW(set, &device, instance, 256, nullptr);
    Print(L"device", instance);
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

bool HasHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device, const wchar_t* hardwareId) {
    wchar_t ids[4096] = L"";
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids - 4, nullptr)) {
        return false;
    }
    for (const wchar_t* id = ids; *id; id += wcslen(id) + 1) {
        if (_wcsicmp(id, hardwareId) == 0) return true;
    }
    return false;
}

void PrintProperty(const wchar_t* key, HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
    wchar_t value[1024] = L"";
    const bool found = SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr,
                                                         reinterpret_cast<BYTE*>(value),
                                                         sizeof value - sizeof(wchar_t), nullptr);
    Print(key, found ? value : L"(none)");
}

// Reads a value of a key as text; false when the key or the value is missing.
bool ReadValue(HKEY key, const wchar_t* name, wchar_t* value, DWORD size) {
    DWORD type = 0;
    if (key == INVALID_HANDLE_VALUE ||
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS) {
        return false;
    }
    if (type == REG_DWORD) swprintf(value, 16, L"%lu", *reinterpret_cast<DWORD*>(value));
    return true;
}

// The provider and version of the installed driver, from the INF that the
// driver key names in the INF store.
void PrintInstalledInf(HKEY key) {
    wchar_t name[MAX_PATH] = L"";
    wchar_t path[MAX_PATH] = L"";
    wchar_t provider[256] = L"(none)";
    wchar_t version[256] = L"(none)";
    if (ReadValue(key, L"InfPath", name, sizeof name - sizeof(wchar_t))) {
        GetWindowsDirectoryW(path, MAX_PATH);
        wcsncat(path, L"\\inf\\", MAX_PATH - wcslen(path) - 1);
        wcsncat(path, name, MAX_PATH - wcslen(path) - 1);
        HINF inf = SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, nullptr);
        if (inf != INVALID_HANDLE_VALUE) {
            SetupGetLineTextW(nullptr, inf, L"Version", L"Provider", provider, 256, nullptr);
            SetupGetLineTextW(nullptr, inf, L"Version", L"DriverVer", version, 256, nullptr);
            SetupCloseInfFile(inf);
        }
    }
    Print(L"driver.provider", provider);
    Print(L"driver.version", version);
}

int Driver(const wchar_t* hardwareId, int count, wchar_t** names) {
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int devices = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!HasHardwareId(set, &device, hardwareId)) continue;
        ++devices;
        wchar_t instance[256] = L"";
        SetupDiGetDeviceInstanceIdW(set, &device, instance, 256, nullptr);
        Print(L"device", instance);
        PrintProperty(L"device.description", set, &device, SPDRP_DEVICEDESC);
        PrintProperty(L"device.driver", set, &device, SPDRP_DRIVER);
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
        HKEY hardware =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        PrintInstalledInf(key);
        for (int n = 0; n < count; ++n) {
            const bool inHardware = wcsncmp(names[n], L"hw:", 3) == 0;
            const wchar_t* name = inHardware ? names[n] + 3 : names[n];
            wchar_t label[256];
            swprintf(label, 256, inHardware ? L"hw.%ls" : L"driver.%ls", name);
            wchar_t value[1024] = L"";
            const bool found =
                ReadValue(inHardware ? hardware : key, name, value, sizeof value - sizeof(wchar_t));
            Print(label, found ? value : L"(none)");
        }
        if (key != INVALID_HANDLE_VALUE) RegCloseKey(key);
        if (hardware != INVALID_HANDLE_VALUE) RegCloseKey(hardware);
    }
    PrintNumber(L"devices", L"%llu", static_cast<unsigned long long>(devices));
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

// Exported by setupapi.dll from Windows Vista on; these mingw-w64 headers
// do not declare it.
extern "C" __declspec(dllimport) BOOL WINAPI
    SetupDiSetDevicePropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY* key,
                              DEVPROPTYPE type, const BYTE* buffer, DWORD size, DWORD flags);

int DeviceState(const wchar_t* hardwareId, const wchar_t* status, const wchar_t* problem) {
    // DEVPKEY_Device_DevNodeStatus (2) and DEVPKEY_Device_ProblemCode (3).
    const GUID keys = {
        0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}};
    const DEVPROPKEY statusKey = {keys, 2};
    const DEVPROPKEY problemKey = {keys, 3};
    // No numbers: the state taken away again (DEVPROP_TYPE_EMPTY deletes a property).
    const DEVPROPTYPE type = status != nullptr ? DEVPROP_TYPE_UINT32 : DEVPROP_TYPE_EMPTY;
    const ULONG values[] = {status != nullptr ? wcstoul(status, nullptr, 0) : 0,
                            problem != nullptr ? wcstoul(problem, nullptr, 0) : 0};
    const DWORD size = status != nullptr ? sizeof(ULONG) : 0;
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    int devices = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        if (!HasHardwareId(set, &device, hardwareId)) continue;
        if (!SetupDiSetDevicePropertyW(
                set, &device, &statusKey, type,
                size != 0 ? reinterpret_cast<const BYTE*>(&values[0]) : nullptr, size, 0) ||
            !SetupDiSetDevicePropertyW(
                set, &device, &problemKey, type,
                size != 0 ? reinterpret_cast<const BYTE*>(&values[1]) : nullptr, size, 0)) {
            PrintNumber(L"error.device-state", L"0x%llX", GetLastError());
            return 1;
        }
        ++devices;
    }
    PrintNumber(L"devices", L"%llu", static_cast<unsigned long long>(devices));
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

const wchar_t* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return L"STOPPED";
        case SERVICE_START_PENDING:
            return L"START_PENDING";
        case SERVICE_STOP_PENDING:
            return L"STOP_PENDING";
        case SERVICE_RUNNING:
            return L"RUNNING";
        default:
            return L"OTHER";
    }
}

int Service(const wchar_t* name, int count, wchar_t** names) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? OpenServiceW(manager, name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG)
                : nullptr;
    if (!service) {
        Print(L"service", L"(none)");
    } else {
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof status, &size)) {
            Print(L"service.state", StateName(status.dwCurrentState));
        }
        static BYTE buffer[8192];
        QUERY_SERVICE_CONFIGW* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
        if (QueryServiceConfigW(service, config, sizeof buffer, &size)) {
            PrintNumber(L"service.type", L"%llu", config->dwServiceType);
            PrintNumber(L"service.start", L"%llu", config->dwStartType);
            PrintNumber(L"service.error_control", L"%llu", config->dwErrorControl);
            Print(L"service.binary", config->lpBinaryPathName ? config->lpBinaryPathName : L"");
        }
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);

    wchar_t path[512];
    swprintf(path, 512, L"System\\CurrentControlSet\\Services\\%ls\\Parameters", name);
    HKEY parameters = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &parameters) != ERROR_SUCCESS) {
        parameters = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    for (int n = 0; n < count; ++n) {
        wchar_t label[256];
        swprintf(label, 256, L"parameters.%ls", names[n]);
        wchar_t value[1024] = L"";
        const bool found = ReadValue(parameters, names[n], value, sizeof value - sizeof(wchar_t));
        Print(label, found ? value : L"(none)");
    }
    if (parameters != INVALID_HANDLE_VALUE) RegCloseKey(parameters);
    return 0;
}

int Product(const wchar_t* name) {
    if (name[0] == L'{') {
        wchar_t state[16];
        swprintf(state, 16, L"%d", static_cast<int>(MsiQueryProductStateW(name)));
        Print(L"msi.state", state);
    }
    wchar_t path[512];
    swprintf(path, 512, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%ls", name);
    HKEY entry = static_cast<HKEY>(INVALID_HANDLE_VALUE);
    // A 32-bit setup's HKLM\Software is the 32-bit view on 64-bit Windows.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_32KEY, &entry) !=
        ERROR_SUCCESS) {
        Print(L"uninstall", L"(none)");
        return 0;
    }
    static const wchar_t* const kValues[] = {
        L"DisplayName", L"UninstallString", L"InstalledHardwareIds", L"DisplayVersion",
        L"Publisher",   L"InstallLocation", L"EstimatedSize"};
    for (const wchar_t* value : kValues) {
        wchar_t label[64];
        swprintf(label, 64, L"uninstall.%ls", value);
        wchar_t text[1024] = L"";
        Print(label,
              ReadValue(entry, value, text, sizeof text - sizeof(wchar_t)) ? text : L"(none)");
    }
    RegCloseKey(entry);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc == 5 && wcscmp(argv[1], L"run") == 0) return Run(argv[2], argv[3], argv[4], false);
    if (argc == 5 && wcscmp(argv[1], L"run-unseen") == 0) {
        return Run(argv[2], argv[3], argv[4], true);
    }
    if (argc >= 3 && wcscmp(argv[1], L"add-device") == 0) {
        for (int i = 2; i < argc; ++i) {
            if (AddDevice(argv[i]) != 0) return 1;
        }
        return 0;
    }
    if ((argc == 3 || argc == 5) && wcscmp(argv[1], L"device-state") == 0) {
        return DeviceState(argv[2], argc == 5 ? argv[3] : nullptr, argc == 5 ? argv[4] : nullptr);
    }
    if (argc >= 3 && wcscmp(argv[1], L"driver") == 0) return Driver(argv[2], argc - 3, argv + 3);
    if (argc >= 3 && wcscmp(argv[1], L"service") == 0) return Service(argv[2], argc - 3, argv + 3);
    if (argc == 3 && wcscmp(argv[1], L"product") == 0) return Product(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"hold") == 0) return Hold(argv[2]);
    if (argc == 2 && wcscmp(argv[1], L"release") == 0) return Release();
    Print(
        L"error",
        L"usage: run[-unseen] FILE OUT ERR | add-device ID... | device-state ID [STATUS PROBLEM] | "
        L"driver ID VALUE... | "
        L"service NAME VALUE... | product NAME | hold PATH | release");
    return 2;
}
