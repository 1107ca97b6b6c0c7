// The install action's record of the staged package, which the removal
// reads.

#include <string>
#include <vector>

#include "msi_action_fixture.h"

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
        fake.copy = Fails(ERROR_IN_WOW64);
        fake.files[L"C:\\Windows\\INF\\oem3.inf"] = "[Version] other, longer";
        fake.files[L"C:\\Windows\\INF\\oem5.inf"] = "[Version] ourz";
        fake.files[copy] = "[Version] ours";
        c.arrange();
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), c.logged == found ? 0u : kFails);
        EXPECT_EQ(fake.logged.back(), c.logged);
        fake.files.clear();
    }
}

}  // namespace
