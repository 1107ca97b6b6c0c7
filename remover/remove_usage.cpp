#include "remove_usage.h"

const wchar_t RemovalUsageText[] =
    L"ZeltraneRemove.exe <full INF path> [<full path of the new INF>]\n"
    L"\n"
    L"\t<full INF path>\n"
    L"\t\tThe fully qualified path and name of the INF file that was installed\n"
    L"\t<full path of the new INF>\n"
    L"\t\tWith it, only the older package goes, and only where no device uses it\n";
