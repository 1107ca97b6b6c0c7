// The install action's driver package: installed only from a copy that
// only SYSTEM and Administrators can write, each file checked against its
// recorded digest.

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "msi_action_fixture.h"
#include "pinned.h"
#include "text.h"

namespace {

// What runs is what the DLL carries, on the package's checked copy, each in
// a folder of the run's own that only SYSTEM and Administrators can enter,
// the programs in a release's layout; a file in the package's folder that
// the MSI did not install is not copied; nothing of either is left.
TEST_F(MsiAction, RunsTheProgramsItCarriesOnACheckedCopyOnlyAdministratorsCanWrite) {
    fake.files[kPackage + L"amd64\\planted.dll"] = "a user's";
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(Started(), std::vector<std::wstring>{CommandLine(kA)});
    EXPECT_EQ(fake.foldersAtStart, (std::map<std::wstring, std::wstring>{{kCopy, kRunAccess},
                                                                         {kCopy + L"\\amd64", L""},
                                                                         {kRun, kRunAccess},
                                                                         {kRun + L"\\arm64", L""},
                                                                         {kRun + L"\\x64", L""}}));
    std::map<std::wstring, std::string> expected = {
        {kProgram, "x86 Zeltrane"},
        {kRun + L"\\arm64\\Zeltrane.exe", "arm64 Zeltrane"},
        {kRun + L"\\x64\\Zeltrane.exe", "x64 Zeltrane"},
        {kInf, "[Version] ours"},
        {kCopy + L"\\amd64\\zt-line.sys", "the driver"},
        {kCopy + L"\\amd64\\zt-line.cat", "its catalog"},
        {kPackage + L"amd64\\planted.dll", "a user's"},
        {kPublished, "[Version] ours"},
        {StagedCatalog(L"oem7.inf"), "its catalog"}};
    for (const auto& file : kPackageFiles) {
        expected[kPackage + file.first] = file.second;
    }
    EXPECT_EQ(fake.filesAtStart, expected);
    EXPECT_EQ(fake.resourceModules, std::vector<HMODULE>(3, FakeActionModule()));
    EXPECT_EQ(fake.logged.front(), kChecked);
    // Each file read with every folder of its path held, from the root.
    const std::vector<std::wstring> folders = {L"C:\\", L"C:\\Program Files (x86)",
                                               L"C:\\Program Files (x86)\\ZT line",
                                               L"C:\\Program Files (x86)\\ZT line\\driver"};
    EXPECT_TRUE(std::equal(folders.begin(), folders.end(), fake.listedFolders.begin()));
}

// Only a path on a drive, of no more folders than it can hold, is opened:
// nothing of another stays open.
TEST(PinnedFile, OpensOnlyAPathOnADriveThatItCanHoldWhole) {
    fake = {};
    std::wstring deep = L"C:";
    for (DWORD i = 0; i < kMostPinnedFolders; ++i) {
        deep += L"\\f";
        fake.folders[deep] = L"";
    }
    const std::wstring longest(kCapacity, L'a');
    const struct {
        std::wstring path;
        DWORD expected;
    } cases[] = {{L"\\\\server\\share\\zt-line.inf", ERROR_BAD_PATHNAME},
                 {L"C:zt-line.inf", ERROR_BAD_PATHNAME},
                 {L"1:\\zt-line.inf", ERROR_BAD_PATHNAME},
                 {deep + L"\\zt-line.inf", ERROR_FILENAME_EXCED_RANGE},
                 {L"C:\\" + longest, ERROR_FILENAME_EXCED_RANGE}};
    for (const auto& c : cases) {
        PinnedFile pinned;
        EXPECT_EQ(OpenPinned(c.path.c_str(), pinned), c.expected);
        EXPECT_EQ(fake.openFiles, 0);
    }
}

// The package's folder as the data may give it: without its closing
// backslash, the digests in upper case; a folder of none is no folder.
TEST_F(MsiAction, ReadsThePackagesFolderAndDigestsAsTheyMayBeWritten) {
    std::wstring upper;
    for (const auto& file : kPackageFiles) {
        std::wstring digest = FakeDigest(file.second);
        std::transform(digest.begin(), digest.end(), digest.begin(), towupper);
        upper += (upper.empty() ? L"" : L"*") + file.first + L"*" + digest;
    }
    fake.customActionData = kPackage.substr(0, kPackage.size() - 1) + L"|zt-line.inf|succeed|" +
                            upper + L"|remove|||" + kA;
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_EQ(Started(), std::vector<std::wstring>{CommandLine(kA)});

    SetUp();
    fake.customActionData = L"|zt-line.inf|succeed|" + Files() + L"|remove|||" + kA;
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());

    // The programs cannot be written for the installation: nothing starts.
    SetUp();
    fake.resources.erase(L"ZELTRANE_X86");
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
    EXPECT_TRUE(fake.starts.empty());
}

// A file of the package that is not the one the MSI installed (changed,
// swapped, gone), or that cannot be copied and checked: nothing starts,
// nothing of the copy stays, the installation fails naming the file.
TEST_F(MsiAction, APackageFileThatIsNotTheMsisOwnFailsTheInstallation) {
    const std::wstring driver = kPackage + L"amd64\\zt-line.sys";
    const std::wstring said = L"Zeltrane: the driver package's file \"" + driver;
    const std::wstring notCopied =
        said + L"\" cannot be copied to check it: the installation fails, error ";
    // The first file that the action copies, the INF, where every copy fails.
    const std::wstring infNotCopied = L"Zeltrane: the driver package's file \"" + kPackage +
                                      L"zt-line.inf\" cannot be copied to check it: the "
                                      L"installation fails, error ";
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"changed", [] { fake.files[kPackage + L"amd64\\zt-line.sys"] = "a user's driver"; },
         said + L"\" is not the file that this MSI installed: the installation fails"},
        {"one byte more", [] { fake.files[kPackage + L"amd64\\zt-line.sys"] += "!"; },
         said + L"\" is not the file that this MSI installed: the installation fails"},
        {"gone", [] { fake.files.erase(kPackage + L"amd64\\zt-line.sys"); },
         notCopied + L"0x00000002"},
        {"unreadable", [] { fake.unreadable = {kPackage + L"amd64\\zt-line.sys"}; },
         notCopied + L"0x00000005"},
        {"reading fails", [] { fake.readFile = Fails(ERROR_ACCESS_DENIED); },
         infNotCopied + L"0x00000005"},
        {"no provider for the digest", [] { fake.providerFailsOnCall = 2; },
         infNotCopied + L"0x00000005"},
        {"no hash", [] { fake.hashCreation = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"no digest", [] { fake.hashValue = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"the copy not written", [] { fake.writeFile = Fails(ERROR_DISK_FULL); },
         infNotCopied + L"0x00000070"},
        {"hashing fails", [] { fake.hashing = Fails(ERROR_INVALID_PARAMETER); },
         infNotCopied + L"0x00000057"},
        {"its folder refused",
         [] {
             fake.createFolderFailsOnCall = 2;
             fake.createFolderError = ERROR_DISK_FULL;
         },
         notCopied + L"0x00000070"},
        {"the copy refused", [] { fake.createFile = Fails(ERROR_DISK_FULL); },
         infNotCopied + L"0x00000070"},
        {"no folder for the copy", [] { fake.random = Fails(ERROR_ACCESS_DENIED); },
         L"Zeltrane: cannot make a folder for the driver package, error 0x00000005"},
        // A link that a user made in the path is never followed.
        {"a folder of its path a link",
         [] { fake.reparsePoints = {L"C:\\Program Files (x86)\\ZT line"}; },
         infNotCopied + L"0x00000780"},
        {"the file a link", [] { fake.reparsePoints = {kPackage + L"amd64\\zt-line.sys"}; },
         notCopied + L"0x00000780"},
        {"a folder of its path a file", [] { fake.files[L"C:\\Program Files (x86)"] = ""; },
         infNotCopied + L"0x0000010B"},
        {"what a part of its path is, unread",
         [] { fake.fileInformation = Fails(ERROR_ACCESS_DENIED); }, infNotCopied + L"0x00000005"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.customActionData = Data(L"succeed", kA);
        c.arrange();
        EXPECT_EQ(InstallDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
        EXPECT_TRUE(fake.copies.empty()) << "nothing staged";
        EXPECT_EQ(fake.logged, std::vector<std::wstring>{c.logged});
    }
}

}  // namespace
