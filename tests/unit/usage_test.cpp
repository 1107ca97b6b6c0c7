#include "usage.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "usage_box.h"

namespace {

TEST(Usage, TextIsTheSixRowsExactly) {
    struct Row {
        int tabs;
        const wchar_t* text;
    };
    const Row rows[] = {
        {0, L"Zeltrane.exe <full INF path> <device ID string>"},
        {0, L""},
        {1, L"<full INF path>"},
        {2, L"The fully qualified path and name of the INF file to install"},
        {1, L"<device ID string>"},
        {2, L"The device ID string (eg \"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000\")"},
    };
    std::wstring expected;
    for (const Row& row : rows) {
        expected += std::wstring(static_cast<size_t>(row.tabs), L'\t') + row.text + L'\n';
    }
    EXPECT_EQ(std::wstring(UsageText), expected);
}

TEST(Usage, TextHasOnlyLineFeedsAndNoTrailingBlanks) {
    const std::wstring text = UsageText;
    EXPECT_EQ(text.find(L'\r'), std::wstring::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 6);
    EXPECT_EQ(text.back(), L'\n');
    EXPECT_EQ(text.find(L" \n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\t\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000\")\n"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\\\\"), std::wstring::npos);
}

TEST(Usage, BoxIsOwnerlessOkOnlyWithTheFixedCaption) {
    fake = FakePlatform{};
    ShowUsageBox(UsageText);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].owner, nullptr);
    EXPECT_EQ(fake.boxes[0].text, UsageText);
    EXPECT_EQ(fake.boxes[0].caption, L"Program Usage");
    EXPECT_EQ(fake.boxes[0].type, 0u);
    EXPECT_EQ(fake.order, std::vector<std::string>{"MessageBoxW"});
}

// Who can answer the box: a process in an interactive session whose window
// station is visible; where either cannot be read, no one.
TEST(Usage, NoBoxWhereNoOneCanAnswerIt) {
    struct Case {
        const char* name;
        DWORD session;
        Outcome sessionRead;
        bool stationFound;
        DWORD stationFlags;
        Outcome stationRead;
        size_t boxes;
    };
    const Case cases[] = {
        {"interactive, visible", 1, kSucceeds, true, WSF_VISIBLE, kSucceeds, 1},
        {"session 0", 0, kSucceeds, true, WSF_VISIBLE, kSucceeds, 0},
        {"session unknown", 1, Fails(ERROR_INVALID_PARAMETER), true, WSF_VISIBLE, kSucceeds, 0},
        {"no window station", 2, kSucceeds, false, WSF_VISIBLE, kSucceeds, 0},
        {"window station not visible", 2, kSucceeds, true, 0, kSucceeds, 0},
        {"flags unknown", 2, kSucceeds, true, WSF_VISIBLE, Fails(ERROR_ACCESS_DENIED), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePlatform{};
        fake.session = c.session;
        fake.sessionRead = c.sessionRead;
        fake.stationFound = c.stationFound;
        fake.stationFlags = c.stationFlags;
        fake.stationRead = c.stationRead;
        ShowUsageBox(UsageText);
        EXPECT_EQ(fake.boxes.size(), c.boxes);
    }
}

}  // namespace
