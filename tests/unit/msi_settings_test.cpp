// The settings and the older versions, as the MSI decides them before
// anything changes: what a command line may set reaches the driver's
// actions only as one of its words, or as a product that is an older
// version of this one.

#include <string>

#include "msi_action_fixture.h"

namespace {

const std::wstring kUpgradeCode = L"{7A5C0C31-0000-4000-8000-0000000000AA}";
const std::wstring kOlder = L"{11111111-2222-3333-4444-55555555AAAA}";
const std::wstring kOldest = L"{11111111-2222-3333-4444-555555550001}";
const std::wstring kSame = L"{11111111-2222-3333-4444-555555550002}";
const std::wstring kNewer = L"{11111111-2222-3333-4444-555555550003}";
const std::wstring kOthers = L"{99999999-2222-3333-4444-555555550004}";
const std::wstring kFailsBeforeAnyChange = L": the installation fails before anything changes";

class MsiSettings : public MsiAction {
protected:
    // The template's defaults, and the products installed beside this one,
    // version 2.0.0: three of its own upgrade code and one of another.
    void SetUp() override {
        MsiAction::SetUp();
        fake.properties = {
            {L"ZELTRANE_NO_DEVICE", L"succeed"}, {L"ZELTRANE_ON_UNINSTALL", L"remove"},
            {L"ZELTRANE_SUPERSEDED", L"remove"}, {L"UpgradeCode", kUpgradeCode},
            {L"ProductVersion", L"2.0.0"},       {L"ZeltraneSuperseded", L"zsame.inf|ROOT\\ANY;"}};
        fake.related[kUpgradeCode] = {
            {kOlder, L"1.255.65535"}, {kOldest, L"0.9"}, {kSame, L"2.0.0.7"}, {kNewer, L"2.0.1"}};
        fake.related[L"{7A5C0C31-0000-4000-8000-0000000000BB}"] = {{kOthers, L"1.0.0"}};
    }
};

TEST_F(MsiSettings, EachSettingIsHandedOverAsOneOfItsWords) {
    const struct {
        const wchar_t* name;
        std::wstring value;
        std::wstring logged;
    } cases[] = {
        {L"ZELTRANE_NO_DEVICE", L"create", L""},
        {L"ZELTRANE_SUPERSEDED", L"keep", L""},
        {L"ZELTRANE_SUPERSEDED", L"kep",
         L"ZELTRANE_SUPERSEDED is \"kep\", neither remove nor keep"},
        {L"ZELTRANE_NO_DEVICE", L"succeed|x",
         L"ZELTRANE_NO_DEVICE is \"succeed|x\", neither succeed, fail nor create"},
        {L"ZELTRANE_NO_DEVICE", L"Fail",
         L"ZELTRANE_NO_DEVICE is \"Fail\", neither succeed, fail nor create"},
        {L"ZELTRANE_ON_UNINSTALL", L"", L"ZELTRANE_ON_UNINSTALL is \"\", neither remove nor keep"},
        {L"ZELTRANE_ON_UNINSTALL", L"remove|zt-line.inf|keep",
         L"ZELTRANE_ON_UNINSTALL is \"remove|zt-line....\", neither remove nor keep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        SetUp();
        fake.properties[c.name] = c.value;
        EXPECT_EQ(CheckSettings(kFakeInstall), c.logged.empty() ? 0u : kFails);
        if (c.logged.empty()) {
            const std::wstring supersede =
                c.name == std::wstring(L"ZELTRANE_SUPERSEDED") ? c.value : L"remove";
            EXPECT_EQ(fake.properties[L"ZeltraneNoDevice"],
                      c.name == std::wstring(L"ZELTRANE_NO_DEVICE") ? c.value : L"succeed");
            EXPECT_EQ(fake.properties[L"ZeltraneOnUninstall"], L"remove");
            EXPECT_EQ(fake.properties[L"ZeltraneSupersede"], supersede);
            EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"") << "no command line's value";
        } else {
            EXPECT_EQ(fake.logged.back(), L"Zeltrane: " + c.logged + kFailsBeforeAnyChange);
            EXPECT_EQ(fake.properties.count(L"ZeltraneOlder"), 0u);
        }
    }
    SetUp();
    fake.setPropertyError = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(CheckSettings(kFakeInstall), kFails);
    EXPECT_EQ(fake.logged.back(), L"Zeltrane: cannot hand the settings over, error 0x00000057");
    SetUp();
    fake.propertyError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(CheckSettings(kFakeInstall), kFails);
    EXPECT_EQ(fake.logged.back(), L"Zeltrane: cannot read the settings, error 0x00000005");
}

// RemoveExistingProducts removes whatever ZELTRANE_OLDER_FOUND names: the
// installation goes on only where each is an older version of this product.
TEST_F(MsiSettings, OnlyOlderVersionsOfThisProductAreHandedOver) {
    const struct {
        std::wstring found;
        std::wstring refused;
        void (*arrange)() = nullptr;
    } cases[] = {
        {L"", L""},
        {kOlder, L""},
        {kOlder + L";" + kOldest + L";", L""},
        {kSame, kSame},
        {kNewer, kNewer},
        {kOlder + L";" + kOthers, kOthers},
        {L"{11111111-2222-3333-4444-55555555000F}", L"{11111111-2222-3333-4444-55555555000F}"},
        {L"{11111111-2222-3333-4444\\55555555AAAA}", L"{11111111-2222-3333-4444\\55555555AAAA}"},
        {L"{11111111-2222-3333-4444-55555555AAAG}", L"{11111111-2222-3333-4444-55555555AAAG}"},
        {L"{11111111-2222-3333-4444a55555555AAAA}", L"{11111111-2222-3333-4444a55555555AAAA}"},
        {L"{11111111-2222-3333-4444-55555555aaag}", L"{11111111-2222-3333-4444-55555555aaag}"},
        {L"{11111111-2222-3333-4444-55555555 AAA}", L"{11111111-2222-3333-4444-55555555 AAA}"},
        {L"{11111111-2222-3333-4444-55555555AAAA}|zsame.inf|ROOT\\ANY",
         L"{11111111-2222-3333-4444-55555555AAAA}|zsame.inf|ROOT\\ANY"},
        {kOlder, kOlder, [] { fake.related[kUpgradeCode][kOlder] = L"1.x"; }},
        {kOlder, kOlder,
         [] { fake.related[kUpgradeCode][kOlder] = L"1." + std::wstring(40, L'0'); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.found);
        SetUp();
        fake.properties[L"ZELTRANE_OLDER_FOUND"] = c.found;
        if (c.arrange != nullptr) {
            c.arrange();
        }
        EXPECT_EQ(CheckSettings(kFakeInstall), c.refused.empty() ? 0u : kFails);
        if (c.refused.empty()) {
            std::wstring older = c.found;
            older.erase(older.find_last_not_of(L';') + 1);
            EXPECT_EQ(fake.properties[L"ZeltraneOlder"], older);
        } else {
            EXPECT_EQ(fake.logged.back(),
                      L"Zeltrane: ZELTRANE_OLDER_FOUND names \"" + c.refused +
                          L"\", which is not an installed older version of this product" +
                          kFailsBeforeAnyChange);
        }
    }
    // This product's version as Windows Installer compares it: three fields
    // at most, each a number.
    const struct {
        const wchar_t* property;
        std::wstring value;
        UINT error;
    } versions[] = {
        {L"ProductVersion", L"2.0.0.9", 0},
        {L"ProductVersion", L"2", 0},
        {L"ProductVersion", L"2.0.", ERROR_INVALID_DATA},
        {L"ProductVersion", L"2..0", ERROR_INVALID_DATA},
        {L"ProductVersion", L" 2.0", ERROR_INVALID_DATA},
        {L"ProductVersion", L"2.0.0.", 0},
        {L"ProductVersion", L"1.", ERROR_INVALID_DATA},
        {L"ProductVersion", L"99999999.0", ERROR_INVALID_DATA},
        {L"ProductVersion", std::wstring(32, L'2'), ERROR_MORE_DATA},
        {L"UpgradeCode", L"{not a code}", ERROR_INVALID_DATA},
        {L"UpgradeCode", kUpgradeCode + L"x", ERROR_MORE_DATA},
    };
    for (const auto& v : versions) {
        SCOPED_TRACE(v.value);
        SetUp();
        fake.properties[L"ZELTRANE_OLDER_FOUND"] = kOlder;
        fake.properties[v.property] = v.value;
        EXPECT_EQ(CheckSettings(kFakeInstall), v.error == 0 ? 0u : kFails);
        wchar_t code[11];
        swprintf(code, 11, L"0x%08X", v.error);
        if (v.error != 0) {
            EXPECT_EQ(fake.logged.back(),
                      L"Zeltrane: cannot read this product's UpgradeCode and ProductVersion, "
                      L"error " +
                          std::wstring(code));
        }
    }
    SetUp();
    fake.properties[L"ZELTRANE_OLDER_FOUND"] = std::wstring(32768, L'{');
    EXPECT_EQ(CheckSettings(kFakeInstall), kFails);
    EXPECT_EQ(fake.logged.back(), L"Zeltrane: cannot read ZELTRANE_OLDER_FOUND, error 0x000000EA");
}

}  // namespace
