#include "problem.h"

namespace {

// Bit 29 marks the programs' own codes, which no Windows error has; the
// platform's own codes with that bit (0xE...) have bits 30 and 31 too.
constexpr DWORD kDeviceProblem = 0x20000000;
constexpr DWORD kTopBits = 0xE0000000;

// The number in decimal.
void AppendDecimal(Text& text, DWORD number) {
    constexpr DWORD kBase = 10;
    constexpr int kMostDigits = 10;
    wchar_t digits[kMostDigits];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + number % kBase);
        number /= kBase;
    } while (number != 0);
    while (count > 0) {
        AppendChar(text, digits[--count]);
    }
}

// The problem codes that a driver's installation meets most, with Device
// Manager's meaning.
struct Meaning {
    DWORD code;
    const wchar_t* text;
};
const Meaning kMeanings[] = {
    {1, L"the device is not configured correctly"},
    {3, L"the driver may be corrupted, or the system is low on memory"},
    {10, L"the device cannot start"},
    {12, L"the device cannot find enough free resources"},
    {18, L"the device's drivers must be reinstalled"},
    {19, L"the device's configuration in the registry is incomplete or damaged"},
    {24, L"the device is not present, not working properly, or lacks its drivers"},
    {28, L"the device's drivers are not installed"},
    {31, L"Windows cannot load the drivers that the device needs"},
    {32, L"the driver's service is disabled"},
    {37, L"Windows cannot initialize the device's driver"},
    {38, L"an earlier instance of the device's driver is still in memory"},
    {39, L"Windows cannot load the device's driver: it may be corrupted or missing"},
    {40, L"the driver's service key in the registry is missing or damaged"},
    {41, L"the driver loaded, but Windows cannot find the device"},
    {43, L"Windows stopped the device because it reported problems"},
    {48, L"the driver is blocked from starting because it is known to have problems"},
    {52, L"Windows cannot verify the digital signature of the device's driver"},
};

}  // namespace

void AppendWhatToDo(Text& text, DWORD exitCode) {
    constexpr DWORD kTrustNotEstablished = 0xE0000242;
    constexpr DWORD kPublisherNotTrusted = 0xE0000243;
    if (exitCode == kTrustNotEstablished) {
        Append(text,
               L": Windows would ask whether to trust the package's publisher, and no one "
               L"can answer here. Sign the package through Microsoft (as 64-bit Windows "
               L"needs anyway), or, on an organisation's own machines, distribute the "
               L"publisher's certificate to the TrustedPublisher store by policy");
    } else if (exitCode == kPublisherNotTrusted) {
        Append(text,
               L": the package's publisher is not trusted on this machine (its "
               L"certificate is in the Disallowed store)");
    } else if (exitCode == ERROR_INSTALL_ALREADY_RUNNING) {
        Append(text,
               L": another installation was still under way after a minute; run the "
               L"setup again once it has ended");
    }
}

bool IsDeviceProblem(DWORD exitCode) {
    return (exitCode & kTopBits) == kDeviceProblem && exitCode != kDeviceProblem;
}

void AppendProblem(Text& text, DWORD exitCode) {
    const DWORD code = exitCode - kDeviceProblem;
    Append(text, L"problem code ");
    AppendDecimal(text, code);
    for (const Meaning& meaning : kMeanings) {
        if (meaning.code == code) {
            Append(text, L" (");
            Append(text, meaning.text);
            AppendChar(text, L')');
        }
    }
}
