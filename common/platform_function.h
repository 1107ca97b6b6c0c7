#pragma once

#include <windows.h>

// A platform function that not every Windows has, looked up by name in a
// DLL already loaded, since binding it at load time would keep the image
// from loading where it is missing: the function with its type, or nullptr
// where the DLL or the function is not there.
template <typename Function>
Function PlatformFunction(HMODULE module, const char* name) {
    const FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // The lookup returns the function untyped, and only a cast gives it its
    // type back, through void (*)(), which the compilers accept between
    // function types.
    // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast)
    return found != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found))
                            : nullptr;
    // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
}
