#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "action.h"
#include "fake_platform.h"

namespace {

// A run's folder: the temporary folder, then Zeltrane- and the random bytes
// of that call of the provider, all `call` (fake_platform.h).
std::wstring RunFolder(int call, const std::wstring& temporary = L"C:\\Windows\\Temp\\") {
    wchar_t digits[3];
    swprintf(digits, 3, L"%02x", call);
    std::wstring name = temporary + L"Zeltrane-";
    for (int i = 0; i < 16; ++i) {
        name += digits;
    }
    return name;
}

// Where the MSI installed the driver package ([DriverDir]), its files, and
// the checked copy, in the installation's first run folder; the programs
// run from the second.
const std::wstring kPackage = L"C:\\Program Files (x86)\\ZT line\\driver\\";
const std::vector<std::pair<std::wstring, std::string>> kPackageFiles = {
    {L"zt-line.inf", "[Version] ours"},
    {L"amd64\\zt-line.sys", "the driver"},
    {L"amd64\\zt-line.cat", "its catalog"}};
const std::wstring kCopy = RunFolder(1);
const std::wstring kRun = RunFolder(2);
const std::wstring kProgram = kRun + L"\\Zeltrane.exe";
const std::wstring kRemover = RunFolder(1) + L"\\ZeltraneRemove.exe";
const std::wstring kRunAccess = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const std::wstring kInf = kCopy + L"\\zt-line.inf";
const std::wstring kChecked =
    L"Zeltrane: the driver package's files are the MSI's own, checked in \"" + kCopy + L"\"";
const std::wstring kA = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000011";
const std::wstring kB = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000012";
const std::wstring kC = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000013";
const std::wstring kKey = L"SOFTWARE\\Zeltrane\\Products\\{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
const std::wstring kPublished = L"C:\\Windows\\INF\\oem7.inf";
const std::wstring kRecorded =
    L"Zeltrane: the package is staged as \"oem7.inf\", recorded for its removal";
constexpr DWORD kNoSuchDevice = 0xE000020B;
constexpr UINT kFails = ERROR_INSTALL_FAILURE;

// The programs that the DLL carries: each resource's bytes name it.
const std::map<std::wstring, std::string> kResources = {
    {L"ZELTRANE_X86", "x86 Zeltrane"},         {L"ZELTRANE_X64", "x64 Zeltrane"},
    {L"ZELTRANE_ARM64", "arm64 Zeltrane"},     {L"ZELTRANE_REMOVE_X86", "x86 remove"},
    {L"ZELTRANE_REMOVE_X64", "x64 remove"},    {L"ZELTRANE_REMOVE_ARM64", "arm64 remove"},
    {L"ZELTRANE_CREATE_X86", "x86 create"},    {L"ZELTRANE_CREATE_X64", "x64 create"},
    {L"ZELTRANE_CREATE_ARM64", "arm64 create"}};

// The package's list as the MSI's build writes it, each digest of the
// file's bytes in the package's folder now.
std::wstring Files() {
    std::wstring list;
    for (const auto& file : kPackageFiles) {
        const auto found = fake.files.find(kPackage + file.first);
        list += (list.empty() ? L"" : L"*") + file.first + L"*" +
                FakeDigest(found != fake.files.end() ? found->second : "");
    }
    return list;
}

std::wstring Data(const std::wstring& setting, const std::wstring& ids,
                  const std::wstring& files = Files()) {
    return kPackage + L"|zt-line.inf|" + setting + L"|" + files + L"|" + ids;
}

std::wstring CommandLine(const std::wstring& id) {
    return L"\"" + kProgram + L"\" \"" + kInf + L"\" \"" + id + L"\"";
}

std::string Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()),
                       (text.size() + 1) * sizeof(wchar_t));
}

bool Logged(const std::wstring& line) {
    return std::find(fake.logged.begin(), fake.logged.end(), line) != fake.logged.end();
}

class MsiAction : public ::testing::Test {
protected:
    // The DLL loaded, its programs in its resources; the package, once
    // installed, is staged as oem7.inf.
    void SetUp() override {
        fake = FakePlatform{};
        DllMain(FakeActionModule(), 1, nullptr);
        fake.resources = kResources;
        fake.copy = Fails(ERROR_FILE_EXISTS);
        fake.published = kPublished;
        for (const auto& file : kPackageFiles) {
            fake.files[kPackage + file.first] = file.second;
        }
    }

    std::vector<std::wstring> Started() const {
        std::vector<std::wstring> lines;
        for (const StartCall& start : fake.starts) {
            lines.push_back(start.commandLine);
        }
        return lines;
    }

    // Whatever happened: every record, file and descriptor closed, and the
    // run's folder gone with all it held.
    void TearDown() override {
        EXPECT_EQ(fake.openRecords, 0) << "every record closed";
        EXPECT_EQ(fake.openFiles, 0);
        EXPECT_EQ(fake.openDescriptors, 0);
        EXPECT_EQ(fake.openKeys, 0);
        EXPECT_EQ(fake.openSearches, 0);
        EXPECT_EQ(fake.openProviders, 0);
        EXPECT_EQ(fake.openHashes, 0);
        if (!fake.removeFolder.fails) {
            for (const auto& folder : fake.folders) {
                EXPECT_NE(folder.first.rfind(L"C:\\Windows\\Temp\\Zeltrane-", 0), 0u)
                    << "a run's folder left behind";
            }
            for (const auto& file : fake.files) {
                EXPECT_NE(file.first.rfind(L"C:\\Windows\\Temp\\Zeltrane-", 0), 0u)
                    << "left behind";
            }
        }
    }
};

TEST_F(MsiAction, RunsZeltraneForEachIdInOrderAndLogsEachExitCode) {
    fake.customActionData = Data(L"succeed", kA + L";" + kB + L";" + kC);
    fake.childExitCodes = {kNoSuchDevice, 0, kNoSuchDevice};

    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);

    EXPECT_EQ(Started(),
              (std::vector<std::wstring>{CommandLine(kA), CommandLine(kB), CommandLine(kC)}));
    for (const StartCall& start : fake.starts) {
        EXPECT_EQ(start.application, kProgram) << "the program of the run's folder";
        EXPECT_FALSE(start.inheritHandles);
        EXPECT_EQ(start.flags, 0u);
        EXPECT_EQ(start.currentDirectory, fake.systemFolder);
    }
    EXPECT_EQ(fake.waitTimeouts, (std::vector<DWORD>(3, INFINITE)));
    EXPECT_EQ(fake.closed.size(), 6u) << "each child's thread and process handle";
    EXPECT_EQ(fake.logged,
              (std::vector<std::wstring>{
                  kChecked,
                  L"Zeltrane: hardware ID \"" + kA +
                      L"\": Zeltrane.exe ended with 0xE000020B, no present device has it",
                  L"Zeltrane: hardware ID \"" + kB +
                      L"\": Zeltrane.exe ended with 0x00000000, the driver is installed on its "
                      L"devices",
                  L"Zeltrane: hardware ID \"" + kC +
                      L"\": Zeltrane.exe ended with 0xE000020B, no present device has it",
                  kRecorded}));
}

// What runs is what the DLL carries, on the package's checked copy, each in
// a folder of the run's own that only SYSTEM and Administrators can enter,
// the programs in a release's layout; a file in the package's folder that
// the MSI did not install is not copied; nothing of either is left.
TEST_F(MsiAction, RunsTheProgramsItCarriesOnACheckedCopyOnlyAdministratorsCanWrite) {
    fake.files[kPackage + L"amd64\\planted.dll"] = "a user's";
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(Started(), std::vector<std::wstring>{CommandLine(kA)});
    EXPECT_EQ(fake.foldersAtStart, (std::map<std::wstring, std::wstring>{{kCopy, kRunAccess},
                                                                         {kCopy + L"\\amd64", L""},
                                                                         {kRun, kRunAccess},
                                                                         {kRun + L"\\arm64", L""},
                                                                         {kRun + L"\\x64", L""}}));
    std::map<std::wstring, std::string> expected = {
        {kProgram, "x86 Zeltrane"},
        {kRun + L"\\arm64\\Zeltrane.exe", "arm64 Zeltrane"},
        {kRun + L"\\x64\\Zeltrane.exe", "x64 Zeltrane"},
        {kInf, "[Version] ours"},
        {kCopy + L"\\amd64\\zt-line.sys", "the driver"},
        {kCopy + L"\\amd64\\zt-line.cat", "its catalog"},
        {kPackage + L"amd64\\planted.dll", "a user's"}};
    for (const auto& file : kPackageFiles) {
        expected[kPackage + file.first] = file.second;
    }
    EXPECT_EQ(fake.filesAtStart, expected);
    EXPECT_EQ(fake.resourceModules, std::vector<HMODULE>(3, FakeActionModule()));
    EXPECT_EQ(fake.logged.front(), kChecked);
}

// A run's folder has a name from the random source: one that is there
// already, folder, file or link, is another user's, passed over and left as
// it is; the local system account's own temporary folder where Windows has
// GetTempPath2W.
TEST_F(MsiAction, ANameThatIsThereAlreadyIsPassedOver) {
    fake.folders[kCopy] = L"a user's";
    fake.files[kRun];
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    ASSERT_EQ(fake.starts.size(), 1u);
    EXPECT_EQ(fake.starts[0].commandLine, L"\"" + RunFolder(4) + L"\\Zeltrane.exe\" \"" +
                                              RunFolder(3) + L"\\zt-line.inf\" \"" + kA + L"\"");
    EXPECT_EQ(fake.folders, (std::map<std::wstring, std::wstring>{{kCopy, L"a user's"}}));
    fake.folders.clear();
    fake.files.clear();

    for (const bool kernel32Found : {true, false}) {
        SetUp();
        fake.hasGetTempPath2W = true;
        fake.kernel32Found = kernel32Found;
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application,
                  (kernel32Found ? RunFolder(2, L"C:\\Windows\\SystemTemp\\") : kRun) +
                      L"\\Zeltrane.exe");
        EXPECT_EQ(fake.folders, (std::map<std::wstring, std::wstring>{}));
    }
}

// The programs cannot be written: nothing starts, nothing stays, the
// removal fails with the reason in its log.
TEST_F(MsiAction, ProgramsThatCannotBeWrittenFailTheActionAndStartNothing) {
    const std::wstring notMade = L"Zeltrane: cannot make a folder for the programs, error ";
    const std::wstring notWritten = L"Zeltrane: cannot write \"" + kRemover.substr(0, kCopy.size());
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"no temporary folder", [] { fake.tempFolder.clear(); }, notMade + L"0x00000005"},
        {"temporary folder too long", [] { fake.tempFolder = std::wstring(MAX_PATH + 1, L't'); },
         notMade + L"0x0000007A"},
        {"no descriptor", [] { fake.descriptor = Fails(ERROR_ACCESS_DENIED); },
         notMade + L"0x00000005"},
        {"no random source", [] { fake.providerFailsOnCall = 1; }, notMade + L"0x00000005"},
        {"no random bytes", [] { fake.random = Fails(ERROR_ACCESS_DENIED); },
         notMade + L"0x00000005"},
        {"folder refused",
         [] {
             fake.createFolderFailsOnCall = 1;
             fake.createFolderError = ERROR_ACCESS_DENIED;
         },
         notMade + L"0x00000005"},
        {"every name taken",
         [] {
             for (int call = 1; call <= 8; ++call) {
                 fake.files[RunFolder(call)];
             }
         },
         notMade + L"0x000000B7"},
        {"subfolder refused",
         [] {
             fake.createFolderFailsOnCall = 2;
             fake.createFolderError = ERROR_DISK_FULL;
         },
         notWritten + L"\\x64\", error 0x00000070"},
        {"resource missing", [] { fake.resources.erase(L"ZELTRANE_REMOVE_X64"); },
         notWritten + L"\\x64\\ZeltraneRemove.exe\", error 0x00000716"},
        {"file refused", [] { fake.createFile = Fails(ERROR_DISK_FULL); },
         notWritten + L"\\ZeltraneRemove.exe\", error 0x00000070"},
        {"write fails", [] { fake.writeFile = Fails(ERROR_DISK_FULL); },
         notWritten + L"\\ZeltraneRemove.exe\", error 0x00000070"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.originalNames[kPublished] = L"zt-line.inf";
        c.arrange();
        fake.customActionData = L"zt-line.inf|remove";
        EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
        EXPECT_EQ(fake.logged.back(), c.logged);
        EXPECT_EQ(fake.folders.count(RunFolder(1)), 0u);
        fake.files.clear();
    }
}

// The package's folder as the data may give it: without its closing
// backslash, the digests in upper case; a folder of none is no folder.
TEST_F(MsiAction, ReadsThePackagesFolderAndDigestsAsTheyMayBeWritten) {
    std::wstring upper;
    for (const auto& file : kPackageFiles) {
        std::wstring digest = FakeDigest(file.second);
        std::transform(digest.begin(), digest.end(), digest.begin(), towupper);
        upper += (upper.empty() ? L"" : L"*") + file.first + L"*" + digest;
    }
    fake.customActionData =
        kPackage.substr(0, kPackage.size() - 1) + L"|zt-line.inf|succeed|" + upper + L"|" + kA;
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(Started(), std::vector<std::wstring>{CommandLine(kA)});

    SetUp();
    fake.customActionData = L"|zt-line.inf|succeed|" + Files() + L"|" + kA;
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());

    // The programs cannot be written for the installation: nothing starts.
    SetUp();
    fake.resources.erase(L"ZELTRANE_X86");
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
}

// A file of the package that is not the one the MSI installed (changed,
// swapped, gone), or that cannot be copied and checked: nothing starts,
// nothing of the copy stays, the installation fails naming the file.
TEST_F(MsiAction, APackageFileThatIsNotTheMsisOwnFailsTheInstallation) {
    const std::wstring driver = kPackage + L"amd64\\zt-line.sys";
    const std::wstring said = L"Zeltrane: the driver package's file \"" + driver;
    const std::wstring notCopied =
        said + L"\" cannot be copied to check it: the installation fails, error ";
    // The first file that the action copies, the INF, where every copy fails.
    const std::wstring infNotCopied = L"Zeltrane: the driver package's file \"" + kPackage +
                                      L"zt-line.inf\" cannot be copied to check it: the "
                                      L"installation fails, error ";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"changed", [] { fake.files[kPackage + L"amd64\\zt-line.sys"] = "a user's driver"; },
         said + L"\" is not the file that this MSI installed: the installation fails"},
        {"one byte more", [] { fake.files[kPackage + L"amd64\\zt-line.sys"] += "!"; },
         said + L"\" is not the file that this MSI installed: the installation fails"},
        {"gone", [] { fake.files.erase(kPackage + L"amd64\\zt-line.sys"); },
         notCopied + L"0x00000002"},
        {"unreadable", [] { fake.unreadable = {kPackage + L"amd64\\zt-line.sys"}; },
         notCopied + L"0x00000005"},
        {"reading fails", [] { fake.readFile = Fails(ERROR_ACCESS_DENIED); },
         infNotCopied + L"0x00000005"},
        {"no provider for the digest", [] { fake.providerFailsOnCall = 2; },
         infNotCopied + L"0x00000005"},
        {"no hash", [] { fake.hashCreation = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"no digest", [] { fake.hashValue = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"the copy not written", [] { fake.writeFile = Fails(ERROR_DISK_FULL); },
         infNotCopied + L"0x00000070"},
        {"hashing fails", [] { fake.hashing = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"its folder refused",
         [] {
             fake.createFolderFailsOnCall = 2;
             fake.createFolderError = ERROR_DISK_FULL;
         },
         notCopied + L"0x00000070"},
        {"the copy refused", [] { fake.createFile = Fails(ERROR_DISK_FULL); },
         infNotCopied + L"0x00000070"},
        {"no folder for the copy", [] { fake.random = Fails(ERROR_ACCESS_DENIED); },
         L"Zeltrane: cannot make a folder for the driver package, error 0x00000005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.customActionData = Data(L"succeed", kA);
        c.arrange();
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
        EXPECT_TRUE(fake.copies.empty()) << "nothing staged";
        EXPECT_EQ(fake.logged, std::vector<std::wstring>{c.logged});
    }
}

TEST_F(MsiAction, AFolderThatCannotBeDeletedIsLoggedAndChangesNoResult) {
    fake.removeFolder = Fails(ERROR_ACCESS_DENIED);
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_TRUE(Logged(L"Zeltrane: cannot delete \"" + kRun + L"\", error 0x00000005"));
}

// The installation's result from the runs' exit codes and the setting.
TEST_F(MsiAction, DecidesTheResultFromTheExitCodesAndTheSetting) {
    const struct {
        const char* what;
        const wchar_t* setting;
        std::vector<DWORD> codes;
        UINT result;
        size_t starts;
    } cases[] = {
        {"installed for the first ID only", L"succeed", {0, kNoSuchDevice, kNoSuchDevice}, 0, 3},
        {"installed for the last ID only", L"fail", {kNoSuchDevice, kNoSuchDevice, 0}, 0, 3},
        {"installed for two", L"fail", {0, kNoSuchDevice, 0}, 0, 3},
        {"no device, by default", L"succeed", {kNoSuchDevice, kNoSuchDevice, kNoSuchDevice}, 0, 3},
        {"no device, set to fail",
         L"fail",
         {kNoSuchDevice, kNoSuchDevice, kNoSuchDevice},
         kFails,
         3},
        {"a missing INF stops at once", L"succeed", {ERROR_FILE_NOT_FOUND, 0, 0}, kFails, 1},
        {"a failure after no device", L"succeed", {kNoSuchDevice, 0xE0000000, 0}, kFails, 2},
        {"a failure after an installation", L"succeed", {0, ERROR_ACCESS_DENIED, 0}, kFails, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.customActionData = Data(c.setting, kA + L";" + kB + L";" + kC);
        fake.childExitCodes = c.codes;
        EXPECT_EQ(InstallDriver(kFakeInstall), c.result);
        EXPECT_EQ(fake.starts.size(), c.starts);
        EXPECT_EQ(fake.registry.count(kKey), c.result == 0 ? 1u : 0u) << "recorded on success only";
    }
}

// ZELTRANE_NO_DEVICE=create: where no device has any of the IDs, the device
// of a virtual adapter, made with the first ID by the ZeltraneCreate.exe that
// the DLL carries; where a device has one, none.
TEST_F(MsiAction, CreateMakesTheDeviceWithTheFirstIdWhereNoDeviceHasAny) {
    const std::wstring creation =
        L"\"" + RunFolder(3) + L"\\ZeltraneCreate.exe\" \"" + kInf + L"\" \"" + kA + L"\"";
    const std::wstring made =
        L"Zeltrane: no present device has any of the hardware IDs "
        L"(ZELTRANE_NO_DEVICE=create): the device for \"" +
        kA + L"\": ZeltraneCreate.exe ended with ";
    const struct {
        const char* what;
        std::vector<DWORD> codes;
        bool carried;
        UINT result;
        std::vector<std::wstring> started;
        std::wstring logged;
    } cases[] = {
        {"made",
         {kNoSuchDevice, kNoSuchDevice, 0},
         true,
         0,
         {CommandLine(kA), CommandLine(kB), creation},
         kRecorded},
        {"not installed",
         {kNoSuchDevice, kNoSuchDevice, 5},
         true,
         kFails,
         {CommandLine(kA), CommandLine(kB), creation},
         made + L"0x00000005, the driver was not installed: the installation fails"},
        {"a device has an ID",
         {kNoSuchDevice, 0},
         true,
         0,
         {CommandLine(kA), CommandLine(kB)},
         kRecorded},
        {"not carried",
         {kNoSuchDevice, kNoSuchDevice},
         false,
         kFails,
         {CommandLine(kA), CommandLine(kB)},
         L"Zeltrane: cannot write \"" + RunFolder(3) + L"\\ZeltraneCreate.exe\", error 0x00000716"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (!c.carried) {
            fake.resources.erase(L"ZELTRANE_CREATE_X86");
        }
        fake.customActionData = Data(L"create", L";" + kA + L";" + kB);
        fake.childExitCodes = c.codes;
        EXPECT_EQ(InstallDriver(kFakeInstall), c.result);
        EXPECT_EQ(Started(), c.started);
        EXPECT_EQ(fake.logged.back(), c.logged);
    }
    EXPECT_EQ(fake.filesAtStart.count(kRun + L"\\x64\\Zeltrane.exe"), 1u);

    // A command line that fits for Zeltrane.exe, but not with the longer
    // name; the temporary folder's name makes room for the data.
    SetUp();
    const std::wstring temporary = L"C:\\" + std::wstring(100, L't') + L"\\";
    fake.tempFolder = temporary;
    const std::wstring empty = L"\"" + RunFolder(2, temporary) + L"\\Zeltrane.exe\" \"" +
                               RunFolder(1, temporary) + L"\\zt-line.inf\" \"\"";
    const std::wstring id(32767 - empty.size() - 3, L'I');
    fake.customActionData = Data(L"create", id);
    fake.childExitCode = kNoSuchDevice;
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_EQ(fake.starts.size(), 1u);
    EXPECT_EQ(fake.logged.back().rfind(made.substr(0, 90), 0), 0u) << "said, as far as it fits";
}

TEST_F(MsiAction, SaysWhatItDidWhereNoDeviceHasAnyId) {
    fake.customActionData = Data(L"succeed", kA);
    fake.childExitCode = kNoSuchDevice;
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_TRUE(
        Logged(L"Zeltrane: no present device has any of the hardware IDs: installed on no device; "
               L"the package is staged, and the platform installs it when such a device appears"));
    EXPECT_TRUE(Logged(kRecorded)) << "the staged package is the product's too";

    SetUp();
    fake.customActionData = Data(L"fail", kA);
    fake.childExitCode = kNoSuchDevice;
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: no present device has any of the hardware IDs: the installation fails "
              L"(ZELTRANE_NO_DEVICE=fail)");
}

TEST_F(MsiAction, AFailedRunIsLoggedWithItsCodeAndFailsTheInstallation) {
    fake.customActionData = Data(L"succeed", kA);
    fake.childExitCode = 0xE0000000;
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_EQ(fake.logged,
              (std::vector<std::wstring>{kChecked,
                                         L"Zeltrane: hardware ID \"" + kA +
                                             L"\": Zeltrane.exe ended with 0xE0000000, the driver "
                                             L"was not installed",
                                         L"Zeltrane: the installation fails and is rolled back"}));
}

// Starting, waiting for and reading the child: each failure fails the
// installation with the call's error in the log, and no handle is left open.
TEST_F(MsiAction, AStartThatFailsFailsTheInstallation) {
    const struct {
        const char* what;
        Outcome FakePlatform::*call;
        size_t closed;
        std::wstring said;
    } cases[] = {
        {"system folder", &FakePlatform::systemFolderCall, 0, L"Zeltrane.exe could not be started"},
        {"start", &FakePlatform::start, 0, L"Zeltrane.exe could not be started"},
        {"wait", &FakePlatform::wait, 2, L"Zeltrane.exe could not be started"},
        {"exit code", &FakePlatform::exitCode, 2, L"Zeltrane.exe could not be started"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.customActionData = Data(L"succeed", kA + L";" + kB);
        fake.*c.call = {true, ERROR_FILE_NOT_FOUND};
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_EQ(fake.starts.size(), c.call == &FakePlatform::systemFolderCall ? 0u : 1u);
        EXPECT_EQ(fake.closed.size(), c.closed);
        ASSERT_GE(fake.logged.size(), 2u);
        EXPECT_EQ(fake.logged[1], L"Zeltrane: hardware ID \"" + kA + L"\": " + c.said +
                                      L" or waited for, error 0x00000002");
    }
    SetUp();
    fake.customActionData = Data(L"succeed", kA);
    fake.systemFolder = std::wstring(MAX_PATH, L's');
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
}

// CustomActionData that the template does not write: nothing is started.
TEST_F(MsiAction, RefusesDataItCannotReadAndStartsNothing) {
    const std::wstring notData =
        L"Zeltrane: CustomActionData is not <package folder>|<INF>|<setting>|<files>|<hardware "
        L"IDs>";
    const std::wstring notList =
        L"Zeltrane: the driver package's list of files is not <path>*<SHA-256>*...: the "
        L"installation fails";
    const std::wstring digest = FakeDigest("[Version] ours");
    const struct {
        std::wstring data;
        std::wstring logged;
    } cases[] = {
        {L"", notData},
        {kInf + L"|succeed", notData},
        {Data(L"Succeed", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed, fail nor create"},
        {Data(L"", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed, fail nor create"},
        {Data(L"failure", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed, fail nor create"},
        {Data(L"succeed", L""), L"Zeltrane: no hardware ID given"},
        {Data(L"succeed", L";;"), L"Zeltrane: no hardware ID given"},
        {Data(L"succeed", kA, L""),
         L"Zeltrane: the MSI records no digests of the driver package's files (record-digests.py "
         L"writes them when the MSI is built): the installation fails"},
        {Data(L"succeed", kA, L"zt-line.inf"), notList},
        {Data(L"succeed", kA, L"zt-line.inf*" + digest.substr(1)), notList},
        {Data(L"succeed", kA, L"zt-line.inf*" + digest + L"0"), notList},
        {Data(L"succeed", kA, L"zt-line.inf*" + digest.substr(0, 63) + L"g"), notList},
        {Data(L"succeed", kA, L"zt-line.inf*g" + digest.substr(1)), notList},
        {Data(L"succeed", kA, L"..\\zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"amd64\\.\\zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"\\zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"amd64\\*" + digest), notList},
        {Data(L"succeed", kA, L"C:zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"amd64/zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"ab\\.c\\d\\..\\zt-line.inf*" + digest), notList},
        {Data(L"succeed", kA, L"zt-line.inf*!" + digest.substr(1)), notList},
        {Data(L"succeed", kA, L"other.inf*" + digest),
         L"Zeltrane: the INF \"zt-line.inf\" is not one of the driver package's files: the "
         L"installation fails"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        SetUp();
        fake.customActionData = c.data;
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
        EXPECT_TRUE(fake.order.end() ==
                    std::find(fake.order.begin(), fake.order.end(), "CreateDirectoryW"));
        EXPECT_EQ(fake.logged, (std::vector<std::wstring>{c.logged}));
    }
}

TEST_F(MsiAction, DataLongerThanACommandLineIsRefused) {
    fake.customActionData = Data(L"succeed", std::wstring(40000, L'A'));
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
    EXPECT_EQ(
        fake.logged,
        (std::vector<std::wstring>{L"Zeltrane: cannot read CustomActionData, error 0x000000EA"}));
}

TEST_F(MsiAction, ACommandLineLongerThanThePlatformAllowsIsNotStarted) {
    const std::wstring id(32000, L'\\');
    fake.customActionData = Data(L"succeed", id);
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
    ASSERT_EQ(fake.logged.size(), 3u);
    EXPECT_NE(fake.logged[1].find(L"\": the command line would be longer than the platform allows"),
              std::wstring::npos);
}

TEST_F(MsiAction, EmptyPiecesOfTheListNameNoId) {
    fake.customActionData = Data(L"succeed", L";" + kA + L";;" + kB + L";");
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(Started(), (std::vector<std::wstring>{CommandLine(kA), CommandLine(kB)}));
}

// Each ID reaches Zeltrane as one argument, exactly: the start-up doubles
// backslashes only before a quote.
TEST_F(MsiAction, QuotesEachIdSoThatItIsReadBackExactly) {
    const struct {
        std::wstring id;
        std::wstring argument;
    } cases[] = {
        {L"USB\\VID_1&PID_2 REV 3", L"\"USB\\VID_1&PID_2 REV 3\""},
        {L"ROOT\\ZT\\", L"\"ROOT\\ZT\\\\\""},
        {L"A\"B", L"\"A\\\"B\""},
        {L"A\\\"B", L"\"A\\\\\\\"B\""},
        {L"A|B", L"\"A|B\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.id));
        SetUp();
        fake.customActionData = Data(L"succeed", c.id);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].commandLine,
                  L"\"" + kProgram + L"\" \"" + kInf + L"\" " + c.argument);
    }
}

TEST_F(MsiAction, BracketsInAnIdAreLoggedAsTheyStand) {
    fake.customActionData = Data(L"succeed", L"ACPI\\[ZT0001]");
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged[1].rfind(L"Zeltrane: hardware ID \"ACPI\\[ZT0001]\": ", 0), 0u);
}

TEST_F(MsiAction, ALogThatCannotBeWrittenChangesNoResult) {
    fake.recordFails = true;
    fake.customActionData = Data(L"fail", kA + L";" + kB);
    fake.childExitCodes = {kNoSuchDevice, 0};
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.starts.size(), 2u);
    EXPECT_TRUE(fake.logged.empty());
}

// The name under which the platform staged the package, asked without
// staging anything, is recorded in the product's key: the removal reads it
// there, never from the installed INF.
TEST_F(MsiAction, RecordsTheNameOfTheStagedPackageInTheProductsKey) {
    for (const Outcome copy : {Fails(ERROR_FILE_EXISTS), kSucceeds}) {
        SetUp();
        fake.copy = copy;
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        ASSERT_EQ(fake.copies.size(), 1u);
        EXPECT_EQ(fake.copies[0].source, kInf);
        EXPECT_EQ(fake.copies[0].style, SP_COPY_NOOVERWRITE);
        EXPECT_EQ(fake.registry[kKey][L"PublishedInf"],
                  (std::pair<DWORD, std::string>{REG_SZ, Bytes(L"oem7.inf")}));
    }
}

TEST_F(MsiAction, ANameThatCannotBeRecordedFailsTheInstallation) {
    const std::wstring notFound = L"Zeltrane: cannot find the name of the staged package, error ";
    const std::wstring notRecorded =
        L"Zeltrane: cannot record the name of the staged package, error 0x00000005";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"lookup fails", [] { fake.copy = Fails(ERROR_ACCESS_DENIED); }, notFound + L"0x00000005"},
        {"no name given", [] { fake.published = std::wstring(MAX_PATH, L'x'); },
         notFound + L"0x00000050"},
        {"no product code", [] { fake.productCodeError = ERROR_MORE_DATA; },
         L"Zeltrane: cannot read ProductCode, error 0x000000EA"},
        {"key refused", [] { fake.registryCallFails = "RegCreateKeyExW"; }, notRecorded},
        {"value refused", [] { fake.registryCallFails = "RegSetValueExW"; }, notRecorded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registryError = ERROR_ACCESS_DENIED;
        c.arrange();
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_EQ(fake.logged.back(), c.logged);
    }
}

// 64-bit Windows may refuse the look-up to the 32-bit action: then the staged
// package is the INF folder's copy with the INF's bytes, as the platform
// publishes an INF.
TEST_F(MsiAction, WhereTheLookupIsRefusedTheStagedCopyIsFoundByItsBytes) {
    const std::wstring notFound = L"Zeltrane: cannot find the name of the staged package, error ";
    const std::wstring copy = L"C:\\Windows\\INF\\oem9.inf";
    const std::wstring found =
        L"Zeltrane: the package is staged as \"oem9.inf\", recorded for its removal";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"found", [] {}, found},
        {"an unreadable copy passed over",
         [] {
             fake.files[L"C:\\Windows\\INF\\oem8.inf"] = "[Version] ours";
             fake.unreadable = {L"C:\\Windows\\INF\\oem8.inf"};
         },
         found},
        {"changed since it was listed",
         [] {
             fake.listedSizes[L"C:\\Windows\\INF\\oem9.inf"] = 14;
             fake.files[L"C:\\Windows\\INF\\oem9.inf"] = "[Version] ours, longer";
         },
         notFound + L"0x00000002"},
        {"no copy", [] { fake.files.erase(L"C:\\Windows\\INF\\oem9.inf"); },
         notFound + L"0x00000002"},
        {"no INF in the folder",
         [] {
             for (const int n : {3, 5, 9}) {
                 fake.files.erase(L"C:\\Windows\\INF\\oem" + std::to_wstring(n) + L".inf");
             }
             fake.files[L"C:\\Windows\\INF\\x.pnf"];
         },
         notFound + L"0x00000002"},
        {"the INF unreadable", [] { fake.unreadable = {kInf}; }, notFound + L"0x00000005"},
        {"the INF too large",
         [] { fake.files[kPackage + L"zt-line.inf"] = std::string(8 * 1024 * 1024 + 1, 'x'); },
         notFound + L"0x000000DF"},
        {"reading fails",
         [] {
             fake.readFile = Fails(ERROR_ACCESS_DENIED);
             fake.readFailsFor = kInf;
         },
         notFound + L"0x00000005"},
        {"the INF folder unknown", [] { fake.windowsFolder.clear(); }, notFound + L"0x00000005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.copy = Fails(ERROR_IN_WOW64);
        fake.files[L"C:\\Windows\\INF\\oem3.inf"] = "[Version] other, longer";
        fake.files[L"C:\\Windows\\INF\\oem5.inf"] = "[Version] ourz";
        fake.files[copy] = "[Version] ours";
        c.arrange();
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), c.logged == found ? 0u : kFails);
        EXPECT_EQ(fake.logged.back(), c.logged);
        fake.files.clear();
    }
}

// The removal on uninstall: the recorded package, checked against the INF's
// original name, taken back by the ZeltraneRemove.exe that the DLL carries.
const std::wstring kRemovalLine = L"\"" + kRemover + L"\" \"" + kPublished + L"\"";

std::wstring RemovalData(const std::wstring& setting) { return L"zt-line.inf|" + setting; }

std::wstring Removal(const std::wstring& said) {
    return L"Zeltrane: removal of \"" + kPublished + L"\": ZeltraneRemove.exe " + said;
}

std::wstring Recorded(const std::wstring& said) {
    return L"Zeltrane: the recorded package \"oem7.inf\"" + said;
}

TEST_F(MsiAction, RemovesTheRecordedPackageAndNoOther) {
    const std::wstring notData = L"Zeltrane: CustomActionData is not <INF name>|<setting>";
    const std::wstring unreadable =
        L"Zeltrane: cannot read the recorded name of the staged package, error ";
    const struct {
        const char* what;
        std::wstring data;
        void (*arrange)();
        UINT result;
        size_t starts;
        std::wstring logged;
    } cases[] = {
        {"removed", RemovalData(L"remove"), [] {}, 0, 1,
         Removal(L"ended with 0x00000000, the driver package is off its devices and out of the "
                 L"driver store")},
        {"a restart needed", RemovalData(L"remove"), [] { fake.childExitCode = 3010; }, 0, 1,
         Removal(L"ended with 0x00000BC2, the platform finishes the removal after a restart")},
        {"not removed", RemovalData(L"remove"), [] { fake.childExitCode = 0xE0000000; }, kFails, 1,
         Removal(L"ended with 0xE0000000, the driver was not removed: the product stays "
                 L"installed")},
        {"not started", RemovalData(L"remove"), [] { fake.start = Fails(ERROR_FILE_NOT_FOUND); },
         kFails, 1, Removal(L"could not be started or waited for, error 0x00000002")},
        {"its original name in another case", L"ZT-LINE.INF|remove", [] {}, 0, 1,
         Removal(L"ended with 0x00000000, the driver package is off its devices and out of the "
                 L"driver store")},
        {"kept", RemovalData(L"keep"), [] {}, 0, 0,
         L"Zeltrane: ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package "
         L"staged"},
        {"another setting", RemovalData(L"Remove"), [] {}, kFails, 0,
         L"Zeltrane: ZELTRANE_ON_UNINSTALL is neither remove nor keep"},
        {"no setting", L"zt-line.inf", [] {}, kFails, 0, notData},
        {"a field too many", RemovalData(L"remove|x"), [] {}, kFails, 0, notData},
        {"no product code", RemovalData(L"remove"), [] { fake.productCodeError = ERROR_MORE_DATA; },
         kFails, 0, L"Zeltrane: cannot read ProductCode, error 0x000000EA"},
        {"nothing recorded", RemovalData(L"remove"), [] { fake.registry.clear(); }, 0, 0,
         L"Zeltrane: no driver package is recorded for this product: nothing to remove"},
        {"no longer staged", RemovalData(L"remove"), [] { fake.originalNames.clear(); }, 0, 0,
         Recorded(L" is no longer staged: nothing to remove")},
        {"now another package's", RemovalData(L"remove"),
         [] { fake.originalNames[kPublished] = L"other.inf"; }, 0, 0,
         Recorded(L" is now the package of \"other.inf\", not of \"zt-line.inf\": nothing "
                  L"removed")},
        {"original name unreadable", RemovalData(L"remove"),
         [] { fake.originalName = Fails(ERROR_ACCESS_DENIED); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF unreadable", RemovalData(L"remove"),
         [] { fake.infInformation = Fails(ERROR_ACCESS_DENIED); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF folder unknown", RemovalData(L"remove"), [] { fake.windowsFolder.clear(); }, kFails,
         0, L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF folder too long", RemovalData(L"remove"),
         [] { fake.windowsFolder = std::wstring(MAX_PATH, L'w'); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x0000007A"},
        {"record unreadable", RemovalData(L"remove"),
         [] { fake.registryCallFails = "RegQueryValueExW"; }, kFails, 0,
         unreadable + L"0x00000005"},
        {"record of another type", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].first = REG_EXPAND_SZ; }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"record empty", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].second = Bytes(L""); }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"record a path", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].second = Bytes(L"..\\oem7.inf"); }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"restart request not cleared", RemovalData(L"keep"),
         [] { fake.registryCallFails = "RegDeleteValueW"; }, kFails, 0,
         L"Zeltrane: cannot clear an earlier restart request, error 0x00000005"},
        {"key not opened", RemovalData(L"keep"), [] { fake.registryCallFails = "RegOpenKeyExW"; },
         kFails, 0, L"Zeltrane: cannot clear an earlier restart request, error 0x00000005"},
        {"programs not written", RemovalData(L"remove"),
         [] { fake.resources.erase(L"ZELTRANE_REMOVE_ARM64"); }, kFails, 0,
         L"Zeltrane: cannot write \"" + RunFolder(1) +
             L"\\arm64\\ZeltraneRemove.exe\", error 0x00000716"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.registryError = ERROR_ACCESS_DENIED;
        c.arrange();
        fake.customActionData = c.data;
        EXPECT_EQ(RemoveDriver(kFakeInstall), c.result);
        EXPECT_EQ(Started(), (std::vector<std::wstring>(c.starts, kRemovalLine)));
        if (c.starts == 1) {
            EXPECT_EQ(fake.filesAtStart.at(kRemover), "x86 remove");
            EXPECT_EQ(fake.starts[0].currentDirectory, fake.systemFolder);
        }
        EXPECT_EQ(fake.logged.back(), c.logged);
        EXPECT_TRUE(fake.copies.empty()) << "the installed INF is never asked";
    }
}

TEST_F(MsiAction, ARemovalThatCannotBeStartedAsGivenFailsTheUninstall) {
    fake.propertyError = ERROR_MORE_DATA;
    EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
    EXPECT_EQ(
        fake.logged,
        (std::vector<std::wstring>{L"Zeltrane: cannot read CustomActionData, error 0x000000EA"}));

    // Trailing backslashes double when quoted: the path fits, its command line not.
    SetUp();
    const std::wstring name = L"x" + std::wstring(20000, L'\\');
    fake.windowsFolder = L"C:";
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.originalNames[L"C:\\INF\\oem7.inf"] = L"zt-line.inf";
    fake.customActionData = RemovalData(L"remove");
    fake.resources[L"ZELTRANE_REMOVE_X86"] = "";
    fake.tempFolder = L"C:\\" + std::wstring(200, L't') + L"\\";
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u) << "the run's folder fits";
    fake.folders.clear();
}

// The restart request crosses from the deferred removal to ScheduleRestart
// in the product's key, which only administrators can write; a request
// that was there before the removal started never counts.
TEST_F(MsiAction, OnlyThisRemovalsRestartRequestAsksForARestart) {
    const struct {
        const char* what;
        DWORD exitCode;
        const wchar_t* setting;
        bool earlierRequest;
        bool asks;
    } cases[] = {
        {"removal needs a restart", 3010, L"remove", false, true},
        {"removal needs none", 0, L"remove", true, false},
        {"kept, with an earlier request", 0, L"keep", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        if (c.earlierRequest) {
            const DWORD one = 1;
            fake.registry[kKey][L"RestartNeeded"] = {
                REG_DWORD, std::string(reinterpret_cast<const char*>(&one), sizeof one)};
        }
        fake.registry[L"SOFTWARE\\Zeltrane\\Products\\{another product}"];
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.customActionData = RemovalData(c.setting);
        fake.childExitCode = c.exitCode;
        ASSERT_EQ(RemoveDriver(kFakeInstall), 0u);
        EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
        EXPECT_EQ(fake.modesSet,
                  (c.asks ? std::vector<std::pair<int, BOOL>>{{MSIRUNMODE_REBOOTATEND, TRUE}}
                          : std::vector<std::pair<int, BOOL>>{}));
        EXPECT_EQ(fake.registry.count(kKey), 0u) << "the product's key deleted";
        EXPECT_EQ(fake.registry.size(), 1u) << "another product's stays";
    }
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package "
              L"staged");
}

TEST_F(MsiAction, ScheduleRestartTidiesUpAndAsksOnlyForAWellFormedRequest) {
    const DWORD two = 2;
    fake.registry[kKey][L"RestartNeeded"] = {
        REG_DWORD, std::string(reinterpret_cast<const char*>(&two), sizeof two)};
    fake.registry[L"SOFTWARE\\Zeltrane\\Products"];
    fake.registry[L"SOFTWARE\\Zeltrane"];
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());
    EXPECT_TRUE(fake.registry.empty()) << "the parents too, where no other product is left";

    SetUp();
    fake.registry[kKey][L"RestartNeeded"] = {REG_SZ, Bytes(L"1")};
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());

    SetUp();
    fake.productCodeError = ERROR_MORE_DATA;
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());
}

TEST_F(MsiAction, ARestartRequestThatCannotBePassedOnIsLogged) {
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.originalNames[kPublished] = L"zt-line.inf";
    fake.customActionData = RemovalData(L"remove");
    fake.childExitCode = 3010;
    fake.registryCallFails = "RegCreateKeyExW";
    fake.registryError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: cannot pass the restart request on: restart Windows to finish");
}

}  // namespace
