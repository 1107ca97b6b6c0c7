#pragma once

#include <windows.h>

constexpr DWORD SPOST_PATH = 1;
constexpr DWORD SP_COPY_NOOVERWRITE = 0x0000008;
constexpr DWORD SUOI_FORCEDELETE = 0x00000001;
constexpr DWORD DIGCF_PRESENT = 0x00000002;
constexpr DWORD DIGCF_ALLCLASSES = 0x00000004;
constexpr DWORD DICS_FLAG_GLOBAL = 0x00000001;
constexpr DWORD DIREG_DRV = 0x00000002;
constexpr UINT DIF_REMOVE = 0x00000005;
constexpr DWORD DI_NEEDRESTART = 0x00000080;
constexpr DWORD DI_NEEDREBOOT = 0x00000100;
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
constexpr DWORD MAX_CLASS_NAME_LEN = 32;
constexpr DWORD SPDRP_HARDWAREID = 0x00000001;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x00000002;
constexpr DWORD DICD_GENERATE_ID = 0x00000001;
constexpr UINT DIF_REGISTERDEVICE = 0x00000019;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
constexpr DWORD ERROR_IN_WOW64 = 0xE0000235;

BOOL WINAPI SetupSetNonInteractiveMode(BOOL NonInteractiveFlag);
BOOL WINAPI SetupCopyOEMInfW(PCWSTR SourceInfFileName, PCWSTR OEMSourceMediaLocation,
                             DWORD OEMSourceMediaType, DWORD CopyStyle,
                             PWSTR DestinationInfFileName, DWORD DestinationInfFileNameSize,
                             PDWORD RequiredSize, PWSTR* DestinationInfFileNameComponent);

using HDEVINFO = void*;
using DI_FUNCTION = UINT;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    std::uint8_t ClassGuid[16];
    DWORD DevInst;
    std::uintptr_t Reserved;
};

struct SP_DEVINSTALL_PARAMS_W {
    DWORD cbSize;
    DWORD Flags;
    DWORD FlagsEx;
    HWND hwndParent;
    void* InstallMsgHandler;
    void* InstallMsgHandlerContext;
    void* FileQueue;
    std::uintptr_t ClassInstallReserved;
    DWORD Reserved;
    WCHAR DriverPath[MAX_PATH];
};

constexpr DWORD INFINFO_INF_NAME_IS_ABSOLUTE = 2;

struct SP_INF_INFORMATION {
    DWORD InfStyle;
    DWORD InfCount;
    BYTE VersionData[1];
};

struct SP_ALTPLATFORM_INFO;
using PSP_ALTPLATFORM_INFO = SP_ALTPLATFORM_INFO*;
constexpr DWORD ERROR_AUTHENTICODE_TRUSTED_PUBLISHER = 0xE0000241;

struct SP_ORIGINAL_FILE_INFO_W {
    DWORD cbSize;
    WCHAR OriginalInfName[MAX_PATH];
    WCHAR OriginalCatalogName[MAX_PATH];
};

BOOL WINAPI SetupGetInfInformationW(const void* InfSpec, DWORD SearchControl,
                                    SP_INF_INFORMATION* ReturnBuffer, DWORD ReturnBufferSize,
                                    PDWORD RequiredSize);
BOOL WINAPI SetupQueryInfOriginalFileInformationW(SP_INF_INFORMATION* InfInformation, UINT InfIndex,
                                                  SP_ALTPLATFORM_INFO* AlternatePlatformInfo,
                                                  SP_ORIGINAL_FILE_INFO_W* OriginalFileInfo);
BOOL WINAPI SetupUninstallOEMInfW(PCWSTR InfFileName, DWORD Flags, void* Reserved);
HDEVINFO WINAPI SetupDiGetClassDevsW(const void* ClassGuid, PCWSTR Enumerator, HWND hwndParent,
                                     DWORD Flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  SP_DEVINFO_DATA* DeviceInfoData);
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                 DWORD Scope, DWORD HwProfile, DWORD KeyType, REGSAM samDesired);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      SP_DEVINFO_DATA* DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceInstallParamsW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                           SP_DEVINSTALL_PARAMS_W* DeviceInstallParams);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize);
constexpr DWORD ERROR_INVALID_CLASS = 0xE0000206;
BOOL WINAPI SetupDiClassGuidsFromNameW(PCWSTR ClassName, GUID* ClassGuidList,
                                       DWORD ClassGuidListSize, PDWORD RequiredSize);
BOOL WINAPI SetupDiGetINFClassW(PCWSTR InfName, GUID* ClassGuid, PWSTR ClassName,
                                DWORD ClassNameSize, PDWORD RequiredSize);
HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent);
BOOL WINAPI SetupDiCreateDeviceInfoW(HDEVINFO DeviceInfoSet, PCWSTR DeviceName,
                                     const GUID* ClassGuid, PCWSTR DeviceDescription,
                                     HWND hwndParent, DWORD CreationFlags,
                                     SP_DEVINFO_DATA* DeviceInfoData);
BOOL WINAPI SetupDiSetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet,
                                              SP_DEVINFO_DATA* DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer, DWORD PropertyBufferSize);
BOOL WINAPI SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                        PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize,
                                        PDWORD RequiredSize);

using DEVPROPTYPE = ULONG;
constexpr DEVPROPTYPE DEVPROP_TYPE_EMPTY = 0x00000000;
constexpr DEVPROPTYPE DEVPROP_TYPE_INT32 = 0x00000006;
constexpr DEVPROPTYPE DEVPROP_TYPE_UINT32 = 0x00000007;
struct DEVPROPKEY {
    GUID fmtid;
    ULONG pid;
};
BOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, SP_DEVINFO_DATA* DeviceInfoData,
                                      const DEVPROPKEY* PropertyKey, DEVPROPTYPE* PropertyType,
                                      BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                                      PDWORD RequiredSize, DWORD Flags);
