// The sandbox helper's commands on files: what another user who may read
// one could do to it.

#include <windows.h>

#include "helper.h"

namespace {

// The event that "release" sets and "hold" waits for.
const wchar_t kRelease[] = L"zt-sandbox-release";

}  // namespace

int Hold(const wchar_t* path) {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, kRelease);
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (release == nullptr || file == INVALID_HANDLE_VALUE) {
        PrintNumber(L"error", L"%llu", GetLastError());
        return 1;
    }
    Print(L"held", path);
    WaitForSingleObject(release, 600 * 1000);
    CloseHandle(file);
    return 0;
}

int Release() {
    HANDLE release = OpenEventW(EVENT_MODIFY_STATE, FALSE, kRelease);
    return release != nullptr && SetEvent(release) ? 0 : 1;
}
