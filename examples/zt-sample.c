/*
 * The sample package's driver: a minimal WDM function driver for the
 * simulated adapter that only records what happened to it, where a
 * Windows-side reader can see it:
 *   - the service key's Parameters: DriverEntry, the number of loads;
 *   - the device's hardware key: AddDevice and StartDevice, how often each
 *     ran, and StartDeviceStatus, the status of the last START_DEVICE.
 * No I/O, no network: it attaches to the device's stack, starts with it and
 * leaves with it; every other request goes down the stack untouched.
 */

/* ddk/wdm.h includes intrin.h, and mingw-w64 12's intrin.h includes every
 * intrinsics header of clang's, <mm3dnow.h> among them, which clang 19
 * deprecates with a #warning. The driver uses no 3DNow! or prefetch
 * intrinsic: that header stays out. */
#define _MM3DNOW_H_INCLUDED
#include <ddk/wdm.h>

typedef struct {
    PDEVICE_OBJECT physical; /* the bus driver's object for the device */
    PDEVICE_OBJECT lower;    /* the next object down the stack */
} SAMPLE_EXTENSION;

/* The names of the records. Kept as UNICODE_STRINGs with absolute pointers, so
 * the image holds relocations: the platform may load a driver at any base. */
#define SAMPLE_NAME(text) \
    { sizeof(text) - sizeof(WCHAR), sizeof(text), (PWCH)(text) }
static UNICODE_STRING parametersName = SAMPLE_NAME(L"Parameters");
static UNICODE_STRING driverEntryName = SAMPLE_NAME(L"DriverEntry");
static UNICODE_STRING addDeviceName = SAMPLE_NAME(L"AddDevice");
static UNICODE_STRING startDeviceName = SAMPLE_NAME(L"StartDevice");
static UNICODE_STRING startStatusName = SAMPLE_NAME(L"StartDeviceStatus");

static void WriteDword(HANDLE key, PUNICODE_STRING name, ULONG value) {
    ZwSetValueKey(key, name, 0, REG_DWORD, &value, sizeof value);
}

/* Adds one to the count under the name (0 when there is none yet). */
static void Count(HANDLE key, PUNICODE_STRING name) {
    /* Room for the value's header and a DWORD, aligned as the header needs. */
    ULONG buffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 2 * sizeof(ULONG)) / sizeof(ULONG)];
    PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
    ULONG size = 0;
    ULONG count = 0;
    if (NT_SUCCESS(
            ZwQueryValueKey(key, name, KeyValuePartialInformation, value, sizeof buffer, &size)) &&
        value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&count, value->Data, sizeof count);
    }
    WriteDword(key, name, count + 1);
}

/* The device's hardware key, where its records go; NULL if it cannot be opened. */
static HANDLE OpenDeviceKey(PDEVICE_OBJECT physical) {
    HANDLE key;
    if (!NT_SUCCESS(
            IoOpenDeviceRegistryKey(physical, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key))) {
        return NULL;
    }
    return key;
}

static NTSTATUS NTAPI StartCompleted(PDEVICE_OBJECT device, PIRP irp, PVOID done) {
    (void)device;
    if (irp->PendingReturned) {
        KeSetEvent((PKEVENT)done, IO_NO_INCREMENT, FALSE);
    }
    /* The request is this driver's again: it completes it after the wait. */
    return STATUS_MORE_PROCESSING_REQUIRED;
}

/* START_DEVICE goes down first; the device has started when the lower
 * drivers say so, and only then does this driver complete the request. */
static NTSTATUS StartDevice(SAMPLE_EXTENSION* extension, PIRP irp) {
    KEVENT done;
    NTSTATUS status;
    HANDLE key;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, StartCompleted, &done, TRUE, TRUE, TRUE);
    status = IoCallDriver(extension->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, NULL);
        status = irp->IoStatus.Status;
    }
    key = OpenDeviceKey(extension->physical);
    if (key != NULL) {
        Count(key, &startDeviceName);
        WriteDword(key, &startStatusName, (ULONG)status);
        ZwClose(key);
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    SAMPLE_EXTENSION* extension = (SAMPLE_EXTENSION*)device->DeviceExtension;
    PDEVICE_OBJECT lower = extension->lower;
    NTSTATUS status;
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
        case IRP_MN_START_DEVICE:
            return StartDevice(extension, irp);
        case IRP_MN_REMOVE_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoSkipCurrentIrpStackLocation(irp);
            status = IoCallDriver(lower, irp);
            IoDetachDevice(lower);
            IoDeleteDevice(device);
            return status;
        default:
            IoSkipCurrentIrpStackLocation(irp);
            return IoCallDriver(lower, irp);
    }
}

static NTSTATUS NTAPI DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    SAMPLE_EXTENSION* extension = (SAMPLE_EXTENSION*)device->DeviceExtension;
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(extension->lower, irp);
}

static NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical) {
    PDEVICE_OBJECT device;
    SAMPLE_EXTENSION* extension;
    HANDLE key;
    NTSTATUS status = IoCreateDevice(driver, sizeof(SAMPLE_EXTENSION), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    extension = (SAMPLE_EXTENSION*)device->DeviceExtension;
    extension->physical = physical;
    extension->lower = IoAttachDeviceToDeviceStack(device, physical);
    if (extension->lower == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= extension->lower->Flags & DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    key = OpenDeviceKey(physical);
    if (key != NULL) {
        Count(key, &addDeviceName);
        ZwClose(key);
    }
    return STATUS_SUCCESS;
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    HANDLE service;
    HANDLE parameters;
    OBJECT_ATTRIBUTES attributes;

    driver->DriverExtension->AddDevice = AddDevice;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverUnload = Unload;

    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (NT_SUCCESS(ZwOpenKey(&service, KEY_ALL_ACCESS, &attributes))) {
        InitializeObjectAttributes(&attributes, &parametersName,
                                   OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, service, NULL);
        if (NT_SUCCESS(ZwCreateKey(&parameters, KEY_ALL_ACCESS, &attributes, 0, NULL,
                                   REG_OPTION_NON_VOLATILE, NULL))) {
            Count(parameters, &driverEntryName);
            ZwClose(parameters);
        }
        ZwClose(service);
    }
    return STATUS_SUCCESS;
}
