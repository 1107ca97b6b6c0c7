// The custom actions of the MSI template (examples/setups/driver-setup.wxs).
// InstallDriver installs the driver package for each hardware ID of a
// product line with the installed 32-bit Zeltrane.exe, writes each run to the
// installation's log, and decides the installation's result from the runs'
// exit codes. RemoveDriver takes the package back with the installed
// ZeltraneRemove.exe when the product is removed, and ScheduleRestart turns
// the removal's need of a restart into the installation's own request.
//
// The first two run deferred, so they read their input from
// CustomActionData, which the MSI sets before each as
//   <Zeltrane.exe's full path>|<the INF's full path>|<succeed or fail>|<ID>;<ID>;...
//   <ZeltraneRemove.exe's full path>|<the INF's full path>|<remove or keep>
// No file path holds '|', and the IDs come last, so that they may.

#include "action.h"

#include <msi.h>
#include <msiquery.h>

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

// The longest product code, {GUID}, with its terminating NUL.
constexpr DWORD kProductCodeCapacity = 39;

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

// Starts the program with the command line and waits for it: ERROR_SUCCESS
// with its exit code, or the error of the start or the wait.
DWORD Run(const wchar_t* program, Text& commandLine, DWORD& exitCode) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(program, commandLine.data, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
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
enum class NoDevice { kSucceed, kFail, kUnknown };

NoDevice ReadSetting(const wchar_t* setting) {
    if (Same(setting, L"succeed")) {
        return NoDevice::kSucceed;
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

// The name of the global atom by which RemoveDriver tells ScheduleRestart
// that the removal needs a restart: a deferred action may not call
// MsiSetMode, and the two run in processes of their own. It names the
// product, so that no other installation reads it. False where the product
// code cannot be read.
bool RestartAtomName(MSIHANDLE install, Text& name) {
    wchar_t productCode[kProductCodeCapacity];
    DWORD size = kProductCodeCapacity;
    if (MsiGetPropertyW(install, L"ProductCode", productCode, &size) != ERROR_SUCCESS) {
        return false;
    }
    Clear(name);
    Append(name, L"Zeltrane restart ");
    Append(name, productCode);
    return true;
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

}  // namespace

extern "C" UINT WINAPI InstallDriver(MSIHANDLE install) {
    wchar_t* program = ReadData(install);
    if (program == nullptr) {
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t* inf = SplitAt(program, L'|');
    wchar_t* setting = inf != nullptr ? SplitAt(inf, L'|') : nullptr;
    wchar_t* ids = setting != nullptr ? SplitAt(setting, L'|') : nullptr;
    if (ids == nullptr) {
        Log(install, L"CustomActionData is not <Zeltrane.exe>|<INF>|<setting>|<hardware IDs>");
        return ERROR_INSTALL_FAILURE;
    }
    const NoDevice noDevice = ReadSetting(setting);
    if (noDevice == NoDevice::kUnknown) {
        Log(install, L"ZELTRANE_NO_DEVICE is neither succeed nor fail");
        return ERROR_INSTALL_FAILURE;
    }

    // In the given order; an empty piece (";;", a trailing ';') names no ID.
    bool any = false;
    bool installed = false;
    for (wchar_t* id = ids; id != nullptr;) {
        wchar_t* rest = SplitAt(id, L';');
        if (*id != L'\0') {
            any = true;
            if (!InstallFor(install, program, inf, id, installed)) {
                Log(install, L"the installation fails and is rolled back");
                return ERROR_INSTALL_FAILURE;
            }
        }
        id = rest;
    }
    if (!any) {
        Log(install, L"no hardware ID given");
        return ERROR_INSTALL_FAILURE;
    }
    if (installed) {
        return ERROR_SUCCESS;
    }
    if (noDevice == NoDevice::kFail) {
        Log(install,
            L"no present device has any of the hardware IDs: the installation fails "
            L"(ZELTRANE_NO_DEVICE=fail)");
        return ERROR_INSTALL_FAILURE;
    }
    Log(install,
        L"no present device has any of the hardware IDs: installed on no device; the package is "
        L"staged, and the platform installs it when such a device appears");
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI RemoveDriver(MSIHANDLE install) {
    wchar_t* program = ReadData(install);
    if (program == nullptr) {
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t* inf = SplitAt(program, L'|');
    wchar_t* setting = inf != nullptr ? SplitAt(inf, L'|') : nullptr;
    if (setting == nullptr || SplitAt(setting, L'|') != nullptr) {
        Log(install, L"CustomActionData is not <ZeltraneRemove.exe>|<INF>|<setting>");
        return ERROR_INSTALL_FAILURE;
    }
    if (Same(setting, L"keep")) {
        Log(install,
            L"ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package staged");
        return ERROR_SUCCESS;
    }
    if (!Same(setting, L"remove")) {
        Log(install, L"ZELTRANE_ON_UNINSTALL is neither remove nor keep");
        return ERROR_INSTALL_FAILURE;
    }

    static ProgramRun run;
    Clear(run.commandLine);
    AppendArgument(run.commandLine, program);
    AppendChar(run.commandLine, L' ');
    AppendArgument(run.commandLine, inf);
    Clear(run.line);
    Append(run.line, L"removal of \"");
    Append(run.line, inf);
    DWORD exitCode = 0;
    if (!RunAndSay(install, program, run, exitCode)) {
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
    static Text atom;
    if (!RestartAtomName(install, atom) || GlobalAddAtomW(atom.data) == 0) {
        Log(install, L"cannot pass the restart request on: restart Windows to finish");
    }
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI ScheduleRestart(MSIHANDLE install) {
    static Text name;
    if (!RestartAtomName(install, name)) {
        return ERROR_SUCCESS;
    }
    const ATOM atom = GlobalFindAtomW(name.data);
    if (atom == 0) {
        return ERROR_SUCCESS;
    }
    GlobalDeleteAtom(atom);
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    Log(install, L"the driver's removal needs a restart: the installation asks for one");
    return ERROR_SUCCESS;
}
