#include "action.h"
#include "carried.h"
#include "catalog.h"
#include "file_name.h"
#include "owners.h"
#include "package.h"
#include "problem.h"
#include "published.h"
#include "record.h"
#include "run.h"
#include "session.h"
#include "settings.h"
#include "superseded.h"
#include "text.h"

namespace {

// What Zeltrane ends with where no present device has the hardware ID: the
// platform's ERROR_NO_SUCH_DEVINST, with the package staged in its store.
constexpr DWORD kNoSuchDevice = 0xE000020B;

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

// Whether the list names an ID: an empty piece (";;", a trailing ';') names none.
bool NamesAnId(const wchar_t* ids) {
    for (; *ids != L'\0'; ++ids) {
        if (*ids != L';') {
            return true;
        }
    }
    return false;
}

// What InstallDriver reads from its CustomActionData, which the MSI sets
// before it as
//   <package folder>|<INF>|<succeed, fail or create>|<path>*<SHA-256>*...|
//   <remove or keep>|<older product codes>|<older packages>|<ID>;<ID>;...
// The INF and the paths are relative to the package folder; no path holds
// '|' or '*', and the IDs come last, so that they may. The settings are
// the words that CheckSettings handed over (settings.h), the older
// versions' fields are superseded.h's: each field is checked for what it
// may hold, so that a '|' in one shifts the next into a field that
// refuses it.
struct InstallData {
    const wchar_t* folder;
    const wchar_t* inf;
    NoDevice noDevice;
    Superseded superseded;
    wchar_t* ids;
};

// Splits and checks the action's data; false (logged) where it is not as
// the MSI sets it.
bool ReadInstallData(MSIHANDLE install, wchar_t* data, InstallData& read, Package& package) {
    wchar_t* inf = SplitAt(data, L'|');
    wchar_t* setting = inf != nullptr ? SplitAt(inf, L'|') : nullptr;
    wchar_t* files = setting != nullptr ? SplitAt(setting, L'|') : nullptr;
    wchar_t* older = files != nullptr ? SplitAt(files, L'|') : nullptr;
    wchar_t* products = older != nullptr ? SplitAt(older, L'|') : nullptr;
    wchar_t* names = products != nullptr ? SplitAt(products, L'|') : nullptr;
    read.ids = names != nullptr ? SplitAt(names, L'|') : nullptr;
    if (read.ids == nullptr) {
        Log(install,
            L"CustomActionData is not <package folder>|<INF>|<setting>|<files>|<older "
            L"versions>|<hardware IDs>");
        return false;
    }
    read.folder = data;
    read.inf = inf;
    read.noDevice = ReadSetting(setting);
    if (read.noDevice == NoDevice::kUnknown) {
        Log(install, L"ZELTRANE_NO_DEVICE is neither succeed, fail nor create");
        return false;
    }
    if (!ReadSupersededSetting(install, older, read.superseded)) {
        return false;
    }
    if (!EachPiece(products, L';', IsProductCode) || !EachPiece(names, L';', IsPublishedName)) {
        Log(install, L"the older versions' fields are not product codes and published names");
        return false;
    }
    read.superseded.products = products;
    read.superseded.names = names;
    if (!NamesAnId(read.ids)) {
        Log(install, L"no hardware ID given");
        return false;
    }
    if (!ReadPackage(install, files, package)) {
        return false;
    }
    if (Listed(package, inf) == nullptr) {
        LogNaming(install, L"the INF", inf,
                  L" is not one of the driver package's files: the installation fails");
        return false;
    }
    return true;
}

// What the runs found: whether one installed the driver, and whether a
// restart must finish the installation on a device.
struct Outcome {
    bool installed;
    bool restart;
};

// What the devices said, where a program's exit code says it: a restart
// finishes the installation (noted in `outcome`), or a device cannot run the
// driver; added to the run's line. False for any other code.
bool SayDevicesState(Text& line, DWORD exitCode, Outcome& outcome) {
    if (exitCode == kRestartNeeded) {
        Append(line, L": a restart finishes the installation");
        outcome.restart = true;
        return true;
    }
    if (IsDeviceProblem(exitCode)) {
        Append(line, L", a device cannot run the driver: ");
        AppendProblem(line, exitCode);
        return true;
    }
    return false;
}

// Runs Zeltrane.exe for one hardware ID and logs the run: true when the
// installation may go on, noting in `outcome` what this run found.
bool InstallFor(MSIHANDLE install, const wchar_t* program, const wchar_t* inf,
                const wchar_t* hardwareId, Outcome& outcome) {
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
    bool goesOn = true;
    if (exitCode == ERROR_SUCCESS || exitCode == kRestartNeeded) {
        Append(run.line, L", the driver is installed on its devices");
        outcome.installed = true;
    } else if (exitCode == kNoSuchDevice) {
        Append(run.line, L", no present device has it");
    } else {
        goesOn = false;
    }
    if (!SayDevicesState(run.line, exitCode, outcome) && !goesOn) {
        Append(run.line, L", the driver was not installed");
        AppendWhatToDo(run.line, exitCode);
    }
    Log(install, run.line);
    return goesOn;
}

// Runs the program for each ID, in the given order: false (logged) where a
// run failed; what the runs found in `outcome`, and the first ID in `first`.
bool InstallForEach(MSIHANDLE install, const wchar_t* program, const wchar_t* inf, wchar_t* ids,
                    Outcome& outcome, const wchar_t*& first) {
    for (wchar_t* id = ids; id != nullptr;) {
        wchar_t* rest = SplitAt(id, L';');
        if (*id != L'\0') {
            first = first != nullptr ? first : id;
            if (!InstallFor(install, program, inf, id, outcome)) {
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
bool CreateDevice(MSIHANDLE install, const wchar_t* inf, const wchar_t* hardwareId,
                  Outcome& outcome) {
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
    const bool installed = exitCode == ERROR_SUCCESS || exitCode == kRestartNeeded;
    if (installed) {
        Append(run.line, L", the device is there and the driver installed on it");
        outcome.installed = true;
    }
    if (!SayDevicesState(run.line, exitCode, outcome) && !installed) {
        Append(run.line, L", the driver was not installed");
        AppendWhatToDo(run.line, exitCode);
    }
    if (!installed) {
        Append(run.line, L": the installation fails");
    }
    Log(install, run.line);
    return installed;
}

// Where no run installed the driver: what the setting says.
bool NoDeviceHasAnyId(MSIHANDLE install, NoDevice noDevice, const wchar_t* inf,
                      const wchar_t* first, Outcome& outcome) {
    if (noDevice == NoDevice::kCreate) {
        return CreateDevice(install, inf, first, outcome);
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

// Records that this product uses the package, by its INF's digest and the
// digest of the catalog it was staged with (empty where it has none): in
// the package's record (owners.h) and as Package and Catalog in the
// product's key.
LSTATUS RecordOwner(const Text& key, const BYTE (&infDigest)[kDigestSize], const Text& catalog) {
    static Text record;
    PackageRecord(infDigest, record);
    const wchar_t* digits = FileNameOf(record.data);
    LSTATUS status =
        SetProductValue(key, kPackageValue, REG_SZ, digits, (Length(digits) + 1) * sizeof(wchar_t));
    if (status == ERROR_SUCCESS) {
        status = catalog.length != 0 ? SetProductValue(key, kCatalogValue, REG_SZ, catalog.data,
                                                       (catalog.length + 1) * sizeof(wchar_t))
                                     : DeleteProductValue(key, kCatalogValue);
    }
    return status == ERROR_SUCCESS ? AddOwner(record, FileNameOf(key.data), catalog) : status;
}

// Records the name under which the platform staged the package in the
// product's key, where the removal finds it: the INF that the removal meets
// in the installation's folder is never asked again; that this product uses
// the package; and, where a device needs a restart, the request that
// ScheduleRestart passes on. False (logged) where the name or the use
// cannot be recorded. The product's key in `key`.
bool RecordPublishedName(MSIHANDLE install, const wchar_t* inf, const Package& package,
                         const BYTE (&infDigest)[kDigestSize], bool restart, Text& key) {
    static Text published;
    // The catalog that it was found staged with, where the package has one.
    static Text catalog;
    const DWORD error = FindPublishedName(inf, package, published, catalog);
    if (error != ERROR_SUCCESS) {
        LogError(install, L"cannot find the name of the staged package", error);
        return false;
    }
    if (!ProductKey(install, key)) {
        return false;
    }
    const wchar_t* name = FileNameOf(published.data);
    LSTATUS status =
        SetProductValue(key, kPublishedValue, REG_SZ, name, (Length(name) + 1) * sizeof(wchar_t));
    if (status == ERROR_SUCCESS) {
        status = RecordOwner(key, infDigest, catalog);
    }
    if (status != ERROR_SUCCESS) {
        LogError(install, L"cannot record the name of the staged package",
                 static_cast<DWORD>(status));
        return false;
    }
    LogNaming(install, L"the package is staged as", name, L", recorded for its removal");
    // The driver is installed: only the restart request can be lost, which
    // the log then says. Without one, none that another run left stays.
    const DWORD needed = 1;
    const LSTATUS request =
        restart ? SetProductValue(key, kRestartValue, REG_DWORD, &needed, sizeof needed)
                : DeleteProductValue(key, kRestartValue);
    if (request != ERROR_SUCCESS) {
        Log(install, L"cannot pass the restart request on: restart Windows to finish");
    }
    return true;
}

// Installs from the checked copy: Zeltrane.exe for each ID, then what the
// setting says where none installed, then the record of the staged name;
// then the older versions' packages.
bool InstallFromCopy(MSIHANDLE install, InstallData& data, const Package& package,
                     const wchar_t* inf) {
    static Text folder;
    static Text program;
    if (!WriteProgram(install, kZeltrane, folder, program)) {
        return false;
    }
    Outcome outcome = {false, false};
    const wchar_t* first = nullptr;
    static Text key;
    const bool ran = InstallForEach(install, program.data, inf, data.ids, outcome, first);
    RemoveRunFolder(install, folder, kZeltrane);
    if (!ran ||
        !(outcome.installed || NoDeviceHasAnyId(install, data.noDevice, inf, first, outcome)) ||
        !RecordPublishedName(install, inf, package, Listed(package, data.inf)->digest,
                             outcome.restart, key)) {
        return false;
    }
    const ThisInf thisInf = {FileNameOf(data.inf), inf, FileNameOf(key.data)};
    SupersedeOlderVersions(install, key, data.superseded, thisInf, outcome.restart);
    return true;
}

}  // namespace

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
    const bool installed = InstallFromCopy(install, read, package, inf.data);
    RemovePackageCopy(install, copyFolder, package);
    return installed ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
