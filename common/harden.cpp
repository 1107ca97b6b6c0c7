#include "harden.h"

namespace {

// SetDefaultDllDirectories, as the platform documents it.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);

}  // namespace

void LoadDllsFromSystem32Only() {
    // Looked up in the kernel32 already loaded, since binding it at load time
    // would keep the image from loading where it is missing.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found =
        kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (found == nullptr) {
        return;
    }
    // The lookup returns the function untyped, and only a cast gives it its
    // type back, through void (*)(), which the compilers accept between
    // function types.
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found));
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
    // It fails only for flags that it does not know, and this one it has
    // known since it exists.
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
