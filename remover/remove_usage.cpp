#include "remove_usage.h"

const wchar_t RemovalUsageText[] =
    L"ZeltraneRemove.exe <full INF path>\n"
    L"\n"
    L"\t<full INF path>\n"
    L"\t\tThe fully qualified path and name of the INF file that was installed\n";
