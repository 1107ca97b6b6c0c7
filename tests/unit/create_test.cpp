#include "create.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "create_usage.h"
#include "device_state.h"
#include "fake_platform.h"

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]);

namespace {

const wchar_t kInf[] = L"C:\\Drivers\\Tunnel\\zt-tunnel.inf";
const wchar_t kId[] = L"ROOT\\ZT_TUNNEL";

class Creation : public ::testing::Test {
protected:
    // A machine with four devices that lack the ID: one without hardware
    // IDs, one whose IDs only begin like it, one whose property holds it but
    // is no list, one whose property is empty.
    void SetUp() override {
        fake = FakePlatform{};
        fake.devices = {FakeDevice{}, FakeDevice{L"", true, REG_SZ, 0, {L"ROOT\\ZT_TUNNEL2"}},
                        FakeDevice{L"", true, REG_SZ, 0, {kId}, REG_SZ},
                        FakeDevice{L"", true, REG_SZ, 0, {kId}, REG_NONE}};
    }

    static DWORD Create() { return CreateDeviceAndInstall(kInf, kId); }

    size_t Position(const std::string& call) const {
        return std::find(fake.order.begin(), fake.order.end(), call) - fake.order.begin();
    }

    void TearDown() override {
        EXPECT_EQ(fake.openDeviceLists, 0) << "every list destroyed";
        EXPECT_EQ(fake.heapBlocks, 0) << "every list of IDs freed";
        EXPECT_EQ(fake.locksHeld, 0) << "the creation lock given back";
        EXPECT_EQ(fake.lockHandles, 0);
        EXPECT_EQ(fake.openDescriptors, 0);
    }
};

TEST_F(Creation, WhereNoDeviceHasTheIdOneRootDeviceOfTheInfsClassIsMadeThenInstalled) {
    EXPECT_EQ(Create(), ERROR_SUCCESS);
    EXPECT_EQ(fake.infClassAsked, kInf) << "the class that the INF names";
    EXPECT_EQ(fake.createdName, L"Net") << "the class's name, from which ROOT\\NET\\nnnn";
    EXPECT_EQ(fake.createdFlags, DICD_GENERATE_ID);
    EXPECT_EQ(fake.createdIds, std::wstring(kId) + std::wstring(2, L'\0')) << "a list of one";
    EXPECT_TRUE(fake.registered);
    EXPECT_FALSE(fake.createdRemoved);
    ASSERT_EQ(fake.updates.size(), 1u);
    EXPECT_EQ(std::wstring(fake.updates[0].hardwareId), kId);
    EXPECT_EQ(fake.updates[0].flags, INSTALLFLAG_FORCE);
    EXPECT_LT(Position("SetupDiCallClassInstaller"), Position("SetupCopyOEMInfW"))
        << "registered before the installation, as Zeltrane.exe makes it";
}

// One creation at a time on the machine: the search, the device made and
// the installation on it under the lock.
TEST_F(Creation, FromItsSearchToItsInstallationACreationHoldsTheMachinesLock) {
    EXPECT_EQ(Create(), ERROR_SUCCESS);
    EXPECT_EQ(fake.lockName, L"Global\\Zeltrane device creation");
    EXPECT_EQ(fake.lockDescriptor, L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");
    EXPECT_LT(Position("WaitForSingleObject(lock)"), Position("SetupDiGetClassDevsW"));
    EXPECT_LT(Position("UpdateDriverForPlugAndPlayDevicesW"), Position("ReleaseMutex"));
}

// Another creation under way is waited for, five minutes at most; an object
// of the lock's name that any user could have made first is never waited
// on, and the creation goes on without it.
TEST_F(Creation, OnlyAnotherCreationMakesItWaitNoUsersObjectDoes) {
    const struct {
        const char* name;
        void (*arrange)();
        DWORD expected;
        bool waited;
    } cases[] = {
        {"another creation under way", [] { fake.lockWaitAnswer = WAIT_TIMEOUT; }, 1618, true},
        {"one that ended without giving it back", [] { fake.lockWaitAnswer = WAIT_ABANDONED; }, 0,
         true},
        {"the wait fails",
         [] {
             fake.lockWaitAnswer = WAIT_FAILED;
             fake.wait = Fails(ERROR_ACCESS_DENIED);
         },
         ERROR_ACCESS_DENIED, true},
        {"SYSTEM's", [] { fake.lockOwner = "SY"; }, 0, true},
        {"another owner's object", [] { fake.lockOwner = "user"; }, 0, false},
        {"an object whose owner cannot be read", [] { fake.lockOwner = ""; }, 0, false},
        {"an object that refuses it", [] { fake.lockCreate = Fails(ERROR_ACCESS_DENIED); }, 0,
         false},
        {"no descriptor for it", [] { fake.descriptorFailsOnCall = 1; }, ERROR_ACCESS_DENIED,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        EXPECT_EQ(Create(), c.expected);
        EXPECT_EQ(Position("WaitForSingleObject(lock)") < fake.order.size(), c.waited);
        if (c.waited) {
            EXPECT_EQ(fake.waitTimeouts.at(0), 5u * 60 * 1000);
        }
        EXPECT_EQ(fake.registered, c.expected == 0) << "a device made only where it went on";
    }
}

// Where no one can answer, a package whose signature the platform does not
// trust, or an installation under way, gets no device made for it.
TEST_F(Creation, WhereNoOneCanAnswerAnUntrustedPackageGetsNoDevice) {
    const struct {
        const char* name;
        void (*arrange)();
        DWORD expected;
    } cases[] = {
        {"trust not established", [] { fake.verifyInfFile = Fails(0xE0000242); }, 0xE0000242},
        {"an installation under way", [] { fake.installWaitAnswer = WAIT_TIMEOUT; }, 1618},
        {"trusted", [] {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake.session = 0;
        fake.hasVerifyInfFile = true;
        c.arrange();
        EXPECT_EQ(Create(), c.expected);
        EXPECT_EQ(fake.registered, c.expected == 0) << "a device made only for a trusted package";
        EXPECT_EQ(fake.copies.size(), c.expected == 0 ? 1u : 0u);
    }
}

// A present device with the ID among its hardware IDs, in any case, is the
// one: nothing is made, and the installation is Zeltrane.exe's. Where only
// one that is not present has it, none is made beside it, and nothing is
// installed: a code of its own, which no setup reads as "no device".
TEST_F(Creation, ADeviceThatHasTheIdAlreadyIsInstalledOnAndNoneMade) {
    for (const DWORD update : {ERROR_SUCCESS, ERROR_NO_SUCH_DEVINST, ERROR_ACCESS_DENIED}) {
        SetUp();
        fake.devices.push_back({L"", true, REG_SZ, 0, {L"PCI\\VEN_1", L"root\\zt_tunnel"}});
        fake.update = {update != ERROR_SUCCESS, update};
        EXPECT_EQ(Create(), update);
        EXPECT_EQ(Position("SetupDiGetINFClassW"), fake.order.size()) << "nothing made";
        EXPECT_EQ(fake.copies.size(), 1u);
        EXPECT_FALSE(fake.createdRemoved) << "never another's device";
    }
    SetUp();
    fake.devices.push_back({L"", true, REG_SZ, 0, {kId}});
    fake.devices.back().present = false;
    EXPECT_EQ(Create(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(fake.registered);
    EXPECT_TRUE(fake.copies.empty());
}

// However long its list of IDs, the device that has the ID is found.
TEST_F(Creation, ALongListOfIdsNeverHidesTheId) {
    std::vector<std::wstring> ids(200, std::wstring(40, L'X'));
    ids.emplace_back(kId);
    fake.devices.push_back({L"", true, REG_SZ, 0, ids});
    EXPECT_EQ(Create(), ERROR_SUCCESS);
    EXPECT_EQ(Position("SetupDiGetINFClassW"), fake.order.size()) << "nothing made";
}

// An INF whose [Version] names its Class but no ClassGuid: the one class of
// that name on the machine; none, or two, make nothing.
TEST_F(Creation, AnInfThatNamesOnlyItsClassGetsTheOneClassOfThatName) {
    const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
    for (const auto& classes :
         {std::vector<GUID>{net}, std::vector<GUID>{}, std::vector<GUID>{net, net}}) {
        SetUp();
        fake.infNamesNoGuid = true;
        fake.classesOfName = classes;
        EXPECT_EQ(Create(), classes.size() == 1 ? ERROR_SUCCESS : ERROR_INVALID_CLASS);
        EXPECT_EQ(fake.classNameAsked, L"Net");
        EXPECT_EQ(fake.registered, classes.size() == 1);
    }
}

TEST_F(Creation, ADeviceMadeForAFailedInstallationIsRemovedOrItsRemovalsErrorIsTheCode) {
    for (const auto& [copy, update, expected] :
         {std::tuple{kSucceeds, Fails(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED},
          std::tuple{Fails(ERROR_FILE_NOT_FOUND), Fails(ERROR_FILE_NOT_FOUND),
                     ERROR_FILE_NOT_FOUND}}) {
        SetUp();
        fake.copy = copy;
        fake.update = update;
        EXPECT_EQ(Create(), expected);
        EXPECT_TRUE(fake.createdRemoved) << "nothing half-made";
    }
    // The device made stays where its removal fails: that is the result.
    SetUp();
    fake.update = Fails(ERROR_ACCESS_DENIED);
    fake.createdRemoval = Fails(ERROR_GEN_FAILURE);
    EXPECT_EQ(Create(), ERROR_GEN_FAILURE);
    EXPECT_FALSE(fake.createdRemoved);
}

// What the devices report after the installation: a restart that finishes
// it keeps the new device; a device that cannot run the driver is a failed
// installation. (Here the state is another device's, which has the ID only
// among its compatible IDs, as the creation never looks there.)
TEST_F(Creation, ARestartKeepsTheDeviceMadeAProblemTakesItAway) {
    for (const auto& [problem, expected] :
         {std::pair{CM_PROB_NEED_RESTART, ERROR_SUCCESS_REBOOT_REQUIRED},
          std::pair{ULONG{10}, kDeviceProblem + 10}}) {
        SetUp();
        FakeDevice reporting;
        reporting.compatibleIds = {kId};
        reporting.problemType = DEVPROP_TYPE_UINT32;
        reporting.problem = problem;
        fake.devices.push_back(reporting);
        EXPECT_EQ(Create(), expected);
        EXPECT_TRUE(fake.registered);
        EXPECT_EQ(fake.createdRemoved, expected != ERROR_SUCCESS_REBOOT_REQUIRED);
    }
}

// A step of the creation fails: its error, nothing installed, nothing left.
TEST_F(Creation, AFailedStepOfTheCreationEndsWithItsErrorAndInstallsNothing) {
    const DWORD error = ERROR_ACCESS_DENIED;
    const struct {
        const char* what;
        void (*arrange)();
        DWORD expected;
    } cases[] = {
        {"device list", [] { fake.deviceList = Fails(ERROR_ACCESS_DENIED); }, error},
        {"enumeration",
         [] {
             fake.enumerationFailsOnCall = 2;
             fake.enumerationError = ERROR_ACCESS_DENIED;
         },
         error},
        {"a device's IDs, no memory for them", [] { fake.heapFails = true; },
         ERROR_NOT_ENOUGH_MEMORY},
        {"a device's IDs, changed while read", [] { fake.idsChanges = 3; },
         ERROR_INSUFFICIENT_BUFFER},
        {"the INF's class", [] { fake.infClass = Fails(ERROR_ACCESS_DENIED); }, error},
        {"the list", [] { fake.createList = Fails(ERROR_ACCESS_DENIED); }, error},
        {"the device", [] { fake.createInfo = Fails(ERROR_ACCESS_DENIED); }, error},
        {"its IDs", [] { fake.setIds = Fails(ERROR_ACCESS_DENIED); }, error},
        {"its registration", [] { fake.registration = Fails(ERROR_ACCESS_DENIED); }, error},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        EXPECT_EQ(Create(), c.expected);
        EXPECT_TRUE(fake.copies.empty());
        EXPECT_TRUE(fake.updates.empty());
        EXPECT_FALSE(fake.registered);
    }
    SetUp();
    const std::wstring tooLong(4097, L'I');
    EXPECT_EQ(CreateDeviceAndInstall(kInf, tooLong.c_str()), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(fake.registered);
}

// 64-bit Windows refuses device installation to 32-bit callers: the native
// ZeltraneCreate.exe does the whole, and its code is the result. Where the
// 32-bit build made the device before the refusal, a failed native run
// takes it away again.
TEST_F(Creation, RefusedTo32BitCallersItIsHandedToTheNativeBuild) {
    const struct {
        const char* what;
        void (*arrange)();
        DWORD child;
        bool removed;
    } cases[] = {
        {"looking for the device", [] { fake.deviceList = Fails(ERROR_IN_WOW64); }, 0, false},
        {"registering it", [] { fake.registration = Fails(ERROR_IN_WOW64); }, 0, false},
        {"installing on the device made", [] { fake.update = Fails(ERROR_IN_WOW64); }, 0, false},
        {"installing, which fails natively", [] { fake.update = Fails(ERROR_IN_WOW64); }, 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.modulePath = L"D:\\Setup\\ZeltraneCreate.exe";
        c.arrange();
        fake.childExitCode = c.child;
        EXPECT_EQ(Create(), c.child);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application, L"D:\\Setup\\x64\\ZeltraneCreate.exe");
        EXPECT_EQ(fake.createdRemoved, c.removed);
        EXPECT_LT(Position("ReleaseMutex"), Position("CreateProcessW"))
            << "the lock given back for the native build to take";
    }
}

TEST_F(Creation, EntryShowsItsOwnUsageForAnyCountButTwoArguments) {
    for (std::vector<std::wstring> args :
         std::vector<std::vector<std::wstring>>{{L"ZeltraneCreate.exe"},
                                                {L"ZeltraneCreate.exe", L"a.inf"},
                                                {L"Renamed.exe", L"a.inf", L"ROOT\\X", L"more"}}) {
        SetUp();
        std::vector<wchar_t*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        wchar_t* environment[] = {nullptr};
        EXPECT_EQ(wmain(static_cast<int>(args.size()), argv.data(), environment), 160);
        ASSERT_EQ(fake.boxes.size(), 1u);
        EXPECT_EQ(fake.boxes[0].text, CreationUsageText);
        EXPECT_EQ(fake.boxes[0].caption, L"Program Usage");
        std::vector<std::string> expected = kHardening;
        expected.push_back("MessageBoxW");
        EXPECT_EQ(fake.order, expected);
    }
    std::wstring program = L"ZeltraneCreate.exe";
    std::wstring inf = kInf;
    std::wstring id = kId;
    wchar_t* argv[] = {program.data(), inf.data(), id.data(), nullptr};
    wchar_t* environment[] = {nullptr};
    SetUp();
    EXPECT_EQ(wmain(3, argv, environment), 0);
    EXPECT_EQ(fake.copies.size(), 1u);
    EXPECT_TRUE(fake.registered);
}

TEST(CreationUsage, NamesTheProgramAndItsTwoArguments) {
    EXPECT_EQ(std::wstring(CreationUsageText),
              L"ZeltraneCreate.exe <full INF path> <device ID string>\n\n\t<full INF path>\n"
              L"\t\tThe fully qualified path and name of the INF file to install\n"
              L"\t<device ID string>\n"
              L"\t\tThe hardware ID of the device to create where no device has it\n");
}

}  // namespace
