#pragma once

#include <windows.h>

// clang-format off
#include <setupapi.h>
// clang-format on

// Whether the device has the ID `wanted` among the IDs of the property (its hardware
// IDs, SPDRP_HARDWAREID, or its compatible IDs, SPDRP_COMPATIBLEIDS), into
// `found`: the whole list, however long, its size asked first. IDs compare
// without case, as the platform compares them. A device without the
// property, or whose property is no list, has not the ID. A list that
// changed between the two calls is the error of the second.
DWORD DeviceHasId(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property, const wchar_t* wanted,
                  bool& found);
