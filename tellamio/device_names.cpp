// The driver's device names and the choice of device: which one a board description opens,
// and the requests sent on it.
#include <stdlib.h>

#include "internal.h"

#define MAX_ENUMERATED_BOARDS 65536u

bool IsWindows9x() { return (GetVersion() & 0x80000000u) != 0; }

// The form that loads a dynamically loadable virtual device driver and unloads it at the
// last close.
static HANDLE OpenVxdDevice() {
    return g_transport.open(TLMDRV_VXD_DEVICE, 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OVERLAPPED);
}

static HANDLE OpenNtDevice(const char* name) {
    return g_transport.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
}

static HANDLE OpenBoardDevice(LONG managementNumber) {
    char name[32];
    wsprintfA(name, TLMDRV_BOARD_DEVICE, managementNumber);
    return OpenNtDevice(name);
}

// Same board by the first rule that applies: board ID, I/O address with IRQ, else bus and
// device number as they stand.
static bool EnumeratedBoardMatches(const DeviceInfo* record, const DeviceInfo* wanted) {
    if (wanted->BoardId != -1) return record->BoardId == wanted->BoardId;
    if (wanted->IoAddress != -1 && wanted->IrqNumber != -1)
        return record->IoAddress == wanted->IoAddress && record->IrqNumber == wanted->IrqNumber;
    return record->BusNumber == wanted->BusNumber && record->DeviceNumber == wanted->DeviceNumber;
}

// The management number of the first enumerated board matching the description; false with
// ERROR_NOT_ENOUGH_MEMORY or ERROR_FILE_NOT_FOUND.
static bool FindManagementNumber(const DeviceInfo* wanted, LONG* managementNumber) {
    DWORD count = tlmio_GetDeviceCount(1);
    if (count == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // PCI has room for at most 65536 functions; a larger count is a driver's fault and would
    // only make the room below huge, so no more records than that are asked for.
    if (count > MAX_ENUMERATED_BOARDS) count = MAX_ENUMERATED_BOARDS;
    DeviceInfo* records = (DeviceInfo*)malloc((size_t)count * sizeof(DeviceInfo));
    if (records == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    bool found = false;
    if (tlmio_GetDeviceInfo(&count, records)) {
        for (DWORD i = 0; i < count && !found; ++i) {
            if (EnumeratedBoardMatches(&records[i], wanted)) {
                *managementNumber = records[i].ManagementNumber;
                found = true;
            }
        }
    }
    free(records);
    if (!found) SetLastError(ERROR_FILE_NOT_FOUND);
    return found;
}

HANDLE OpenDriverDevice(const DeviceInfo* info) {
    if (IsWindows9x()) return OpenVxdDevice();
    if (info == NULL) return OpenNtDevice(TLMDRV_CONTROL_DEVICE);
    if (info->ManagementNumber != -1) return OpenBoardDevice(info->ManagementNumber);
    LONG managementNumber;
    if (!FindManagementNumber(info, &managementNumber)) return INVALID_HANDLE_VALUE;
    return OpenBoardDevice(managementNumber);
}
