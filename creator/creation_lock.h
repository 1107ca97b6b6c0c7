#pragma once

#include <windows.h>

// One creation at a time on the machine: two setups run at once (an MSI
// beside an NSIS setup, two deployments) would each find no device and each
// make one. The lock is a mutex in the global namespace, owned by
// Administrators, that only SYSTEM and Administrators may wait on; it is
// held from the search for the device until the installation on it ends,
// and never while the work is handed to the native build, which takes it
// itself.
//
// Takes it, waiting for another creation up to five minutes: then
// ERROR_INSTALL_ALREADY_RUNNING, as for any installation under way. Any
// user may make an object of that name first: one that another owner made,
// or that refuses this program, is never waited on, and the creation goes
// on without the lock (*lock null), as it went before there was one.
DWORD TakeCreationLock(HANDLE* lock);

// Gives the lock back; none taken, nothing.
void GiveCreationLockBack(HANDLE lock);
