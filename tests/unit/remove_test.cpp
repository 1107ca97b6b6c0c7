#include "remove.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "remove_usage.h"
#include "superseded.h"

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]);

namespace {

const wchar_t kInf[] = L"C:\\Drivers\\Net Card\\zt-net.inf";
constexpr DWORD ERROR_EXPECTED_SECTION_NAME = 0xE0000000;
constexpr DWORD ERROR_INF_IN_USE_BY_DEVICES = 0xE000023D;
using Removed = std::vector<DWORD>;
using Uninstalled = std::vector<std::pair<std::wstring, DWORD>>;
const Uninstalled kPublishedUninstalled = {{L"oem7.inf", 0}};
const std::vector<std::string> kLookup = {"GetSystemWindowsDirectoryW", "SetupCopyOEMInfW"};

class Removal : public ::testing::Test {
protected:
    // The package is staged as oem7.inf; newdev has no DiUninstallDriverW
    // (older than Windows 10 version 1703) unless a case says so.
    void SetUp() override {
        fake = FakePlatform{};
        fake.copy = Fails(ERROR_FILE_EXISTS);
        fake.hasUninstallDriver = false;
    }

    static DWORD Remove() { return RemoveDriverPackage(kInf); }

    // Whatever happened, every handle the removal opened is closed again.
    void TearDown() override {
        EXPECT_EQ(fake.openKeys, 0);
        EXPECT_EQ(fake.openDeviceLists, 0);
    }
};

TEST_F(Removal, LooksUpTheStagedPackageWithoutStagingIt) {
    Remove();
    ASSERT_EQ(fake.copies.size(), 1u);
    const CopyCall& copy = fake.copies[0];
    EXPECT_EQ(copy.source, kInf);
    EXPECT_EQ(copy.mediaLocation, nullptr);
    EXPECT_EQ(copy.mediaType, SPOST_PATH);
    EXPECT_EQ(copy.style, SP_COPY_NOOVERWRITE);
    EXPECT_NE(copy.destination, nullptr);
    EXPECT_EQ(copy.destinationSize, MAX_PATH);
}

TEST_F(Removal, PackageNotStagedIsTakenBackAtOnceAndNothingElseChanges) {
    fake.copy = kSucceeds;
    fake.devices = {{L"oem7.inf"}};
    for (const auto& [undo, expected] :
         {std::pair{kSucceeds, ERROR_SUCCESS},
          std::pair{Fails(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED}}) {
        fake.order.clear();
        fake.uninstalledInfs.clear();
        fake.infUninstall = undo;
        EXPECT_EQ(Remove(), expected);
        EXPECT_EQ(fake.order,
                  (std::vector<std::string>{"GetSystemWindowsDirectoryW", "SetupCopyOEMInfW",
                                            "SetupUninstallOEMInfW"}));
        EXPECT_EQ(fake.uninstalledInfs, (Uninstalled{{L"oem7.inf", 0}})) << "never forced";
    }
    // Installed on a device meanwhile by the platform: taken off it, as any
    // staged package is.
    SetUp();
    fake.copy = kSucceeds;
    fake.devices = {{L"oem7.inf"}};
    fake.infUninstalls = {Fails(ERROR_INF_IN_USE_BY_DEVICES), kSucceeds};
    EXPECT_EQ(Remove(), ERROR_SUCCESS);
    EXPECT_EQ(fake.removedDevices, Removed{0});
    EXPECT_EQ(fake.uninstalledInfs, (Uninstalled{{L"oem7.inf", 0}, {L"oem7.inf", 0}}));
}

TEST_F(Removal, AnotherFailedLookupEndsWithItsCodeAndChangesNothing) {
    for (const DWORD error : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
                              ERROR_EXPECTED_SECTION_NAME, ERROR_ACCESS_DENIED}) {
        fake.order.clear();
        fake.copy = Fails(error);
        EXPECT_EQ(Remove(), error);
        EXPECT_EQ(fake.order, kLookup);
    }
    // A refusal that names no staged copy is no lookup either.
    fake.order.clear();
    fake.copy = Fails(ERROR_FILE_EXISTS);
    fake.published = std::wstring(MAX_PATH, L'x');
    EXPECT_EQ(Remove(), ERROR_FILE_EXISTS);
    EXPECT_EQ(fake.order, kLookup);
}

TEST_F(Removal, FromWindows10Version1703TheOneDocumentedCallRemovesIt) {
    struct Case {
        Outcome call;
        BOOL needReboot;
        DWORD expected;
    };
    for (const Case& c : {Case{kSucceeds, FALSE, ERROR_SUCCESS},
                          Case{kSucceeds, TRUE, ERROR_SUCCESS_REBOOT_REQUIRED},
                          Case{Fails(ERROR_ACCESS_DENIED), FALSE, ERROR_ACCESS_DENIED}}) {
        SetUp();
        fake.hasUninstallDriver = true;
        fake.devices = {{L"oem7.inf"}};
        fake.uninstallDriver = c.call;
        fake.needReboot = c.needReboot;
        EXPECT_EQ(Remove(), c.expected);
        EXPECT_EQ(fake.librariesLoaded, (std::vector<std::pair<std::wstring, DWORD>>{
                                            {L"newdev.dll", LOAD_LIBRARY_SEARCH_SYSTEM32}}));
        ASSERT_EQ(fake.uninstallDriverCalls.size(), 1u);
        const UninstallDriverCall& call = fake.uninstallDriverCalls[0];
        EXPECT_EQ(call.parent, nullptr);
        EXPECT_EQ(call.infPath, fake.published);
        EXPECT_EQ(call.flags, 0u);
        EXPECT_TRUE(call.needRebootGiven) << "so that the platform never prompts";
        EXPECT_TRUE(fake.removedDevices.empty());
        EXPECT_TRUE(fake.uninstalledInfs.empty());
    }
}

// DiUninstallDriverW leaves the nodes of the devices in place: the package's
// root-enumerated devices (a setup's virtual adapters) go first, with
// DIF_REMOVE; those that hardware enumerates keep their nodes.
TEST_F(Removal, FromWindows10Version1703ThePackagesRootEnumeratedDevicesGoFirst) {
    auto device = [](const wchar_t* inf, const wchar_t* instance, DWORD flags = 0) {
        FakeDevice made{inf, true, REG_SZ, flags};
        made.instanceId = instance;
        return made;
    };
    struct Case {
        const char* what;
        DWORD rootFlags;
        Outcome removal;
        DWORD expected;
        size_t uninstallDriverCalls;
    };
    for (const Case& c :
         {Case{"removed", 0, kSucceeds, ERROR_SUCCESS, 1},
          Case{"a restart needed", DI_NEEDREBOOT, kSucceeds, ERROR_SUCCESS_REBOOT_REQUIRED, 1},
          Case{"refused", 0, Fails(ERROR_ACCESS_DENIED), ERROR_ACCESS_DENIED, 0}}) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.hasUninstallDriver = true;
        fake.deviceRemoval = c.removal;
        fake.devices = {device(L"oem7.inf", L"ROOT\\NET\\0000"),
                        device(L"oem7.inf", L"PCI\\VEN_7A5C&DEV_0C31\\0"),
                        device(L"oem8.inf", L"ROOT\\NET\\0001"),
                        device(L"oem7.inf", L"root\\net\\0002", c.rootFlags),
                        device(L"oem7.inf", L"ROO"),
                        device(L"oem7.inf", L"")};
        EXPECT_EQ(Remove(), c.expected);
        EXPECT_EQ(fake.removedDevices, c.removal.fails ? Removed{3} : (Removed{3, 0}));
        EXPECT_EQ(fake.uninstallDriverCalls.size(), c.uninstallDriverCalls);
    }
}

TEST_F(Removal, BeforeItEachDeviceInstalledFromThePackageIsRemovedThenThePackage) {
    // Only the driver keys that name oem7.inf, in any case, as a string.
    for (const bool newdevLoads : {false, true}) {
        SetUp();
        fake.devices = {{L"oem7.inf"},
                        {L"oem70.inf"},
                        {L"", false},
                        {L"OEM7.INF"},
                        {L"oem7.inf", true, REG_EXPAND_SZ},
                        {L"net.inf"},
                        {std::wstring(MAX_PATH + 5, L'o')}};
        fake.newdevLoads = newdevLoads;
        EXPECT_EQ(Remove(), ERROR_SUCCESS);
        EXPECT_EQ(fake.removedDevices, (Removed{3, 0})) << "last to first";
        EXPECT_EQ(fake.uninstalledInfs, kPublishedUninstalled) << "refused while in use";
        EXPECT_EQ(fake.order.back(), "SetupUninstallOEMInfW");
    }
}

TEST_F(Removal, ARestartThatARemovedDeviceNeedsEndsWith3010) {
    struct Case {
        DWORD removedFlags;
        DWORD otherFlags;
        Outcome parameters;
        DWORD expected;
    };
    for (const Case& c : {Case{DI_NEEDREBOOT, 0, kSucceeds, ERROR_SUCCESS_REBOOT_REQUIRED},
                          Case{DI_NEEDRESTART, 0, kSucceeds, ERROR_SUCCESS_REBOOT_REQUIRED},
                          Case{0, DI_NEEDREBOOT, kSucceeds, ERROR_SUCCESS},
                          Case{DI_NEEDREBOOT, 0, Fails(ERROR_ACCESS_DENIED), ERROR_SUCCESS}}) {
        SetUp();
        fake.installParameters = c.parameters;
        fake.devices = {{L"oem7.inf", true, REG_SZ, c.removedFlags},
                        {L"oem8.inf", true, REG_SZ, c.otherFlags}};
        EXPECT_EQ(Remove(), c.expected);
    }
}

TEST_F(Removal, AFailedStepEndsWithItsCodeAndNothingAfterIt) {
    struct Case {
        const char* name;
        Outcome list;
        int enumerationFailsOnCall;
        Outcome removal;
        Outcome uninstall;
        Removed removed;
        bool uninstalled;
    };
    const DWORD error = ERROR_ACCESS_DENIED;
    const Case cases[] = {
        {"device list", Fails(error), 0, kSucceeds, kSucceeds, {}, false},
        {"counting", kSucceeds, 2, kSucceeds, kSucceeds, {}, false},
        {"listing again", kSucceeds, 5, kSucceeds, kSucceeds, {}, false},
        {"device removal", kSucceeds, 0, Fails(error), kSucceeds, {2}, false},
        {"package in use",
         kSucceeds,
         0,
         kSucceeds,
         Fails(ERROR_INF_IN_USE_BY_DEVICES),
         {2, 0},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake.devices = {{L"oem7.inf"}, {L"x.inf"}, {L"oem7.inf"}};
        fake.deviceList = c.list;
        fake.enumerationFailsOnCall = c.enumerationFailsOnCall;
        fake.enumerationError = error;
        fake.deviceRemoval = c.removal;
        fake.infUninstall = c.uninstall;
        EXPECT_EQ(Remove(), c.uninstall.fails ? c.uninstall.error : error);
        EXPECT_EQ(fake.removedDevices, c.removed);
        EXPECT_EQ(fake.uninstalledInfs.empty(), !c.uninstalled);
    }
}

// A published INF names its package itself, as a setup recorded it: removed
// as it is, with no lookup; one that is gone is a package no longer staged.
TEST_F(Removal, APublishedInfIsRemovedAsItIsWithoutALookup) {
    const std::wstring published = L"c:\\WINDOWS\\inf\\oem7.inf";
    struct Case {
        const char* what;
        bool there;
        DWORD missing;
        bool hasUninstallDriver;
        DWORD expected;
        size_t uninstallDriverCalls;
        Uninstalled uninstalled;
    };
    const Case cases[] = {
        {"from Windows 10 1703", true, 0, true, ERROR_SUCCESS, 1, {}},
        {"before it", true, 0, false, ERROR_SUCCESS, 0, kPublishedUninstalled},
        {"no longer there", false, ERROR_FILE_NOT_FOUND, true, ERROR_SUCCESS, 0, {}},
        {"unreadable", false, ERROR_ACCESS_DENIED, true, ERROR_ACCESS_DENIED, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.devices = {{L"oem7.inf"}};
        if (c.there) {
            fake.files[published];
        }
        fake.missingFileError = c.missing;
        fake.hasUninstallDriver = c.hasUninstallDriver;
        EXPECT_EQ(RemoveDriverPackage(published.c_str()), c.expected);
        EXPECT_TRUE(fake.copies.empty()) << "no lookup";
        ASSERT_EQ(fake.uninstallDriverCalls.size(), c.uninstallDriverCalls);
        if (c.uninstallDriverCalls == 1) {
            EXPECT_EQ(fake.uninstallDriverCalls[0].infPath, published);
        }
        EXPECT_EQ(fake.uninstalledInfs, c.uninstalled);
    }
}

TEST_F(Removal, OnlyTheInfFolderItselfHoldsPublishedInfs) {
    for (const wchar_t* path : {L"C:\\Windows\\INF\\sub\\oem7.inf", L"C:\\Windows\\INFO\\oem7.inf",
                                L"D:\\Windows\\INF\\oem7.inf", L"oem7.inf"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(path)));
        SetUp();
        fake.files[path];
        EXPECT_EQ(RemoveDriverPackage(path), ERROR_SUCCESS);
        EXPECT_EQ(fake.copies.size(), 1u) << "looked up by its contents";
    }
    // Where the INF folder cannot be told: the platform's error, nothing done.
    for (const auto& [windows, expected] :
         {std::pair{std::wstring(), ERROR_ACCESS_DENIED},
          std::pair{std::wstring(MAX_PATH - 5, L'w'), ERROR_INSUFFICIENT_BUFFER}}) {
        SetUp();
        fake.windowsFolder = windows;
        EXPECT_EQ(Remove(), expected);
        EXPECT_TRUE(fake.copies.empty());
    }
}

TEST_F(Removal, RefusedTo32BitCallersItIsHandedToTheNativeBuild) {
    struct Case {
        const char* step;
        Outcome copy;
        bool hasUninstallDriver;
        Outcome uninstallDriver;
        Outcome removal;
        Outcome uninstall;
    };
    const Outcome refused = Fails(ERROR_IN_WOW64);
    const Outcome staged = Fails(ERROR_FILE_EXISTS);
    const Case cases[] = {
        {"lookup", refused, false, kSucceeds, kSucceeds, kSucceeds},
        {"taking back a copy", kSucceeds, false, kSucceeds, kSucceeds, refused},
        {"DiUninstallDriverW", staged, true, refused, kSucceeds, kSucceeds},
        {"DIF_REMOVE", staged, false, kSucceeds, refused, kSucceeds},
        {"SetupUninstallOEMInfW", staged, false, kSucceeds, kSucceeds, refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        SetUp();
        fake.devices = {{L"oem7.inf"}};
        fake.modulePath = L"D:\\Setup\\ZeltraneRemove.exe";
        fake.childExitCode = 0x5A;
        fake.copy = c.copy;
        fake.hasUninstallDriver = c.hasUninstallDriver;
        fake.uninstallDriver = c.uninstallDriver;
        fake.deviceRemoval = c.removal;
        fake.infUninstall = c.uninstall;
        EXPECT_EQ(Remove(), 0x5Au);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application, L"D:\\Setup\\x64\\ZeltraneRemove.exe");
        EXPECT_EQ(fake.starts[0].commandLine, fake.commandLine);
    }
}

TEST_F(Removal, EntryShowsItsOwnUsageForAnyCountButOneArgument) {
    for (std::vector<std::wstring> args : std::vector<std::vector<std::wstring>>{
             {L"ZeltraneRemove.exe"},
             {L"ZeltraneRemove.exe", L"a.inf", L"b.inf", L"PCI\\VEN_1"},
             {L"Renamed.exe", L"C:\\My", L"Drivers\\a.inf", L"x"}}) {
        SetUp();
        std::vector<wchar_t*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        wchar_t* environment[] = {nullptr};
        EXPECT_EQ(wmain(static_cast<int>(args.size()), argv.data(), environment), 160);
        ASSERT_EQ(fake.boxes.size(), 1u);
        EXPECT_EQ(fake.boxes[0].text, RemovalUsageText);
        EXPECT_EQ(fake.boxes[0].caption, L"Program Usage");
        EXPECT_EQ(fake.boxes[0].type, MB_OK);
        std::vector<std::string> expected = kHardening;
        expected.push_back("MessageBoxW");
        EXPECT_EQ(fake.order, expected);
    }
    std::wstring program = L"ZeltraneRemove.exe";
    std::wstring inf = kInf;
    wchar_t* argv[] = {program.data(), inf.data(), nullptr};
    wchar_t* environment[] = {nullptr};
    SetUp();
    fake.copy = kSucceeds;
    EXPECT_EQ(wmain(2, argv, environment), 0);
    ASSERT_EQ(fake.copies.size(), 1u);
    EXPECT_EQ(fake.copies[0].source, argv[1]);
    EXPECT_TRUE(fake.boxes.empty());
    // Two arguments: the superseded package, looked up, and the new one.
    SetUp();
    wchar_t* both[] = {program.data(), inf.data(), inf.data(), nullptr};
    EXPECT_EQ(wmain(3, both, environment), 0);
    EXPECT_EQ(fake.copies.size(), 2u);
    EXPECT_TRUE(fake.boxes.empty());
}

// After an upgrade: the older package (oem7.inf) goes where it is not the
// new one and no device uses it, never with the force flag, and no device
// is touched; one that is not staged, or gone, is nothing to do.
TEST_F(Removal, ASupersededPackageGoesOnlyWhereNothingUsesIt) {
    const wchar_t kNewInf[] = L"C:\\Drivers\\v2\\zt-net.inf";
    const std::wstring published = L"C:\\Windows\\INF\\oem7.inf";
    static const std::wstring tooLong = L"C:\\Windows\\INF\\" + std::wstring(MAX_PATH, L'o');
    const Uninstalled deleted = {{L"oem7.inf", 0}};
    struct Case {
        const char* what;
        const wchar_t* old;
        void (*arrange)();
        DWORD expected;
        Uninstalled uninstalled;
    };
    const Case cases[] = {
        {"unused", kInf, [] {}, 0, deleted},
        {"given by its published INF", published.c_str(), [] {}, 0, deleted},
        {"used by a device, present or not",
         kInf,
         [] {
             fake.devices = {{L"oem3.inf"}, {L"OEM7.INF"}};
         },
         ERROR_INF_IN_USE_BY_DEVICES,
         {}},
        {"the same package as the new one",
         kInf,
         [] { fake.stagedAs[L"C:\\Drivers\\v2\\zt-net.inf"] = L"C:\\Windows\\INF\\oem7.inf"; },
         0,
         {}},
        {"the new one not staged: its copy taken back",
         kInf,
         [] {
             fake.stagedAs.erase(L"C:\\Drivers\\v2\\zt-net.inf");
             fake.copy = kSucceeds;
             fake.published = L"C:\\Windows\\INF\\oem12.inf";
         },
         0,
         {{L"oem12.inf", 0}, {L"oem7.inf", 0}}},
        {"the new one not staged, on a device meanwhile: it stays",
         kInf,
         [] {
             fake.stagedAs.erase(L"C:\\Drivers\\v2\\zt-net.inf");
             fake.copy = kSucceeds;
             fake.published = L"C:\\Windows\\INF\\oem12.inf";
             fake.infUninstalls = {Fails(ERROR_INF_IN_USE_BY_DEVICES), kSucceeds};
         },
         0,
         {{L"oem12.inf", 0}, {L"oem7.inf", 0}}},
        {"not staged: its copy taken back",
         kInf,
         [] {
             fake.stagedAs.clear();
             fake.copy = kSucceeds;
         },
         0,
         {{L"oem7.inf", 0}}},
        {"its published INF gone", L"C:\\Windows\\INF\\oem8.inf", [] {}, 0, {}},
        {"the deletion refused", kInf, [] { fake.infUninstall = Fails(ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED, deleted},
        {"the devices unreadable",
         kInf,
         [] { fake.deviceList = Fails(ERROR_ACCESS_DENIED); },
         ERROR_ACCESS_DENIED,
         {}},
        {"the INF folder unknown",
         kInf,
         [] { fake.windowsFolder.clear(); },
         ERROR_ACCESS_DENIED,
         {}},
        {"its published INF unreadable",
         L"C:\\Windows\\INF\\oem8.inf",
         [] { fake.missingFileError = ERROR_ACCESS_DENIED; },
         ERROR_ACCESS_DENIED,
         {}},
        {"its published INF's path too long",
         tooLong.c_str(),
         [] { fake.files[tooLong]; },
         ERROR_FILENAME_EXCED_RANGE,
         {}},
        {"not staged, its copy kept by the platform",
         kInf,
         [] {
             fake.stagedAs.clear();
             fake.copy = kSucceeds;
             fake.infUninstall = Fails(ERROR_ACCESS_DENIED);
         },
         ERROR_ACCESS_DENIED,
         {{L"oem7.inf", 0}}},
        {"the devices' enumeration failing",
         kInf,
         [] { fake.enumerationFailsOnCall = 1, fake.enumerationError = ERROR_INVALID_DATA; },
         ERROR_INVALID_DATA,
         {}},
        {"the new INF unreadable",
         kInf,
         [] {
             fake.stagedAs.erase(L"C:\\Drivers\\v2\\zt-net.inf");
             fake.copy = Fails(ERROR_FILE_NOT_FOUND);
         },
         ERROR_FILE_NOT_FOUND,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.stagedAs = {{kInf, published}, {kNewInf, L"C:\\Windows\\INF\\oem9.inf"}};
        fake.files[published];
        c.arrange();
        EXPECT_EQ(RemoveSupersededPackage(c.old, kNewInf), c.expected);
        EXPECT_EQ(fake.uninstalledInfs, c.uninstalled);
        EXPECT_TRUE(fake.removedDevices.empty()) << "no device touched";
        EXPECT_TRUE(fake.uninstallDriverCalls.empty());
    }
    // Refused to a 32-bit caller on 64-bit Windows: the native build, with
    // the same command line.
    SetUp();
    fake.stagedAs = {{kInf, published}, {kNewInf, L"C:\\Windows\\INF\\oem9.inf"}};
    fake.infUninstall = Fails(ERROR_IN_WOW64);
    fake.childExitCode = 0x5A;
    EXPECT_EQ(RemoveSupersededPackage(kInf, kNewInf), 0x5Au);
    ASSERT_EQ(fake.starts.size(), 1u);
    EXPECT_EQ(fake.starts[0].commandLine, fake.commandLine);
}

TEST(RemovalUsage, NamesTheRemovalProgramAndItsOneArgument) {
    EXPECT_EQ(std::wstring(RemovalUsageText),
              L"ZeltraneRemove.exe <full INF path> [<full path of the new INF>]\n\n"
              L"\t<full INF path>\n"
              L"\t\tThe fully qualified path and name of the INF file that was installed\n"
              L"\t<full path of the new INF>\n"
              L"\t\tWith it, only the older package goes, and only where no device uses it\n");
}

}  // namespace
