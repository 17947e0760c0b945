// tlmsim.sys: the simulated Tellam boards as a kernel driver.
//
// The driver model (driver.h) answers every request; this file only joins it to the I/O
// manager. Devices: the control device "\\.\TLMDRV", the Windows 9x family's device
// "\\.\TELLAMIO.VXD" and one "\\.\TLMDRV<ManagementNumber>" per simulated board, made and
// removed whenever the boards change. Every request is completed in its dispatch routine.
// The private requests of tlmsim_control.h are answered on the control device before the
// model sees them, so the request trace only holds board requests.
//
// Every routine the kernel calls is NTAPI (stdcall): on x86 the callee pops its arguments,
// and a routine that does not corrupts the caller's stack.
//
// Time: the model runs on the performance counter, in nanoseconds since the driver loaded,
// unless a test froze or advanced the clock.
extern "C" {
#include <ntddk.h>
}

#include "../driver.h"
#include "../sim_control.h"

namespace {

constexpr uint32_t kFileSlots = 256;
constexpr uint32_t kMaxBoardDevices = 64;

struct DeviceExtension {
    int32_t device;  // tlmsim::kDeviceControl, kDeviceVxd or a management number
};

struct BoardDevice {
    int32_t number;
    PDEVICE_OBJECT object;  // null when the entry is free
    bool linked;            // "\DosDevices\TLMDRV<number>" exists
};

// All model state; zero until DriverEntry initialises it (nothing runs constructors here).
tlmsim::Driver g_model;
tlmsim::File g_files[kFileSlots];
tlmsim::SimClock g_clock;
FAST_MUTEX g_modelLock;   // guards everything above
uint8_t g_request[2048];  // copy of a request's input, under g_modelLock

KMUTEX g_deviceLock;  // guards the device table; held at passive level
PDRIVER_OBJECT g_driverObject;
PDEVICE_OBJECT g_controlDevice;
PDEVICE_OBJECT g_vxdDevice;
BoardDevice g_boardDevices[kMaxBoardDevices];
LARGE_INTEGER g_counterFrequency;

uint64_t RealNs() {
    LARGE_INTEGER ticks = KeQueryPerformanceCounter(nullptr);
    uint64_t t = static_cast<uint64_t>(ticks.QuadPart);
    uint64_t f = static_cast<uint64_t>(g_counterFrequency.QuadPart);
    return t / f * 1000000000ull + t % f * 1000000000ull / f;
}

void LockModel() { ExAcquireFastMutex(&g_modelLock); }
void UnlockModel() { ExReleaseFastMutex(&g_modelLock); }

// "\Device\TLMDRV12" and "\DosDevices\TLMDRV12" style names into caller's storage.
void FormatName(WCHAR* to, size_t room, const WCHAR* prefix, int32_t number) {
    size_t n = 0;
    while (*prefix && n + 1 < room) to[n++] = *prefix++;
    if (number >= 0) {
        WCHAR digits[12];
        int d = 0;
        uint32_t v = static_cast<uint32_t>(number);
        do {
            digits[d++] = static_cast<WCHAR>(L'0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (d > 0 && n + 1 < room) to[n++] = digits[--d];
    }
    to[n] = 0;
}

NTSTATUS MakeDevice(const WCHAR* deviceName, const WCHAR* linkName, int32_t id, PDEVICE_OBJECT* made) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, deviceName);
    PDEVICE_OBJECT object = nullptr;
    NTSTATUS status =
        IoCreateDevice(g_driverObject, sizeof(DeviceExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &object);
    if (!NT_SUCCESS(status)) return status;
    static_cast<DeviceExtension*>(object->DeviceExtension)->device = id;
    object->Flags |= DO_BUFFERED_IO;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, linkName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(object);
        return status;
    }
    object->Flags &= ~DO_DEVICE_INITIALIZING;
    *made = object;
    return STATUS_SUCCESS;
}

void RemoveLink(int32_t number) {
    WCHAR linkName[32];
    FormatName(linkName, 32, L"\\DosDevices\\TLMDRV", number);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, linkName);
    IoDeleteSymbolicLink(&link);
}

bool FilesOpenOn(int32_t device) {
    bool open = false;
    LockModel();
    for (uint32_t i = 0; i < kFileSlots; ++i)
        if (g_files[i].device == device) open = true;
    UnlockModel();
    return open;
}

// Brings the per-board devices in line with the model's boards. A device that still has open
// files loses only its name; the object goes at the next update after its last close.
void UpdateBoardDevices() {
    KeWaitForSingleObject(&g_deviceLock, Executive, KernelMode, FALSE, nullptr);
    int32_t numbers[tlmsim::kMaxBoards];
    uint32_t count;
    LockModel();
    count = g_model.boardCount;
    for (uint32_t i = 0; i < count; ++i) numbers[i] = g_model.boards[i].config.info.ManagementNumber;
    UnlockModel();

    for (uint32_t e = 0; e < kMaxBoardDevices; ++e) {
        BoardDevice& d = g_boardDevices[e];
        if (d.object == nullptr) continue;
        bool wanted = false;
        for (uint32_t i = 0; i < count; ++i)
            if (numbers[i] == d.number) wanted = true;
        if (wanted) continue;
        if (d.linked) {
            RemoveLink(d.number);
            d.linked = false;
        }
        if (!FilesOpenOn(d.number)) {
            IoDeleteDevice(d.object);
            d.object = nullptr;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (numbers[i] < 0) continue;
        BoardDevice* found = nullptr;
        BoardDevice* free = nullptr;
        for (uint32_t e = 0; e < kMaxBoardDevices; ++e) {
            BoardDevice& d = g_boardDevices[e];
            if (d.object != nullptr && d.number == numbers[i]) found = &d;
            if (d.object == nullptr && free == nullptr) free = &d;
        }
        WCHAR deviceName[32], linkName[32];
        FormatName(deviceName, 32, L"\\Device\\TLMDRV", numbers[i]);
        FormatName(linkName, 32, L"\\DosDevices\\TLMDRV", numbers[i]);
        if (found != nullptr) {
            if (!found->linked) {
                UNICODE_STRING name, link;
                RtlInitUnicodeString(&name, deviceName);
                RtlInitUnicodeString(&link, linkName);
                found->linked = NT_SUCCESS(IoCreateSymbolicLink(&link, &name));
            }
            continue;
        }
        if (free == nullptr) {
            DbgPrint("tlmsim: no room for the device of board %d\n", numbers[i]);
            continue;
        }
        PDEVICE_OBJECT object = nullptr;
        NTSTATUS status = MakeDevice(deviceName, linkName, numbers[i], &object);
        if (!NT_SUCCESS(status)) {
            DbgPrint("tlmsim: cannot make the device of board %d: %08x\n", numbers[i], status);
            continue;
        }
        free->number = numbers[i];
        free->object = object;
        free->linked = true;
    }
    KeReleaseMutex(&g_deviceLock, FALSE);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

int32_t DeviceOf(PDEVICE_OBJECT object) { return static_cast<DeviceExtension*>(object->DeviceExtension)->device; }

NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT object, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    uint32_t slot = 0;
    LockModel();
    int32_t status = tlmsim::DriverOpen(&g_model, DeviceOf(object), &slot);
    UnlockModel();
    if (status == tlmsim::kStatusSuccess && sp->FileObject != nullptr)
        sp->FileObject->FsContext = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(slot) + 1);
    return Complete(irp, status, 0);
}

bool SlotOf(PIO_STACK_LOCATION sp, uint32_t* slot) {
    if (sp->FileObject == nullptr || sp->FileObject->FsContext == nullptr) return false;
    *slot = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(sp->FileObject->FsContext) - 1);
    return true;
}

NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    uint32_t slot;
    if (SlotOf(sp, &slot)) {
        LockModel();
        tlmsim::DriverClose(&g_model, slot);
        UnlockModel();
        sp->FileObject->FsContext = nullptr;
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

NTSTATUS NTAPI DispatchOther(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0); }

NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT object, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    uint32_t code = sp->Parameters.DeviceIoControl.IoControlCode;
    uint32_t inLength = sp->Parameters.DeviceIoControl.InputBufferLength;
    uint32_t outLength = sp->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    if ((code & 3) != METHOD_BUFFERED) {  // only buffered requests carry data we can reach
        buffer = nullptr;
        inLength = outLength = 0;
    }
    uint32_t slot;
    if (!SlotOf(sp, &slot)) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);

    bool isPrivate = tlmsim::IsSimControlCode(code);
    if (isPrivate && DeviceOf(object) != tlmsim::kDeviceControl) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);

    uint32_t returned = 0;
    int32_t status;
    bool boardsChanged = false;
    LockModel();
    // Input and output share the system buffer: answer from a copy of the input.
    const void* in = buffer;
    if (buffer != nullptr && inLength <= sizeof g_request) {
        __builtin_memcpy(g_request, buffer, inLength);
        in = g_request;
    }
    if (buffer == nullptr) in = nullptr;
    uint64_t real = RealNs();
    uint32_t clockOp = 0;
    if (isPrivate && code == TLMSIM_IOCTL_CLOCK && in != nullptr && inLength >= 4) __builtin_memcpy(&clockOp, in, 4);
    if (clockOp == TLMSIM_CLOCK_VIRTUAL)
        status = tlmsim::kStatusInvalidParameter;  // virtual time is one program's: the driver serves them all
    else if (isPrivate)
        status = tlmsim::SimControlRequest(&g_model, &g_clock, code, in, inLength, buffer, outLength, &returned, real,
                                           &boardsChanged);
    else
        status = tlmsim::DriverIoctl(&g_model, slot, code, in, inLength, buffer, outLength, &returned,
                                     tlmsim::SimClockNow(&g_clock, real));
    UnlockModel();
    if (returned > outLength) returned = outLength;
    if (boardsChanged) UpdateBoardDevices();
    return Complete(irp, status, returned);
}

void DeleteAllDevices() {
    for (uint32_t e = 0; e < kMaxBoardDevices; ++e) {
        BoardDevice& d = g_boardDevices[e];
        if (d.object == nullptr) continue;
        if (d.linked) RemoveLink(d.number);
        IoDeleteDevice(d.object);
        d.object = nullptr;
    }
    UNICODE_STRING link;
    if (g_vxdDevice != nullptr) {
        RtlInitUnicodeString(&link, L"\\DosDevices\\TELLAMIO.VXD");
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(g_vxdDevice);
        g_vxdDevice = nullptr;
    }
    if (g_controlDevice != nullptr) {
        RtlInitUnicodeString(&link, L"\\DosDevices\\TLMDRV");
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(g_controlDevice);
        g_controlDevice = nullptr;
    }
}

void NTAPI DriverUnload(PDRIVER_OBJECT) { DeleteAllDevices(); }

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING) {
    g_driverObject = driverObject;
    KeQueryPerformanceCounter(&g_counterFrequency);
    if (g_counterFrequency.QuadPart <= 0) g_counterFrequency.QuadPart = 10000000;
    ExInitializeFastMutex(&g_modelLock);
    KeInitializeMutex(&g_deviceLock, 0);
    tlmsim::SimClockInit(&g_clock, RealNs());
    tlmsim::DriverInit(&g_model, g_files, kFileSlots, 0);

    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driverObject->MajorFunction[i] = DispatchOther;
    driverObject->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driverObject->DriverUnload = DriverUnload;

    NTSTATUS status =
        MakeDevice(L"\\Device\\TLMDRV", L"\\DosDevices\\TLMDRV", tlmsim::kDeviceControl, &g_controlDevice);
    if (!NT_SUCCESS(status)) return status;
    status = MakeDevice(L"\\Device\\TELLAMIO.VXD", L"\\DosDevices\\TELLAMIO.VXD", tlmsim::kDeviceVxd, &g_vxdDevice);
    if (!NT_SUCCESS(status)) {
        DeleteAllDevices();
        return status;
    }
    UpdateBoardDevices();
    return STATUS_SUCCESS;
}
