#include "creation_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include "last_error.h"

namespace {

constexpr wchar_t kLockName[] = L"Global\\Zeltrane device creation";

// Owner Administrators, which no other user can give an object; SYSTEM and
// Administrators full access, nobody else any.
constexpr wchar_t kLockDescriptor[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Longer than any creation takes; a creation that takes longer is treated
// as an installation under way.
constexpr DWORD kLockWait = 5 * 60 * 1000;

// Whether the mutex is owned by Administrators or SYSTEM: made by this
// program, or at least by an administrator.
bool OwnedByAdministrators(HANDLE mutex) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool administrators = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                                IsWellKnownSid(owner, WinLocalSystemSid);
    LocalFree(descriptor);
    return administrators;
}

}  // namespace

DWORD TakeCreationLock(HANDLE* lock) {
    *lock = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockDescriptor, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return LastErrorOfFailedCall();
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    const HANDLE mutex = CreateMutexW(&attributes, FALSE, kLockName);
    LocalFree(descriptor);
    // Another user's object of the name, which refuses this program or is
    // not its own: no lock.
    if (mutex == nullptr) {
        return ERROR_SUCCESS;
    }
    if (!OwnedByAdministrators(mutex)) {
        CloseHandle(mutex);
        return ERROR_SUCCESS;
    }
    switch (WaitForSingleObject(mutex, kLockWait)) {
        case WAIT_OBJECT_0:
        // A creation that ended without giving it back: the lock is this
        // one's now, and the search sees whatever that one made.
        case WAIT_ABANDONED:
            *lock = mutex;
            return ERROR_SUCCESS;
        case WAIT_TIMEOUT:
            CloseHandle(mutex);
            return ERROR_INSTALL_ALREADY_RUNNING;
        default: {
            const DWORD error = LastErrorOfFailedCall();
            CloseHandle(mutex);
            return error;
        }
    }
}

void GiveCreationLockBack(HANDLE lock) {
    if (lock != nullptr) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
}
