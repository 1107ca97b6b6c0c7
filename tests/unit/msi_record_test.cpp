// The install action's record of the staged package, which the removal
// reads.

#include <string>
#include <vector>

#include "msi_action_fixture.h"
#include "text.h"

namespace {

// The name under which the platform staged the package, asked without
// staging anything, is recorded in the product's key: the removal reads it
// there, never from the installed INF.
TEST_F(MsiAction, RecordsTheNameOfTheStagedPackageInTheProductsKey) {
    for (const Outcome copy : {Fails(ERROR_FILE_EXISTS), kSucceeds}) {
        SetUp();
        fake.copy = copy;
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        ASSERT_EQ(fake.copies.size(), 1u);
        EXPECT_EQ(fake.copies[0].source, kInf);
        EXPECT_EQ(fake.copies[0].style, SP_COPY_NOOVERWRITE);
        EXPECT_EQ(fake.registry[kKey][L"PublishedInf"],
                  (std::pair<DWORD, std::string>{REG_SZ, Bytes(L"oem7.inf")}));
        // And that this product uses the package, by its INF's digest, in a
        // key that only SYSTEM and Administrators can open.
        const std::wstring digest = FakeDigest("[Version] ours");
        EXPECT_EQ(fake.registry[kKey][L"Package"].second, Bytes(digest));
        // With the catalog it was staged with, in both.
        const std::string catalog = Bytes(FakeDigest("its catalog"));
        EXPECT_EQ(fake.registry[kKey][L"Catalog"].second, catalog);
        EXPECT_EQ(fake.registry[L"SOFTWARE\\Zeltrane\\Packages\\" + digest +
                                L"\\{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}"][L"Catalog"]
                      .second,
                  catalog);
        EXPECT_EQ(fake.keyAccess[L"SOFTWARE\\Zeltrane\\Packages"],
                  L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    }
}

// The same INF staged with another catalog is another package: where the
// platform names that copy, the one staged with the package's catalog is
// recorded; a package without a catalog is known by its INF alone.
TEST_F(MsiAction, TheCopyStagedWithThePackagesCatalogIsRecorded) {
    for (const bool catalogued : {true, false}) {
        SetUp();
        fake.files[StagedCatalog(L"oem7.inf")] = "another signing";
        fake.files[L"C:\\Windows\\INF\\oem9.inf"] = "[Version] ours";
        fake.files[StagedCatalog(L"oem9.inf")] = "its catalog";
        std::wstring files = Files();
        if (!catalogued) {
            files = files.substr(0, files.rfind(L"*amd64\\zt-line.cat"));
        }
        fake.customActionData = Data(L"succeed", kA, files);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        EXPECT_EQ(fake.registry[kKey][L"PublishedInf"].second,
                  Bytes(catalogued ? L"oem9.inf" : L"oem7.inf"));
        EXPECT_EQ(fake.registry[kKey].count(L"Catalog"), catalogued ? 1u : 0u);
    }
}

TEST_F(MsiAction, ANameThatCannotBeRecordedFailsTheInstallation) {
    const std::wstring notFound = L"Zeltrane: cannot find the name of the staged package, error ";
    const std::wstring notRecorded =
        L"Zeltrane: cannot record the name of the staged package, error 0x00000005";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"lookup fails", [] { fake.copy = Fails(ERROR_ACCESS_DENIED); }, notFound + L"0x00000005"},
        {"no name given", [] { fake.published = std::wstring(MAX_PATH, L'x'); },
         notFound + L"0x00000050"},
        {"no product code", [] { fake.productCodeError = ERROR_MORE_DATA; },
         L"Zeltrane: cannot read ProductCode, error 0x000000EA"},
        {"key refused", [] { fake.registryCallFails = "RegCreateKeyExW"; }, notRecorded},
        {"value refused", [] { fake.registryCallFails = "RegSetValueExW"; }, notRecorded},
        {"the package's value refused", [] { fake.registryValueFails = L"Package"; }, notRecorded},
        {"no descriptor for the packages' key", [] { fake.descriptorFailsOnCall = 3; },
         notRecorded},
        {"the packages' key refused", [] { fake.keyFails = L"SOFTWARE\\Zeltrane\\Packages"; },
         notRecorded},
        {"the owner's key refused",
         [] {
             fake.keyFails = L"SOFTWARE\\Zeltrane\\Packages\\" + FakeDigest("[Version] ours") +
                             L"\\{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
         },
         notRecorded},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registryError = ERROR_ACCESS_DENIED;
        c.arrange();
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_EQ(fake.logged.back(), c.logged);
    }
}

// 64-bit Windows may refuse the look-up to the 32-bit action: then the staged
// package is the INF folder's copy with the INF's bytes, as the platform
// publishes an INF.
TEST_F(MsiAction, WhereTheLookupIsRefusedTheStagedCopyIsFoundByItsBytes) {
    const std::wstring notFound = L"Zeltrane: cannot find the name of the staged package, error ";
    const std::wstring copy = L"C:\\Windows\\INF\\oem9.inf";
    const std::wstring found =
        L"Zeltrane: the package is staged as \"oem9.inf\", recorded for its removal";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"found", [] {}, found},
        {"a copy staged with another catalog passed over",
         [] {
             fake.files[L"C:\\Windows\\INF\\oem8.inf"] = "[Version] ours";
             fake.files[StagedCatalog(L"oem8.inf")] = "another signing";
         },
         found},
        {"a copy staged with no catalog passed over",
         [] { fake.files.erase(StagedCatalog(L"oem9.inf")); }, notFound + L"0x00000002"},
        {"an unreadable copy passed over",
         [] {
             fake.files[L"C:\\Windows\\INF\\oem8.inf"] = "[Version] ours";
             fake.unreadable = {L"C:\\Windows\\INF\\oem8.inf"};
         },
         found},
        {"changed since it was listed",
         [] {
             fake.listedSizes[L"C:\\Windows\\INF\\oem9.inf"] = 14;
             fake.files[L"C:\\Windows\\INF\\oem9.inf"] = "[Version] ours, longer";
         },
         notFound + L"0x00000002"},
        {"no copy", [] { fake.files.erase(L"C:\\Windows\\INF\\oem9.inf"); },
         notFound + L"0x00000002"},
        {"no INF in the folder",
         [] {
             for (const int n : {3, 5, 9}) {
                 fake.files.erase(L"C:\\Windows\\INF\\oem" + std::to_wstring(n) + L".inf");
             }
             fake.files[L"C:\\Windows\\INF\\x.pnf"];
         },
         notFound + L"0x00000002"},
        {"the INF unreadable", [] { fake.unreadable = {kInf}; }, notFound + L"0x00000005"},
        {"the INF too large",
         [] { fake.files[kPackage + L"zt-line.inf"] = std::string(8 * 1024 * 1024 + 1, 'x'); },
         notFound + L"0x000000DF"},
        {"reading fails",
         [] {
             fake.readFile = Fails(ERROR_ACCESS_DENIED);
             fake.readFailsFor = kInf;
         },
         notFound + L"0x00000005"},
        {"the INF folder unknown", [] { fake.windowsFolder.clear(); }, notFound + L"0x00000005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.files.erase(kPublished);
        fake.copy = Fails(ERROR_IN_WOW64);
        fake.files[L"C:\\Windows\\INF\\oem3.inf"] = "[Version] other, longer";
        fake.files[L"C:\\Windows\\INF\\oem5.inf"] = "[Version] ourz";
        fake.files[copy] = "[Version] ours";
        fake.files[StagedCatalog(L"oem9.inf")] = "its catalog";
        c.arrange();
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), c.logged == found ? 0u : kFails);
        EXPECT_EQ(fake.logged.back(), c.logged);
        fake.files.clear();
    }
}

// After an upgrade: the older product's recorded packages, read before it
// goes, deleted after the installation where still this INF's and unused;
// what stays recorded with this product, whose removal tries again.
const std::wstring kOlder = L"{11111111-2222-3333-4444-55555555AAAA}";
const std::wstring kOlderKey = L"SOFTWARE\\Zeltrane\\Products\\" + kOlder;
const std::wstring kAnother = L"SOFTWARE\\Zeltrane\\Products\\{another product}";
constexpr DWORD kInUse = 0xE000023D;

std::wstring OlderRun(const std::wstring& folder, const std::wstring& newInf) {
    return L"\"" + folder + L"\\ZeltraneRemove.exe\" \"C:\\Windows\\INF\\oem5.inf\" \"" + newInf +
           L"\"";
}

std::wstring OlderLine(const std::wstring& name, const std::wstring& said) {
    return L"Zeltrane: the older version's package \"C:\\Windows\\INF\\" + name +
           L"\": ZeltraneRemove.exe ended with " + said;
}

TEST_F(MsiAction, AnUpgradeDeletesTheOlderPackagesThatNothingUses) {
    // Only a product code names an older record, and only an INF's file
    // name in it is passed on; each other code has a record of its own.
    const std::wstring codes[] = {kOlder,
                                  L"{aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee}",
                                  L"{11111111-2222-3333-4444-55555555AAA}",
                                  L"[11111111-2222-3333-4444-55555555AAAA}",
                                  L"{11111111-2222-3333-4444-55555555AAAA]",
                                  L"{11111111-2222-3333-4444\\55555555AAAA}"};
    int number = 5;
    for (const std::wstring& code : codes) {
        fake.properties[L"ZeltraneOlder"] += code + L";";
        fake.registry[L"SOFTWARE\\Zeltrane\\Products\\" + code][L"PublishedInf"] = {
            REG_SZ, Bytes(L"oem" + std::to_wstring(number++) + L".inf")};
    }
    fake.registry[kOlderKey][L"SupersededInf"] = {
        REG_SZ, Bytes(L"oem3.inf;..\\x.inf;;oem2.pnf;.inf;C:x.inf;oem/5.inf;OEM4.INF")};
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"oem5.inf;oem3.inf;OEM4.INF;oem6.inf");

    const std::wstring older = kOlder + L"|oem5.inf;oem3.inf";
    const struct {
        const char* what;
        std::wstring older;
        std::vector<DWORD> codes;
        std::wstring kept;
        std::wstring logged;
        void (*arrange)() = nullptr;
    } cases[] = {
        {"unused",
         L"remove|" + older,
         {0, 0},
         L"",
         OlderLine(L"oem5.inf",
                   L"0x00000000, it is out of the driver store (or is this "
                   L"version's own)")},
        {"in use",
         L"remove|" + older,
         {0, kInUse},
         L"oem5.inf",
         OlderLine(L"oem5.inf",
                   L"0xE000023D, a device is still installed from it: it stays "
                   L"staged")},
        {"two in use",
         L"remove|" + kOlder + L"|oem5.inf;oem6.inf",
         {0, kInUse, kInUse},
         L"oem5.inf;oem6.inf",
         OlderLine(L"oem6.inf",
                   L"0xE000023D, a device is still installed from it: it stays "
                   L"staged")},
        {"refused",
         L"remove|" + older,
         {0, 5},
         L"oem5.inf",
         OlderLine(L"oem5.inf", L"0x00000005: it stays staged")},
        {"not started",
         L"remove|" + older,
         {0},
         L"oem5.inf",
         L"Zeltrane: the older version's package stays staged",
         [] { fake.resources.erase(L"ZELTRANE_REMOVE_ARM64"); }},
        {"what stays not recorded",
         L"remove|" + older,
         {0, kInUse},
         L"",
         L"Zeltrane: cannot record the older packages that stay staged, \"oem5.inf\": the "
         L"removal leaves them",
         [] { fake.registryValueFails = L"SupersededInf"; }},
        {"a restart pending",
         L"remove|" + older,
         {3010},
         L"oem5.inf;oem3.inf",
         L"Zeltrane: a restart finishes the installation: the older packages "
         L"\"oem5.inf;oem3.inf\" stay staged, recorded for the removal or the next version"},
        {"the INF folder unknown",
         L"remove|" + older,
         {0},
         L"oem5.inf;oem3.inf",
         L"Zeltrane: cannot read the original name of the staged package, error 0x00000005",
         [] { fake.windowsFolder.clear(); }},
        {"kept",
         L"keep|" + older,
         {0},
         L"",
         L"Zeltrane: ZELTRANE_SUPERSEDED=keep: the older versions' packages stay staged, for the "
         L"platform's driver rollback"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kOlderKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem5.inf")};
        fake.registry[kAnother];
        fake.originalNames[L"C:\\Windows\\INF\\oem5.inf"] = L"ZT-LINE.inf";
        fake.originalNames[L"C:\\Windows\\INF\\oem6.inf"] = L"zt-line.inf";
        fake.originalNames[L"C:\\Windows\\INF\\oem3.inf"] = L"other.inf";
        fake.customActionData = Data(L"succeed", kA, Files(), c.older);
        fake.childExitCodes = c.codes;
        fake.registryError = ERROR_ACCESS_DENIED;
        if (c.arrange != nullptr) {
            c.arrange();
        }
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u) << "whatever stays";
        EXPECT_EQ(Started().size(), c.codes.size());
        if (c.codes.size() > 1) {
            EXPECT_EQ(Started()[1], OlderRun(RunFolder(3), kInf));
        }
        EXPECT_TRUE(Logged(c.logged));
        EXPECT_EQ(fake.registry[kKey].count(L"SupersededInf"), c.kept.empty() ? 0u : 1u);
        if (!c.kept.empty()) {
            EXPECT_EQ(fake.registry[kKey][L"SupersededInf"].second, Bytes(c.kept));
        }
        EXPECT_EQ(fake.registry.count(kOlderKey), 0u) << "the older record goes";
        EXPECT_EQ(fake.registry.count(kAnother), 1u);
    }

    // Another product uses the older package too: it stays, whatever the
    // setting, and only the older version's use of it goes.
    const std::wstring record = L"SOFTWARE\\Zeltrane\\Packages\\" + FakeDigest("[Version] old");
    for (const std::wstring setting : {L"remove", L"keep"}) {
        SetUp();
        fake.registry[kOlderKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem5.inf")};
        fake.originalNames[L"C:\\Windows\\INF\\oem5.inf"] = L"zt-line.inf";
        fake.files[L"C:\\Windows\\INF\\oem5.inf"] = "[Version] old";
        fake.registry[record];
        fake.registry[record + L"\\" + kOlder];
        fake.registry[record + L"\\{another product}"];
        fake.customActionData =
            Data(L"succeed", kA, Files(),
                 setting + L"|{11111111-2222-3333-4444-555555550000};" + kOlder + L"|oem5.inf");
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        EXPECT_EQ(Started().size(), 1u) << "no removal of it";
        EXPECT_EQ(fake.registry.count(record + L"\\" + kOlder), 0u);
        EXPECT_EQ(fake.registry.count(record + L"\\{another product}"), 1u);
        EXPECT_EQ(
            Logged(L"Zeltrane: the older version's package \"C:\\Windows\\INF\\oem5.inf\" "
                   L"is another product's too: it stays staged, used by \"{another product}\""),
            setting == L"remove");
    }

    // The product's removal takes the older packages still recorded first,
    // where unused, before its own package, and whatever became of its own;
    // one that it cannot read stays.
    SetUp();
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.registry[kKey][L"SupersededInf"] = {REG_SZ, Bytes(L"oem5.inf")};
    fake.originalNames[L"C:\\Windows\\INF\\oem5.inf"] = L"zt-line.inf";
    fake.customActionData = L"zt-line.inf|remove";
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u) << "its own package no longer staged";
    EXPECT_EQ(Started(), std::vector<std::wstring>{OlderRun(RunFolder(1), kPublished)});
    for (const bool readable : {true, false}) {
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.registry[kKey][L"SupersededInf"] = {readable ? REG_SZ : REG_DWORD, Bytes(L"oem5.inf")};
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.originalNames[L"C:\\Windows\\INF\\oem5.inf"] = L"zt-line.inf";
        fake.customActionData = L"zt-line.inf|remove";
        fake.childExitCodes = readable ? std::vector<DWORD>{kInUse, 0} : std::vector<DWORD>{0};
        EXPECT_EQ(RemoveDriver(kFakeInstall), 0u) << "an older package in use fails nothing";
        const std::wstring own =
            L"\"" + RunFolder(readable ? 2 : 1) + L"\\ZeltraneRemove.exe\" \"" + kPublished + L"\"";
        const std::vector<std::wstring> runs =
            readable ? std::vector<std::wstring>{OlderRun(RunFolder(1), kPublished), own}
                     : std::vector<std::wstring>{own};
        EXPECT_EQ(Started(), runs);
    }
    EXPECT_TRUE(
        Logged(L"Zeltrane: cannot read the older packages recorded with this product, "
               L"error 0x0000000D"));
}

// An older product's published name is passed on only while its INF has the
// digest that the older product recorded (from 1.10.1 on): a record edited
// to name another package, or a name that the platform gave a later one,
// leaves that package alone.
TEST_F(MsiAction, AnOlderRecordIsTakenOnlyWhileItNamesItsOwnPackage) {
    const std::wstring oem5 = L"C:\\Windows\\INF\\oem5.inf";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring passed;
    } cases[] = {
        {"its own package", [] {}, L"oem5.inf"},
        {"recorded before 1.10.1", [] { fake.registry[kOlderKey].erase(L"Package"); }, L"oem5.inf"},
        {"recorded before 1.12.0", [] { fake.registry[kOlderKey].erase(L"Catalog"); }, L"oem5.inf"},
        {"another package's bytes now",
         [] { fake.files[L"C:\\Windows\\INF\\oem5.inf"] = "[Version] other"; }, L""},
        {"no such package now", [] { fake.files.erase(L"C:\\Windows\\INF\\oem5.inf"); }, L""},
        {"another catalog now", [] { fake.files[StagedCatalog(L"oem5.inf")] = "another"; }, L""},
        {"no published name",
         [] { fake.registry[kOlderKey][L"PublishedInf"].second = Bytes(L"..\\oem5.inf"); }, L""},
        {"the INF folder unknown", [] { fake.windowsFolder.clear(); }, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kOlderKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem5.inf")};
        fake.registry[kOlderKey][L"Package"] = {REG_SZ, Bytes(FakeDigest("[Version] old"))};
        fake.registry[kOlderKey][L"Catalog"] = {REG_SZ, Bytes(FakeDigest("its catalog"))};
        fake.files[oem5] = "[Version] old";
        fake.files[StagedCatalog(L"oem5.inf")] = "its catalog";
        fake.properties[L"ZeltraneOlder"] = kOlder;
        c.arrange();
        EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
        EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], c.passed);
        if (c.passed.empty()) {
            EXPECT_EQ(fake.logged.front().substr(0, 48),
                      L"Zeltrane: the older product's recorded package \"");
        }
    }
}

// What the older products recorded that cannot be passed on stays staged,
// and the installation goes on.
TEST_F(MsiAction, OlderPackagesThatCannotBeReadStayStaged) {
    fake.registry[kOlderKey][L"PublishedInf"] = {REG_DWORD, "1234"};
    fake.properties[L"ZeltraneOlder"] = kOlder;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"");
    EXPECT_EQ(fake.logged.front(), L"Zeltrane: cannot read the record of the older product \"" +
                                       kOlder + L"\": its package stays staged");

    SetUp();
    fake.registry[kOlderKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem5.inf")};
    fake.properties[L"ZeltraneOlder"] = kOlder;
    fake.setPropertyError = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: cannot pass the older packages on: they stay staged, error 0x00000057");

    SetUp();
    fake.propertyError = ERROR_MORE_DATA;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_TRUE(fake.properties.empty());

    // More names than the installation's data can carry: none.
    SetUp();
    std::wstring names;
    for (int name = 1000000; name < 1000270; ++name) {
        names += L"oem" + std::to_wstring(name) + L".inf;";
    }
    for (int product = 10; product < 19; ++product) {
        const std::wstring code =
            L"{11111111-2222-3333-4444-5555555555" + std::to_wstring(product) + L"}";
        fake.properties[L"ZeltraneOlder"] += code + L";";
        fake.registry[L"SOFTWARE\\Zeltrane\\Products\\" + code][L"SupersededInf"] = {REG_SZ,
                                                                                     Bytes(names)};
    }
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"");
    EXPECT_EQ(fake.logged.front(),
              L"Zeltrane: the older products record too many packages: they stay staged");
}

// What a removal could not take stays recorded, with only the product
// line's UpgradeCode, and the line's next installation takes it as an
// upgrade takes its older versions'; another line's record stays.
const std::wstring kLine = L"{99999999-8888-7777-6666-555555555555}";

void Left(const std::wstring& key, const std::wstring& names, const std::wstring& line) {
    fake.registry[key][L"SupersededInf"] = {REG_SZ, Bytes(names)};
    fake.registry[key][L"LeftBy"] = {REG_SZ, Bytes(line)};
}

TEST_F(MsiAction, WhatTheRemovalCouldNotTakeStaysRecordedForTheProductLinesNextInstallation) {
    fake.properties[L"UpgradeCode"] = kLine;
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.registry[kKey][L"SupersededInf"] = {REG_SZ, Bytes(L"oem5.inf;oem6.inf")};
    for (const std::wstring name : {L"oem5.inf", L"oem6.inf", L"oem7.inf"}) {
        fake.originalNames[L"C:\\Windows\\INF\\" + name] = L"zt-line.inf";
    }
    fake.customActionData = L"zt-line.inf|remove";
    fake.childExitCodes = {kInUse, 0, 0};
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u);
    EXPECT_TRUE(
        Logged(L"Zeltrane: the older packages \"oem5.inf\" stay staged, recorded for "
               L"this product's next installation"));
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    Left(kOlderKey, L"oem5.inf", kLine);
    EXPECT_EQ(fake.registry[kKey], fake.registry[kOlderKey]) << "only what stays, and the line";

    // Unless the line cannot be recorded with it.
    SetUp();
    fake.registry[kKey][L"SupersededInf"] = {REG_SZ, Bytes(L"oem5.inf")};
    fake.registryValueFails = L"LeftBy";
    fake.registryError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_EQ(fake.registry.count(kKey), 0u);
    EXPECT_TRUE(Logged(L"Zeltrane: cannot keep the record of the older packages that stay staged"));

    // The line's next installation, whatever its version: its own record
    // (the same version again) and another version's, none of another line
    // or key.
    SetUp();
    fake.properties[L"UpgradeCode"] = kLine;
    Left(kKey, L"oem6.inf", kLine);
    Left(kOlderKey, L"oem5.inf", kLine);
    Left(kAnother, L"oem8.inf", kLine);
    Left(L"SOFTWARE\\Zeltrane\\Products\\{11111111-2222-3333-4444-555555550000}", L"oem9.inf",
         L"{another line}");
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"oem6.inf;oem5.inf");
    EXPECT_EQ(fake.properties[L"ZeltraneOlder"], kOlder);
    fake.originalNames[L"C:\\Windows\\INF\\oem5.inf"] = L"zt-line.inf";
    fake.originalNames[L"C:\\Windows\\INF\\oem6.inf"] = L"zt-line.inf";
    fake.customActionData =
        Data(L"succeed", kA, Files(), L"remove|" + kOlder + L"|oem6.inf;oem5.inf");
    fake.childExitCodes = {0, 0, kInUse};
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.registry.count(kOlderKey), 0u) << "taken over";
    EXPECT_EQ(fake.registry[kKey].count(L"LeftBy"), 0u) << "a live record again";
    EXPECT_EQ(fake.registry[kKey][L"SupersededInf"].second, Bytes(L"oem5.inf"));
    EXPECT_EQ(fake.registry.count(kAnother), 1u);

    // Read beside older versions, and as far as it fits.
    SetUp();
    fake.properties[L"UpgradeCode"] = kLine;
    Left(kOlderKey, L"oem5.inf", kLine);
    fake.properties[L"ZeltraneOlder"] = L"{a version}";
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneOlder"], L"{a version};" + kOlder);
    fake.properties[L"ZeltraneOlder"] = std::wstring(kCapacity - 2, L'x');
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneOlder"].size(), kCapacity - 2);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"");
    fake.properties[L"ZeltraneOlder"] = L"";
    fake.setPropertyError = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_TRUE(
        Logged(L"Zeltrane: cannot pass the older packages on: they stay staged, error 0x00000057"));
    fake.productCodeError = ERROR_MORE_DATA;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    fake.productCodeError = 0;
    fake.properties[L"UpgradeCode"] = std::wstring(kCapacity, L'{');
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(std::count(fake.logged.begin(), fake.logged.end(),
                         L"Zeltrane: cannot read this product's codes: what its removals left "
                         L"stays staged"),
              2);
    fake.registry[kKey][L"SupersededInf"] = {REG_SZ, Bytes(L"oem5.inf")};
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_EQ(fake.registry.count(kKey), 0u) << "nothing kept for a line it cannot name";

    // None there; more than the installation's data can carry: none.
    SetUp();
    fake.properties[L"UpgradeCode"] = kLine;
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties.count(L"ZeltraneOlder"), 0u);
    std::wstring names;
    for (int name = 1000000; name < 1000270; ++name) {
        names += L"oem" + std::to_wstring(name) + L".inf;";
    }
    for (int product = 10; product < 20; ++product) {
        Left(L"SOFTWARE\\Zeltrane\\Products\\{11111111-2222-3333-4444-5555555555" +
                 std::to_wstring(product) + L"}",
             names, kLine);
    }
    EXPECT_EQ(FindSupersededPackages(kFakeInstall), 0u);
    EXPECT_EQ(fake.properties[L"ZeltraneSuperseded"], L"");
    EXPECT_EQ(fake.properties.count(L"ZeltraneOlder"), 0u);
}

}  // namespace
