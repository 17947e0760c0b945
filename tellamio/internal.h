// Internals shared by the library's source files: the driver's control requests, the
// open-board table and the device opening.
#pragma once

#include "tellamio.h"

// Control requests of the board's kernel driver: device type 0x22 (FILE_DEVICE_UNKNOWN),
// FILE_ANY_ACCESS, METHOD_BUFFERED, functions 0x800 to 0x806.
#define IOCTL_GET_DEVICE_COUNT 0x222000u  // out: 4-byte board count
#define IOCTL_GET_DEVICE_INFO  0x222004u  // in: 4-byte room n; out: count + n DeviceInfo
#define IOCTL_SELECT_BOARD     0x222008u  // in: 24-byte DeviceInfo
#define IOCTL_READ_BYTE        0x22200Cu  // in: PortReadRequest; out: 1 byte
#define IOCTL_READ_WORD        0x222010u  // in: PortReadRequest; out: 2 bytes, low byte first
#define IOCTL_WRITE_BYTE       0x222014u  // in: PortWriteRequest
#define IOCTL_WRITE_WORD       0x222018u  // in: PortWriteRequest

#pragma pack(push, 1)
struct PortReadRequest {
    DWORD Port;  // offset from the board's I/O base
};
struct PortWriteRequest {
    DWORD Port;
    DWORD Value;  // byte or word, zero-extended
};
#pragma pack(pop)
static_assert(sizeof(PortReadRequest) == 4 && sizeof(PortWriteRequest) == 8, "packed request records");

// -- driver devices ------------------------------------------------------------------------

// True when GetVersion reports the Windows 9x family (bit 31); asked afresh at every open.
bool IsWindows9x();

// Opens the driver device for a board description, or the control device for none.
// INVALID_HANDLE_VALUE on failure, with the reason in the last-error value.
HANDLE OpenDriverDevice(const DeviceInfo* info);

// One synchronous buffered request; *returned gets the byte count. Nonzero on success.
inline BOOL SendRequest(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    *returned = 0;
    return DeviceIoControl(device, code, in, inSize, out, outSize, returned, NULL);
}

// -- open-board table ----------------------------------------------------------------------

struct BoardRecord {
    TLMIO_HANDLE Handle;
    HANDLE Device;
    DeviceInfo Info;
    BoardRecord* Next;
};

enum { FIND_BY_INFO = 1, FIND_BY_HANDLE = 2 };

// Records the opened board at the head of the list under a new handle; null with
// ERROR_NOT_ENOUGH_MEMORY when no record can be made.
BoardRecord* AddBoardRecord(const DeviceInfo* info, HANDLE device);
// The first record, newest first, that answers to a DeviceInfo (FIND_BY_INFO) or to a
// TLMIO_HANDLE (FIND_BY_HANDLE); null when none does.
BoardRecord* FindBoardRecord(int kind, const void* key);
// Unlinks and frees a record; its device must already be closed.
void RemoveBoardRecord(BoardRecord* record);
// Closes every open device and frees every record.
void CloseAllBoards();
