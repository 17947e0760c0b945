/* tellam_protocol: how a program reaches the Tellam boards' kernel driver: the device names,
 * the seven control requests with their names, and the records they carry. tellamio.dll
 * sends them; the simulated driver tlmsim.sys and the simulated library answer them. Every
 * request is a synchronous, buffered DeviceIoControl. Plain C, usable from C and C++. */
#ifndef TELLAM_PROTOCOL_H
#define TELLAM_PROTOCOL_H

/* The devices, as CreateFileA names them. */
#define TLMDRV_BOARD_DEVICE   "\\\\.\\TLMDRV%d"     /* one per board: %d its ManagementNumber */
#define TLMDRV_CONTROL_DEVICE "\\\\.\\TLMDRV"       /* the control device: enumeration */
#define TLMDRV_VXD_DEVICE     "\\\\.\\TELLAMIO.VXD" /* the Windows 9x family: one device for every board */

/* The control requests: device type 0x22 (FILE_DEVICE_UNKNOWN), FILE_ANY_ACCESS,
 * METHOD_BUFFERED, functions 0x800 to 0x806. */
#define IOCTL_GET_DEVICE_COUNT 0x222000u /* out: the 4-byte board count */
#define IOCTL_GET_DEVICE_INFO  0x222004u /* in: 4-byte room n; out: 4-byte count, then n TlmDeviceRecord */
#define IOCTL_SELECT_BOARD     0x222008u /* in: the TlmDeviceRecord of the board */
#define IOCTL_READ_BYTE        0x22200Cu /* in: TlmPortRead; out: 1 byte */
#define IOCTL_READ_WORD        0x222010u /* in: TlmPortRead; out: 2 bytes, low byte first */
#define IOCTL_WRITE_BYTE       0x222014u /* in: TlmPortWrite */
#define IOCTL_WRITE_WORD       0x222018u /* in: TlmPortWrite */

/* The requests' names, as traces and tlmsimctl spell them, in the order of their codes:
 * names[TLMDRV_REQUEST_INDEX(code)] for a code from IOCTL_GET_DEVICE_COUNT to IOCTL_WRITE_WORD. */
#define TLMDRV_REQUEST_NAMES                                                                                           \
    { "GET_DEVICE_COUNT", "GET_DEVICE_INFO", "SELECT_BOARD", "READ_BYTE", "READ_WORD", "WRITE_BYTE", "WRITE_WORD" }
#define TLMDRV_REQUEST_COUNT       7
#define TLMDRV_REQUEST_INDEX(code) (((code)-IOCTL_GET_DEVICE_COUNT) / 4u)

#pragma pack(push, 1)
/* The board record of IOCTL_GET_DEVICE_INFO and IOCTL_SELECT_BOARD: six little-endian 32-bit
 * signed fields, laid out as tellamio.h's DeviceInfo. In a selection, -1 means "not given". */
typedef struct TlmDeviceRecord {
    int BusNumber;
    int DeviceNumber;
    int IoAddress;
    int IrqNumber;
    int ManagementNumber; /* 0..9999: the N of the board's device name */
    int BoardId;
} TlmDeviceRecord;
typedef char TlmDeviceRecord_is_24_bytes[(sizeof(TlmDeviceRecord) == 24) ? 1 : -1];

/* The records of the port requests: a port is an offset from the board's I/O base. */
typedef struct TlmPortRead {
    unsigned int Port;
} TlmPortRead;
typedef struct TlmPortWrite {
    unsigned int Port;
    unsigned int Value; /* the byte or word, zero-extended */
} TlmPortWrite;
#pragma pack(pop)

#endif /* TELLAM_PROTOCOL_H */
