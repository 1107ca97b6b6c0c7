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

// How often a list that grows between its size and its read is read again.
constexpr int kReads = 3;

// A read of the list: its size in bytes, and whether it holds the ID.
struct ListRead {
    DWORD size;
    bool found;
};

// Reads the list at its size into `read`; where it has grown since,
// ERROR_INSUFFICIENT_BUFFER, and its new size.
DWORD ReadList(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property, const wchar_t* wanted,
               ListRead& read) {
    // Two NULs beyond the list as stored: it ends, whatever it holds.
    const HANDLE heap = GetProcessHeap();
    void* const buffer = HeapAlloc(heap, HEAP_ZERO_MEMORY, read.size + 2 * sizeof(wchar_t));
    if (buffer == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD type = REG_NONE;
    DWORD error = ERROR_SUCCESS;
    if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, &type,
                                          static_cast<BYTE*>(buffer), read.size, &read.size)) {
        read.found = type == REG_MULTI_SZ && Listed(static_cast<const wchar_t*>(buffer), wanted);
    } else {
        error = LastErrorOfFailedCall();
    }
    HeapFree(heap, 0, buffer);
    return error;
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
    ListRead read = {size, false};
    DWORD error = ERROR_INSUFFICIENT_BUFFER;
    for (int reads = 0; reads < kReads && error == ERROR_INSUFFICIENT_BUFFER; ++reads) {
        error = ReadList(devices, device, property, wanted, read);
    }
    found = read.found;
    // A device that left, or lost the property, between the two reads has
    // not the ID, as one without the property has not.
    return error == ERROR_NO_SUCH_DEVINST || error == ERROR_INVALID_DATA ? ERROR_SUCCESS : error;
}
