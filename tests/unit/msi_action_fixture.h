#pragma once

// What the custom action's tests share: the session, the package and the
// programs as the template sets them up, and the checks after every test.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "action.h"
#include "fake_platform.h"

// A run's folder: the temporary folder, then Zeltrane- and the random bytes
// of that call of the provider, all `call` (fake_platform.h).
inline std::wstring RunFolder(int call, const std::wstring& temporary = L"C:\\Windows\\Temp\\") {
    wchar_t digits[3];
    swprintf(digits, 3, L"%02x", call);
    std::wstring name = temporary + L"Zeltrane-";
    for (int i = 0; i < 16; ++i) {
        name += digits;
    }
    return name;
}

// Where the MSI installed the driver package ([DriverDir]), its files, and
// the checked copy, in the installation's first run folder; the programs
// run from the second.
const std::wstring kPackage = L"C:\\Program Files (x86)\\ZT line\\driver\\";
const std::vector<std::pair<std::wstring, std::string>> kPackageFiles = {
    {L"zt-line.inf", "[Version] ours"},
    {L"amd64\\zt-line.sys", "the driver"},
    {L"amd64\\zt-line.cat", "its catalog"}};
const std::wstring kCopy = RunFolder(1);
const std::wstring kRun = RunFolder(2);
const std::wstring kProgram = kRun + L"\\Zeltrane.exe";
const std::wstring kRemover = RunFolder(1) + L"\\ZeltraneRemove.exe";
const std::wstring kRunAccess = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const std::wstring kInf = kCopy + L"\\zt-line.inf";
const std::wstring kChecked =
    L"Zeltrane: the driver package's files are the MSI's own, checked in \"" + kCopy + L"\"";
const std::wstring kA = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000011";
const std::wstring kB = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000012";
const std::wstring kC = L"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000013";
const std::wstring kKey = L"SOFTWARE\\Zeltrane\\Products\\{0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}";
const std::wstring kPublished = L"C:\\Windows\\INF\\oem7.inf";
const std::wstring kRecorded =
    L"Zeltrane: the package is staged as \"oem7.inf\", recorded for its removal";
// The catalog that the platform staged with the published INF of that name.
inline std::wstring StagedCatalog(const std::wstring& name) {
    return L"C:\\Windows\\system32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" +
           name.substr(0, name.size() - 3) + L"cat";
}
constexpr DWORD kNoSuchDevice = 0xE000020B;
constexpr UINT kFails = ERROR_INSTALL_FAILURE;

// The programs that the DLL carries: each resource's bytes name it.
const std::map<std::wstring, std::string> kResources = {
    {L"ZELTRANE_X86", "x86 Zeltrane"},         {L"ZELTRANE_X64", "x64 Zeltrane"},
    {L"ZELTRANE_ARM64", "arm64 Zeltrane"},     {L"ZELTRANE_REMOVE_X86", "x86 remove"},
    {L"ZELTRANE_REMOVE_X64", "x64 remove"},    {L"ZELTRANE_REMOVE_ARM64", "arm64 remove"},
    {L"ZELTRANE_CREATE_X86", "x86 create"},    {L"ZELTRANE_CREATE_X64", "x64 create"},
    {L"ZELTRANE_CREATE_ARM64", "arm64 create"}};

// The package's list as the MSI's build writes it, each digest of the
// file's bytes in the package's folder now.
inline std::wstring Files() {
    std::wstring list;
    for (const auto& file : kPackageFiles) {
        const auto found = fake.files.find(kPackage + file.first);
        list += (list.empty() ? L"" : L"*") + file.first + L"*" +
                FakeDigest(found != fake.files.end() ? found->second : "");
    }
    return list;
}

// The older versions' fields: the setting, the older product codes and
// their packages' names.
inline std::wstring Data(const std::wstring& setting, const std::wstring& ids,
                         const std::wstring& files = Files(),
                         const std::wstring& older = L"remove||") {
    return kPackage + L"|zt-line.inf|" + setting + L"|" + files + L"|" + older + L"|" + ids;
}

inline std::wstring CommandLine(const std::wstring& id) {
    return L"\"" + kProgram + L"\" \"" + kInf + L"\" \"" + id + L"\"";
}

inline std::string Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()),
                       (text.size() + 1) * sizeof(wchar_t));
}

inline bool Logged(const std::wstring& line) {
    return std::find(fake.logged.begin(), fake.logged.end(), line) != fake.logged.end();
}

class MsiAction : public ::testing::Test {
protected:
    // The DLL loaded, its programs in its resources; the package, once
    // installed, is staged as oem7.inf.
    void SetUp() override {
        fake = FakePlatform{};
        DllMain(FakeActionModule(), 1, nullptr);
        fake.resources = kResources;
        fake.copy = Fails(ERROR_FILE_EXISTS);
        fake.published = kPublished;
        for (const auto& file : kPackageFiles) {
            fake.files[kPackage + file.first] = file.second;
        }
        // The platform publishes the INF as it is, with its catalog.
        fake.files[kPublished] = kPackageFiles[0].second;
        fake.files[StagedCatalog(L"oem7.inf")] = kPackageFiles[2].second;
    }

    std::vector<std::wstring> Started() const {
        std::vector<std::wstring> lines;
        for (const StartCall& start : fake.starts) {
            lines.push_back(start.commandLine);
        }
        return lines;
    }

    // Whatever happened: every record, file and descriptor closed, and the
    // run's folder gone with all it held.
    void TearDown() override {
        EXPECT_EQ(fake.openRecords, 0) << "every record closed";
        EXPECT_EQ(fake.openFiles, 0);
        EXPECT_EQ(fake.openDescriptors, 0);
        EXPECT_EQ(fake.openKeys, 0);
        EXPECT_EQ(fake.openSearches, 0);
        EXPECT_EQ(fake.openProviders, 0);
        EXPECT_EQ(fake.openHashes, 0);
        if (!fake.removeFolder.fails) {
            for (const auto& folder : fake.folders) {
                EXPECT_NE(folder.first.rfind(L"C:\\Windows\\Temp\\Zeltrane-", 0), 0u)
                    << "a run's folder left behind";
            }
            for (const auto& file : fake.files) {
                EXPECT_NE(file.first.rfind(L"C:\\Windows\\Temp\\Zeltrane-", 0), 0u)
                    << "left behind";
            }
        }
    }
};
