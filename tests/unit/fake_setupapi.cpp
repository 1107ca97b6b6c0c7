// The fakes of setupapi.dll: the INF copy, devices and their lists, the
// device's creation and the published INF's information.

#include <algorithm>
#include <cstring>

#include "fake_internal.h"

namespace {

// The handle of the fake device list.
HDEVINFO FakeDeviceList() { return reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0xD1)); }

// The list of the device that SetupDiCreateDeviceInfoList makes, and the
// class that the fake INF names.
HDEVINFO FakeCreatedList() { return reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0xD2)); }
constexpr GUID kNetClass = {
    0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool IsNetClass(const GUID* guid) {
    return guid != nullptr && std::memcmp(guid, &kNetClass, sizeof kNetClass) == 0;
}

}  // namespace

BOOL WINAPI FakeSetupVerifyInfFileW(PCWSTR infName, PSP_ALTPLATFORM_INFO /*altPlatformInfo*/,
                                    void* infSignerInfo) {
    fake.order.push_back("SetupVerifyInfFileW");
    fake.verifiedInfs.emplace_back(infName, *static_cast<DWORD*>(infSignerInfo));
    return Complete(fake.verifyInfFile);
}

BOOL WINAPI SetupSetNonInteractiveMode(BOOL NonInteractiveFlag) {
    fake.order.push_back(NonInteractiveFlag ? "SetupSetNonInteractiveMode(TRUE)"
                                            : "SetupSetNonInteractiveMode(FALSE)");
    return FALSE;
}

BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
                             DWORD OEMSourceMediaType, DWORD CopyStyle,
                             PWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PWSTR* DestinationInfFileNameComponent) {
    fake.order.push_back("SetupCopyOEMInfW");
    fake.copies.push_back({SourceInfFileName, OEMSourceMediaLocation, OEMSourceMediaType, CopyStyle,
                           DestinationInfFileName, DestinationInfFileNameSize, RequiredSize,
                           DestinationInfFileNameComponent});
    // The staged copy's path: where this call staged it, or where it already was.
    const auto staged = fake.stagedAs.find(SourceInfFileName);
    const bool elsewhere = staged != fake.stagedAs.end();
    const Outcome outcome = elsewhere ? Fails(ERROR_FILE_EXISTS) : fake.copy;
    const std::wstring& name = elsewhere ? staged->second : fake.published;
    const bool named = !outcome.fails || outcome.error == ERROR_FILE_EXISTS;
    if (named && DestinationInfFileName != nullptr && name.size() < DestinationInfFileNameSize) {
        name.copy(DestinationInfFileName, name.size());
        DestinationInfFileName[name.size()] = L'\0';
    }
    return Complete(outcome);
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const void* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
    fake.order.push_back("SetupDiGetClassDevsW");
    if (ClassGuid != nullptr || Enumerator != nullptr || hwndParent != nullptr ||
        (Flags & ~DIGCF_PRESENT) != DIGCF_ALLCLASSES || !Complete(fake.deviceList)) {
        fake.lastError = fake.deviceList.fails ? fake.deviceList.error : ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    ++fake.openDeviceLists;
    fake.listFlags = Flags;
    return FakeDeviceList();
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiEnumDeviceInfo");
    if (DeviceInfoSet != FakeDeviceList() || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (++fake.enumerationCalls == fake.enumerationFailsOnCall) {
        return Complete(Fails(fake.enumerationError));
    }
    // A list of the present devices holds only those.
    for (DWORD index = 0, member = 0; index < fake.devices.size(); ++index) {
        if ((fake.listFlags & DIGCF_PRESENT) == 0 || fake.devices[index].present) {
            if (member++ == MemberIndex) {
                DeviceInfoData->DevInst = index;
                return Complete(kSucceeds);
            }
        }
    }
    return Complete(Fails(ERROR_NO_MORE_ITEMS));
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                 DWORD Scope, DWORD HwProfile, DWORD KeyType, REGSAM samDesired) {
    fake.order.push_back("SetupDiOpenDevRegKey");
    const FakeDevice& device = fake.devices.at(DeviceInfoData->DevInst);
    if (DeviceInfoSet != FakeDeviceList() || Scope != DICS_FLAG_GLOBAL || HwProfile != 0 ||
        KeyType != DIREG_DRV || samDesired != KEY_QUERY_VALUE || !device.hasDriver) {
        fake.lastError = ERROR_FILE_NOT_FOUND;
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    ++fake.openKeys;
    fake.lastError = kLastErrorNoise;
    return reinterpret_cast<HKEY>(kFirstDriverKey + DeviceInfoData->DevInst);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetDeviceRegistryPropertyW");
    const FakeDevice& device = fake.devices.at(DeviceInfoData->DevInst);
    if (DeviceInfoSet != FakeDeviceList() ||
        (Property != SPDRP_HARDWAREID && Property != SPDRP_COMPATIBLEIDS)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    const std::vector<std::wstring>& ids =
        Property == SPDRP_HARDWAREID ? device.hardwareIds : device.compatibleIds;
    if (ids.empty()) {
        return Complete(Fails(ERROR_INVALID_DATA));
    }
    // REG_NONE: a property that is there, but empty.
    std::wstring list;
    for (const std::wstring& id : device.idsType == REG_NONE ? std::vector<std::wstring>{} : ids) {
        list += id;
        list += L'\0';
    }
    list += device.idsType == REG_NONE ? L"" : std::wstring(1, L'\0');
    const DWORD size = static_cast<DWORD>(list.size() * sizeof(wchar_t));
    *PropertyRegDataType = device.idsType;
    if (RequiredSize != nullptr) {
        *RequiredSize = size;
    }
    if (PropertyBuffer != nullptr && fake.idsGoneWith != 0) {
        return Complete(Fails(fake.idsGoneWith));
    }
    if (size > PropertyBufferSize || (PropertyBuffer != nullptr && fake.idsChanges > 0)) {
        fake.idsChanges -= PropertyBuffer != nullptr ? 1 : 0;
        return Complete(Fails(ERROR_INSUFFICIENT_BUFFER));
    }
    // An empty property fits a buffer of none.
    if (size > 0) {
        std::memcpy(PropertyBuffer, list.data(), size);
    }
    return Complete(kSucceeds);
}

BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetDeviceInstanceIdW");
    const std::wstring& id = fake.devices.at(DeviceInfoData->DevInst).instanceId;
    if (DeviceInfoSet != FakeDeviceList() || RequiredSize != nullptr || id.empty() ||
        id.size() >= DeviceInstanceIdSize) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    id.copy(DeviceInstanceId, id.size());
    DeviceInstanceId[id.size()] = L'\0';
    return Complete(kSucceeds);
}

BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, GUID* ClassGuid, PWSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiGetINFClassW");
    fake.infClassAsked = InfName;
    if (!fake.infClass.fails && ClassNameSize >= MAX_CLASS_NAME_LEN && RequiredSize == nullptr) {
        *ClassGuid = fake.infNamesNoGuid ? GUID{} : kNetClass;
        std::wcscpy(ClassName, L"Net");
    }
    return Complete(fake.infClass);
}

BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR ClassName, GUID* ClassGuidList,
                                       DWORD ClassGuidListSize, PDWORD RequiredSize) {
    fake.order.push_back("SetupDiClassGuidsFromNameW");
    fake.classNameAsked = ClassName;
    const DWORD count = static_cast<DWORD>(fake.classesOfName.size());
    *RequiredSize = count;
    if (count > ClassGuidListSize) {
        return Complete(Fails(ERROR_INSUFFICIENT_BUFFER));
    }
    std::copy(fake.classesOfName.begin(), fake.classesOfName.end(), ClassGuidList);
    return Complete(kSucceeds);
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent) {
    fake.order.push_back("SetupDiCreateDeviceInfoList");
    if (!IsNetClass(ClassGuid) || hwndParent != nullptr || !Complete(fake.createList)) {
        fake.lastError = fake.createList.fails ? fake.createList.error : ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    ++fake.openDeviceLists;
    return FakeCreatedList();
}

BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName,
                                     const GUID* ClassGuid, PCWSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiCreateDeviceInfoW");
    if (DeviceInfoSet != FakeCreatedList() || !IsNetClass(ClassGuid) ||
        DeviceDescription != nullptr || hwndParent != nullptr ||
        DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.createdName = DeviceName;
    fake.createdFlags = CreationFlags;
    DeviceInfoData->DevInst = 0xC0;
    return Complete(fake.createInfo);
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize) {
    fake.order.push_back("SetupDiSetDeviceRegistryPropertyW");
    if (DeviceInfoSet != FakeCreatedList() || DeviceInfoData->DevInst != 0xC0 ||
        Property != SPDRP_HARDWAREID) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.createdIds.assign(reinterpret_cast<const wchar_t*>(PropertyBuffer),
                           PropertyBufferSize / sizeof(wchar_t));
    return Complete(fake.setIds);
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      SP_DEVINFO_DATA* DeviceInfoData) {
    fake.order.push_back("SetupDiCallClassInstaller");
    if (DeviceInfoSet == FakeCreatedList() && DeviceInfoData->DevInst == 0xC0) {
        if (InstallFunction == DIF_REGISTERDEVICE) {
            fake.registered = !fake.registration.fails;
            return Complete(fake.registration);
        }
        if (InstallFunction != DIF_REMOVE || !fake.registered) {
            return Complete(Fails(ERROR_INVALID_PARAMETER));
        }
        fake.createdRemoved = !fake.createdRemoval.fails;
        return Complete(fake.createdRemoval);
    }
    if (InstallFunction != DIF_REMOVE || DeviceInfoSet != FakeDeviceList()) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    fake.removedDevices.push_back(DeviceInfoData->DevInst);
    return Complete(fake.deviceRemoval);
}

BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                           SP_DEVINSTALL_PARAMS_W* DeviceInstallParams) {
    fake.order.push_back("SetupDiGetDeviceInstallParamsW");
    if (DeviceInfoSet != FakeDeviceList() ||
        DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (!fake.installParameters.fails) {
        DeviceInstallParams->Flags = fake.devices.at(DeviceInfoData->DevInst).flagsAfterRemoval;
    }
    return Complete(fake.installParameters);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    fake.order.push_back("SetupDiDestroyDeviceInfoList");
    fake.openDeviceLists -=
        DeviceInfoSet == FakeDeviceList() || DeviceInfoSet == FakeCreatedList() ? 1 : 0;
    return Complete(kSucceeds);
}

BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, void* /*Reserved*/) {
    fake.order.push_back("SetupUninstallOEMInfW");
    fake.uninstalledInfs.emplace_back(InfFileName, Flags);
    return Complete(fake.infUninstalls.empty()
                        ? fake.infUninstall
                        : fake.infUninstalls.at(fake.uninstalledInfs.size() - 1));
}

BOOL WINAPI SetupGetInfInformationW(const void* InfSpec, DWORD SearchControl,
                                    SP_INF_INFORMATION* ReturnBuffer, DWORD ReturnBufferSize,
                                    PDWORD RequiredSize) {
    fake.order.push_back("SetupGetInfInformationW");
    const std::wstring path = static_cast<LPCWSTR>(InfSpec);
    const DWORD needed = static_cast<DWORD>(8 + (path.size() + 1) * sizeof(wchar_t));
    if (SearchControl != INFINFO_INF_NAME_IS_ABSOLUTE || RequiredSize != nullptr ||
        ReturnBufferSize < needed) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    if (fake.infInformation.fails || fake.originalNames.count(path) == 0) {
        return Complete(fake.infInformation.fails ? fake.infInformation
                                                  : Fails(ERROR_FILE_NOT_FOUND));
    }
    // As Wine does: the INF's path in VersionData.
    ReturnBuffer->InfStyle = 2;
    ReturnBuffer->InfCount = 1;
    std::memcpy(ReturnBuffer->VersionData, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return Complete(kSucceeds);
}

BOOL WINAPI SetupQueryInfOriginalFileInformationW(SP_INF_INFORMATION* InfInformation, UINT InfIndex,
                                                  SP_ALTPLATFORM_INFO* AlternatePlatformInfo,
                                                  SP_ORIGINAL_FILE_INFO_W* OriginalFileInfo) {
    fake.order.push_back("SetupQueryInfOriginalFileInformationW");
    if (InfIndex != 0 || AlternatePlatformInfo != nullptr ||
        OriginalFileInfo->cbSize != sizeof(SP_ORIGINAL_FILE_INFO_W) || fake.originalName.fails) {
        return Complete(fake.originalName.fails ? fake.originalName
                                                : Fails(ERROR_INVALID_PARAMETER));
    }
    std::wstring path(MAX_PATH, L'\0');
    std::memcpy(path.data(), InfInformation->VersionData, MAX_PATH * sizeof(wchar_t));
    const std::wstring& original = fake.originalNames.at(path.c_str());
    original.copy(OriginalFileInfo->OriginalInfName, original.size());
    OriginalFileInfo->OriginalInfName[original.size()] = L'\0';
    return Complete(kSucceeds);
}

BOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                      const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType,
                                      BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                                      PDWORD RequiredSize, DWORD Flags) {
    fake.order.push_back("SetupDiGetDevicePropertyW");
    const FakeDevice& device = fake.devices.at(DeviceInfoData->DevInst);
    // DEVPKEY_Device_DevNodeStatus (2) and DEVPKEY_Device_ProblemCode (3).
    constexpr GUID kStateKeys = {
        0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}};
    const bool status = PropertyKey->pid == 2;
    if (DeviceInfoSet != FakeDeviceList() || RequiredSize != nullptr || Flags != 0 ||
        PropertyBufferSize != sizeof(ULONG) ||
        std::memcmp(&PropertyKey->fmtid, &kStateKeys, sizeof kStateKeys) != 0 ||
        (PropertyKey->pid != 2 && PropertyKey->pid != 3)) {
        return Complete(Fails(ERROR_INVALID_PARAMETER));
    }
    const DEVPROPTYPE type = status ? device.statusType : device.problemType;
    if (type == DEVPROP_TYPE_EMPTY) {
        return Complete(Fails(ERROR_NOT_FOUND));
    }
    *PropertyType = type;
    const ULONG value = status ? device.status : device.problem;
    std::memcpy(PropertyBuffer, &value, sizeof value);
    return Complete(kSucceeds);
}

DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout) {
    fake.order.push_back("CMP_WaitNoPendingInstallEvents");
    fake.installWaits.push_back(dwTimeout);
    return fake.installWaitAnswer;
}
