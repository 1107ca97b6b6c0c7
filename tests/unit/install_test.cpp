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

    const std::vector<std::string> expectedOrder = {"SetupCopyOEMInfW", "GetDesktopWindow",
                                                    "UpdateDriverForPlugAndPlayDevicesW"};
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
        {"both succeed", {false, 0}, {false, 0}, 0},
        {"copy: file not found", {true, ERROR_FILE_NOT_FOUND}, {false, 0}, ERROR_FILE_NOT_FOUND},
        {"copy: path not found", {true, 3}, {false, 0}, 3},
        {"update: access denied", {false, 0}, {true, ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED},
        {"update: no such device",
         {false, 0},
         {true, ERROR_NO_SUCH_DEVINST},
         ERROR_NO_SUCH_DEVINST},
        {"both fail: the copy's error",
         {true, 0xE0000000},
         {true, ERROR_NO_SUCH_DEVINST},
         0xE0000000},
        {"copy fails with no error", {true, 0}, {false, 0}, 31},
        {"update fails with no error", {false, 0}, {true, 0}, 31},
        {"copy fails with no error, update too", {true, 0}, {true, 5}, 31},
        {"copy fails, update with no error", {true, 5}, {true, 0}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.copy = c.copy;
        fake.update = c.update;
        EXPECT_EQ(InstallDriver(kInf, kHardwareId), c.expected);
        EXPECT_EQ(fake.copies.size(), 1u);
        EXPECT_EQ(fake.updates.size(), 1u);
    }
}

}  // namespace
