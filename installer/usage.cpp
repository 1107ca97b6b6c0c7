#include "usage.h"

const wchar_t UsageText[] =
    L"Zeltrane.exe <full INF path> <device ID string>\n"
    L"\n"
    L"\t<full INF path>\n"
    L"\t\tThe fully qualified path and name of the INF file to install\n"
    L"\t<device ID string>\n"
    L"\t\tThe device ID string (eg \"PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000\")\n";
