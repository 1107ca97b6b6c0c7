// The removal action and the restart it may ask for.

#include <string>
#include <vector>

#include "msi_action_fixture.h"

namespace {

// The removal on uninstall: the recorded package, checked against the INF's
// original name, taken back by the ZeltraneRemove.exe that the DLL carries.
const std::wstring kRemovalLine = L"\"" + kRemover + L"\" \"" + kPublished + L"\"";

std::wstring RemovalData(const std::wstring& setting) { return L"zt-line.inf|" + setting; }

std::wstring Removal(const std::wstring& said) {
    return L"Zeltrane: removal of \"" + kPublished + L"\": ZeltraneRemove.exe " + said;
}

std::wstring Recorded(const std::wstring& said) {
    return L"Zeltrane: the recorded package \"oem7.inf\"" + said;
}

TEST_F(MsiAction, RemovesTheRecordedPackageAndNoOther) {
    const std::wstring notData = L"Zeltrane: CustomActionData is not <INF name>|<setting>";
    const std::wstring unreadable =
        L"Zeltrane: cannot read the recorded name of the staged package, error ";
    const struct {
        const char* what;
        std::wstring data;
        void (*arrange)();
        UINT result;
        size_t starts;
        std::wstring logged;
    } cases[] = {
        {"removed", RemovalData(L"remove"), [] {}, 0, 1,
         Removal(L"ended with 0x00000000, the driver package is off its devices and out of the "
                 L"driver store")},
        {"a restart needed", RemovalData(L"remove"), [] { fake.childExitCode = 3010; }, 0, 1,
         Removal(L"ended with 0x00000BC2, the platform finishes the removal after a restart")},
        {"not removed", RemovalData(L"remove"), [] { fake.childExitCode = 0xE0000000; }, kFails, 1,
         Removal(L"ended with 0xE0000000, the driver was not removed: the product stays "
                 L"installed")},
        {"not started", RemovalData(L"remove"), [] { fake.start = Fails(ERROR_FILE_NOT_FOUND); },
         kFails, 1, Removal(L"could not be started or waited for, error 0x00000002")},
        {"its original name in another case", L"ZT-LINE.INF|remove", [] {}, 0, 1,
         Removal(L"ended with 0x00000000, the driver package is off its devices and out of the "
                 L"driver store")},
        {"kept", RemovalData(L"keep"), [] {}, 0, 0,
         L"Zeltrane: ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package "
         L"staged"},
        {"another setting", RemovalData(L"Remove"), [] {}, kFails, 0,
         L"Zeltrane: ZELTRANE_ON_UNINSTALL is neither remove nor keep"},
        {"no setting", L"zt-line.inf", [] {}, kFails, 0, notData},
        {"a field too many", RemovalData(L"remove|x"), [] {}, kFails, 0, notData},
        {"no product code", RemovalData(L"remove"), [] { fake.productCodeError = ERROR_MORE_DATA; },
         kFails, 0, L"Zeltrane: cannot read ProductCode, error 0x000000EA"},
        {"nothing recorded", RemovalData(L"remove"), [] { fake.registry.clear(); }, 0, 0,
         L"Zeltrane: no driver package is recorded for this product: nothing to remove"},
        {"no longer staged", RemovalData(L"remove"), [] { fake.originalNames.clear(); }, 0, 0,
         Recorded(L" is no longer staged: nothing to remove")},
        {"now another package's", RemovalData(L"remove"),
         [] { fake.originalNames[kPublished] = L"other.inf"; }, 0, 0,
         Recorded(L" is now the package of \"other.inf\", not of \"zt-line.inf\": nothing "
                  L"removed")},
        {"original name unreadable", RemovalData(L"remove"),
         [] { fake.originalName = Fails(ERROR_ACCESS_DENIED); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF unreadable", RemovalData(L"remove"),
         [] { fake.infInformation = Fails(ERROR_ACCESS_DENIED); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF folder unknown", RemovalData(L"remove"), [] { fake.windowsFolder.clear(); }, kFails,
         0, L"Zeltrane: cannot read the original name of the staged package, error 0x00000005"},
        {"INF folder too long", RemovalData(L"remove"),
         [] { fake.windowsFolder = std::wstring(MAX_PATH, L'w'); }, kFails, 0,
         L"Zeltrane: cannot read the original name of the staged package, error 0x0000007A"},
        {"record unreadable", RemovalData(L"remove"),
         [] { fake.registryCallFails = "RegQueryValueExW"; }, kFails, 0,
         unreadable + L"0x00000005"},
        {"record of another type", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].first = REG_EXPAND_SZ; }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"record empty", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].second = Bytes(L""); }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"record a path", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].second = Bytes(L"..\\oem7.inf"); }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"record a name on a drive", RemovalData(L"remove"),
         [] { fake.registry[kKey][L"PublishedInf"].second = Bytes(L"C:oem7.inf"); }, kFails, 0,
         unreadable + L"0x0000000D"},
        {"restart request not cleared", RemovalData(L"keep"),
         [] { fake.registryCallFails = "RegDeleteValueW"; }, kFails, 0,
         L"Zeltrane: cannot clear an earlier restart request, error 0x00000005"},
        {"key not opened", RemovalData(L"keep"), [] { fake.registryCallFails = "RegOpenKeyExW"; },
         kFails, 0, L"Zeltrane: cannot clear an earlier restart request, error 0x00000005"},
        {"programs not written", RemovalData(L"remove"),
         [] { fake.resources.erase(L"ZELTRANE_REMOVE_ARM64"); }, kFails, 0,
         L"Zeltrane: cannot write \"" + RunFolder(1) +
             L"\\arm64\\ZeltraneRemove.exe\", error 0x00000716"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.registryError = ERROR_ACCESS_DENIED;
        c.arrange();
        fake.customActionData = c.data;
        EXPECT_EQ(RemoveDriver(kFakeInstall), c.result);
        EXPECT_EQ(Started(), (std::vector<std::wstring>(c.starts, kRemovalLine)));
        if (c.starts == 1) {
            EXPECT_EQ(fake.filesAtStart.at(kRemover), "x86 remove");
            EXPECT_EQ(fake.starts[0].currentDirectory, fake.systemFolder);
        }
        EXPECT_EQ(fake.logged.back(), c.logged);
        EXPECT_TRUE(fake.copies.empty()) << "the installed INF is never asked";
    }
}

TEST_F(MsiAction, ARemovalThatCannotBeStartedAsGivenFailsTheUninstall) {
    fake.propertyError = ERROR_MORE_DATA;
    EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
    EXPECT_EQ(
        fake.logged,
        (std::vector<std::wstring>{L"Zeltrane: cannot read CustomActionData, error 0x000000EA"}));

    // Trailing backslashes double when quoted: the path fits, its command line not.
    SetUp();
    const std::wstring name = L"x" + std::wstring(20000, L'\\');
    fake.windowsFolder = L"C:";
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.originalNames[L"C:\\INF\\oem7.inf"] = L"zt-line.inf";
    fake.files[L"C:\\INF\\oem7.inf"] = "[Version] ours";
    fake.customActionData = RemovalData(L"remove");
    fake.resources[L"ZELTRANE_REMOVE_X86"] = "";
    fake.tempFolder = L"C:\\" + std::wstring(200, L't') + L"\\";
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u) << "the run's folder fits";
    fake.folders.clear();
}

// The restart request crosses from the deferred removal to ScheduleRestart
// in the product's key, which only administrators can write; a request
// that was there before the removal started never counts.
TEST_F(MsiAction, OnlyThisRemovalsRestartRequestAsksForARestart) {
    const struct {
        const char* what;
        DWORD exitCode;
        const wchar_t* setting;
        bool earlierRequest;
        bool asks;
    } cases[] = {
        {"removal needs a restart", 3010, L"remove", false, true},
        {"removal needs none", 0, L"remove", true, false},
        {"kept, with an earlier request", 0, L"keep", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        if (c.earlierRequest) {
            const DWORD one = 1;
            fake.registry[kKey][L"RestartNeeded"] = {
                REG_DWORD, std::string(reinterpret_cast<const char*>(&one), sizeof one)};
        }
        fake.registry[L"SOFTWARE\\Zeltrane\\Products\\{another product}"];
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.customActionData = RemovalData(c.setting);
        fake.childExitCode = c.exitCode;
        ASSERT_EQ(RemoveDriver(kFakeInstall), 0u);
        EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
        EXPECT_EQ(fake.modesSet,
                  (c.asks ? std::vector<std::pair<int, BOOL>>{{MSIRUNMODE_REBOOTATEND, TRUE}}
                          : std::vector<std::pair<int, BOOL>>{}));
        EXPECT_EQ(fake.registry.count(kKey), 0u) << "the product's key deleted";
        EXPECT_EQ(fake.registry.size(), 1u) << "another product's stays";
    }
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package "
              L"staged");
}

TEST_F(MsiAction, ScheduleRestartTidiesUpAndAsksOnlyForAWellFormedRequest) {
    const DWORD two = 2;
    fake.registry[kKey][L"RestartNeeded"] = {
        REG_DWORD, std::string(reinterpret_cast<const char*>(&two), sizeof two)};
    fake.registry[L"SOFTWARE\\Zeltrane\\Products"];
    fake.registry[L"SOFTWARE\\Zeltrane"];
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());
    EXPECT_TRUE(fake.registry.empty()) << "the parents too, where no other product is left";

    SetUp();
    fake.registry[kKey][L"RestartNeeded"] = {REG_SZ, Bytes(L"1")};
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());

    SetUp();
    fake.productCodeError = ERROR_MORE_DATA;
    EXPECT_EQ(ScheduleRestart(kFakeInstall), 0u);
    EXPECT_TRUE(fake.modesSet.empty());
}

TEST_F(MsiAction, ARestartRequestThatCannotBePassedOnIsLogged) {
    fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
    fake.originalNames[kPublished] = L"zt-line.inf";
    fake.customActionData = RemovalData(L"remove");
    fake.childExitCode = 3010;
    fake.registryCallFails = "RegCreateKeyExW";
    fake.registryError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.logged.back(),
              L"Zeltrane: cannot pass the restart request on: restart Windows to finish");
}

// A package that another product uses stays with it: the removal takes only
// this product's use off the package's record, and says who still uses it.
const std::wstring kRecord = L"SOFTWARE\\Zeltrane\\Packages\\" + FakeDigest("[Version] ours");
const std::wstring kOwn = kRecord + L"\\{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
const std::wstring kOtherMsi = L"{0D1E2F30-4152-6374-8596-A7B8C9DAEB00}";
const std::wstring kOldMsi =
    L"SOFTWARE\\Zeltrane\\Products\\{0D1E2F30-4152-6374-8596-A7B8C9DAEB01}";

TEST_F(MsiAction, APackageThatAnotherProductUsesStaysWithIt) {
    const std::wstring stays = L"Zeltrane: the driver package \"" + kPublished +
                               L"\" stays installed and staged: it is still used by ";
    const struct {
        const char* what;
        void (*arrange)();
        UINT result;
        bool removed;
        std::wstring logged;
        bool ownerStays = false;
    } cases[] = {
        {"another MSI", [] { fake.registry[kRecord + L"\\" + kOtherMsi]; }, 0, false,
         stays + L"\"" + kOtherMsi + L"\""},
        {"an NSIS setup and another MSI",
         [] {
             fake.registry[kRecord + L"\\NSIS {5D0C7E1A-2B3C-4D5E-8F90-A1B2C3D4E5F6} ZT net"];
             fake.registry[kRecord + L"\\" + kOtherMsi];
         },
         0, false,
         stays + L"\"NSIS {5D0C7E1A-2B3C-4D5E-8F90-A1B2C3D4E5F6} ZT net\", \"" + kOtherMsi + L"\""},
        {"another MSI of this package's catalog",
         [] {
             fake.registry[kRecord + L"\\" + kOtherMsi][L"Catalog"] = {
                 REG_SZ, Bytes(FakeDigest("its catalog"))};
         },
         0, false, stays + L"\"" + kOtherMsi + L"\""},
        {"another MSI of the INF with another catalog",
         [] {
             fake.registry[kRecord + L"\\" + kOtherMsi][L"Catalog"] = {
                 REG_SZ, Bytes(FakeDigest("another signing"))};
         },
         0, true, L""},
        {"an MSI of 1.10.0 that names it",
         [] {
             fake.registry[kOldMsi][L"PublishedInf"] = {REG_SZ, Bytes(L"OEM7.inf")};
         },
         0, false, stays + L"\"{0D1E2F30-4152-6374-8596-A7B8C9DAEB01}\""},
        {"an MSI of 1.10.0 that names another",
         [] {
             fake.registry[kOldMsi][L"PublishedInf"] = {REG_SZ, Bytes(L"oem8.inf")};
         },
         0, true, L""},
        {"an MSI of 1.10.0 whose record is unreadable",
         [] {
             fake.registry[kOldMsi][L"PublishedInf"] = {REG_DWORD, Bytes(L"oem7.inf")};
         },
         0, true, L""},
        {"a newer MSI that names it, of another package",
         [] {
             fake.registry[kOldMsi][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
             fake.registry[kOldMsi][L"Package"] = {REG_SZ, Bytes(FakeDigest("other"))};
         },
         0, true, L""},
        {"nobody else", [] {}, 0, true, L""},
        {"recorded before 1.10.1", [] { fake.registry[kKey].erase(L"Package"); }, 0, true, L""},
        {"the name now another package's",
         [] {
             fake.registry[kKey][L"Package"] = {REG_SZ, Bytes(FakeDigest("[Version] old"))};
         },
         0, false,
         L"Zeltrane: the recorded package \"" + kPublished +
             L"\" is no longer the package that this product installed: nothing removed",
         true},
        {"the name now the INF's with another catalog",
         [] { fake.files[StagedCatalog(L"oem7.inf")] = "another signing"; }, 0, false,
         L"Zeltrane: the recorded package \"" + kPublished +
             L"\" is no longer the package that this product installed: nothing removed",
         true},
        {"its catalog gone", [] { fake.files.erase(StagedCatalog(L"oem7.inf")); }, 0, false, L"",
         true},
        {"its recorded catalog unreadable",
         [] { fake.registry[kKey][L"Catalog"].first = REG_DWORD; }, 0, false, L"", true},
        {"the system folder unknown", [] { fake.systemFolderCall = Fails(ERROR_ACCESS_DENIED); }, 0,
         false, L"", true},
        {"the system folder too long", [] { fake.systemFolder = std::wstring(MAX_PATH, L'x'); }, 0,
         false, L"", true},
        {"its INF unreadable", [] { fake.unreadable = {kPublished}; }, kFails, false,
         L"Zeltrane: cannot read the staged package's INF \"" + kPublished +
             L"\", error 0x00000005",
         true},
        {"the removal failed", [] { fake.childExitCode = 0xE0000000; }, kFails, true, L"", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.registry[kKey][L"Package"] = {REG_SZ, Bytes(FakeDigest("[Version] ours"))};
        fake.registry[kKey][L"Catalog"] = {REG_SZ, Bytes(FakeDigest("its catalog"))};
        fake.registry[kRecord];
        fake.registry[kOwn];
        fake.originalNames[kPublished] = L"zt-line.inf";
        fake.customActionData = RemovalData(L"remove");
        c.arrange();
        EXPECT_EQ(RemoveDriver(kFakeInstall), c.result);
        EXPECT_EQ(Started(), c.removed ? std::vector<std::wstring>{kRemovalLine}
                                       : std::vector<std::wstring>{});
        if (!c.logged.empty()) {
            EXPECT_EQ(fake.logged.back(), c.logged);
        }
        EXPECT_EQ(fake.registry.count(kOwn), c.ownerStays ? 1u : 0u);
        if (c.removed && c.result == 0) {
            // The record goes with the package, but for a use of the INF's
            // other package.
            EXPECT_EQ(fake.registry.count(kRecord),
                      fake.registry.count(kRecord + L"\\" + kOtherMsi));
        }
    }
    // Kept, the package is no longer this product's; another's use stays.
    SetUp();
    fake.registry[kKey][L"Package"] = {REG_SZ, Bytes(FakeDigest("[Version] ours"))};
    fake.registry[kRecord];
    fake.registry[kOwn];
    fake.registry[kRecord + L"\\" + kOtherMsi];
    fake.customActionData = RemovalData(L"keep");
    EXPECT_EQ(RemoveDriver(kFakeInstall), 0u);
    EXPECT_EQ(fake.registry.count(kOwn), 0u);
    EXPECT_EQ(fake.registry.count(kRecord + L"\\" + kOtherMsi), 1u);
}

}  // namespace
