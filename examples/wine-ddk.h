/*
 * What only the ARM64 driver's build needs, given to the compiler before
 * zt-sample.c (-include). mingw-w64's ddk/wdm.h stops with "Unknown
 * Architecture" on ARM64; Wine's own Windows headers (Debian's libwine-dev),
 * with which Wine builds its kernel drivers for every architecture it runs on,
 * do not. Their wdm.h expects what Wine's drivers include before it: the
 * status codes (kept out of winnt.h by WIN32_NO_STATUS), the base types,
 * winternl.h, and winioctl.h for FILE_DEVICE_UNKNOWN.
 */
/* In this order, which the headers need. */
/* clang-format off */
#include <ntstatus.h>
#define WIN32_NO_STATUS
#include <windef.h>
#include <winbase.h>
#include <winternl.h>
#include <winioctl.h>
#include <ddk/wdm.h>
/* clang-format on */

/* Wine 8's wdm.h lacks this documented constant of IoOpenDeviceRegistryKey:
 * the device's hardware key. */
#ifndef PLUGPLAY_REGKEY_DEVICE
#define PLUGPLAY_REGKEY_DEVICE 1
#endif
