#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fake_platform.h"
#include "install.h"

namespace {

const wchar_t kInf[] = L"C:\\Drivers\\Net Card\\zt-net.inf";
const wchar_t kHardwareId[] = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000";

// The longest path and command line the platform allows, without the NUL.
constexpr size_t kPlatformMax = 32767;

class HandOver : public ::testing::Test {
protected:
    // 64-bit Windows as the 32-bit build sees it: the update is refused.
    void SetUp() override {
        fake = FakePlatform{};
        fake.update = {true, ERROR_IN_WOW64};
    }

    bool Started() const { return !fake.starts.empty(); }
};

TEST_F(HandOver, TakenOnlyWhenTheUpdateIsRefusedToA32BitCaller) {
    struct Case {
        const char* name;
        Outcome copy;
        Outcome update;
        bool handsOver;
        DWORD expected;
    };
    const DWORD child = 0x5A;  // the x64 build's own exit code
    const Case cases[] = {
        {"update refused in WOW64", kSucceeds, Fails(ERROR_IN_WOW64), true, child},
        {"copy failed, update refused", Fails(ERROR_FILE_NOT_FOUND), Fails(ERROR_IN_WOW64), true,
         child},
        {"copy refused, update succeeds", Fails(ERROR_IN_WOW64), kSucceeds, false, ERROR_IN_WOW64},
        {"both succeed", kSucceeds, kSucceeds, false, ERROR_SUCCESS},
        {"update: no such device", kSucceeds, Fails(ERROR_NO_SUCH_DEVINST), false,
         ERROR_NO_SUCH_DEVINST},
        {"update: access denied", kSucceeds, Fails(ERROR_ACCESS_DENIED), false,
         ERROR_ACCESS_DENIED},
        {"update: a neighbouring Setup API error", kSucceeds, Fails(ERROR_IN_WOW64 - 1), false,
         ERROR_IN_WOW64 - 1},
        {"update fails with no error", kSucceeds, Fails(0), false, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.copy = c.copy;
        fake.update = c.update;
        fake.childExitCode = child;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(fake.starts.size(), c.handsOver ? 1u : 0u);
        EXPECT_EQ(fake.copies.size(), 1u);
        EXPECT_EQ(fake.updates.size(), 1u);
        EXPECT_EQ(fake.functionsLookedUp.size(), c.handsOver ? 1u : 0u)
            << "the machine is asked only for a hand-over";
    }
}

TEST_F(HandOver, StartsTheBuildNativeToTheMachineAndNoOther) {
    const std::wstring folder = L"C:\\Program Files (x86)\\Zeltrane\\";
    const std::wstring arm64 = folder + L"arm64\\Zeltrane.exe";
    const std::wstring x64 = folder + L"x64\\Zeltrane.exe";
    struct Case {
        const char* name;
        bool kernel32Found;
        bool hasIsWow64Process2;
        USHORT nativeMachine;
        Outcome machine;
        std::wstring expected;
    };
    const Outcome ok = kSucceeds;
    const Case cases[] = {
        {"ARM64 machine", true, true, IMAGE_FILE_MACHINE_ARM64, ok, arm64},
        {"x64 machine", true, true, IMAGE_FILE_MACHINE_AMD64, ok, x64},
        {"Windows before IsWow64Process2", true, false, IMAGE_FILE_MACHINE_ARM64, ok, x64},
        {"kernel32 not found", false, true, IMAGE_FILE_MACHINE_ARM64, ok, x64},
        {"IsWow64Process2 fails", true, true, IMAGE_FILE_MACHINE_ARM64, Fails(ERROR_ACCESS_DENIED),
         x64},
        {"any other machine", true, true, IMAGE_FILE_MACHINE_I386, ok, x64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake.modulePath = folder + L"Zeltrane.exe";
        fake.kernel32Found = c.kernel32Found;
        fake.hasIsWow64Process2 = c.hasIsWow64Process2;
        fake.nativeMachine = c.nativeMachine;
        fake.machine = c.machine;
        fake.childExitCode = 0x33;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), 0x33u);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application, c.expected);
        EXPECT_EQ(fake.modulesLookedUp, std::vector<std::wstring>{L"kernel32.dll"});
        EXPECT_EQ(fake.functionsLookedUp.size(), c.kernel32Found ? 1u : 0u);
        if (c.kernel32Found) {
            EXPECT_EQ(fake.functionsLookedUp[0], "IsWow64Process2");
        }
    }
}

TEST_F(HandOver, OnArm64WithoutTheArm64BuildNothingElseIsStarted) {
    const Outcome missing[] = {{true, ERROR_FILE_NOT_FOUND}, {true, ERROR_PATH_NOT_FOUND}};
    for (const Outcome& start : missing) {
        SCOPED_TRACE(start.error);
        SetUp();
        fake.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
        fake.start = start;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), ERROR_IN_WOW64);
        ASSERT_EQ(fake.starts.size(), 1u) << "no emulated x64 build instead";
        EXPECT_EQ(fake.starts[0].application,
                  L"C:\\Program Files (x86)\\Zeltrane\\arm64\\Zeltrane.exe");
    }
}

TEST_F(HandOver, Arm64BuildPathAtAndBeyondThePlatformsLimit) {
    // "arm64\Zeltrane.exe" is two characters longer than the x64 build's path.
    const std::wstring fits = L"C:\\" + std::wstring(kPlatformMax - 3 - 19, L'f') + L"\\Z.exe";
    const std::wstring tooLong = L"C:\\" + std::wstring(kPlatformMax - 3 - 18, L'f') + L"\\Z.exe";
    // Not even "arm64\" fits after the folder.
    const std::wstring folderFull = L"C:\\" + std::wstring(kPlatformMax - 9, L'f') + L"\\Z.exe";
    for (const auto& [image, started] :
         {std::pair{fits, true}, std::pair{tooLong, false}, std::pair{folderFull, false}}) {
        SetUp();
        fake.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
        fake.modulePath = image;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), started ? 0u : ERROR_FILENAME_EXCED_RANGE);
        ASSERT_EQ(fake.starts.size(), started ? 1u : 0u);
        if (started) {
            EXPECT_EQ(fake.starts[0].application.size(), kPlatformMax);
        }
    }
}

TEST_F(HandOver, ReturnsTheX64BuildsExitCodeWhateverItIs) {
    for (const DWORD code : {0u, 2u, 160u, 0xE000020Bu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        SetUp();
        fake.childExitCode = code;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), code);
    }
}

TEST_F(HandOver, StartsX64ZeltraneFromTheRunningImagesFolder) {
    const std::wstring longFolder =
        L"\\\\?\\C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b') + L"\\Setup";
    struct Case {
        const char* name;
        std::wstring image;
        std::wstring expected;
    };
    const Case cases[] = {
        {"the release layout", L"C:\\Program Files (x86)\\Zeltrane\\Zeltrane.exe",
         L"C:\\Program Files (x86)\\Zeltrane\\x64\\Zeltrane.exe"},
        {"blanks and letters beyond ASCII, renamed image",
         L"D:\\Pilotes réseau Ωmega\\Zeltrane ñ 1.1\\setup (1).exe",
         L"D:\\Pilotes réseau Ωmega\\Zeltrane ñ 1.1\\x64\\Zeltrane.exe"},
        {"longer than 260 characters", longFolder + L"\\Zeltrane.exe",
         longFolder + L"\\x64\\Zeltrane.exe"},
        {"a share", L"\\\\server\\drivers\\Zeltrane.exe",
         L"\\\\server\\drivers\\x64\\Zeltrane.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake.modulePath = c.image;
        InstallDriver(kInf, kHardwareId);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application, c.expected);
        ASSERT_EQ(fake.moduleBufferSizes.size(), 1u);
        EXPECT_GT(fake.moduleBufferSizes[0], kPlatformMax)
            << "room for any path the platform allows";
    }
}

TEST_F(HandOver, GivesTheX64BuildAWritableCopyOfTheOwnCommandLineAndNothingElse) {
    fake.commandLine =
        L"\"C:\\Program Files (x86)\\Zeltrane\\Zeltrane.exe\"  \"C:\\My Drivers\\"
        L"zt-net.inf\" PCI\\VEN_7A5C&DEV_0C31\\\\\"&X Y\"";
    InstallDriver(kInf, kHardwareId);
    ASSERT_EQ(fake.starts.size(), 1u);
    const StartCall& start = fake.starts[0];
    EXPECT_EQ(start.commandLine, fake.commandLine);
    EXPECT_FALSE(start.commandLineIsOwn) << "the platform may write to the command line it gets";
    EXPECT_FALSE(start.processAttributes);
    EXPECT_FALSE(start.threadAttributes);
    EXPECT_EQ(start.inheritHandles, FALSE);
    EXPECT_EQ(start.flags, 0u) << "no new console, no other creation flag";
    EXPECT_EQ(start.environment, nullptr) << "the same environment";
    EXPECT_EQ(start.currentDirectory, fake.systemFolder) << "the system folder, not the caller's";
    EXPECT_EQ(start.startupSize, sizeof(STARTUPINFOW));
    EXPECT_EQ(start.startupFlags, 0u);
}

TEST_F(HandOver, WaitsForTheX64BuildThenClosesBothHandles) {
    fake.childExitCode = 7;
    EXPECT_EQ(InstallDriver(kInf, kHardwareId), 7u);
    EXPECT_EQ(fake.waitTimeouts, std::vector<DWORD>{INFINITE});
    EXPECT_EQ(fake.closed.size(), 2u);
    EXPECT_NE(std::find(fake.closed.begin(), fake.closed.end(), FakeChildProcess()),
              fake.closed.end());
    EXPECT_NE(std::find(fake.closed.begin(), fake.closed.end(), FakeChildThread()),
              fake.closed.end());
    const auto wait = std::find(fake.order.begin(), fake.order.end(), "WaitForSingleObject");
    const auto exit = std::find(fake.order.begin(), fake.order.end(), "GetExitCodeProcess");
    const auto close = std::find(fake.order.begin(), fake.order.end(), "CloseHandle");
    EXPECT_TRUE(wait < exit && exit < close) << "the exit code is read before the handles close";
}

TEST_F(HandOver, NoStartWhereTheSystemFolderIsUnknown) {
    fake.systemFolderCall = Fails(ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallDriver(kInf, kHardwareId), ERROR_ACCESS_DENIED);
    SetUp();
    fake.systemFolder = std::wstring(MAX_PATH, L's');
    EXPECT_EQ(InstallDriver(kInf, kHardwareId), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(Started());
}

TEST_F(HandOver, FailuresBeforeOrAfterTheStart) {
    struct Case {
        const char* name;
        std::wstring image;
        Outcome module;
        std::wstring commandLine;
        Outcome start;
        Outcome wait;
        Outcome exitCode;
        bool started;
        DWORD expected;
    };
    const std::wstring image = L"C:\\Zeltrane\\Zeltrane.exe";
    const std::wstring line = L"Zeltrane.exe a b";
    const Outcome ok = kSucceeds;
    // Longest folder whose x64 build path still fits, and one character more.
    const std::wstring fits = L"C:\\" + std::wstring(kPlatformMax - 3 - 17, L'f') + L"\\Z.exe";
    const std::wstring tooLong = L"C:\\" + std::wstring(kPlatformMax - 3 - 16, L'f') + L"\\Z.exe";
    const Case cases[] = {
        {"module path unavailable", image, Fails(ERROR_ACCESS_DENIED), line, ok, ok, ok, false,
         ERROR_ACCESS_DENIED},
        {"module path unavailable, no error", image, Fails(0), line, ok, ok, ok, false,
         ERROR_GEN_FAILURE},
        {"module path truncated", L"C:\\" + std::wstring(40000, L'x') + L"\\Zeltrane.exe", ok, line,
         ok, ok, ok, false, ERROR_INSUFFICIENT_BUFFER},
        {"module path without a folder", L"Zeltrane.exe", ok, line, ok, ok, ok, false,
         ERROR_BAD_PATHNAME},
        {"x64 build path at the platform's limit", fits, ok, line, ok, ok, ok, true, 0},
        {"x64 build path beyond the platform's limit", tooLong, ok, line, ok, ok, ok, false,
         ERROR_FILENAME_EXCED_RANGE},
        {"command line at the platform's limit", image, ok, std::wstring(kPlatformMax, L'c'), ok,
         ok, ok, true, 0},
        {"command line beyond the platform's limit", image, ok,
         std::wstring(kPlatformMax + 1, L'c'), ok, ok, ok, false, ERROR_FILENAME_EXCED_RANGE},
        {"no x64 build file", image, ok, line, Fails(ERROR_FILE_NOT_FOUND), ok, ok, true,
         ERROR_IN_WOW64},
        {"no x64 folder", image, ok, line, Fails(ERROR_PATH_NOT_FOUND), ok, ok, true,
         ERROR_IN_WOW64},
        {"x64 build not an image", image, ok, line, Fails(ERROR_BAD_EXE_FORMAT), ok, ok, true,
         ERROR_BAD_EXE_FORMAT},
        {"start needs elevation", image, ok, line, Fails(ERROR_ELEVATION_REQUIRED), ok, ok, true,
         ERROR_ELEVATION_REQUIRED},
        {"start fails with no error", image, ok, line, Fails(0), ok, ok, true, ERROR_GEN_FAILURE},
        {"wait fails", image, ok, line, ok, Fails(ERROR_ACCESS_DENIED), ok, true,
         ERROR_ACCESS_DENIED},
        {"exit code unreadable", image, ok, line, ok, ok, Fails(ERROR_ACCESS_DENIED), true,
         ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        fake.modulePath = c.image;
        fake.module = c.module;
        fake.commandLine = c.commandLine;
        fake.start = c.start;
        fake.wait = c.wait;
        fake.exitCode = c.exitCode;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(Started(), c.started);
        const bool running = c.started && !c.start.fails;
        EXPECT_EQ(fake.closed.size(), running ? 2u : 0u) << "both handles closed, once each";
        if (running) {
            EXPECT_EQ(fake.starts[0].commandLine, c.commandLine);
        }
    }
}

}  // namespace
