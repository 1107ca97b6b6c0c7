#include <windows.h>

#include "harden.h"
#include "remove.h"
#include "remove_usage.h"
#include "superseded.h"
#include "usage_box.h"

// Started with the path of an installed INF, takes its driver package back
// off the machine; with the new version's INF after it, deletes the older
// package only where nothing uses it; started any other way, shows the
// usage text. The exit code is 0 when the package is gone or was never
// staged, 3010 when a restart finishes the removal, otherwise the platform's
// error code of the failed call, or ERROR_BAD_ARGUMENTS after the usage box.
int wmain(int argc, wchar_t* argv[], wchar_t* /*envp*/[]) {
    LoadDllsFromSystem32Only();
    if (argc == 3) {
        return static_cast<int>(RemoveSupersededPackage(argv[1], argv[2]));
    }
    if (argc != 2) {
        ShowUsageBox(RemovalUsageText);
        return ERROR_BAD_ARGUMENTS;
    }
    return static_cast<int>(RemoveDriverPackage(argv[1]));
}
