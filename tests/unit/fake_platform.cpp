// The platform's state that the tests control and read, and what every
// fake shares: the handles it makes and how a call completes.

#include "fake_internal.h"

FakePlatform fake;

HWND FakeDesktopWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10010)); }

HANDLE FakeChildProcess() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A4)); }
HANDLE FakeChildThread() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2A8)); }
HANDLE FakeLock() { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x2B0)); }

HMODULE FakeKernel32() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x75000000));
}

HMODULE FakeSetupapi() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x77000000));
}
HMODULE FakeNewdev() { return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x76000000)); }

HMODULE FakeActionModule() {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x6C000000));
}

BOOL Complete(const Outcome& outcome) {
    fake.lastError = outcome.fails ? outcome.error : kLastErrorNoise;
    return outcome.fails ? FALSE : TRUE;
}
