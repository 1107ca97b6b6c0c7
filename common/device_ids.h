#pragma once

#include <windows.h>

// clang-format off
#include <setupapi.h>
// clang-format on

// Whether the device has the ID `wanted` among the IDs of the property (its hardware
// IDs, SPDRP_HARDWAREID, or its compatible IDs, SPDRP_COMPATIBLEIDS), into
// `found`: the whole list, however long, its size asked first. IDs compare
// without case, as the platform compares them. A device without the
// property, or whose property is no list, has not the ID; nor has one that
// left, or lost the property, between the size and the read. A list that
// grew in between is read again at its new size, three times at most, and is
// then the error of the last read.
DWORD DeviceHasId(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property, const wchar_t* wanted,
                  bool& found);
