#include <windows.h>

#include "create.h"
#include "create_usage.h"
#include "harden.h"
#include "usage_box.h"

// Started with an INF path and a hardware ID, creates the device where none
// has that ID and installs the driver on it; started any other way, shows
// the usage text. The exit codes are Zeltrane.exe's.
int wmain(int argc, wchar_t* argv[], wchar_t* /*envp*/[]) {
    LoadDllsFromSystem32Only();
    if (argc != 3) {
        ShowUsageBox(CreationUsageText);
        return ERROR_BAD_ARGUMENTS;
    }
    return static_cast<int>(CreateDeviceAndInstall(argv[1], argv[2]));
}
