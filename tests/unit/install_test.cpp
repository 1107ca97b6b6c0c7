#include "install.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

const wchar_t kInf[] = L"C:\\Drivers\\Net Card\\zt-net.inf";
const wchar_t kHardwareId[] = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000";

class Install : public ::testing::Test {
protected:
    void SetUp() override { fake = FakePlatform{}; }
};

TEST_F(Install, CopiesThenForceUpdatesWithExactlyTheseArguments) {
    EXPECT_EQ(InstallDriver(kInf, kHardwareId), 0u);

    // Then the devices' state: here, no device is present.
    const std::vector<std::string> expectedOrder = {"SetupCopyOEMInfW",
                                                    "GetDesktopWindow",
                                                    "UpdateDriverForPlugAndPlayDevicesW",
                                                    "CMP_WaitNoPendingInstallEvents",
                                                    "SetupDiGetClassDevsW",
                                                    "SetupDiEnumDeviceInfo",
                                                    "SetupDiDestroyDeviceInfoList"};
    EXPECT_EQ(fake.order, expectedOrder);

    ASSERT_EQ(fake.copies.size(), 1u);
    const CopyCall& copy = fake.copies[0];
    EXPECT_EQ(copy.source, kInf);
    EXPECT_EQ(copy.mediaLocation, nullptr);
    EXPECT_EQ(copy.mediaType, 1u);
    EXPECT_EQ(copy.style, 0u);
    EXPECT_EQ(copy.destination, nullptr);
    EXPECT_EQ(copy.destinationSize, 0u);
    EXPECT_EQ(copy.requiredSize, nullptr);
    EXPECT_EQ(copy.destinationComponent, nullptr);

    ASSERT_EQ(fake.updates.size(), 1u);
    const UpdateCall& update = fake.updates[0];
    EXPECT_EQ(update.parent, FakeDesktopWindow());
    EXPECT_EQ(update.hardwareId, kHardwareId);
    EXPECT_EQ(update.infPath, kInf);
    EXPECT_EQ(update.flags, 1u);
    EXPECT_EQ(update.restartRequired, nullptr);
}

TEST_F(Install, FailedCopyStillUpdatesFromTheSamePath) {
    fake.copy = {true, ERROR_FILE_NOT_FOUND};
    InstallDriver(L"relative\\missing.inf", kHardwareId);
    ASSERT_EQ(fake.copies.size(), 1u);
    ASSERT_EQ(fake.updates.size(), 1u);
    EXPECT_EQ(fake.updates[0].infPath, fake.copies[0].source);
    EXPECT_EQ(std::wstring(fake.updates[0].infPath), L"relative\\missing.inf");
}

TEST_F(Install, ResultIsTheFirstFailedCallsError) {
    struct Case {
        const char* name;
        Outcome copy;
        Outcome update;
        DWORD expected;
    };
    const Case cases[] = {
        {"both succeed", kSucceeds, kSucceeds, 0},
        {"copy: file not found", Fails(ERROR_FILE_NOT_FOUND), kSucceeds, ERROR_FILE_NOT_FOUND},
        {"copy: path not found", Fails(3), kSucceeds, 3},
        {"update: access denied", kSucceeds, Fails(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED},
        {"update: no such device", kSucceeds, Fails(ERROR_NO_SUCH_DEVINST), ERROR_NO_SUCH_DEVINST},
        {"both fail: the copy's error", Fails(0xE0000000), Fails(ERROR_NO_SUCH_DEVINST),
         0xE0000000},
        {"copy fails with no error", Fails(0), kSucceeds, 31},
        {"update fails with no error", kSucceeds, Fails(0), 31},
        {"copy fails with no error, update too", Fails(0), Fails(5), 31},
        {"copy fails, update with no error", Fails(5), Fails(0), 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.copy = c.copy;
        fake.update = c.update;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(fake.copies.size(), 1u);
        EXPECT_EQ(fake.updates.size(), 1u);
        // The devices' state is read only after an installation that succeeded.
        EXPECT_EQ(fake.installWaits.size(), c.expected == 0 ? 1u : 0u);
    }
}

// A device that the update targeted, in the state given.
FakeDevice Targeted(ULONG problem, ULONG status = DN_STARTED,
                    DEVPROPTYPE type = DEVPROP_TYPE_UINT32) {
    FakeDevice device;
    device.hardwareIds = {L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_12345678", kHardwareId};
    device.statusType = type;
    device.status = status;
    device.problemType = type;
    device.problem = problem;
    return device;
}

TEST_F(Install, ResultIsWhatTheTargetedDevicesReport) {
    FakeDevice byCompatibleId = Targeted(10);
    byCompatibleId.hardwareIds = {L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00010001"};
    byCompatibleId.compatibleIds = {L"pci\\ven_7a5c&dev_0c31&subsys_00000000"};
    FakeDevice otherId = Targeted(10);
    otherId.hardwareIds = {L"PCI\\VEN_7A5C&DEV_0C32"};
    FakeDevice absent = Targeted(10);
    absent.present = false;
    FakeDevice noState;
    noState.hardwareIds = {kHardwareId};
    struct Case {
        const char* name;
        std::vector<FakeDevice> devices;
        DWORD expected;
    };
    const Case cases[] = {
        {"runs", {Targeted(0)}, 0},
        {"no state kept", {noState}, 0},
        {"needs a restart", {Targeted(0, DN_STARTED | DN_NEED_RESTART)}, 3010},
        {"problem 14: a restart", {Targeted(CM_PROB_NEED_RESTART, DN_HAS_PROBLEM)}, 3010},
        {"problem 38: a restart", {Targeted(38, DN_HAS_PROBLEM)}, 3010},
        {"cannot start", {Targeted(10, DN_HAS_PROBLEM)}, 0x2000000A},
        {"signature not verified", {Targeted(52, DN_HAS_PROBLEM)}, 0x20000034},
        {"disabled", {Targeted(CM_PROB_DISABLED, DN_HAS_PROBLEM)}, 0},
        {"a restart, then a problem", {Targeted(CM_PROB_NEED_RESTART), Targeted(31)}, 0x2000001F},
        {"a problem, then a restart", {Targeted(39), Targeted(0, DN_NEED_RESTART)}, 0x20000027},
        {"the first problem decides", {Targeted(0), Targeted(31), Targeted(52)}, 0x2000001F},
        {"by a compatible ID", {byCompatibleId}, 0x2000000A},
        {"another ID's device", {otherId}, 0},
        {"a device not present", {absent}, 0},
        {"a property of another type", {Targeted(10, DN_NEED_RESTART, DEVPROP_TYPE_INT32)}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.devices = c.devices;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(fake.installWaits, std::vector<DWORD>{10000});
        EXPECT_EQ(fake.openDeviceLists, 0);
    }
}

// Where no one can answer, the Setup API is told before anything is staged,
// and the update is given a place for its restart indicator, which counts as
// the devices' restart does; interactive runs make the calls as ever.
TEST_F(Install, WhereNoOneCanAnswerNothingAsksAndTheUpdatesRestartCounts) {
    struct Case {
        const char* name;
        DWORD session;
        BOOL restart;
        std::vector<FakeDevice> devices;
        DWORD expected;
    };
    const Case cases[] = {
        {"interactive: no place for the restart", 1, TRUE, {Targeted(0)}, 0},
        {"unattended, no restart", 0, FALSE, {Targeted(0)}, 0},
        {"unattended, a restart", 0, TRUE, {Targeted(0)}, 3010},
        {"unattended, a restart and a device's problem",
         0,
         TRUE,
         {Targeted(10, DN_HAS_PROBLEM)},
         0x2000000A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.session = c.session;
        fake.updateRestart = c.restart;
        fake.devices = c.devices;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        ASSERT_EQ(fake.updates.size(), 1u);
        EXPECT_EQ(fake.updates[0].restartRequired != nullptr, c.session == 0);
        // Unattended, the Setup API is told, the installations under way
        // are waited for and the signature's verdict is looked for, all
        // before the copy; each as ever otherwise.
        const std::vector<std::string> unattended = {
            "SetupSetNonInteractiveMode(TRUE)", "CMP_WaitNoPendingInstallEvents",
            "GetModuleHandleW", "GetProcAddress", "SetupCopyOEMInfW"};
        const std::vector<std::string> attended = {"SetupCopyOEMInfW"};
        const std::vector<DWORD> waits =
            c.session == 0 ? std::vector<DWORD>{60000, 10000} : std::vector<DWORD>{10000};
        const auto& expected = c.session == 0 ? unattended : attended;
        EXPECT_EQ(std::vector<std::string>(fake.order.begin(),
                                           fake.order.begin() + static_cast<long>(expected.size())),
                  expected);
        EXPECT_EQ(fake.installWaits, waits);
    }
}

// Where no one can answer, the platform's verdict on the package's signature
// decides before anything is staged: installing a package that it does not
// trust would ask the user. Interactive runs never ask for it.
TEST_F(Install, WhereNoOneCanAnswerOnlyATrustedPackageIsStaged) {
    struct Case {
        const char* name;
        DWORD session;
        bool hasVerify;
        Outcome verdict;
        DWORD expected;
    };
    const DWORD kNotEstablished = 0xE0000242;
    const Case cases[] = {
        {"signed through Microsoft", 0, true, kSucceeds, 0},
        {"a trusted publisher", 0, true, Fails(0xE0000241), 0},
        {"trust not established", 0, true, Fails(kNotEstablished), kNotEstablished},
        {"a publisher not trusted", 0, true, Fails(0xE0000243), 0xE0000243},
        {"no catalog", 0, true, Fails(0xE000022F), 0xE000022F},
        {"a file not in the catalog", 0, true, Fails(0xE000024B), 0xE000024B},
        {"no such function", 0, false, Fails(kNotEstablished), 0},
        {"interactive", 1, true, Fails(kNotEstablished), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.session = c.session;
        fake.hasVerifyInfFile = c.hasVerify;
        fake.verifyInfFile = c.verdict;
        fake.devices = {Targeted(0)};
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        const bool asked = c.session == 0 && c.hasVerify;
        // With the signer information of its second version: the first's
        // three texts and the signer's score.
        const DWORD kV2 = 2 * sizeof(DWORD) + 3 * MAX_PATH * sizeof(wchar_t);
        using Asked = std::vector<std::pair<std::wstring, DWORD>>;
        EXPECT_EQ(fake.verifiedInfs, (asked ? Asked{{kInf, kV2}} : Asked{}));
        EXPECT_EQ(fake.copies.size(), c.expected == 0 ? 1u : 0u) << "nothing staged";
        EXPECT_EQ(fake.updates.size(), c.expected == 0 ? 1u : 0u);
    }
}

TEST_F(Install, WhereNoOneCanAnswerAnInstallationStillUnderWayAfterAMinuteStagesNothing) {
    fake.session = 0;
    fake.installWaitAnswer = WAIT_TIMEOUT;
    EXPECT_EQ(InstallDriver(kInf, kHardwareId), ERROR_INSTALL_ALREADY_RUNNING);
    EXPECT_EQ(fake.installWaits, std::vector<DWORD>{60000});
    EXPECT_TRUE(fake.copies.empty());
    EXPECT_TRUE(fake.updates.empty());
}

TEST_F(Install, DevicesThatCannotBeReadFailTheInstallation) {
    struct Case {
        const char* name;
        void (*arrange)();
        DWORD expected;
    };
    const Case cases[] = {
        {"device list", [] { fake.deviceList = Fails(ERROR_ACCESS_DENIED); }, 5},
        {"device list, no error given", [] { fake.deviceList = Fails(0); }, ERROR_GEN_FAILURE},
        {"enumeration", [] { fake.enumerationFailsOnCall = 1, fake.enumerationError = 87; }, 87},
        {"IDs that grow at every read", [] { fake.idsChanges = 3; }, ERROR_INSUFFICIENT_BUFFER},
        // The device that cannot start decides where its IDs are read.
        {"IDs that grew once, read again",
         [] { fake.idsChanges = 1, fake.devices = {Targeted(10, DN_HAS_PROBLEM)}; }, 0x2000000A},
        {"a device that left while read, passed over",
         [] {
             fake.idsGoneWith = ERROR_NO_SUCH_DEVINST;
             fake.devices = {Targeted(10, DN_HAS_PROBLEM)};
         },
         0},
        {"IDs that went while read, passed over",
         [] {
             fake.idsGoneWith = ERROR_INVALID_DATA;
             fake.devices = {Targeted(10, DN_HAS_PROBLEM)};
         },
         0},
        {"no memory for the IDs", [] { fake.heapFails = true; }, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.devices = {Targeted(0)};
        c.arrange();
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(fake.openDeviceLists, 0);
        EXPECT_EQ(fake.heapBlocks, 0);
    }
}

}  // namespace
