#include "action.h"
#include "carried.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
    ThisModule() = instance;
    return TRUE;
}
