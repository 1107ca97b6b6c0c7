#include "create_usage.h"

const wchar_t CreationUsageText[] =
    L"ZeltraneCreate.exe <full INF path> <device ID string>\n"
    L"\n"
    L"\t<full INF path>\n"
    L"\t\tThe fully qualified path and name of the INF file to install\n"
    L"\t<device ID string>\n"
    L"\t\tThe hardware ID of the device to create where no device has it\n";
