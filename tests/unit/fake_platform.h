#pragma once

// Recording fakes for the platform functions the installer calls. Each test
// resets `fake`, may tell a call to fail, runs the code and reads the record.

#include <newdev.h>
#include <setupapi.h>
#include <windows.h>

#include <string>
#include <vector>

struct CopyCall {
    PCWSTR source;
    PCWSTR mediaLocation;
    DWORD mediaType;
    DWORD style;
    PWSTR destination;
    DWORD destinationSize;
    PDWORD requiredSize;
    PWSTR* destinationComponent;
};

struct UpdateCall {
    HWND parent;
    LPCWSTR hardwareId;
    LPCWSTR infPath;
    DWORD flags;
    PBOOL restartRequired;
};

struct BoxCall {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// What a call does: succeed, or return FALSE leaving `error` as the last error.
struct Outcome {
    bool fails;
    DWORD error;
};

struct FakePlatform {
    Outcome copy{false, 0};
    Outcome update{false, 0};
    std::vector<std::string> order;
    std::vector<CopyCall> copies;
    std::vector<UpdateCall> updates;
    std::vector<BoxCall> boxes;
    DWORD lastError = 0;
};

extern FakePlatform fake;

// The handle the fake GetDesktopWindow returns.
HWND FakeDesktopWindow();

// The last error a call leaves behind when it succeeds: real platform calls
// may change it on success too, so code must read it right after a failure.
constexpr DWORD kLastErrorNoise = 0x00007777;
