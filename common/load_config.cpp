// The image's load configuration. Its one non-zero setting, DependentLoadFlags
// = LOAD_LIBRARY_SEARCH_SYSTEM32, has the loader resolve the DLLs this image
// imports from System32 only, never from the folder the program was started
// from: a planted newdev.dll beside it is not loaded. Windows 10 1607 and
// later honour it; older systems ignore it. The linker points the image's
// load-configuration directory at this structure; its first field is its size.
#include <windows.h>

extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = {
    sizeof(IMAGE_LOAD_CONFIG_DIRECTORY),
    0,                             // TimeDateStamp
    0,                             // MajorVersion
    0,                             // MinorVersion
    0,                             // GlobalFlagsClear
    0,                             // GlobalFlagsSet
    0,                             // CriticalSectionDefaultTimeout
    0,                             // DeCommitFreeBlockThreshold
    0,                             // DeCommitTotalFreeThreshold
    0,                             // LockPrefixTable
    0,                             // MaximumAllocationSize
    0,                             // VirtualMemoryThreshold
    0,                             // ProcessHeapFlags (ProcessAffinityMask on x64)
    0,                             // ProcessAffinityMask (ProcessHeapFlags on x64)
    0,                             // CSDVersion
    LOAD_LIBRARY_SEARCH_SYSTEM32,  // DependentLoadFlags
    0,                             // EditList
    0,                             // SecurityCookie
    0,                             // SEHandlerTable
    0,                             // SEHandlerCount
};
