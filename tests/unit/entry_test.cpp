#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "usage.h"

int wmain(int argc, wchar_t* argv[], wchar_t* envp[]);

namespace {

class Entry : public ::testing::Test {
protected:
    void SetUp() override { fake = FakePlatform{}; }

    // Runs the entry with a vector built like the start-up's: null-terminated.
    int Run(std::vector<std::wstring> args) {
        strings_ = std::move(args);
        vector_.clear();
        for (auto& s : strings_) vector_.push_back(s.data());
        vector_.push_back(nullptr);
        wchar_t* environment[] = {nullptr};
        return wmain(static_cast<int>(strings_.size()), vector_.data(), environment);
    }

    std::vector<std::wstring> strings_;
    std::vector<wchar_t*> vector_;
};

TEST_F(Entry, AnyCountButTwoArgumentsShowsUsageOnceAndExitsBadArguments) {
    const std::vector<std::vector<std::wstring>> commandLines = {
        {},
        {L"Zeltrane.exe"},
        {L"Zeltrane.exe", L"C:\\drv\\net.inf"},
        {L"Zeltrane.exe", L"C:\\My", L"Drivers\\net.inf", L"PCI\\VEN_7A5C&DEV_0C31"},
        {L"Zeltrane.exe", L"a", L"b", L"c", L"d"},
    };
    for (const auto& commandLine : commandLines) {
        SCOPED_TRACE(::testing::Message() << "argc " << commandLine.size());
        fake = FakePlatform{};
        EXPECT_EQ(Run(commandLine), 160);
        std::vector<std::string> expected = kHardening;
        expected.push_back("MessageBoxW");
        EXPECT_EQ(fake.order, expected);
    }
}

TEST_F(Entry, WhereNoOneCanAnswerAWrongCountEndsWithBadArgumentsAndNoBox) {
    fake.session = 0;
    EXPECT_EQ(Run({L"Zeltrane.exe", L"C:\\drv\\net.inf"}), 160);
    EXPECT_EQ(fake.order, kHardening);
}

TEST_F(Entry, TwoArgumentsInstallWithThoseVeryStrings) {
    EXPECT_EQ(Run({L"Zeltrane.exe", L"C:\\drv\\net.inf", L"PCI\\VEN_7A5C&DEV_0C31"}), 0);
    ASSERT_EQ(fake.copies.size(), 1u);
    ASSERT_EQ(fake.updates.size(), 1u);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.copies[0].source, vector_[1]);
    EXPECT_EQ(fake.updates[0].infPath, vector_[1]);
    EXPECT_EQ(fake.updates[0].hardwareId, vector_[2]);
}

TEST_F(Entry, TwoEmptyArgumentsStillInstall) {
    EXPECT_EQ(Run({L"Zeltrane.exe", L"", L""}), 0);
    ASSERT_EQ(fake.updates.size(), 1u);
    EXPECT_EQ(std::wstring(fake.updates[0].infPath), L"");
    EXPECT_EQ(std::wstring(fake.updates[0].hardwareId), L"");
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Entry, ExitCodeIsTheInstallationsFullErrorCode) {
    fake.update = {true, 0xE000020B};
    EXPECT_EQ(static_cast<unsigned>(Run({L"x.exe", L"net.inf", L"PCI\\VEN_1"})), 0xE000020Bu);
}

// Before anything else: every DLL loaded later comes from System32 only,
// where the platform can say so.
TEST_F(Entry, LoadsLaterDllsFromSystem32OnlyFirstWhereThePlatformCan) {
    const struct {
        bool kernel32Found;
        bool hasFunction;
        size_t calls;
    } cases[] = {{true, true, 1}, {true, false, 0}, {false, true, 0}};
    for (const auto& c : cases) {
        fake = FakePlatform{};
        fake.kernel32Found = c.kernel32Found;
        fake.hasSetDefaultDllDirectories = c.hasFunction;
        EXPECT_EQ(Run({L"Zeltrane.exe", L"C:\\drv\\net.inf", L"PCI\\VEN_1"}), 0);
        EXPECT_EQ(fake.dllDirectoryFlags,
                  std::vector<DWORD>(c.calls, LOAD_LIBRARY_SEARCH_SYSTEM32));
        EXPECT_EQ(fake.modulesLookedUp, std::vector<std::wstring>{L"kernel32.dll"});
        EXPECT_EQ(std::find(fake.order.begin(), fake.order.end(), "SetupCopyOEMInfW") -
                      fake.order.begin(),
                  1 + (c.kernel32Found ? 1 : 0) + static_cast<long>(c.calls))
            << "before the installation's first call";
    }
}

TEST_F(Entry, UsageNamesZeltraneWhateverTheProgramWasStartedAs) {
    Run({L"C:\\Downloads\\setup (1).exe", L"only-one"});
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, UsageText);
    EXPECT_EQ(fake.boxes[0].text.rfind(L"Zeltrane.exe <full INF path>", 0), 0u);
    EXPECT_EQ(fake.boxes[0].text.find(L"setup"), std::wstring::npos);
}

}  // namespace
