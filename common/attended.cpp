#include "attended.h"

#include <windows.h>

bool SomeoneCanAnswer() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0) {
        return false;
    }
    const HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}
