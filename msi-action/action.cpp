// The custom actions of the MSI template (examples/setups/driver-setup.wxs).
// InstallDriver installs the driver package for each hardware ID of a
// product line with Zeltrane.exe, writes each run to the installation's log,
// decides the installation's result from the runs' exit codes, and records
// the name under which the platform staged the package. RemoveDriver takes
// exactly that package back with ZeltraneRemove.exe when the product is
// removed, and ScheduleRestart turns the removal's need of a restart into the
// installation's own request.
//
// The driver's actions run as the local system account, so they neither
// start nor install anything that another user could have written.
// Zeltrane.exe, ZeltraneRemove.exe and ZeltraneCreate.exe, with their native
// builds, travel inside this DLL as resources (Windows Installer keeps the
// DLL in a folder of its own, and the MSI's signature covers it), and each
// run writes them into a new folder that only SYSTEM and Administrators can
// enter, starts them there with the system folder as their current folder,
// and deletes them again. The copies that the MSI installs under INSTALLDIR
// are never started. The driver package is taken from INSTALLDIR only as a
// copy into another such folder, each file checked against the SHA-256
// digest that the MSI's build recorded (record-digests.py): a folder that
// an administrator picked outside Program Files may hold a user's files, or
// be swapped for a user's between InstallFiles and this action. Those
// folders are named from the platform's random source, in the system
// account's own temporary folder where Windows has one (GetTempPath2W).
//
// The first two run deferred, so they read their input from
// CustomActionData, which the MSI sets before each as
//   <package folder>|<INF>|<succeed, fail or create>|<path>*<SHA-256>*...|<ID>;<ID>;...
//   <the INF's own file name>|<remove or keep>
// The INF and the paths are relative to the package folder; no path holds
// '|' or '*', and the IDs come last, so that they may.
//
// The record is the product's key, HKLM\SOFTWARE\Zeltrane\Products\<product
// code> (the registry's 32-bit view, where the 32-bit actions run), which
// only administrators can write:
//   PublishedInf   REG_SZ, the staged INF's name in the INF folder (oemNN.inf)
//   RestartNeeded  REG_DWORD 1, from RemoveDriver to ScheduleRestart

#include "action.h"

#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <setupapi.h>

#include "digest.h"
#include "last_error.h"

namespace {

// The longest command line the platform allows, with its terminating NUL;
// CustomActionData is kept to the same length.
constexpr DWORD kCapacity = 32768;

// What Zeltrane ends with where no present device has the hardware ID: the
// platform's ERROR_NO_SUCH_DEVINST, with the package staged in its store.
constexpr DWORD kNoSuchDevice = 0xE000020B;

// What ZeltraneRemove ends with where the platform needs a restart to finish.
constexpr DWORD kRestartNeeded = 3010;

// The largest INF whose staged copy is found by its bytes, and one byte more.
constexpr DWORD kInfCapacity = 8 * 1024 * 1024 + 1;

// The longest product code, {GUID}, with its terminating NUL.
constexpr DWORD kProductCodeCapacity = 39;

// Where the actions keep what they know of each installed product.
const wchar_t kProductsKey[] = L"SOFTWARE\\Zeltrane\\Products";
const wchar_t kVendorKey[] = L"SOFTWARE\\Zeltrane";
const wchar_t kPublishedValue[] = L"PublishedInf";
const wchar_t kRestartValue[] = L"RestartNeeded";

// The run's folder: only SYSTEM and Administrators, with full access,
// inherited by what is made in it; nothing inherited from the temporary
// folder, which every user can write (P: protected).
const wchar_t kRunFolderAccess[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Names to try: each is new, so that one taken by chance costs one more.
constexpr DWORD kRunFolderAttempts = 8;

// A text being put together in a fixed buffer; a text that does not fit is
// marked as cut, never written past the buffer.
struct Text {
    wchar_t data[kCapacity];
    DWORD length;
    bool cut;
};

void Clear(Text& text) {
    text.length = 0;
    text.cut = false;
    text.data[0] = L'\0';
}

void AppendChar(Text& text, wchar_t character) {
    if (text.length + 1 >= kCapacity) {
        text.cut = true;
        return;
    }
    text.data[text.length++] = character;
    text.data[text.length] = L'\0';
}

void Append(Text& text, const wchar_t* part) {
    for (; *part != L'\0'; ++part) {
        AppendChar(text, *part);
    }
}

// As 0x followed by eight upper-case hexadecimal digits, as the README lists codes.
void AppendCode(Text& text, DWORD code) {
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    constexpr int kDigitBits = 4;
    constexpr DWORD kDigitMask = 0xF;
    constexpr int kHighestDigit = 28;
    Append(text, L"0x");
    for (int shift = kHighestDigit; shift >= 0; shift -= kDigitBits) {
        AppendChar(text, kDigits[(code >> shift) & kDigitMask]);
    }
}

// One argument, quoted so that the program's start-up reads it back exactly:
// backslashes are doubled only before a quote or the closing quote, and a
// quote is escaped.
void AppendArgument(Text& text, const wchar_t* argument) {
    AppendChar(text, L'"');
    DWORD backslashes = 0;
    for (; *argument != L'\0'; ++argument) {
        if (*argument == L'\\') {
            ++backslashes;
        } else {
            const DWORD copies = *argument == L'"' ? 2 * backslashes + 1 : backslashes;
            for (DWORD i = 0; i < copies; ++i) {
                AppendChar(text, L'\\');
            }
            backslashes = 0;
            AppendChar(text, *argument);
        }
    }
    for (DWORD i = 0; i < 2 * backslashes; ++i) {
        AppendChar(text, L'\\');
    }
    AppendChar(text, L'"');
}

// One line in the installation's log. The text is the record's field 1, not
// its template, so that brackets in a hardware ID are not read as properties.
void Log(MSIHANDLE install, const Text& text) {
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, L"Zeltrane: [1]");
    MsiRecordSetStringW(record, 1, text.data);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

void Log(MSIHANDLE install, const wchar_t* message) {
    static Text text;
    Clear(text);
    Append(text, message);
    Log(install, text);
}

// Logs what failed, with the platform's error.
void LogError(MSIHANDLE install, const wchar_t* what, DWORD error) {
    static Text line;
    Clear(line);
    Append(line, what);
    Append(line, L", error ");
    AppendCode(line, error);
    Log(install, line);
}

// Cuts the text at the first separator and returns what follows it, or
// nullptr where there is none.
wchar_t* SplitAt(wchar_t* text, wchar_t separator) {
    for (; *text != L'\0'; ++text) {
        if (*text == separator) {
            *text = L'\0';
            return text + 1;
        }
    }
    return nullptr;
}

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

// A program that travels in this DLL: each build's resource, and where each
// goes in the run's folder, the layout of a release, so that the 32-bit
// build finds the machine's native build beside it and hands over to it.
struct Build {
    const wchar_t* resource;
    const wchar_t* path;
};

struct Program {
    Build builds[3];
};

const Program kZeltrane = {{{kZeltraneX86, L"Zeltrane.exe"},
                            {kZeltraneX64, L"x64\\Zeltrane.exe"},
                            {kZeltraneArm64, L"arm64\\Zeltrane.exe"}}};
const Program kZeltraneRemove = {{{kZeltraneRemoveX86, L"ZeltraneRemove.exe"},
                                  {kZeltraneRemoveX64, L"x64\\ZeltraneRemove.exe"},
                                  {kZeltraneRemoveArm64, L"arm64\\ZeltraneRemove.exe"}}};
const Program kZeltraneCreate = {{{kZeltraneCreateX86, L"ZeltraneCreate.exe"},
                                  {kZeltraneCreateX64, L"x64\\ZeltraneCreate.exe"},
                                  {kZeltraneCreateArm64, L"arm64\\ZeltraneCreate.exe"}}};
const wchar_t* const kBuildFolders[] = {L"x64", L"arm64"};

// This DLL, whose resources hold the programs: DllMain notes it.
HMODULE& ThisModule() {
    static HMODULE module = nullptr;
    return module;
}

void Path(const Text& folder, const wchar_t* name, Text& path) {
    Clear(path);
    Append(path, folder.data);
    AppendChar(path, L'\\');
    Append(path, name);
}

// GetTempPath2W, as the platform documents it.
using GetTempPath2Function = DWORD(WINAPI*)(DWORD bufferLength, LPWSTR buffer);

// The temporary folder, with its closing backslash: for the local system
// account, where Windows has GetTempPath2W (Windows 11, and Windows 10 with
// its updates of 2022 on), its own, which no other user can enter; elsewhere
// the one every user may write, where only an unguessable name helps.
DWORD TemporaryFolder(wchar_t (&temporary)[MAX_PATH + 1]) {
    // Looked up in the kernel32 already loaded, since binding it at load time
    // would keep the DLL from loading where it is missing.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    // The lookup returns the function untyped, and only a cast gives it its
    // type back, through void (*)(), which the compilers accept between
    // function types.
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
    const DWORD length = found != nullptr
                             ? reinterpret_cast<GetTempPath2Function>(
                                   reinterpret_cast<void (*)()>(found))(MAX_PATH + 1, temporary)
                             : GetTempPathW(MAX_PATH + 1, temporary);
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
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

// Makes the run's folder, new, under the temporary folder, with
// kRunFolderAccess. A name that exists already, whatever it is (another
// user's folder, a file, a link), is passed over for a new one.
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

// Deletes a run's folder, emptied; says so in the log where it stays.
void RemoveFolder(MSIHANDLE install, const Text& folder) {
    if (!RemoveDirectoryW(folder.data)) {
        const DWORD error = LastErrorOfFailedCall();
        static Text line;
        Clear(line);
        Append(line, L"cannot delete \"");
        Append(line, folder.data);
        Append(line, L"\"");
        LogError(install, line.data, error);
    }
}

// Deletes the run's folder and what the run wrote in it; says so in the
// log where anything stays.
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

// Makes the run's folder and writes the program's builds into it, or logs
// why it cannot (and leaves nothing); the 32-bit build's path in `path`.
bool WriteProgram(MSIHANDLE install, const Program& program, Text& folder, Text& path) {
    DWORD error = MakeRunFolder(folder);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot make a folder for the programs", error);
        return false;
    }
    error = WriteBuilds(program, folder, path);
    if (error != ERROR_SUCCESS) {
        static Text line;
        Clear(line);
        Append(line, L"cannot write \"");
        Append(line, path.data);
        Append(line, L"\"");
        LogError(install, line.data, error);
        RemoveRunFolder(install, folder, program);
        return false;
    }
    Path(folder, program.builds[0].path, path);
    return true;
}

// Starts the program with the command line, in the system folder, and
// waits for it: ERROR_SUCCESS with its exit code, or the error of the start
// or the wait.
DWORD Run(const wchar_t* program, Text& commandLine, DWORD& exitCode) {
    wchar_t systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return length == 0 ? LastErrorOfFailedCall() : ERROR_INSUFFICIENT_BUFFER;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(program, commandLine.data, nullptr, nullptr, FALSE, 0, nullptr,
                        systemFolder, &startup, &child)) {
        return LastErrorOfFailedCall();
    }
    CloseHandle(child.hThread);
    const bool ended = WaitForSingleObject(child.hProcess, INFINITE) != WAIT_FAILED &&
                       GetExitCodeProcess(child.hProcess, &exitCode);
    const DWORD error = ended ? ERROR_SUCCESS : LastErrorOfFailedCall();
    CloseHandle(child.hProcess);
    return error;
}

bool Same(const wchar_t* text, const wchar_t* word) {
    for (; *text != L'\0' && *text == *word; ++text, ++word) {
    }
    return *text == *word;
}

// What the installation ends with where no run installed the driver; the
// setting's text is checked before anything runs.
enum class NoDevice { kSucceed, kFail, kCreate, kUnknown };

NoDevice ReadSetting(const wchar_t* setting) {
    if (Same(setting, L"succeed")) {
        return NoDevice::kSucceed;
    }
    if (Same(setting, L"create")) {
        return NoDevice::kCreate;
    }
    return Same(setting, L"fail") ? NoDevice::kFail : NoDevice::kUnknown;
}

// The action's CustomActionData, or nullptr (logged) where it cannot be read.
wchar_t* ReadData(MSIHANDLE install) {
    static wchar_t data[kCapacity];
    DWORD size = kCapacity;
    const UINT read = MsiGetPropertyW(install, L"CustomActionData", data, &size);
    if (read == ERROR_SUCCESS) {
        return data;
    }
    static Text line;
    Clear(line);
    Append(line, L"cannot read CustomActionData, error ");
    AppendCode(line, read);
    Log(install, line);
    return nullptr;
}

// The path of the product's key under HKLM, from its product code, which
// Windows Installer gives deferred actions too; false (logged) where it
// cannot be read.
bool ProductKey(MSIHANDLE install, Text& path) {
    wchar_t productCode[kProductCodeCapacity];
    DWORD size = kProductCodeCapacity;
    const UINT read = MsiGetPropertyW(install, L"ProductCode", productCode, &size);
    if (read != ERROR_SUCCESS) {
        static Text line;
        Clear(line);
        Append(line, L"cannot read ProductCode, error ");
        AppendCode(line, read);
        Log(install, line);
        return false;
    }
    Clear(path);
    Append(path, kProductsKey);
    AppendChar(path, L'\\');
    Append(path, productCode);
    return true;
}

// Takes a value out of the product's key; a key or value that is not there
// is already as wanted.
LSTATUS DeleteProductValue(const Text& key, const wchar_t* name) {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, KEY_SET_VALUE, &opened);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueW(opened, name);
        RegCloseKey(opened);
    }
    return status == ERROR_FILE_NOT_FOUND ? static_cast<LSTATUS>(ERROR_SUCCESS) : status;
}

LSTATUS SetProductValue(const Text& key, const wchar_t* name, DWORD type, const void* data,
                        DWORD size) {
    HKEY created = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &created, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(created, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(created);
    }
    return status;
}

// Reads a value of the product's key, of that type, into data (at most
// size bytes); ERROR_FILE_NOT_FOUND where there is none.
LSTATUS ReadProductValue(const Text& key, const wchar_t* name, DWORD wantedType, BYTE* data,
                         DWORD size) {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.data, 0, KEY_QUERY_VALUE, &opened);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = REG_NONE;
    DWORD read = size;
    status = RegQueryValueExW(opened, name, nullptr, &type, data, &read);
    RegCloseKey(opened);
    if (status == ERROR_SUCCESS && type != wantedType) {
        return static_cast<LSTATUS>(ERROR_INVALID_DATA);
    }
    return status;
}

// A run of a program: its command line, and the log line that says what the
// run is for and how it ended.
struct ProgramRun {
    Text commandLine;
    Text line;
};

// What the log calls a program: its file name.
const wchar_t* FileName(const wchar_t* path) {
    const wchar_t* name = path;
    for (; *path != L'\0'; ++path) {
        if (*path == L'\\') {
            name = path + 1;
        }
    }
    return name;
}

// Runs the program with the run's command line. Where the command line was
// cut, or the program could not be started or waited for, logs why and
// returns false; otherwise adds "<program> ended with <code>" to the run's
// line, for the caller to finish and log.
bool RunAndSay(MSIHANDLE install, const wchar_t* program, ProgramRun& run, DWORD& exitCode) {
    if (run.commandLine.cut) {
        Append(run.line, L"\": the command line would be longer than the platform allows");
        Log(install, run.line);
        return false;
    }
    const DWORD error = Run(program, run.commandLine, exitCode);
    Append(run.line, L"\": ");
    Append(run.line, FileName(program));
    if (error != ERROR_SUCCESS) {
        Append(run.line, L" could not be started or waited for, error ");
        AppendCode(run.line, error);
        Log(install, run.line);
        return false;
    }
    Append(run.line, L" ended with ");
    AppendCode(run.line, exitCode);
    return true;
}

// Runs Zeltrane.exe for one hardware ID and logs the run: true when the
// installation may go on, with installed set when this run installed.
bool InstallFor(MSIHANDLE install, const wchar_t* program, const wchar_t* inf,
                const wchar_t* hardwareId, bool& installed) {
    static ProgramRun run;
    Clear(run.commandLine);
    AppendArgument(run.commandLine, program);
    AppendChar(run.commandLine, L' ');
    AppendArgument(run.commandLine, inf);
    AppendChar(run.commandLine, L' ');
    AppendArgument(run.commandLine, hardwareId);
    Clear(run.line);
    Append(run.line, L"hardware ID \"");
    Append(run.line, hardwareId);
    DWORD exitCode = 0;
    if (!RunAndSay(install, program, run, exitCode)) {
        return false;
    }
    if (exitCode == ERROR_SUCCESS) {
        Append(run.line, L", the driver is installed on its devices");
        installed = true;
    } else if (exitCode == kNoSuchDevice) {
        Append(run.line, L", no present device has it");
    } else {
        Append(run.line, L", the driver was not installed");
    }
    Log(install, run.line);
    return exitCode == ERROR_SUCCESS || exitCode == kNoSuchDevice;
}

// Writes the carried program into a run folder of its own, starts it once
// with its path, quoted, and the arguments, waits for it and deletes the
// folder again: as RunAndSay, false (logged) where it did not run.
bool RunCarried(MSIHANDLE install, const Program& program, const Text& arguments, ProgramRun& run,
                DWORD& exitCode) {
    static Text folder;
    static Text path;
    if (!WriteProgram(install, program, folder, path)) {
        return false;
    }
    Clear(run.commandLine);
    AppendArgument(run.commandLine, path.data);
    AppendChar(run.commandLine, L' ');
    Append(run.commandLine, arguments.data);
    const bool ran = RunAndSay(install, path.data, run, exitCode);
    RemoveRunFolder(install, folder, program);
    return ran;
}

// Whether the list names an ID: an empty piece (";;", a trailing ';') names none.
bool NamesAnId(const wchar_t* ids) {
    for (; *ids != L'\0'; ++ids) {
        if (*ids != L';') {
            return true;
        }
    }
    return false;
}

// Runs the program for each ID, in the given order: false (logged) where a
// run failed; `installed` where one installed, and the first ID in `first`.
bool InstallForEach(MSIHANDLE install, const wchar_t* program, const wchar_t* inf, wchar_t* ids,
                    bool& installed, const wchar_t*& first) {
    for (wchar_t* id = ids; id != nullptr;) {
        wchar_t* rest = SplitAt(id, L';');
        if (*id != L'\0') {
            first = first != nullptr ? first : id;
            if (!InstallFor(install, program, inf, id, installed)) {
                Log(install, L"the installation fails and is rolled back");
                return false;
            }
        }
        id = rest;
    }
    return true;
}

// Where no device has any of the IDs and the setting is create: the device
// of a virtual adapter, made with the first ID by the ZeltraneCreate.exe that
// this DLL carries, the driver installed on it. False (logged) where not.
bool CreateDevice(MSIHANDLE install, const wchar_t* inf, const wchar_t* hardwareId) {
    static Text arguments;
    Clear(arguments);
    AppendArgument(arguments, inf);
    AppendChar(arguments, L' ');
    AppendArgument(arguments, hardwareId);
    static ProgramRun run;
    Clear(run.line);
    Append(run.line,
           L"no present device has any of the hardware IDs (ZELTRANE_NO_DEVICE=create): "
           L"the device for \"");
    Append(run.line, hardwareId);
    DWORD exitCode = 0;
    if (!RunCarried(install, kZeltraneCreate, arguments, run, exitCode)) {
        return false;
    }
    Append(run.line, exitCode == ERROR_SUCCESS
                         ? L", the device is there and the driver installed on it"
                         : L", the driver was not installed: the installation fails");
    Log(install, run.line);
    return exitCode == ERROR_SUCCESS;
}

// Where no run installed the driver: what the setting says.
bool NoDeviceHasAnyId(MSIHANDLE install, NoDevice noDevice, const wchar_t* inf,
                      const wchar_t* first) {
    if (noDevice == NoDevice::kCreate) {
        return CreateDevice(install, inf, first);
    }
    if (noDevice == NoDevice::kFail) {
        Log(install,
            L"no present device has any of the hardware IDs: the installation fails "
            L"(ZELTRANE_NO_DEVICE=fail)");
        return false;
    }
    Log(install,
        L"no present device has any of the hardware IDs: installed on no device; the package is "
        L"staged, and the platform installs it when such a device appears");
    return true;
}

DWORD Length(const wchar_t* text) {
    DWORD length = 0;
    while (text[length] != L'\0') {
        ++length;
    }
    return length;
}

// The full path of a published INF, in the platform's INF folder.
DWORD PublishedPath(const wchar_t* name, Text& path) {
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return length == 0 ? LastErrorOfFailedCall() : ERROR_INSUFFICIENT_BUFFER;
    }
    Clear(path);
    Append(path, windows);
    Append(path, L"\\INF\\");
    Append(path, name);
    return ERROR_SUCCESS;
}

// Reads a whole file of less than `capacity` bytes into data, its size into
// size; a larger one is refused, never cut.
DWORD ReadWhole(const wchar_t* path, BYTE* data, DWORD capacity, DWORD& size) {
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    size = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ReadFile(file, data, capacity, &size, nullptr)) {
        error = LastErrorOfFailedCall();
    } else if (size == capacity) {
        error = ERROR_FILE_TOO_LARGE;
    }
    CloseHandle(file);
    return error;
}

bool SameBytes(const BYTE* one, const BYTE* other, DWORD size) {
    for (DWORD i = 0; i < size; ++i) {
        if (one[i] != other[i]) {
            return false;
        }
    }
    return true;
}

// Where 64-bit Windows refuses the look-up to this 32-bit process, the
// comparison that the platform makes, made here: the INF folder's copy whose
// bytes are the INF's, as the platform publishes an INF, into `published`.
DWORD FindPublishedCopy(const wchar_t* inf, Text& published) {
    static BYTE ours[kInfCapacity];
    static BYTE theirs[kInfCapacity];
    DWORD ourSize = 0;
    DWORD error = ReadWhole(inf, ours, kInfCapacity, ourSize);
    static Text folder;
    if (error == ERROR_SUCCESS) {
        error = PublishedPath(L"", folder);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    Clear(published);
    Append(published, folder.data);
    Append(published, L"*.inf");
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW(published.data, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return LastErrorOfFailedCall();
    }
    error = ERROR_FILE_NOT_FOUND;
    do {
        DWORD theirSize = 0;
        if (found.nFileSizeLow != ourSize) {
            continue;
        }
        Clear(published);
        Append(published, folder.data);
        Append(published, found.cFileName);
        if (ReadWhole(published.data, theirs, kInfCapacity, theirSize) == ERROR_SUCCESS &&
            theirSize == ourSize && SameBytes(ours, theirs, ourSize)) {
            error = ERROR_SUCCESS;
        }
    } while (error != ERROR_SUCCESS && FindNextFileW(search, &found));
    FindClose(search);
    return error;
}

// The name under which the platform staged the package (oemNN.inf), with
// the INF folder's path, into `published`: with SP_COPY_NOOVERWRITE, the
// platform refuses to copy a staged INF with ERROR_FILE_EXISTS and names the
// staged copy.
DWORD FindPublishedName(const wchar_t* inf, Text& published) {
    Clear(published);
    if (SetupCopyOEMInfW(inf, nullptr, SPOST_PATH, SP_COPY_NOOVERWRITE, published.data, MAX_PATH,
                         nullptr, nullptr)) {
        return ERROR_SUCCESS;
    }
    const DWORD error = LastErrorOfFailedCall();
    if (error == ERROR_IN_WOW64) {
        return FindPublishedCopy(inf, published);
    }
    return error == ERROR_FILE_EXISTS && published.data[0] != L'\0' ? ERROR_SUCCESS : error;
}

// Records the name under which the platform staged the package in the
// product's key, where the removal finds it: the INF that the removal meets
// in the installation's folder is never asked again. False (logged) where
// it cannot.
bool RecordPublishedName(MSIHANDLE install, const wchar_t* inf) {
    static Text published;
    const DWORD error = FindPublishedName(inf, published);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot find the name of the staged package", error);
        return false;
    }
    static Text key;
    if (!ProductKey(install, key)) {
        return false;
    }
    const wchar_t* name = FileName(published.data);
    const LSTATUS status =
        SetProductValue(key, kPublishedValue, REG_SZ, name, (Length(name) + 1) * sizeof(wchar_t));
    if (status != ERROR_SUCCESS) {
        LogError(install, L"cannot record the name of the staged package",
                 static_cast<DWORD>(status));
        return false;
    }
    static Text line;
    Clear(line);
    Append(line, L"the package is staged as \"");
    Append(line, name);
    Append(line, L"\", recorded for its removal");
    Log(install, line);
    return true;
}

// The name that the package's INF had before the platform published it,
// as the platform recorded it when it staged the package.
DWORD OriginalName(const wchar_t* published, SP_ORIGINAL_FILE_INFO_W& original) {
    struct InfInformation {
        SP_INF_INFORMATION header;
        BYTE versionData[kCapacity];
    };
    static InfInformation information;
    if (!SetupGetInfInformationW(published, INFINFO_INF_NAME_IS_ABSOLUTE, &information.header,
                                 sizeof information, nullptr)) {
        return LastErrorOfFailedCall();
    }
    original = {};
    original.cbSize = sizeof original;
    if (!SetupQueryInfOriginalFileInformationW(&information.header, 0, nullptr, &original)) {
        return LastErrorOfFailedCall();
    }
    return ERROR_SUCCESS;
}

// Runs ZeltraneRemove.exe on the published INF and decides from its code.
UINT RunRemoval(MSIHANDLE install, const Text& key, const wchar_t* published) {
    static Text arguments;
    Clear(arguments);
    AppendArgument(arguments, published);
    static ProgramRun run;
    Clear(run.line);
    Append(run.line, L"removal of \"");
    Append(run.line, published);
    DWORD exitCode = 0;
    if (!RunCarried(install, kZeltraneRemove, arguments, run, exitCode)) {
        return ERROR_INSTALL_FAILURE;
    }
    if (exitCode == ERROR_SUCCESS) {
        Append(run.line, L", the driver package is off its devices and out of the driver store");
        Log(install, run.line);
        return ERROR_SUCCESS;
    }
    if (exitCode != kRestartNeeded) {
        Append(run.line, L", the driver was not removed: the product stays installed");
        Log(install, run.line);
        return ERROR_INSTALL_FAILURE;
    }
    Append(run.line, L", the platform finishes the removal after a restart");
    Log(install, run.line);
    // The driver is off its devices: the removal goes on, and only the
    // restart request can be lost, which the log then says.
    const DWORD needed = 1;
    if (SetProductValue(key, kRestartValue, REG_DWORD, &needed, sizeof needed) != ERROR_SUCCESS) {
        Log(install, L"cannot pass the restart request on: restart Windows to finish");
    }
    return ERROR_SUCCESS;
}

// Takes back the package that the installation recorded, and no other: the
// recorded name must still be the package of the INF that this product
// installed, by its original name.
UINT RemoveRecordedPackage(MSIHANDLE install, const Text& key, const wchar_t* inf) {
    // The INF's own name, where the MSI names it with the folder it has in
    // the package.
    const wchar_t* infName = FileName(inf);
    static wchar_t name[MAX_PATH];
    name[0] = L'\0';
    const LSTATUS status =
        ReadProductValue(key, kPublishedValue, REG_SZ, static_cast<BYTE*>(static_cast<void*>(name)),
                         (MAX_PATH - 1) * sizeof(wchar_t));
    if (status == ERROR_FILE_NOT_FOUND) {
        Log(install, L"no driver package is recorded for this product: nothing to remove");
        return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS || name[0] == L'\0' || FileName(name) != name) {
        LogError(install, L"cannot read the recorded name of the staged package",
                 status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return ERROR_INSTALL_FAILURE;
    }
    static Text published;
    DWORD error = PublishedPath(name, published);
    SP_ORIGINAL_FILE_INFO_W original = {};
    if (error == ERROR_SUCCESS) {
        error = OriginalName(published.data, original);
    }
    static Text line;
    Clear(line);
    Append(line, L"the recorded package \"");
    Append(line, name);
    if (error == ERROR_FILE_NOT_FOUND) {
        Append(line, L"\" is no longer staged: nothing to remove");
        Log(install, line);
        return ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot read the original name of the staged package", error);
        return ERROR_INSTALL_FAILURE;
    }
    if (CompareStringOrdinal(original.OriginalInfName, -1, infName, -1, TRUE) != CSTR_EQUAL) {
        Append(line, L"\" is now the package of \"");
        Append(line, original.OriginalInfName);
        Append(line, L"\", not of \"");
        Append(line, infName);
        Append(line, L"\": nothing removed");
        Log(install, line);
        return ERROR_SUCCESS;
    }
    return RunRemoval(install, key, published.data);
}

// The driver package as the MSI's build recorded it: each file's path in
// the package's folder and its SHA-256 digest.
struct PackageFile {
    const wchar_t* path;
    BYTE digest[kDigestSize];
};

// More files than the longest CustomActionData can list: each takes a path
// of one character at least, '*' and 64 digits, and a '*' between two.
constexpr DWORD kMostPackageFiles = kCapacity / (2 * kDigestSize + 2) + 1;

struct Package {
    PackageFile files[kMostPackageFiles];
    DWORD count;
};

// Whether the path names a file inside the package's folder: relative, its
// parts neither empty nor "." or "..", and no drive, stream or '/' in it.
bool InsidePackage(const wchar_t* path) {
    const wchar_t* part = path;
    for (const wchar_t* at = path;; ++at) {
        if (*at == L':' || *at == L'/') {
            return false;
        }
        if (*at == L'\\' || *at == L'\0') {
            const auto length = at - part;
            const bool dots = (length == 1 && part[0] == L'.') ||
                              (length == 2 && part[0] == L'.' && part[1] == L'.');
            if (length == 0 || dots) {
                return false;
            }
            if (*at == L'\0') {
                return true;
            }
            part = at + 1;
        }
    }
}

// The value of one hexadecimal digit, or -1.
int DigitValue(wchar_t digit) {
    constexpr int kTen = 10;
    if (digit >= L'0' && digit <= L'9') {
        return digit - L'0';
    }
    if (digit >= L'a' && digit <= L'f') {
        return digit - L'a' + kTen;
    }
    return digit >= L'A' && digit <= L'F' ? digit - L'A' + kTen : -1;
}

// Reads a digest written as 64 hexadecimal digits, nothing more.
bool ReadDigest(const wchar_t* hex, BYTE (&digest)[kDigestSize]) {
    constexpr int kDigitBits = 4;
    for (BYTE& byte : digest) {
        const int high = DigitValue(hex[0]);
        const int low = high < 0 ? -1 : DigitValue(hex[1]);
        if (low < 0) {
            return false;
        }
        byte = static_cast<BYTE>((high << kDigitBits) | low);
        hex += 2;
    }
    return *hex == L'\0';
}

// Reads the package's list, <path>*<digest>*<path>*<digest>..., as the
// MSI's build wrote it; false (logged) where it lists nothing or is not so.
bool ReadPackage(MSIHANDLE install, wchar_t* list, Package& package) {
    package.count = 0;
    for (wchar_t* entry = list; entry != nullptr && *entry != L'\0';) {
        wchar_t* hex = SplitAt(entry, L'*');
        wchar_t* next = hex != nullptr ? SplitAt(hex, L'*') : nullptr;
        PackageFile& file = package.files[package.count];
        if (hex == nullptr || !InsidePackage(entry) || !ReadDigest(hex, file.digest)) {
            Log(install,
                L"the driver package's list of files is not <path>*<SHA-256>*...: "
                L"the installation fails");
            return false;
        }
        file.path = entry;
        ++package.count;
        entry = next;
    }
    if (package.count == 0) {
        Log(install,
            L"the MSI records no digests of the driver package's files "
            L"(record-digests.py writes them when the MSI is built): the installation fails");
        return false;
    }
    return true;
}

// Where the package's file is, in a folder: folder and path, joined.
void PackagePath(const wchar_t* folder, const wchar_t* path, Text& joined) {
    Clear(joined);
    Append(joined, folder);
    if (joined.length > 0 && joined.data[joined.length - 1] != L'\\') {
        AppendChar(joined, L'\\');
    }
    Append(joined, path);
}

// Makes the folders of the file's path in the copy, each new or already
// made for an earlier file.
DWORD MakeFoldersFor(Text& copy, DWORD folderLength) {
    for (DWORD at = folderLength + 1; at < copy.length; ++at) {
        if (copy.data[at] != L'\\') {
            continue;
        }
        copy.data[at] = L'\0';
        const bool made = CreateDirectoryW(copy.data, nullptr);
        const DWORD error = made ? ERROR_SUCCESS : LastErrorOfFailedCall();
        copy.data[at] = L'\\';
        if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

// Deletes the copy's files and folders, then the copy's own folder.
void RemovePackageCopy(MSIHANDLE install, const Text& copyFolder, const Package& package) {
    static Text path;
    for (DWORD i = package.count; i-- > 0;) {
        PackagePath(copyFolder.data, package.files[i].path, path);
        DeleteFileW(path.data);
        // Its folders, the deepest first; one that still holds another
        // file stays for that file's turn.
        for (DWORD at = path.length; at-- > copyFolder.length + 1;) {
            if (path.data[at] == L'\\') {
                path.data[at] = L'\0';
                RemoveDirectoryW(path.data);
            }
        }
    }
    RemoveFolder(install, copyFolder);
}

// Copies one file of the package into the copy and checks the copy against
// its digest; false (logged) where it cannot be copied or is not the file
// that the MSI installed.
bool CopyPackageFile(MSIHANDLE install, const wchar_t* folder, const Text& copyFolder,
                     const PackageFile& file) {
    static Text source;
    static Text copy;
    PackagePath(folder, file.path, source);
    PackagePath(copyFolder.data, file.path, copy);
    BYTE digest[kDigestSize] = {};
    // Neither is cut: the folders and the path together fit in CustomActionData.
    DWORD error = MakeFoldersFor(copy, copyFolder.length);
    if (error == ERROR_SUCCESS) {
        error = CopyWithDigest(source.data, copy.data, digest);
    }
    static Text line;
    Clear(line);
    Append(line, L"the driver package's file \"");
    Append(line, source.data);
    if (error != ERROR_SUCCESS) {
        Append(line, L"\" cannot be copied to check it: the installation fails");
        LogError(install, line.data, error);
        return false;
    }
    if (!SameBytes(digest, file.digest, kDigestSize)) {
        Append(line, L"\" is not the file that this MSI installed: the installation fails");
        Log(install, line);
        return false;
    }
    return true;
}

// Copies the package's files from the folder where the MSI installed them,
// which a user may have changed, into a run folder of its own, which only
// SYSTEM and Administrators can write, and checks each copy against its
// digest: what the programs install is the copy, and only where every file
// is the MSI's own. False (logged, nothing left) where not.
bool CopyPackage(MSIHANDLE install, const wchar_t* folder, const Package& package,
                 Text& copyFolder) {
    const DWORD error = MakeRunFolder(copyFolder);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot make a folder for the driver package", error);
        return false;
    }
    for (DWORD i = 0; i < package.count; ++i) {
        if (!CopyPackageFile(install, folder, copyFolder, package.files[i])) {
            RemovePackageCopy(install, copyFolder, package);
            return false;
        }
    }
    static Text line;
    Clear(line);
    Append(line, L"the driver package's files are the MSI's own, checked in \"");
    Append(line, copyFolder.data);
    Append(line, L"\"");
    Log(install, line);
    return true;
}

// Whether the package lists the INF, as the MSI names it.
bool Lists(const Package& package, const wchar_t* inf) {
    for (DWORD i = 0; i < package.count; ++i) {
        if (CompareStringOrdinal(package.files[i].path, -1, inf, -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

// What InstallDriver reads from its CustomActionData:
//   <package folder>|<INF>|<setting>|<path>*<SHA-256>*...|<ID>;<ID>;...
struct InstallData {
    const wchar_t* folder;
    const wchar_t* inf;
    NoDevice noDevice;
    wchar_t* ids;
};

// Splits and checks the action's data; false (logged) where it is not as
// the MSI sets it.
bool ReadInstallData(MSIHANDLE install, wchar_t* data, InstallData& read, Package& package) {
    wchar_t* inf = SplitAt(data, L'|');
    wchar_t* setting = inf != nullptr ? SplitAt(inf, L'|') : nullptr;
    wchar_t* files = setting != nullptr ? SplitAt(setting, L'|') : nullptr;
    read.ids = files != nullptr ? SplitAt(files, L'|') : nullptr;
    if (read.ids == nullptr) {
        Log(install,
            L"CustomActionData is not <package folder>|<INF>|<setting>|<files>|<hardware IDs>");
        return false;
    }
    read.folder = data;
    read.inf = inf;
    read.noDevice = ReadSetting(setting);
    if (read.noDevice == NoDevice::kUnknown) {
        Log(install, L"ZELTRANE_NO_DEVICE is neither succeed, fail nor create");
        return false;
    }
    if (!NamesAnId(read.ids)) {
        Log(install, L"no hardware ID given");
        return false;
    }
    if (!ReadPackage(install, files, package)) {
        return false;
    }
    if (!Lists(package, inf)) {
        static Text line;
        Clear(line);
        Append(line, L"the INF \"");
        Append(line, inf);
        Append(line, L"\" is not one of the driver package's files: the installation fails");
        Log(install, line);
        return false;
    }
    return true;
}

// Installs from the checked copy: Zeltrane.exe for each ID, then what the
// setting says where none installed, then the record of the staged name.
bool InstallFromCopy(MSIHANDLE install, const InstallData& data, const wchar_t* inf) {
    static Text folder;
    static Text program;
    if (!WriteProgram(install, kZeltrane, folder, program)) {
        return false;
    }
    bool installed = false;
    const wchar_t* first = nullptr;
    const bool ran = InstallForEach(install, program.data, inf, data.ids, installed, first);
    RemoveRunFolder(install, folder, kZeltrane);
    return ran && (installed || NoDeviceHasAnyId(install, data.noDevice, inf, first)) &&
           RecordPublishedName(install, inf);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    ThisModule() = instance;
    return TRUE;
}

extern "C" UINT WINAPI InstallDriver(MSIHANDLE install) {
    wchar_t* data = ReadData(install);
    static InstallData read;
    static Package package;
    if (data == nullptr || !ReadInstallData(install, data, read, package)) {
        return ERROR_INSTALL_FAILURE;
    }
    static Text copyFolder;
    if (!CopyPackage(install, read.folder, package, copyFolder)) {
        return ERROR_INSTALL_FAILURE;
    }
    static Text inf;
    PackagePath(copyFolder.data, read.inf, inf);
    const bool installed = InstallFromCopy(install, read, inf.data);
    RemovePackageCopy(install, copyFolder, package);
    return installed ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install) {
    wchar_t* infName = ReadData(install);
    if (infName == nullptr) {
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t* setting = SplitAt(infName, L'|');
    if (setting == nullptr || SplitAt(setting, L'|') != nullptr) {
        Log(install, L"CustomActionData is not <INF name>|<setting>");
        return ERROR_INSTALL_FAILURE;
    }
    const bool keep = Same(setting, L"keep");
    if (!keep && !Same(setting, L"remove")) {
        Log(install, L"ZELTRANE_ON_UNINSTALL is neither remove nor keep");
        return ERROR_INSTALL_FAILURE;
    }
    static Text key;
    if (!ProductKey(install, key)) {
        return ERROR_INSTALL_FAILURE;
    }
    // The restart request is this removal's own: whatever an earlier one
    // left goes first.
    const LSTATUS cleared = DeleteProductValue(key, kRestartValue);
    if (cleared != ERROR_SUCCESS) {
        LogError(install, L"cannot clear an earlier restart request", static_cast<DWORD>(cleared));
        return ERROR_INSTALL_FAILURE;
    }
    if (keep) {
        Log(install,
            L"ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package staged");
        return ERROR_SUCCESS;
    }
    return RemoveRecordedPackage(install, key, infName);
}

// Immediate, after the script: reads the removal's restart request, asks
// for the restart where there is one (a deferred action may not call
// MsiSetMode), and deletes the product's key, and its parents where they
// hold no other product.
extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install) {
    static Text key;
    if (!ProductKey(install, key)) {
        return ERROR_SUCCESS;
    }
    DWORD needed = 0;
    const bool restart = ReadProductValue(key, kRestartValue, REG_DWORD,
                                          static_cast<BYTE*>(static_cast<void*>(&needed)),
                                          sizeof needed) == ERROR_SUCCESS &&
                         needed == 1;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.data);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductsKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kVendorKey);
    if (restart) {
        MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
        Log(install, L"the driver's removal needs a restart: the installation asks for one");
    }
    return ERROR_SUCCESS;
}
