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
    }
}

}  // namespace
