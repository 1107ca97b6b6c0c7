// The install action: a run of Zeltrane.exe for each ID, the result from
// their codes and the setting, the data it reads, and what it logs.

#include <algorithm>
#include <string>
#include <vector>

#include "msi_action_fixture.h"

namespace {

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
        {"installed, a restart finishes it", L"fail", {kNoSuchDevice, 3010, kNoSuchDevice}, 0, 3},
        {"a device cannot run the driver", L"succeed", {3010, 0x20000034, 0}, kFails, 2},
        {"an error with bit 29, not a problem", L"succeed", {0xE0000203, 0, 0}, kFails, 1},
        {"bit 29 alone, no problem code", L"succeed", {0x20000000, 0, 0}, kFails, 1},
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

// A device that a restart finishes: the request crosses in the product's
// key to ScheduleRestart, which asks for the restart and takes the request
// away, the record staying. A device that cannot run the driver is named in
// the log with its problem and its meaning.
TEST_F(MsiAction, ARestartThatFinishesTheInstallationIsAskedForAfterIt) {
    for (const DWORD second : {DWORD{3010}, DWORD{0}}) {
        SetUp();
        const DWORD one = 1;
        fake.registry[kKey][L"RestartNeeded"] = {
            REG_DWORD, std::string(reinterpret_cast<const char*>(&one), sizeof one)};
        fake.customActionData = Data(L"succeed", kA + L";" + kB);
        fake.childExitCodes = {0, second};
        ASSERT_EQ(InstallDriver(kFakeInstall), 0u);
        EXPECT_EQ(fake.registry[kKey].count(L"RestartNeeded"), second == 3010 ? 1u : 0u)
            << "this installation's own request only";
        fake.removing = false;
        EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
        EXPECT_EQ(
            fake.modesSet,
            (second == 3010 ? std::vector<std::pair<int, BOOL>>{{MSIRUNMODE_REBOOTATEND, TRUE}}
                            : std::vector<std::pair<int, BOOL>>{}));
        EXPECT_EQ(fake.registry[kKey].count(L"RestartNeeded"), 0u);
        EXPECT_EQ(fake.registry[kKey].count(L"PublishedInf"), 1u) << "kept for the removal";
    }
    EXPECT_EQ(fake.logged[2], L"Zeltrane: hardware ID \"" + kB +
                                  L"\": Zeltrane.exe ended with 0x00000000, the driver is "
                                  L"installed on its devices");

    // The driver is installed whether or not the request can be recorded.
    SetUp();
    fake.customActionData = Data(L"succeed", kA);
    fake.childExitCode = 0;
    fake.registryCallFails = "RegDeleteValueW";
    fake.registryError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: cannot pass the restart request on: restart Windows to finish");

    SetUp();
    fake.customActionData = Data(L"succeed", kA);
    for (const auto& [code, meaning] :
         {std::pair{DWORD{0x20000034},
                    L"52 (Windows cannot verify the digital signature of the "
                    L"device's driver)"},
          std::pair{DWORD{0x20000101}, L"257"}}) {
        fake.childExitCode = code;
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_NE(std::find(fake.logged.begin(), fake.logged.end(),
                            L"Zeltrane: hardware ID \"" + kA + L"\": Zeltrane.exe ended with " +
                                (code == 0x20000034 ? L"0x20000034" : L"0x20000101") +
                                L", a device cannot run the driver: problem code " + meaning),
                  fake.logged.end());
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
        {"made, a restart finishes it",
         {kNoSuchDevice, kNoSuchDevice, 3010},
         true,
         0,
         {CommandLine(kA), CommandLine(kB), creation},
         kRecorded},
        {"made, but it cannot run the driver",
         {kNoSuchDevice, kNoSuchDevice, 0x2000000A},
         true,
         kFails,
         {CommandLine(kA), CommandLine(kB), creation},
         made + L"0x2000000A, a device cannot run the driver: problem code 10 (the device "
                L"cannot start): the installation fails"},
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
    // The programs run as SYSTEM, where no one can answer: what they refuse
    // for that reason, the log says what to do about.
    const std::pair<DWORD, std::wstring> cases[] = {
        {0xE0000000, L"0xE0000000, the driver was not installed"},
        {0xE0000242,
         L"0xE0000242, the driver was not installed: Windows would ask whether to "
         L"trust the package's publisher, and no one can answer here. Sign the "
         L"package through Microsoft (as 64-bit Windows needs anyway), or, on an "
         L"organisation's own machines, distribute the publisher's certificate to "
         L"the TrustedPublisher store by policy"},
        {0xE0000243,
         L"0xE0000243, the driver was not installed: the package's publisher is not "
         L"trusted on this machine (its certificate is in the Disallowed store)"},
        {1618,
         L"0x00000652, the driver was not installed: another installation was still under "
         L"way after a minute; run the setup again once it has ended"},
    };
    for (const auto& [code, said] : cases) {
        SetUp();
        fake.customActionData = Data(L"succeed", kA);
        fake.childExitCode = code;
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_EQ(
            fake.logged,
            (std::vector<std::wstring>{
                kChecked, L"Zeltrane: hardware ID \"" + kA + L"\": Zeltrane.exe ended with " + said,
                L"Zeltrane: the installation fails and is rolled back"}));
    }
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
        L"Zeltrane: CustomActionData is not <package folder>|<INF>|<setting>|<files>|<older "
        L"versions>|<hardware IDs>";
    const std::wstring notList =
        L"Zeltrane: the driver package's list of files is not <path>*<SHA-256>*...: the "
        L"installation fails";
    const std::wstring notOlder =
        L"Zeltrane: the older versions' fields are not product codes and published names";
    const std::wstring digest = FakeDigest("[Version] ours");
    const struct {
        std::wstring data;
        std::wstring logged;
    } cases[] = {
        {L"", notData},
        {kInf + L"|succeed", notData},
        {Data(L"succeed", kA, Files(), L"remove|"), notData},
        {Data(L"succeed", kA, Files(), L"remove|oem5.inf|"), notOlder},
        {Data(L"succeed", kA, Files(), L"remove||oem5.inf;;oem6.inf"), notOlder},
        {Data(L"succeed", kA, Files(), L"remove||" + std::wstring(MAX_PATH, L'x') + L".inf"),
         notOlder},
        {Data(L"succeed", kA, Files(), L"remove||{11111111-2222-3333-4444-55555555AAAA}"),
         notOlder},
        {Data(L"succeed", kA, Files(), L"Keep||"),
         L"Zeltrane: ZELTRANE_SUPERSEDED is neither remove nor keep"},
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

}  // namespace
