// Stands in for ZeltraneRemove.exe in the setups' restart cases: it ends as
// the removal does where the platform needs a restart to finish the removal
// (ERROR_SUCCESS_REBOOT_REQUIRED). Wine never asks for a restart, so no real
// removal ends so there, and the setups' handing on of 3010 runs against this.
int wmain() {
    constexpr int kRestartNeeded = 3010;
    return kRestartNeeded;
}
