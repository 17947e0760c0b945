/* tellamio: access to Tellam-6X and Tellam-4X pulse-motor controller boards through their
 * kernel driver. Every export uses the Win32 standard calling convention. Board functions
 * return nonzero for success and 0 for failure, the open calls a board handle or
 * TLMIO_INVALID_HANDLE; every failure leaves its reason in the thread's last-error value, and
 * out-parameters are written only on success. Usable from C and C++. */
#ifndef TELLAMIO_H
#define TELLAMIO_H

#include <windows.h>

/* The version of the library this header belongs to (the DLL's version resource is
 * MAJOR.MINOR.PATCH.0). */
#define TELLAMIO_VERSION_MAJOR 3
#define TELLAMIO_VERSION_MINOR 2
#define TELLAMIO_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
/* The description of one board. In a description given to an open call, -1 in a field means
 * that the field is not given. */
typedef struct DeviceInfo {
    LONG BusNumber;        /* PCI bus number */
    LONG DeviceNumber;     /* PCI device number */
    LONG IoAddress;        /* base address of the board's I/O ports */
    LONG IrqNumber;        /* interrupt number */
    LONG ManagementNumber; /* the driver's instance number: the N of "\\.\TLMDRVN" */
    LONG BoardId;          /* the board ID set on the board */
} DeviceInfo;
#pragma pack(pop)

/* DeviceInfo is six packed 32-bit fields; a compiler that lays it out otherwise stops here
 * (a negative array size), in every C and C++ version. */
typedef char tlmio_DeviceInfo_is_24_bytes[(sizeof(DeviceInfo) == 24) ? 1 : -1];

/* Board handle: bits 0-15 the index of the open board (1-65535), bits 16-31 the low 16 bits
 * of its BoardId (0xFFFF for a board opened by tlmio_OpenDevice). A handle with index 0
 * addresses the newest open board with that board ID half. */
typedef DWORD TLMIO_HANDLE;
#define TLMIO_INVALID_HANDLE ((TLMIO_HANDLE)0xFFFFFFFFu)

/* The library's own last-error values (bit 29, the application bit, set). */
#define LIBERR_OPEN   0x20000001L /* board already open, or the driver refused the selection */
#define LIBERR_HANDLE 0x20000002L /* no open board answers to the handle */

/* Ordinals 1-5: enumeration, open and close. Each sends the driver requests named; "port"
 * is the byte offset in the board's block of ports, an axis owning axis * 16 to axis * 16 + 15. */
/* GET_DEVICE_COUNT on the control device; writes nothing. The count, 0 on failure. */
DWORD WINAPI tlmio_GetDeviceCount(DWORD unused);
/* GET_DEVICE_INFO on the control device; writes up to *count (in) records to info, in the
 * driver's order, and the number written to *count (0 on failure). */
BOOL WINAPI tlmio_GetDeviceInfo(DWORD* count, DeviceInfo* info);
/* Opens the board's device (found by ManagementNumber, else by BoardId, I/O address and IRQ,
 * or bus and device), then SELECT_BOARD with *info; writes nothing. */
TLMIO_HANDLE WINAPI tlmio_OpenDeviceID(DeviceInfo* info);
/* As tlmio_OpenDeviceID, with the BoardId not given (the field is restored before it returns). */
TLMIO_HANDLE WINAPI tlmio_OpenDevice(DeviceInfo* info);
/* Closes the board's device; sends nothing. */
BOOL WINAPI tlmio_CloseDevice(TLMIO_HANDLE board);

/* Ordinals 6-20: port access. */
/* With withData: data to the words at ports 4 and 6, then the command byte to port 0; a
 * decelerating stop (0x0A) is sent as 0x09 when the axis runs at its FL, which it finds out
 * with commands 0x81 and 0x8C and word reads in between. */
BOOL WINAPI tlmio_CmdWrite(TLMIO_HANDLE board, WORD axis, BYTE command, WORD withData, DWORD data);
/* The operation-mode byte to port 1. */
BOOL WINAPI tlmio_DousaWrite(TLMIO_HANDLE board, WORD axis, BYTE mode);
/* The control-mode byte to port 2. */
BOOL WINAPI tlmio_SeigyoWrite(TLMIO_HANDLE board, WORD axis, BYTE control);
/* Reads port 0 (status 1) into *status. */
BOOL WINAPI tlmio_status1Read(TLMIO_HANDLE board, WORD axis, BYTE* status);
/* Reads port 1 (status 2) into *status. */
BOOL WINAPI tlmio_status2Read(TLMIO_HANDLE board, WORD axis, BYTE* status);
/* Reads port 2 (the interrupt status) into *status. */
BOOL WINAPI tlmio_intstatusRead(TLMIO_HANDLE board, WORD axis, BYTE* status);
/* The register-read command byte to port 0, then reads the words at ports 4 and 6 into *value. */
BOOL WINAPI tlmio_regRead(TLMIO_HANDLE board, WORD axis, BYTE command, DWORD* value);
/* The ELS polarity byte to board port 0x80. */
BOOL WINAPI tlmio_ElstWrite(TLMIO_HANDLE board, BYTE value);
/* Reads board port 0x80 into *value. */
BOOL WINAPI tlmio_ElstRead(TLMIO_HANDLE board, BYTE* value);
/* The CMP output switching byte to board port 0x88. */
BOOL WINAPI tlmio_CmpcWrite(TLMIO_HANDLE board, BYTE value);
/* Reads board port 0x88 into *value. */
BOOL WINAPI tlmio_CmpcRead(TLMIO_HANDLE board, BYTE* value);
/* Reads board port 0x9C; writes its low four bits to *boardId. */
BOOL WINAPI tlmio_boardIDRead(TLMIO_HANDLE board, BYTE* boardId);
/* Reads board ports 0xC0, 0xC2 ... 0xCE; writes the eight bytes only when all were read. */
BOOL WINAPI tlmio_IDNumberRead(TLMIO_HANDLE board, BYTE* idNumber /* 8 bytes */);
/* Reads board port 0xBC (one bit per axis) into *value. */
BOOL WINAPI tlmio_INTRDRead(TLMIO_HANDLE board, BYTE* value);
/* 0xFF to board port 0xBE. */
BOOL WINAPI tlmio_INTRst(TLMIO_HANDLE board);

#ifdef __cplusplus
}
#endif

#endif /* TELLAMIO_H */
