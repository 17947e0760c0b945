// Internals shared by the library's source files: the driver's control requests, the
// open-board table and the device opening.
#pragma once

#include <stddef.h>

#include "tellam_protocol.h"
#include "tellamio.h"
#include "transport.h"

static_assert(sizeof(TlmPortRead) == 4 && sizeof(TlmPortWrite) == 8, "packed request records");
// A DeviceInfo goes to the driver as it is: it must be the protocol's board record.
static_assert(sizeof(DeviceInfo) == sizeof(TlmDeviceRecord) &&
                  offsetof(DeviceInfo, ManagementNumber) == offsetof(TlmDeviceRecord, ManagementNumber) &&
                  offsetof(DeviceInfo, BoardId) == offsetof(TlmDeviceRecord, BoardId),
              "DeviceInfo is the driver's board record");

// -- driver devices ------------------------------------------------------------------------

// True when GetVersion reports the Windows 9x family (bit 31); asked afresh at every open.
bool IsWindows9x();

// Opens the driver device for a board description, or the control device for none.
// INVALID_HANDLE_VALUE on failure, with the reason in the last-error value.
HANDLE OpenDriverDevice(const DeviceInfo* info);

// One synchronous buffered request; *returned gets the byte count. Nonzero on success.
inline BOOL SendRequest(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    return g_transport.request(device, code, in, inSize, out, outSize, returned);
}

// Closes a device that OpenDriverDevice opened.
inline BOOL CloseDriverDevice(HANDLE device) { return g_transport.close(device); }

// -- open-board table ----------------------------------------------------------------------

struct BoardRecord {
    TLMIO_HANDLE Handle;
    HANDLE Device;
    DeviceInfo Info;
    BoardRecord* Next;
};

enum { FIND_BY_INFO = 1, FIND_BY_HANDLE = 2 };

// Who may look at the table. A port call holds it shared from its lookup to its last request,
// so that no close frees its record, or closes its device, under it. Opens and closes hold
// it for change: one at a time, and the list itself changes only once every port call that
// could have found a record has finished.
struct TableUse {
    LONG* mark;  // the slot or the counter that BeginBoardUse marked
};

// Port calls mark their use in one of these slots, chosen by the caller's stack so that
// threads seldom share one: entering costs one interlocked exchange and leaving a plain
// store, which keeps a port call close to the cost of its bare request. A thread that finds
// its slot taken counts itself in g_sharedUsers instead. The state lives in boards.cpp; the
// way in is inline because every port call takes it.
#define USE_SLOTS 64
struct UseSlot {
    LONG busy;
    char padding[64 - sizeof(LONG)];  // one cache line each
};
extern UseSlot g_useSlots[USE_SLOTS];
extern LONG g_sharedUsers;
extern LONG g_tableChanging;  // nonzero while an open or a close changes the list
extern BoardRecord* g_recordByIndex[65536];
extern DWORD g_idHalfCache[16];
// Out of line: waiting for a change to end, and walks for a board ID half (index 0).
void WaitForTableChange(int* round);
BoardRecord* FindByIdHalf(TLMIO_HANDLE key);

// Indexes are unique among open records, so the record at an index is the first a walk
// would meet. A key with index 0 asks for the newest record with its board ID half; the last
// answer for each half is kept (one word: the half above the index found).
inline BoardRecord* FindByHandle(TLMIO_HANDLE key) {
    if ((key & 0xFFFFu) != 0) return g_recordByIndex[key & 0xFFFFu];
    DWORD entry = __atomic_load_n(&g_idHalfCache[(key >> 16) & 15], __ATOMIC_RELAXED);
    if (entry != 0 && (entry >> 16) == (key >> 16)) {
        BoardRecord* record = g_recordByIndex[entry & 0xFFFFu];
        if (record != NULL && (record->Handle >> 16) == (key >> 16)) return record;
    }
    return FindByIdHalf(key);
}

inline void EndTableUse(TableUse use) {
    if (use.mark == &g_sharedUsers)
        __atomic_fetch_sub(use.mark, 1, __ATOMIC_RELEASE);
    else
        __atomic_store_n(use.mark, 0, __ATOMIC_RELEASE);
}

inline TableUse BeginTableUse() {
    TableUse use;
    for (int round = 0;;) {
        UINT_PTR stack = (UINT_PTR)&use;
        use.mark = &g_useSlots[((stack >> 16) ^ (stack >> 22)) % USE_SLOTS].busy;
        LONG free = 0;
        if (!__atomic_compare_exchange_n(use.mark, &free, 1, false, __ATOMIC_SEQ_CST, __ATOMIC_RELAXED)) {
            use.mark = &g_sharedUsers;
            __atomic_fetch_add(use.mark, 1, __ATOMIC_SEQ_CST);
        }
        // The mark is visible before this check, and a change raises its flag before it
        // looks at the marks: either the change sees this call, or this call sees the change.
        if (!__atomic_load_n(&g_tableChanging, __ATOMIC_SEQ_CST)) return use;
        EndTableUse(use);
        WaitForTableChange(&round);
    }
}

// Holds the table shared and looks up the board a handle names; null with LIBERR_HANDLE
// when no open board answers. EndTableUse ends the use either way.
inline BoardRecord* BeginBoardUse(TLMIO_HANDLE board, TableUse* use) {
    *use = BeginTableUse();
    BoardRecord* record = FindByHandle(board);
    if (record == NULL) SetLastError(LIBERR_HANDLE);
    return record;
}

void BeginTableChange();
void EndTableChange();

// Records the opened board at the head of the list under a new handle; null with
// ERROR_NOT_ENOUGH_MEMORY when no record can be made. The caller holds the table for change.
BoardRecord* AddBoardRecord(const DeviceInfo* info, HANDLE device);
// The first record, newest first, that answers to a DeviceInfo (FIND_BY_INFO) or to a
// TLMIO_HANDLE (FIND_BY_HANDLE); null when none does. The caller holds the table, shared or
// for change.
BoardRecord* FindBoardRecord(int kind, const void* key);
// Unlinks and frees a record; the caller holds the table for change and closes the record's
// device afterwards, so that a device handle value never answers for a board that has left.
void RemoveBoardRecord(BoardRecord* record);
// Closes every open device and frees every record; for process detach only.
void CloseAllBoards();
