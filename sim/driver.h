// The kernel driver of the Tellam boards, as a model: the control device, one device per board
// (named after the board's management number) and the device of the Windows 9x family, the
// seven control requests with their exact byte counts, a request trace and fault injection.
//
// Freestanding like board.h. The same model answers the native stand-in of kernel32 in
// process and runs inside tlmsim.sys.
#pragma once

#include "../tellamio/tellam_protocol.h"
#include "board.h"

namespace tlmsim {

// NTSTATUS values the model answers with (Wine and Windows turn them into last-error values).
enum : int32_t {
    kStatusSuccess = 0,
    kStatusUnsuccessful = static_cast<int32_t>(0xC0000001),
    kStatusInvalidParameter = static_cast<int32_t>(0xC000000D),
    kStatusNoSuchDevice = static_cast<int32_t>(0xC000000E),
    kStatusInvalidDeviceRequest = static_cast<int32_t>(0xC0000010),
    kStatusBufferTooSmall = static_cast<int32_t>(0xC0000023),
    kStatusObjectNameNotFound = static_cast<int32_t>(0xC0000034),
    kStatusInsufficientResources = static_cast<int32_t>(0xC000009A),
    kStatusIoDeviceError = static_cast<int32_t>(0xC0000185),
};

constexpr uint32_t kMaxBoards = 32;
constexpr uint32_t kTraceCapacity = 4096;
constexpr uint32_t kMaxFaults = 8;

// The device a file is opened on: a management number (0 and up) for a per-board device,
// or one of these.
enum : int32_t {
    kDeviceControl = -1,  // "\\.\TLMDRV"
    kDeviceVxd = -2,      // "\\.\TELLAMIO.VXD", one device for every board
    kDeviceNone = -3,
};

struct File {
    int32_t device;  // kDeviceNone when the slot is free
    int32_t board;   // index into Driver::boards of the selected board, or -1
};

// One answered request. For port requests `port` is the port offset and `value` the byte or
// word written or read; for IOCTL_GET_DEVICE_INFO `port` is the room n the caller gave and
// `value` the count reported; for IOCTL_GET_DEVICE_COUNT `value` is the count; for
// IOCTL_SELECT_BOARD `port` is the description's BoardId and `value` its ManagementNumber.
struct TraceEntry {
    uint32_t seq;   // request number, from 1 since the last DriverResetTrace
    uint32_t file;  // the file slot it came on
    uint32_t code;  // control code (any code, also unknown ones)
    uint32_t port;
    uint32_t value;
    int32_t status;     // NTSTATUS answered
    uint32_t returned;  // byte count answered
    int32_t board;      // management number of the board the file had selected (else of its
                        // per-board device), -1 for none
};

enum FaultKind : uint32_t {
    kFaultNone = 0,
    kFaultFail = 1,          // answer `status` and 0 bytes, do nothing
    kFaultByteCount = 2,     // do the request, then report `value` bytes returned (at most the room)
    kFaultExtraRecords = 3,  // GET_DEVICE_INFO: report `value` more records than the room holds
    kFaultReply = 4,         // port read: answer `value` (byte or word) without asking the board
};

struct Fault {
    uint32_t kind;
    uint32_t request;  // the request number it hits; 0 hits every request with `code`
    uint32_t code;     // with request 0: the control code it hits
    int32_t status;    // kFaultFail: the status to answer
    uint32_t value;    // kFaultByteCount: bytes to report; kFaultExtraRecords: records to add;
                       // kFaultReply: the value read
};

struct Driver {
    Board boards[kMaxBoards];
    uint32_t boardCount;
    File* files;
    uint32_t fileCapacity;
    uint32_t openFiles;
    uint32_t freeHint;                 // no free slot below this one
    TraceEntry trace[kTraceCapacity];  // ring: request seq lives at trace[(seq - 1) % capacity]
    uint32_t requestCount;             // requests answered since the last reset of the trace
    Fault faults[kMaxFaults];
    uint32_t faultCount;
};

// Empties the driver: one six-axis board (DefaultBoardConfig(0)), no open files, no trace,
// no faults. `files` is the caller's storage for open files; every slot is freed.
void DriverInit(Driver* driver, File* files, uint32_t fileCapacity, uint64_t nowNs);

// Replaces the boards (at most kMaxBoards; more are dropped) and resets them. Open files
// lose their selection.
void DriverSetBoards(Driver* driver, const BoardConfig* configs, uint32_t count, uint64_t nowNs);

// Which device a "\\.\NAME" path names; false for names the driver does not own.
// "\\.\TLMDRV" -> kDeviceControl, "\\.\TLMDRV7" -> 7, "\\.\TELLAMIO.VXD" -> kDeviceVxd.
bool DeviceFromName(const char* path, int32_t* device);

// Opens a file on a device. A per-board device exists only while a board has that management
// number (kStatusObjectNameNotFound otherwise); kStatusInsufficientResources when every file
// slot is taken. On success *file is the slot.
int32_t DriverOpen(Driver* driver, int32_t device, uint32_t* file);

// Closes a file slot; closing a free slot does nothing.
void DriverClose(Driver* driver, uint32_t file);

// Answers one control request on an open file, synchronously. `returned` gets the byte count
// placed in `out`. Every call, answered or refused, is one numbered request in the trace.
int32_t DriverIoctl(Driver* driver, uint32_t file, uint32_t code, const void* in, uint32_t inLength, void* out,
                    uint32_t outLength, uint32_t* returned, uint64_t nowNs);

// Forgets the trace and restarts request numbering at 1.
void DriverResetTrace(Driver* driver);

// The trace entry of request `seq`, or null when it is not (or no longer) held.
const TraceEntry* DriverTraceEntry(const Driver* driver, uint32_t seq);

// Adds a fault (false when kMaxFaults are set); DriverClearFaults removes all.
bool DriverAddFault(Driver* driver, const Fault& fault);
void DriverClearFaults(Driver* driver);

// The board a management number names, or null.
Board* DriverBoardByManagementNumber(Driver* driver, int32_t managementNumber);

}  // namespace tlmsim
