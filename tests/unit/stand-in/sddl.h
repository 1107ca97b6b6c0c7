#pragma once

#include <windows.h>

constexpr DWORD SDDL_REVISION_1 = 1;

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(
    LPCWSTR StringSecurityDescriptor, DWORD StringSDRevision,
    PSECURITY_DESCRIPTOR* SecurityDescriptor, std::uint32_t* SecurityDescriptorSize);
