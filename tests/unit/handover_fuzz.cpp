// libFuzzer target: InstallDriver through the recording fakes, with whatever
// the platform might answer: the running image's path (any length, any
// characters, with or without a folder), the command line, how the calls
// end, and what the machine says it is. The sanitizers catch a write out of
// bounds; the checks below, the only programs the hand-over may start.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake_platform.h"
#include "install.h"

namespace {

constexpr size_t kCapacity = 32768;

// Text as the platform gives it: NUL-terminated, so no NUL inside. Short, or
// within a few characters of the platform's limit, where the buffers end, or
// anything up to beyond it. Once the input runs out, the rest is backslashes.
std::wstring Text(FuzzedDataProvider& data) {
    size_t length = 0;
    switch (data.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            length = data.ConsumeIntegralInRange<size_t>(0, 64);
            break;
        case 1:
            length = data.ConsumeIntegralInRange<size_t>(kCapacity - 24, kCapacity + 24);
            break;
        default:
            length = data.ConsumeIntegralInRange<size_t>(0, 40000);
    }
    const wchar_t pattern[] = {L'\\', L'a', L' ', L'"', L':', L'é', L'Ω', L'.'};
    std::wstring text;
    text.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        const auto unit = data.ConsumeIntegral<std::uint16_t>();
        text.push_back(unit < 0x8000 ? pattern[unit % 8] : static_cast<wchar_t>(unit | 1));
    }
    return text;
}

Outcome AnOutcome(FuzzedDataProvider& data, DWORD usual) {
    const bool fails = data.ConsumeBool();
    return {fails, data.ConsumeBool() ? usual : data.ConsumeIntegral<DWORD>()};
}

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    fake = FakePlatform{};
    fake.copy = AnOutcome(data, ERROR_FILE_NOT_FOUND);
    fake.update = AnOutcome(data, ERROR_IN_WOW64);
    fake.module = AnOutcome(data, ERROR_ACCESS_DENIED);
    fake.start = AnOutcome(data, ERROR_FILE_NOT_FOUND);
    fake.wait = AnOutcome(data, ERROR_ACCESS_DENIED);
    fake.exitCode = AnOutcome(data, ERROR_ACCESS_DENIED);
    fake.machine = AnOutcome(data, ERROR_ACCESS_DENIED);
    fake.kernel32Found = data.ConsumeBool();
    fake.hasIsWow64Process2 = data.ConsumeBool();
    fake.nativeMachine =
        data.ConsumeBool() ? IMAGE_FILE_MACHINE_ARM64 : data.ConsumeIntegral<std::uint16_t>();
    fake.childExitCode = data.ConsumeIntegral<DWORD>();
    fake.modulePath = Text(data);
    fake.commandLine = Text(data);

    InstallDriver(L"C:\\x.inf", L"PCI\\VEN_1");

    // Only an update refused to a 32-bit caller hands over, once at most.
    const bool refused = fake.update.fails && fake.update.error == ERROR_IN_WOW64;
    Require(fake.starts.size() <= (refused ? 1u : 0u));
    if (fake.starts.empty()) {
        return 0;
    }
    // The native build of the machine, in the running image's own folder.
    const bool arm64 = fake.kernel32Found && fake.hasIsWow64Process2 && !fake.machine.fails &&
                       fake.nativeMachine == IMAGE_FILE_MACHINE_ARM64;
    const std::wstring& image = fake.modulePath;
    const size_t folder = image.rfind(L'\\');
    Require(!fake.module.fails && image.size() < kCapacity && folder != std::wstring::npos);
    const std::wstring expected =
        image.substr(0, folder + 1) + (arm64 ? L"arm64\\Zeltrane.exe" : L"x64\\Zeltrane.exe");
    Require(fake.starts[0].application == expected);
    Require(fake.starts[0].commandLine == fake.commandLine);
    return 0;
}
