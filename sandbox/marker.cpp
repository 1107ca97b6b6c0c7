// Stands in for an installed program that a hostile user replaced: started,
// it leaves its command line as a line of C:\windows\temp\zeltrane-marker.txt
// and ends with 0, as a good run would. The setups' cases put it in place of
// the installed programs and look for the file.
#include <stdio.h>
#include <windows.h>

int wmain() {
    FILE* marker = _wfopen(L"C:\\windows\\temp\\zeltrane-marker.txt", L"a");
    if (marker != nullptr) {
        fwprintf(marker, L"%ls\n", GetCommandLineW());
        fclose(marker);
    }
    return 0;
}
