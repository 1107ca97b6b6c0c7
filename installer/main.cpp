#include <windows.h>

#include "harden.h"
#include "install.h"
#include "usage.h"
#include "usage_box.h"

// Started with an INF path and a hardware ID, installs the driver; started
// any other way, shows the usage text. The exit code is 0 only when the
// driver was installed: otherwise the platform's error code of the first
// failed call, or ERROR_BAD_ARGUMENTS after the usage box.
int wmain(int argc, wchar_t* argv[], wchar_t* /*envp*/[]) {
    LoadDllsFromSystem32Only();
    if (argc != 3) {
        ShowUsageBox(UsageText);
        return ERROR_BAD_ARGUMENTS;
    }
    return static_cast<int>(InstallDriver(argv[1], argv[2]));
}
