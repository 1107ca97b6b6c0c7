#pragma once

#include <windows.h>

// What a run that no one can answer (attended.h) does before it stages a
// package, so that nothing then waits on a window: the Setup API is told
// that the run is non-interactive, so that a prompt it would show fails with
// its code; the installations under way (another setup, Windows Update) are
// waited for, a minute at most, and one still under way ends the run with
// 1618 (ERROR_INSTALL_ALREADY_RUNNING), on which deployment tools retry; and
// the platform's verdict on the package's signature is asked first
// (SetupVerifyInfFileW, Windows Vista and later, looked up at run time):
// signed through Microsoft, or by a publisher in the machine's
// TrustedPublisher store, goes on; trust not established (0xE0000242), a
// publisher explicitly not trusted (0xE0000243), or no valid signature (the
// platform's code: no catalog, not signed, a file not in the catalog) ends
// the run with that code, since installing it would ask whether to trust
// it. Where the platform has no such function, it goes on as Windows XP
// would. ERROR_SUCCESS where the installation may go on.
DWORD PrepareUnattendedInstall(const wchar_t* infPath);
