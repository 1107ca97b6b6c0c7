#include "harden.h"

#include "platform_function.h"

namespace {

// SetDefaultDllDirectories, as the platform documents it.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);

}  // namespace

void LoadDllsFromSystem32Only() {
    const auto setDefaultDllDirectories = PlatformFunction<SetDefaultDllDirectoriesFunction>(
        GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories == nullptr) {
        return;
    }
    // It fails only for flags that it does not know, and this one it has
    // known since it exists.
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
