#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "action.h"
#include "fake_platform.h"

namespace {

const std::wstring kProgram = L"C:\\Program Files (x86)\\ZT line\\Zeltrane.exe";
const std::wstring kInf = L"C:\\Program Files (x86)\\ZT line\\driver\\zt-line.inf";
const std::wstring kA = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000011";
const std::wstring kB = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000012";
const std::wstring kC = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000013";
constexpr DWORD kNoSuchDevice = 0xE000020B;
constexpr UINT kFails = ERROR_INSTALL_FAILURE;

std::wstring Data(const std::wstring& setting, const std::wstring& ids) {
    return kProgram + L"|" + kInf + L"|" + setting + L"|" + ids;
}

std::wstring CommandLine(const std::wstring& id) {
    return L"\"" + kProgram + L"\" \"" + kInf + L"\" \"" + id + L"\"";
}

class MsiAction : public ::testing::Test {
protected:
    void SetUp() override { fake = FakePlatform{}; }

    std::vector<std::wstring> Started() const {
        std::vector<std::wstring> lines;
        for (const StartCall& start : fake.starts) {
            lines.push_back(start.commandLine);
        }
        return lines;
    }

    void TearDown() override { EXPECT_EQ(fake.openRecords, 0) << "every record closed"; }
};

TEST_F(MsiAction, RunsZeltraneForEachIdInOrderAndLogsEachExitCode) {
    fake.customActionData = Data(L"succeed", kA + L";" + kB + L";" + kC);
    fake.childExitCodes = {kNoSuchDevice, 0, kNoSuchDevice};

    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);

    EXPECT_EQ(Started(),
              (std::vector<std::wstring>{CommandLine(kA), CommandLine(kB), CommandLine(kC)}));
    for (const StartCall& start : fake.starts) {
        EXPECT_EQ(start.application, kProgram) << "the installed program, not a search";
        EXPECT_FALSE(start.inheritHandles);
        EXPECT_EQ(start.flags, 0u);
        EXPECT_EQ(start.currentDirectory, nullptr);
    }
    EXPECT_EQ(fake.waitTimeouts, (std::vector<DWORD>(3, INFINITE)));
    EXPECT_EQ(fake.closed.size(), 6u) << "each child's thread and process handle";
    EXPECT_EQ(fake.logged,
              (std::vector<std::wstring>{
                  L"Zeltrane: hardware ID \"" + kA +
                      L"\": Zeltrane.exe ended with 0xE000020B, no present device has it",
                  L"Zeltrane: hardware ID \"" + kB +
                      L"\": Zeltrane.exe ended with 0x00000000, the driver is installed on its "
                      L"devices",
                  L"Zeltrane: hardware ID \"" + kC +
                      L"\": Zeltrane.exe ended with 0xE000020B, no present device has it"}));
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
        fake = FakePlatform{};
        fake.customActionData = Data(c.setting, kA + L";" + kB + L";" + kC);
        fake.childExitCodes = c.codes;
        EXPECT_EQ(InstallDriver(kFakeInstall), c.result);
        EXPECT_EQ(fake.starts.size(), c.starts);
    }
}

TEST_F(MsiAction, SaysWhatItDidWhereNoDeviceHasAnyId) {
    fake.customActionData = Data(L"succeed", kA);
    fake.childExitCode = kNoSuchDevice;
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: no present device has any of the hardware IDs: installed on no device; "
              L"the package is staged, and the platform installs it when such a device appears");

    fake = FakePlatform{};
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
              (std::vector<std::wstring>{L"Zeltrane: hardware ID \"" + kA +
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
    } cases[] = {
        {"start", &FakePlatform::start, 0},
        {"wait", &FakePlatform::wait, 2},
        {"exit code", &FakePlatform::exitCode, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake = FakePlatform{};
        fake.customActionData = Data(L"succeed", kA + L";" + kB);
        fake.*c.call = {true, ERROR_FILE_NOT_FOUND};
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.closed.size(), c.closed);
        ASSERT_FALSE(fake.logged.empty());
        EXPECT_EQ(fake.logged[0], L"Zeltrane: hardware ID \"" + kA +
                                      L"\": Zeltrane.exe could not be started or waited for, "
                                      L"error 0x00000002");
    }
}

// CustomActionData that the template does not write: nothing is started.
TEST_F(MsiAction, RefusesDataItCannotReadAndStartsNothing) {
    const struct {
        std::wstring data;
        const wchar_t* logged;
    } cases[] = {
        {L"", L"Zeltrane: CustomActionData is not <Zeltrane.exe>|<INF>|<setting>|<hardware IDs>"},
        {kProgram + L"|" + kInf + L"|succeed",
         L"Zeltrane: CustomActionData is not <Zeltrane.exe>|<INF>|<setting>|<hardware IDs>"},
        {Data(L"Succeed", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed nor fail"},
        {Data(L"", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed nor fail"},
        {Data(L"failure", kA), L"Zeltrane: ZELTRANE_NO_DEVICE is neither succeed nor fail"},
        {Data(L"succeed", L""), L"Zeltrane: no hardware ID given"},
        {Data(L"succeed", L";;"), L"Zeltrane: no hardware ID given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        fake = FakePlatform{};
        fake.customActionData = c.data;
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
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
    ASSERT_EQ(fake.logged.size(), 2u);
    EXPECT_NE(fake.logged[0].find(L"\": the command line would be longer than the platform allows"),
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
        fake = FakePlatform{};
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
    EXPECT_EQ(fake.logged[0].rfind(L"Zeltrane: hardware ID \"ACPI\\[ZT0001]\": ", 0), 0u);
}

TEST_F(MsiAction, ALogThatCannotBeWrittenChangesNoResult) {
    fake.recordFails = true;
    fake.customActionData = Data(L"fail", kA + L";" + kB);
    fake.childExitCodes = {kNoSuchDevice, 0};
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.starts.size(), 2u);
    EXPECT_TRUE(fake.logged.empty());
}

// The removal on uninstall: ZeltraneRemove's exit code, the setting and the
// data decide the result; a restart is passed on as a global atom.
const std::wstring kRemover = L"C:\\Program Files (x86)\\ZT line\\ZeltraneRemove.exe";
const std::wstring kRestartAtom = L"Zeltrane restart {0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";

std::wstring RemovalData(const std::wstring& setting) {
    return kRemover + L"|" + kInf + L"|" + setting;
}

std::wstring Removal(const std::wstring& said) {
    return L"Zeltrane: removal of \"" + kInf + L"\": ZeltraneRemove.exe " + said;
}

TEST_F(MsiAction, RemovesThePackageWithTheInstalledRemovalProgram) {
    const std::wstring notData =
        L"Zeltrane: CustomActionData is not <ZeltraneRemove.exe>|<INF>|<setting>";
    const struct {
        const char* what;
        std::wstring data;
        DWORD code;
        Outcome start;
        UINT result;
        size_t starts;
        std::vector<std::wstring> atoms;
        std::wstring logged;
    } cases[] = {
        {"removed",
         RemovalData(L"remove"),
         0,
         kSucceeds,
         0,
         1,
         {},
         Removal(L"ended with 0x00000000, the driver package is off its devices and out of the "
                 L"driver store")},
        {"a restart needed",
         RemovalData(L"remove"),
         3010,
         kSucceeds,
         0,
         1,
         {kRestartAtom},
         Removal(L"ended with 0x00000BC2, the platform finishes the removal after a restart")},
        {"not removed",
         RemovalData(L"remove"),
         0xE0000000,
         kSucceeds,
         kFails,
         1,
         {},
         Removal(L"ended with 0xE0000000, the driver was not removed: the product stays "
                 L"installed")},
        {"not started",
         RemovalData(L"remove"),
         0,
         Fails(ERROR_FILE_NOT_FOUND),
         kFails,
         1,
         {},
         Removal(L"could not be started or waited for, error 0x00000002")},
        {"kept",
         RemovalData(L"keep"),
         0,
         kSucceeds,
         0,
         0,
         {},
         L"Zeltrane: ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package "
         L"staged"},
        {"another setting",
         RemovalData(L"Remove"),
         0,
         kSucceeds,
         kFails,
         0,
         {},
         L"Zeltrane: ZELTRANE_ON_UNINSTALL is neither remove nor keep"},
        {"no setting", kRemover + L"|" + kInf, 0, kSucceeds, kFails, 0, {}, notData},
        {"no data", L"", 0, kSucceeds, kFails, 0, {}, notData},
        {"a field too many", RemovalData(L"remove|") + kA, 0, kSucceeds, kFails, 0, {}, notData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake = FakePlatform{};
        fake.customActionData = c.data;
        fake.childExitCode = c.code;
        fake.start = c.start;
        EXPECT_EQ(RemoveDriver(kFakeInstall), c.result);
        EXPECT_EQ(Started(), (std::vector<std::wstring>(
                                 c.starts, L"\"" + kRemover + L"\" \"" + kInf + L"\"")));
        EXPECT_EQ(fake.atoms, c.atoms);
        EXPECT_EQ(fake.logged, (std::vector<std::wstring>{c.logged}));
    }
}

TEST_F(MsiAction, ARemovalThatCannotBeStartedAsGivenFailsTheUninstall) {
    fake.propertyError = ERROR_MORE_DATA;
    EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
    EXPECT_EQ(
        fake.logged,
        (std::vector<std::wstring>{L"Zeltrane: cannot read CustomActionData, error 0x000000EA"}));

    // Trailing backslashes double when quoted: the data fits, its command line not.
    fake = FakePlatform{};
    fake.customActionData = kRemover + L"|C:\\x" + std::wstring(17000, L'\\') + L"|remove";
    EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
    ASSERT_EQ(fake.logged.size(), 1u);
    EXPECT_NE(fake.logged[0].find(L"\": the command line would be longer than the platform allows"),
              std::wstring::npos);
}

// The restart request lost (no product code, no atom): the removal itself
// succeeded, and the log says what to do.
TEST_F(MsiAction, ARestartRequestThatCannotBePassedOnIsLogged) {
    for (const bool noProductCode : {true, false}) {
        fake = FakePlatform{};
        fake.customActionData = RemovalData(L"remove");
        fake.childExitCode = 3010;
        fake.productCodeError = noProductCode ? ERROR_MORE_DATA : 0;
        fake.atomsFail = !noProductCode;
        EXPECT_EQ(RemoveDriver(kFakeInstall), 0u);
        EXPECT_EQ(fake.logged.back(),
                  L"Zeltrane: cannot pass the restart request on: restart Windows to finish");
    }
}

TEST_F(MsiAction, ScheduleRestartAsksOnlyWhereThisProductsRemovalNeedsARestart) {
    fake.atoms = {L"Zeltrane restart {another product}"};
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());

    fake.customActionData = RemovalData(L"remove");
    fake.childExitCode = 3010;
    ASSERT_EQ(RemoveDriver(kFakeInstall), 0u);
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_EQ(fake.modesSet, (std::vector<std::pair<int, BOOL>>{{MSIRUNMODE_REBOOTATEND, TRUE}}));
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: the driver's removal needs a restart: the installation asks for one");
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u) << "the atom is taken once";
    EXPECT_EQ(fake.modesSet.size(), 1u);

    fake.productCodeError = ERROR_MORE_DATA;
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_EQ(fake.modesSet.size(), 1u);
}

}  // namespace
