// The fakes of advapi32.dll: the registry, security descriptors and the
// cryptographic provider.

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <cstring>
#include <map>

#include "fake_internal.h"

namespace {

// Keys of HKLM opened: each handle is its index in this list, from kFirstKey.
std::vector<std::wstring> openedKeys;
constexpr std::uintptr_t kFirstKey = 0x9000;

const std::wstring* OpenedKey(HKEY hKey) {
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hKey);
    return handle >= kFirstKey && handle < kFirstKey + openedKeys.size()
               ? &openedKeys[handle - kFirstKey]
               : nullptr;
}

bool RegistryCallFails(const char* name, LSTATUS& status) {
    status = fake.registryCallFails == name ? fake.registryError : ERROR_SUCCESS;
    return status != ERROR_SUCCESS;
}

HKEY OpenKey(const std::wstring& path) {
    openedKeys.push_back(path);
    ++fake.openKeys;
    return reinterpret_cast<HKEY>(kFirstKey + openedKeys.size() - 1);
}

// Each hash's bytes so far, by handle.
std::map<HCRYPTHASH, std::string> hashes;
HCRYPTHASH nextHash = 0x4000;
constexpr HCRYPTPROV kFakeProvider = 0x3000;

}  // namespace

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                             HKEY* phkResult) {
    fake.order.push_back("RegOpenKeyExW");
    LSTATUS status;
    if (RegistryCallFails("RegOpenKeyExW", status)) {
        return status;
    }
    if (hKey != HKEY_LOCAL_MACHINE || ulOptions != 0 ||
        (samDesired != KEY_QUERY_VALUE && samDesired != KEY_SET_VALUE &&
         samDesired != KEY_ENUMERATE_SUB_KEYS)) {
        return ERROR_INVALID_PARAMETER;
    }
    // A key is there where it, or a key under it, is.
    const std::wstring path = lpSubKey;
    const auto at = fake.registry.lower_bound(path);
    if (at == fake.registry.end() || (at->first != path && at->first.rfind(path + L"\\", 0) != 0)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = OpenKey(lpSubKey);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, HKEY* phkResult,
                               LPDWORD lpdwDisposition) {
    fake.order.push_back("RegCreateKeyExW");
    LSTATUS status;
    if (RegistryCallFails("RegCreateKeyExW", status)) {
        return status;
    }
    if (fake.keyFails == lpSubKey) {
        return fake.registryError;
    }
    if (hKey != HKEY_LOCAL_MACHINE || Reserved != 0 || lpClass != nullptr ||
        dwOptions != REG_OPTION_NON_VOLATILE ||
        (samDesired != KEY_SET_VALUE && samDesired != KEY_CREATE_SUB_KEY) ||
        lpdwDisposition != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // A key made with a descriptor notes its SDDL; one that is there keeps its own.
    if (lpSecurityAttributes != nullptr && fake.registry.count(lpSubKey) == 0) {
        fake.keyAccess[lpSubKey] =
            *static_cast<std::wstring*>(lpSecurityAttributes->lpSecurityDescriptor);
    }
    fake.registry[lpSubKey];
    *phkResult = OpenKey(lpSubKey);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    fake.order.push_back("RegSetValueExW");
    LSTATUS status;
    if (RegistryCallFails("RegSetValueExW", status) || fake.registryValueFails == lpValueName) {
        return fake.registryError;
    }
    const std::wstring* key = OpenedKey(hKey);
    if (key == nullptr || Reserved != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    fake.registry[*key][lpValueName] = {dwType,
                                        std::string(reinterpret_cast<const char*>(lpData), cbData)};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    fake.order.push_back("RegDeleteValueW");
    LSTATUS status;
    if (RegistryCallFails("RegDeleteValueW", status)) {
        return status;
    }
    const std::wstring* key = OpenedKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return fake.registry[*key].erase(lpValueName) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    fake.order.push_back("RegDeleteKeyW");
    const std::wstring path = lpSubKey;
    if (hKey != HKEY_LOCAL_MACHINE || fake.registry.count(path) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    // As the registry does: a key that has subkeys stays.
    for (const auto& other : fake.registry) {
        if (other.first.rfind(path + L"\\", 0) == 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    fake.registry.erase(path);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                             LPDWORD /*lpReserved*/, LPWSTR /*lpClass*/, LPDWORD /*lpcchClass*/,
                             void* /*lpftLastWriteTime*/) {
    fake.order.push_back("RegEnumKeyExW");
    const std::wstring* key = OpenedKey(hKey);
    if (key == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The keys directly under it, in the map's order.
    const std::wstring prefix = *key + L"\\";
    DWORD index = 0;
    for (const auto& other : fake.registry) {
        if (other.first.rfind(prefix, 0) != 0) {
            continue;
        }
        const std::wstring name = other.first.substr(prefix.size());
        if (name.find(L'\\') == std::wstring::npos && index++ == dwIndex) {
            if (name.size() >= *lpcchName) {
                return ERROR_MORE_DATA;
            }
            name.copy(lpName, name.size());
            lpName[name.size()] = L'\0';
            *lpcchName = static_cast<DWORD>(name.size());
            return ERROR_SUCCESS;
        }
    }
    return ERROR_NO_MORE_ITEMS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                BYTE* lpData, LPDWORD lpcbData) {
    fake.order.push_back("RegQueryValueExW");
    if (const std::wstring* key = OpenedKey(hKey)) {
        LSTATUS status;
        if (RegistryCallFails("RegQueryValueExW", status)) {
            return status;
        }
        const auto& values = fake.registry[*key];
        const auto value = values.find(lpValueName);
        if (value == values.end()) {
            return ERROR_FILE_NOT_FOUND;
        }
        *lpType = value->second.first;
        const DWORD size = static_cast<DWORD>(value->second.second.size());
        const DWORD room = *lpcbData;
        *lpcbData = size;
        if (size > room) {
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->second.second.data(), size);
        return ERROR_SUCCESS;
    }
    const FakeDevice& device =
        fake.devices.at(reinterpret_cast<std::uintptr_t>(hKey) - kFirstDriverKey);
    if (std::wstring(lpValueName) != L"InfPath" || lpReserved != nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    // As the registry does: the bytes as stored, with no NUL added.
    const DWORD size = static_cast<DWORD>(device.infPath.size() * sizeof(wchar_t));
    *lpType = device.type;
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (size > room) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, device.infPath.data(), size);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    fake.order.push_back(OpenedKey(hKey) != nullptr ? "RegCloseKey(HKLM)" : "RegCloseKey");
    --fake.openKeys;
    return ERROR_SUCCESS;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR StringSecurityDescriptor, DWORD StringSDRevision,
    PSECURITY_DESCRIPTOR* SecurityDescriptor, std::uint32_t* SecurityDescriptorSize) {
    fake.order.push_back("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (++fake.descriptorCalls == fake.descriptorFailsOnCall) {
        return Complete(Fails(ERROR_ACCESS_DENIED));
    }
    if (StringSDRevision != SDDL_REVISION_1 || SecurityDescriptorSize != nullptr ||
        fake.descriptor.fails) {
        return Complete(fake.descriptor.fails ? fake.descriptor : Fails(ERROR_INVALID_PARAMETER));
    }
    // The descriptor carries its SDDL, for CreateDirectoryW to note.
    *SecurityDescriptor = new std::wstring(StringSecurityDescriptor);
    ++fake.openDescriptors;
    return Complete(kSucceeds);
}

namespace {

// The owners the fake GetSecurityInfo gives the lock, as SIDs.
const std::map<std::string, WELL_KNOWN_SID_TYPE> kOwners = {{"BA", WinBuiltinAdministratorsSid},
                                                            {"SY", WinLocalSystemSid},
                                                            {"user", WELL_KNOWN_SID_TYPE{}}};

}  // namespace

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner, PSID*, PACL*,
                             PACL*, PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    fake.order.push_back("GetSecurityInfo");
    if (handle != FakeLock() || ObjectType != SE_KERNEL_OBJECT ||
        SecurityInfo != OWNER_SECURITY_INFORMATION) {
        return ERROR_INVALID_PARAMETER;
    }
    if (kOwners.count(fake.lockOwner) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    *ppsidOwner = const_cast<WELL_KNOWN_SID_TYPE*>(&kOwners.at(fake.lockOwner));
    *ppSecurityDescriptor = new std::wstring(L"O:BA");
    ++fake.openDescriptors;
    return ERROR_SUCCESS;
}

BOOL WINAPI IsWellKnownSid(PSID pSid, WELL_KNOWN_SID_TYPE WellKnownSidType) {
    return *static_cast<const WELL_KNOWN_SID_TYPE*>(pSid) == WellKnownSidType;
}

std::wstring FakeDigest(const std::string& bytes) {
    // Four FNV-1a sums of 64 bits, each from another start.
    constexpr std::uint64_t kPrime = 0x100000001B3;
    std::wstring hex;
    for (std::uint64_t start = 1; start <= 4; ++start) {
        std::uint64_t sum = 0xCBF29CE484222325 * start;
        for (const char byte : bytes) {
            sum = (sum ^ static_cast<unsigned char>(byte)) * kPrime;
        }
        for (int shift = 60; shift >= 0; shift -= 4) {
            hex += L"0123456789abcdef"[(sum >> shift) & 0xF];
        }
    }
    return hex;
}

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV* phProv, LPCWSTR szContainer, LPCWSTR szProvider,
                                 DWORD dwProvType, DWORD dwFlags) {
    fake.order.push_back("CryptAcquireContextW");
    const bool fails = ++fake.providerCalls == fake.providerFailsOnCall;
    if (szContainer != nullptr || szProvider != nullptr || dwProvType != PROV_RSA_AES ||
        dwFlags != (CRYPT_VERIFYCONTEXT | CRYPT_SILENT) || fails) {
        return Complete(Fails(fails ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER));
    }
    *phProv = kFakeProvider;
    ++fake.openProviders;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD /*dwFlags*/) {
    fake.order.push_back("CryptReleaseContext");
    fake.openProviders -= hProv == kFakeProvider ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                            HCRYPTHASH* phHash) {
    fake.order.push_back("CryptCreateHash");
    if (hProv != kFakeProvider || Algid != CALG_SHA_256 || hKey != 0 || dwFlags != 0 ||
        fake.hashCreation.fails) {
        return Complete(fake.hashCreation.fails ? fake.hashCreation
                                                : Fails(ERROR_INVALID_PARAMETER));
    }
    *phHash = ++nextHash;
    hashes[*phHash].clear();
    ++fake.openHashes;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    fake.order.push_back("CryptHashData");
    if (fake.hashing.fails || dwFlags != 0) {
        return Complete(fake.hashing.fails ? fake.hashing : Fails(ERROR_INVALID_PARAMETER));
    }
    hashes.at(hHash).append(reinterpret_cast<const char*>(pbData), dwDataLen);
    return Complete(kSucceeds);
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                              DWORD /*dwFlags*/) {
    fake.order.push_back("CryptGetHashParam");
    if (dwParam != HP_HASHVAL || *pdwDataLen != 32 || fake.hashValue.fails) {
        return Complete(fake.hashValue.fails ? fake.hashValue : Fails(ERROR_INVALID_PARAMETER));
    }
    const std::wstring hex = FakeDigest(hashes.at(hHash));
    for (DWORD i = 0; i < 32; ++i) {
        pbData[i] = static_cast<BYTE>(
            std::stoi(std::string(hex.begin() + 2 * i, hex.begin() + 2 * i + 2), nullptr, 16));
    }
    return Complete(kSucceeds);
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
    fake.order.push_back("CryptDestroyHash");
    fake.openHashes -= hashes.erase(hHash) == 1 ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI CryptGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    fake.order.push_back("CryptGenRandom");
    if (hProv != kFakeProvider || fake.random.fails) {
        return Complete(fake.random.fails ? fake.random : Fails(ERROR_INVALID_PARAMETER));
    }
    std::memset(pbBuffer, ++fake.randomCalls, dwLen);
    return Complete(kSucceeds);
}
