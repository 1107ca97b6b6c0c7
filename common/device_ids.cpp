#include "device_ids.h"

#include "last_error.h"

namespace {

// Whether the REG_MULTI_SZ list holds the ID.
bool Listed(const wchar_t* list, const wchar_t* wanted) {
    while (*list != L'\0') {
        if (CompareStringOrdinal(list, -1, wanted, -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
        while (*list != L'\0') {
            ++list;
        }
        ++list;
    }
    return false;
}

}  // namespace

DWORD DeviceHasId(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property, const wchar_t* wanted,
                  bool& found) {
    found = false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type, nullptr, 0, &size) ||
        LastErrorOfFailedCall() != ERROR_INSUFFICIENT_BUFFER) {
        return ERROR_SUCCESS;
    }
    // Two NULs beyond the list as stored: it ends, whatever it holds.
    const HANDLE heap = GetProcessHeap();
    void* const buffer = HeapAlloc(heap, HEAP_ZERO_MEMORY, size + 2 * sizeof(wchar_t));
    if (buffer == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD error = ERROR_SUCCESS;
    if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                          static_cast<BYTE*>(buffer), size, nullptr)) {
        found = type == REG_MULTI_SZ && Listed(static_cast<const wchar_t*>(buffer), wanted);
    } else {
        error = LastErrorOfFailedCall();
    }
    HeapFree(heap, 0, buffer);
    return error;
}
