// Enumeration, open and close.
#include <stdlib.h>

#include "internal.h"

DWORD WINAPI tlmio_GetDeviceCount(DWORD unused) {
    (void)unused;
    HANDLE control = OpenDriverDevice(NULL);
    if (control == INVALID_HANDLE_VALUE) return 0;
    DWORD count = 0;
    DWORD returned;
    if (!SendRequest(control, IOCTL_GET_DEVICE_COUNT, NULL, 0, &count, sizeof count, &returned) || returned != 4)
        count = 0;
    CloseDriverDevice(control);
    return count;
}

BOOL WINAPI tlmio_GetDeviceInfo(DWORD* count, DeviceInfo* info) {
    if (count == NULL || (info == NULL && *count != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD room = *count;
    BYTE* reply = NULL;
    if (room <= (0xFFFFFFFFu - 4) / sizeof(DeviceInfo)) reply = (BYTE*)malloc(4 + (size_t)room * sizeof(DeviceInfo));
    if (reply == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        *count = 0;
        return FALSE;
    }
    DWORD stored = 0;
    BOOL ok = FALSE;
    HANDLE control = OpenDriverDevice(NULL);
    if (control != INVALID_HANDLE_VALUE) {
        DWORD returned;
        ok = SendRequest(control, IOCTL_GET_DEVICE_INFO, &room, sizeof room, reply,
                         4 + room * (DWORD)sizeof(DeviceInfo), &returned);
        if (ok) {
            // Only records that arrived whole are handed on, and never more than the caller
            // has room for; a reply without its count brings none.
            DWORD arrived = returned >= 4 ? (returned - 4) / (DWORD)sizeof(DeviceInfo) : 0;
            DWORD reported = returned >= 4 ? *(DWORD*)reply : 0;
            stored = reported < room ? reported : room;
            if (stored > arrived) stored = arrived;
            for (DWORD i = 0; i < stored; ++i) info[i] = *(DeviceInfo*)(reply + 4 + i * sizeof(DeviceInfo));
        }
        CloseDriverDevice(control);
    }
    free(reply);
    *count = stored;
    return ok;
}

// Opens the board a description names: its driver device, the driver's selection, then a
// record and a handle. The caller holds the table for change, so that no other open of the
// same board comes between its check and the record.
static TLMIO_HANDLE OpenDescribedBoard(const DeviceInfo* info) {
    HANDLE device = OpenDriverDevice(info);
    if (device == INVALID_HANDLE_VALUE) return TLMIO_INVALID_HANDLE;
    DeviceInfo selection = *info;
    DWORD returned;
    if (!SendRequest(device, IOCTL_SELECT_BOARD, &selection, sizeof selection, NULL, 0, &returned)) {
        CloseDriverDevice(device);
        SetLastError(LIBERR_OPEN);
        return TLMIO_INVALID_HANDLE;
    }
    BoardRecord* record = AddBoardRecord(info, device);
    if (record == NULL) {
        CloseDriverDevice(device);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return TLMIO_INVALID_HANDLE;
    }
    return record->Handle;
}

// A board that is already open fails the open before anything is sent.
static TLMIO_HANDLE OpenUnlessOpen(DeviceInfo* info, bool byDevice) {
    TLMIO_HANDLE handle = TLMIO_INVALID_HANDLE;
    BeginTableChange();
    if (FindBoardRecord(FIND_BY_INFO, info) != NULL) {
        SetLastError(LIBERR_OPEN);
    } else if (byDevice) {
        // The board is chosen by its device, never by board ID: the rest of the open sees
        // BoardId -1, and the caller gets its description back as it was.
        LONG savedBoardId = info->BoardId;
        info->BoardId = -1;
        handle = OpenDescribedBoard(info);
        info->BoardId = savedBoardId;
    } else {
        handle = OpenDescribedBoard(info);
    }
    EndTableChange();
    return handle;
}

TLMIO_HANDLE WINAPI tlmio_OpenDeviceID(DeviceInfo* info) {
    if (info == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TLMIO_INVALID_HANDLE;
    }
    return OpenUnlessOpen(info, false);
}

TLMIO_HANDLE WINAPI tlmio_OpenDevice(DeviceInfo* info) {
    if (info == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return TLMIO_INVALID_HANDLE;
    }
    return OpenUnlessOpen(info, true);
}

// The record leaves the table before its device is closed: a port call still under way
// finishes on this board first, and a later one finds no board rather than another board
// that the system gave the same device handle value.
BOOL WINAPI tlmio_CloseDevice(TLMIO_HANDLE board) {
    BeginTableChange();
    BoardRecord* record = FindBoardRecord(FIND_BY_HANDLE, &board);
    BOOL closed = FALSE;
    if (record != NULL) {
        HANDLE device = record->Device;
        RemoveBoardRecord(record);
        closed = CloseDriverDevice(device);
    } else {
        SetLastError(LIBERR_HANDLE);
    }
    EndTableChange();
    return closed;
}
