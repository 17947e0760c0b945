/* Private control requests of tlmsim.sys: how a test sets up and watches the simulated boards.
 * The simulated tellamio.dll answers the same requests from its own boards, through its
 * export tlmsim_Request (tellamio_sim.h) and to tlmsimctl --process through its pipe.
 *
 * They are accepted only on the control device "\\.\TLMDRV", use function numbers 0x900 and up
 * (device type 0x22, METHOD_BUFFERED, FILE_ANY_ACCESS), and never appear in the request trace:
 * the trace shows only what a program sent with the seven board requests.
 *
 * Records are little-endian and packed; this header is plain C so the Windows tests, the
 * kernel driver and the native model tests share it. Every request answers STATUS_SUCCESS,
 * STATUS_INVALID_PARAMETER (bad record or value), STATUS_BUFFER_TOO_SMALL (output room
 * smaller than the reply) or STATUS_INVALID_DEVICE_REQUEST (unknown private code, or sent on
 * another device than the control device).
 *
 * Request                       Input                          Output
 * TLMSIM_IOCTL_RESET            none                           none
 *     one six-axis board, empty trace, no faults, no forced inputs, real clock. Open handles
 *     stay open (they lose their board selection).
 * TLMSIM_IOCTL_SET_BOARDS       TlmSimBoards + count configs   none
 *     replaces the boards (1..TLMSIM_MAX_BOARDS, or 0 for none) and puts them in their
 *     power-on state; the per-board devices "\\.\TLMDRV<ManagementNumber>" follow.
 * TLMSIM_IOCTL_GET_BOARDS       none                           TlmSimBoards + count configs
 * TLMSIM_IOCTL_CLOCK            TlmSimClockRequest             TlmSimClockState
 * TLMSIM_IOCTL_ADD_FAULT        TlmSimFault                    none
 * TLMSIM_IOCTL_CLEAR_FAULTS     none                           none
 * TLMSIM_IOCTL_READ_TRACE       uint32 first request number    TlmSimTraceHeader + entries
 *     the entries from that request number on, as many as the room holds (at least the header).
 * TLMSIM_IOCTL_RESET_TRACE      none                           none
 * TLMSIM_IOCTL_GET_STATE        none                           TlmSimState
 * TLMSIM_IOCTL_FORCE_INPUT      TlmSimForceInput               none
 *     drives an input's source (sensor or amplifier signal, before wiring and contact type).
 * TLMSIM_IOCTL_SET_SENSORS      TlmSimSetSensors               none
 * TLMSIM_IOCTL_SET_MACHINE_POSITION TlmSimMachinePosition      none
 *     moves the carriage by hand; refused while the axis moves.
 * TLMSIM_IOCTL_GET_MACHINE_POSITION TlmSimAxisRef              int64_t machine position
 * TLMSIM_IOCTL_FORCE_CMP        TlmSimForceCmp                 none
 *     the comparator status (bit 0x01 of port 0x88) on or off.
 * TLMSIM_IOCTL_READ_BOARD_TRACE uint32 first request number    TlmSimTraceHeader + board entries
 *     as READ_TRACE, each entry followed by the board it addressed (TlmSimBoardTraceEntry).
 * TLMSIM_IOCTL_GET_SENSORS      TlmSimAxisRef                  TlmSimSetSensors
 *     the sensors of an axis as SET_SENSORS takes them.
 * A board is named by its ManagementNumber; an unknown board, an axis the board does not have
 * or a refused change answers STATUS_INVALID_PARAMETER.
 */
#ifndef TLMSIM_CONTROL_H
#define TLMSIM_CONTROL_H

#include <stdint.h>

#include "tellam_protocol.h"

#define TLMSIM_CTL_CODE(function) (0x220000u | ((uint32_t)(function) << 2))

#define TLMSIM_IOCTL_RESET                TLMSIM_CTL_CODE(0x900) /* 0x222400 */
#define TLMSIM_IOCTL_SET_BOARDS           TLMSIM_CTL_CODE(0x901) /* 0x222404 */
#define TLMSIM_IOCTL_GET_BOARDS           TLMSIM_CTL_CODE(0x902) /* 0x222408 */
#define TLMSIM_IOCTL_CLOCK                TLMSIM_CTL_CODE(0x903) /* 0x22240C */
#define TLMSIM_IOCTL_ADD_FAULT            TLMSIM_CTL_CODE(0x904) /* 0x222410 */
#define TLMSIM_IOCTL_CLEAR_FAULTS         TLMSIM_CTL_CODE(0x905) /* 0x222414 */
#define TLMSIM_IOCTL_READ_TRACE           TLMSIM_CTL_CODE(0x906) /* 0x222418 */
#define TLMSIM_IOCTL_RESET_TRACE          TLMSIM_CTL_CODE(0x907) /* 0x22241C */
#define TLMSIM_IOCTL_GET_STATE            TLMSIM_CTL_CODE(0x908) /* 0x222420 */
#define TLMSIM_IOCTL_FORCE_INPUT          TLMSIM_CTL_CODE(0x909) /* 0x222424 */
#define TLMSIM_IOCTL_SET_SENSORS          TLMSIM_CTL_CODE(0x90A) /* 0x222428 */
#define TLMSIM_IOCTL_SET_MACHINE_POSITION TLMSIM_CTL_CODE(0x90B) /* 0x22242C */
#define TLMSIM_IOCTL_GET_MACHINE_POSITION TLMSIM_CTL_CODE(0x90C) /* 0x222430 */
#define TLMSIM_IOCTL_FORCE_CMP            TLMSIM_CTL_CODE(0x90D) /* 0x222434 */
#define TLMSIM_IOCTL_READ_BOARD_TRACE     TLMSIM_CTL_CODE(0x90E) /* 0x222438 */
#define TLMSIM_IOCTL_GET_SENSORS          TLMSIM_CTL_CODE(0x90F) /* 0x22243C */
#define TLMSIM_IOCTL_FIRST                TLMSIM_IOCTL_RESET
#define TLMSIM_IOCTL_LAST                 TLMSIM_IOCTL_GET_SENSORS

#define TLMSIM_MAX_BOARDS 32

#pragma pack(push, 1)

/* One board: its enumeration record and what its ports show. */
typedef struct TlmSimBoardConfig {
    TlmDeviceRecord info; /* what enumeration reports; BoardId is also the low 4 bits at 0x9C */
    uint8_t axes;         /* 6 (Tellam-6X) or 4 (Tellam-4X) */
    uint8_t boardIdHigh;  /* high 4 bits of port 0x9C */
    uint8_t idNumber[8];  /* the bytes at 0xC0 + 2*i */
    uint8_t reserved[2];  /* 0 */
} TlmSimBoardConfig;

typedef struct TlmSimBoards {
    uint32_t count;
    /* followed by count TlmSimBoardConfig records */
} TlmSimBoards;

/* Clock operations. The model's time starts at 0 when the driver loads and runs with the real
 * time until told otherwise. Whatever the mode, it never runs backwards. */
enum {
    TLMSIM_CLOCK_QUERY = 0,   /* only report */
    TLMSIM_CLOCK_FREEZE = 1,  /* stop the model's time where it is */
    TLMSIM_CLOCK_RUN = 2,     /* let it run with the real time again, from where it stands */
    TLMSIM_CLOCK_ADVANCE = 3, /* move it on by `ns` (in every mode) */
    TLMSIM_CLOCK_SCALE = 4,   /* run `ns` thousandths as fast as the real time (TLMSIM_SCALE_MIN..MAX) */
    TLMSIM_CLOCK_VIRTUAL = 5, /* stand still but for ADVANCE: the simulated library's waits move it */
};
#define TLMSIM_SCALE_ONE 1000u     /* the scale of the real time, in thousandths */
#define TLMSIM_SCALE_MIN 10u       /* 0.01 */
#define TLMSIM_SCALE_MAX 10000000u /* 10000 */

/* The clock's modes, as TlmSimClockState reports them. */
enum {
    TLMSIM_CLOCK_RUNNING = 0, /* with the real time, `scale` thousandths as fast */
    TLMSIM_CLOCK_FROZEN = 1,
    TLMSIM_CLOCK_STEPPED = 2, /* virtual time */
};

typedef struct TlmSimClockRequest {
    uint32_t op;
    uint32_t reserved; /* 0 */
    uint64_t ns;       /* TLMSIM_CLOCK_ADVANCE: how far; TLMSIM_CLOCK_SCALE: the scale */
} TlmSimClockRequest;

typedef struct TlmSimClockState {
    uint64_t nowNs; /* the model's time after the operation */
    uint32_t mode;  /* TLMSIM_CLOCK_RUNNING, _FROZEN or _STEPPED */
    uint32_t scale; /* while running: thousandths of the real time's speed */
} TlmSimClockState;

/* A request failure to inject; the fields of the model's fault record. */
enum {
    TLMSIM_FAULT_FAIL = 1,          /* answer `status` and 0 bytes, do nothing */
    TLMSIM_FAULT_BYTE_COUNT = 2,    /* do the request, then report `value` bytes returned */
    TLMSIM_FAULT_EXTRA_RECORDS = 3, /* device-info reply: `value` more records than the room */
    TLMSIM_FAULT_REPLY = 4,         /* port read: answer `value` (byte or word), board not asked */
};

typedef struct TlmSimFault {
    uint32_t kind;
    uint32_t request; /* request number it hits (counted as in the trace); 0: every request */
    uint32_t code;    /* with request 0: the control code it hits */
    int32_t status;   /* TLMSIM_FAULT_FAIL: the NTSTATUS to answer */
    uint32_t value;
} TlmSimFault;

/* One answered board request (see the model's trace). */
typedef struct TlmSimTraceEntry {
    uint32_t seq;      /* request number, from 1 since the last reset of the trace */
    uint32_t file;     /* the driver's file slot it came on */
    uint32_t code;     /* control code */
    uint32_t port;     /* port offset; device-info: the room n; else 0 */
    uint32_t value;    /* byte or word written or read; counts for the enumeration requests */
    int32_t status;    /* NTSTATUS answered */
    uint32_t returned; /* byte count answered */
} TlmSimTraceEntry;

/* An entry of TLMSIM_IOCTL_READ_BOARD_TRACE. */
typedef struct TlmSimBoardTraceEntry {
    TlmSimTraceEntry entry;
    int32_t board; /* ManagementNumber of the board the file had selected, else of its
                      per-board device; -1 for none (control device, nothing selected) */
} TlmSimBoardTraceEntry;

typedef struct TlmSimTraceHeader {
    uint32_t requestCount; /* requests answered since the last reset of the trace */
    uint32_t first;        /* request number of the first entry that follows */
    uint32_t count;        /* entries that follow */
} TlmSimTraceHeader;

typedef struct TlmSimState {
    uint32_t boardCount;
    uint32_t openFiles;    /* every open handle on the driver's devices, this one included */
    uint32_t openControl;  /* of them on "\\.\TLMDRV" */
    uint32_t openBoard;    /* of them on "\\.\TLMDRVN" devices */
    uint32_t openVxd;      /* of them on "\\.\TELLAMIO.VXD" */
    uint32_t requestCount; /* board requests answered since the last reset of the trace */
    uint32_t faultCount;
    uint32_t clockFrozen; /* the clock stands still between ADVANCEs (frozen or virtual) */
    uint64_t nowNs;
} TlmSimState;

/* Inputs of an axis. */
enum {
    TLMSIM_INPUT_PLUS_ELS = 0,
    TLMSIM_INPUT_MINUS_ELS = 1,
    TLMSIM_INPUT_DLS = 2,
    TLMSIM_INPUT_OLS = 3,
    TLMSIM_INPUT_Z = 4,
    TLMSIM_INPUT_INPOS = 5,
    TLMSIM_INPUT_SVALM = 6,
    TLMSIM_INPUT_COUNT = 7,
};

/* How an input's source is driven. With the default wiring and contact types an input is
 * active exactly while its source is asserted. */
enum {
    TLMSIM_FORCE_FOLLOW = 0,   /* the sensor on the travel, or the servo amplifier */
    TLMSIM_FORCE_ASSERTED = 1, /* the sensor detects / the amplifier asserts */
    TLMSIM_FORCE_RELEASED = 2, /* not detecting / not asserted */
};

typedef struct TlmSimAxisRef {
    int32_t managementNumber;
    uint32_t axis;
} TlmSimAxisRef;

typedef struct TlmSimForceInput {
    int32_t managementNumber;
    uint32_t axis;
    uint32_t input; /* TLMSIM_INPUT_* */
    uint32_t force; /* TLMSIM_FORCE_* */
} TlmSimForceInput;

/* A sensor detects while from <= machine position <= to; from > to: never. */
typedef struct TlmSimZone {
    int32_t from;
    int32_t to;
} TlmSimZone;

typedef struct TlmSimSetSensors {
    int32_t managementNumber;
    uint32_t axis;
    TlmSimZone plusEls;
    TlmSimZone minusEls;
    TlmSimZone dls[2];
    TlmSimZone ols;
    int32_t zPeriod; /* Z mark where (position - zOffset) mod zPeriod < zWidth; <= 0: none */
    int32_t zOffset;
    int32_t zWidth;
    uint8_t normallyOpen; /* bit (1 << TLMSIM_INPUT_*) set: that source is wired normally open */
    uint8_t reserved[3];
} TlmSimSetSensors;

typedef struct TlmSimMachinePosition {
    int32_t managementNumber;
    uint32_t axis;
    int64_t position;
} TlmSimMachinePosition;

typedef struct TlmSimForceCmp {
    int32_t managementNumber;
    uint32_t on;
} TlmSimForceCmp;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(TlmSimBoardConfig) == 36, "board config is 36 packed bytes");
static_assert(sizeof(TlmSimClockRequest) == 16, "clock request is 16 bytes");
static_assert(sizeof(TlmSimFault) == 20, "fault is 20 bytes");
static_assert(sizeof(TlmSimTraceEntry) == 28, "trace entry is 28 bytes");
static_assert(sizeof(TlmSimBoardTraceEntry) == 32, "board trace entry is 32 bytes");
static_assert(sizeof(TlmSimState) == 40, "state is 40 bytes");
static_assert(sizeof(TlmSimSetSensors) == 64, "sensors record is 64 bytes");
static_assert(sizeof(TlmSimMachinePosition) == 16, "machine position record is 16 bytes");
#endif

#endif /* TLMSIM_CONTROL_H */
