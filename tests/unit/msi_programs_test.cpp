// The programs that the DLL carries and the run folders that every action
// writes them into.

#include <map>
#include <string>
#include <vector>

#include "msi_action_fixture.h"

namespace {

// A run's folder has a name from the random source: one that is there
// already, folder, file or link, is another user's, passed over and left as
// it is; the local system account's own temporary folder where Windows has
// GetTempPath2W.
TEST_F(MsiAction, ANameThatIsThereAlreadyIsPassedOver) {
    fake.folders[kCopy] = L"a user's";
    fake.files[kRun];
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    ASSERT_EQ(fake.starts.size(), 1u);
    EXPECT_EQ(fake.starts[0].commandLine, L"\"" + RunFolder(4) + L"\\Zeltrane.exe\" \"" +
                                              RunFolder(3) + L"\\zt-line.inf\" \"" + kA + L"\"");
    EXPECT_EQ(fake.folders, (std::map<std::wstring, std::wstring>{{kCopy, L"a user's"}}));
    fake.folders.clear();
    fake.files.clear();

    for (const bool kernel32Found : {true, false}) {
        SetUp();
        fake.hasGetTempPath2W = true;
        fake.kernel32Found = kernel32Found;
        fake.customActionData = Data(L"succeed", kA);
        EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
        ASSERT_EQ(fake.starts.size(), 1u);
        EXPECT_EQ(fake.starts[0].application,
                  (kernel32Found ? RunFolder(2, L"C:\\Windows\\SystemTemp\\") : kRun) +
                      L"\\Zeltrane.exe");
        EXPECT_EQ(fake.folders, (std::map<std::wstring, std::wstring>{}));
    }
}

// The programs cannot be written: nothing starts, nothing stays, the
// removal fails with the reason in its log.
TEST_F(MsiAction, ProgramsThatCannotBeWrittenFailTheActionAndStartNothing) {
    const std::wstring notMade = L"Zeltrane: cannot make a folder for the programs, error ";
    const std::wstring notWritten = L"Zeltrane: cannot write \"" + kRemover.substr(0, kCopy.size());
    const struct {
        const char* what;
        void (*arrange)();
        std::wstring logged;
    } cases[] = {
        {"no temporary folder", [] { fake.tempFolder.clear(); }, notMade + L"0x00000005"},
        {"temporary folder too long", [] { fake.tempFolder = std::wstring(MAX_PATH + 1, L't'); },
         notMade + L"0x0000007A"},
        {"no descriptor", [] { fake.descriptor = Fails(ERROR_ACCESS_DENIED); },
         notMade + L"0x00000005"},
        // The first provider hashes the staged INF; the second names the folder.
        {"no random source", [] { fake.providerFailsOnCall = 2; }, notMade + L"0x00000005"},
        {"no random bytes", [] { fake.random = Fails(ERROR_ACCESS_DENIED); },
         notMade + L"0x00000005"},
        {"folder refused",
         [] {
             fake.createFolderFailsOnCall = 1;
             fake.createFolderError = ERROR_ACCESS_DENIED;
         },
         notMade + L"0x00000005"},
        {"every name taken",
         [] {
             for (int call = 1; call <= 8; ++call) {
                 fake.files[RunFolder(call)];
             }
         },
         notMade + L"0x000000B7"},
        {"subfolder refused",
         [] {
             fake.createFolderFailsOnCall = 2;
             fake.createFolderError = ERROR_DISK_FULL;
         },
         notWritten + L"\\x64\", error 0x00000070"},
        {"resource missing", [] { fake.resources.erase(L"ZELTRANE_REMOVE_X64"); },
         notWritten + L"\\x64\\ZeltraneRemove.exe\", error 0x00000716"},
        {"file refused", [] { fake.createFile = Fails(ERROR_DISK_FULL); },
         notWritten + L"\\ZeltraneRemove.exe\", error 0x00000070"},
        {"write fails", [] { fake.writeFile = Fails(ERROR_DISK_FULL); },
         notWritten + L"\\ZeltraneRemove.exe\", error 0x00000070"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        fake.registry[kKey][L"PublishedInf"] = {REG_SZ, Bytes(L"oem7.inf")};
        fake.originalNames[kPublished] = L"zt-line.inf";
        c.arrange();
        fake.customActionData = L"zt-line.inf|remove";
        EXPECT_EQ(RemoveDriver(kFakeInstall), kFails);
        EXPECT_TRUE(fake.starts.empty());
        EXPECT_EQ(fake.logged.back(), c.logged);
        EXPECT_EQ(fake.folders.count(RunFolder(1)), 0u);
        fake.files.clear();
    }
}

TEST_F(MsiAction, AFolderThatCannotBeDeletedIsLoggedAndChangesNoResult) {
    fake.removeFolder = Fails(ERROR_ACCESS_DENIED);
    fake.customActionData = Data(L"succeed", kA);
    EXPECT_EQ(InstallDriver(kFakeInstall), 0u);
    EXPECT_TRUE(Logged(L"Zeltrane: cannot delete \"" + kRun + L"\", error 0x00000005"));
}

}  // namespace
