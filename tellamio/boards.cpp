// The table of boards opened by this process.
#include <stdlib.h>

#include "internal.h"

static BoardRecord* BoardList;

// Held while the list changes and while it is walked, so that a thread that opens or closes
// a board never pulls a record from under the walk of a thread calling on another board.
// Lookups by index need no walk and take no lock.
static CRITICAL_SECTION g_tableLock;
static bool g_tableLockReady;

// The open records by index, so that a handle with an index is found with one load. Port
// calls of several threads on different boards look up concurrently; a lookup only reads
// one pointer-sized entry, which cannot be seen half-written.
static BoardRecord* g_recordByIndex[65536];

// The answers to the last lookups by board ID half (keys with index 0), one per low 4 bits
// of the half. Each entry is one 32-bit word, the half above the index found, so that a
// concurrent lookup never pairs one board's key with another board's record. Any change of
// the table empties them, so a hit equals what a walk would find.
static DWORD g_idHalfCache[16];

// Which indexes open records use, so the lowest free index is found without walking the
// list once per candidate.
static DWORD g_usedIndexes[65536 / 32];

static void MarkIndex(DWORD index, bool used) {
    if (used)
        g_usedIndexes[index / 32] |= 1u << (index % 32);
    else
        g_usedIndexes[index / 32] &= ~(1u << (index % 32));
}

// The lowest index from 1 upwards that no open record uses; 0 when all 65535 are taken.
static DWORD LowestFreeIndex() {
    for (DWORD word = 0; word < 65536 / 32; ++word) {
        DWORD free = ~g_usedIndexes[word];
        if (word == 0) free &= ~1u;  // index 0 is never given out
        if (free != 0) {
            DWORD bit = 0;
            while (!(free & (1u << bit))) ++bit;
            return word * 32 + bit;
        }
    }
    return 0;
}

static DWORD IndexOf(TLMIO_HANDLE handle) { return handle & 0xFFFFu; }

static BoardRecord* RecordAt(DWORD index) { return __atomic_load_n(&g_recordByIndex[index], __ATOMIC_ACQUIRE); }

static void SetRecordAt(DWORD index, BoardRecord* record) {
    __atomic_store_n(&g_recordByIndex[index], record, __ATOMIC_RELEASE);
}

static void ForgetIdHalfLookups() {
    for (DWORD& entry : g_idHalfCache) __atomic_store_n(&entry, 0u, __ATOMIC_RELAXED);
}

BoardRecord* AddBoardRecord(const DeviceInfo* info, HANDLE device) {
    DWORD idHalf = info->BoardId == -1 ? 0xFFFFu : ((DWORD)info->BoardId & 0xFFFFu);
    BoardRecord* record = (BoardRecord*)malloc(sizeof(BoardRecord));
    EnterCriticalSection(&g_tableLock);
    DWORD index = LowestFreeIndex();
    // Index 65535 under the half 0xFFFF would form 0xFFFFFFFF, the failure value of the opens;
    // as the lowest free index it is the only one left, so the table counts as full.
    if (index == 0xFFFFu && idHalf == 0xFFFFu) index = 0;
    if (record != NULL && index != 0) {
        record->Handle = (idHalf << 16) | index;
        record->Device = device;
        record->Info = *info;
        record->Next = BoardList;
        BoardList = record;
        MarkIndex(index, true);
        SetRecordAt(index, record);
        ForgetIdHalfLookups();
    }
    LeaveCriticalSection(&g_tableLock);
    if (record != NULL && index == 0) {
        free(record);
        record = NULL;
    }
    if (record == NULL) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return record;
}

static bool RecordMatchesInfo(const BoardRecord* record, const DeviceInfo* d, bool windows9x) {
    const DeviceInfo* r = &record->Info;
    if (!windows9x && d->ManagementNumber != -1) return r->ManagementNumber == d->ManagementNumber;
    if (d->BoardId != -1) return r->BoardId == d->BoardId;
    if (d->IoAddress != -1 && d->IrqNumber != -1) return r->IoAddress == d->IoAddress && r->IrqNumber == d->IrqNumber;
    return r->BusNumber == d->BusNumber && r->DeviceNumber == d->DeviceNumber;
}

static bool RecordMatchesHandle(const BoardRecord* record, TLMIO_HANDLE key) {
    if (IndexOf(key) != 0) return IndexOf(record->Handle) == IndexOf(key);
    return (record->Handle >> 16) == (key >> 16);
}

// Indexes are unique among open records, so the record at an index is the first a walk
// would meet; a key with index 0 takes the newest record with its board ID half.
static BoardRecord* FindByHandle(TLMIO_HANDLE key) {
    if (IndexOf(key) != 0) return RecordAt(IndexOf(key));
    DWORD* cached = &g_idHalfCache[(key >> 16) & 15];
    DWORD entry = __atomic_load_n(cached, __ATOMIC_RELAXED);
    if (entry != 0 && (entry >> 16) == (key >> 16)) {
        BoardRecord* record = RecordAt(IndexOf(entry));
        if (record != NULL && RecordMatchesHandle(record, key)) return record;
    }
    EnterCriticalSection(&g_tableLock);
    BoardRecord* record = BoardList;
    while (record != NULL && !RecordMatchesHandle(record, key)) record = record->Next;
    if (record != NULL) __atomic_store_n(cached, (key & 0xFFFF0000u) | IndexOf(record->Handle), __ATOMIC_RELAXED);
    LeaveCriticalSection(&g_tableLock);
    return record;
}

BoardRecord* FindBoardRecord(int kind, const void* key) {
    if (kind == FIND_BY_HANDLE) return FindByHandle(*(const TLMIO_HANDLE*)key);
    bool windows9x = IsWindows9x();
    EnterCriticalSection(&g_tableLock);
    BoardRecord* record = BoardList;
    while (record != NULL && !(kind == FIND_BY_INFO && RecordMatchesInfo(record, (const DeviceInfo*)key, windows9x)))
        record = record->Next;
    LeaveCriticalSection(&g_tableLock);
    return record;
}

void RemoveBoardRecord(BoardRecord* record) {
    bool found = false;
    EnterCriticalSection(&g_tableLock);
    for (BoardRecord** link = &BoardList; *link != NULL; link = &(*link)->Next) {
        if (*link == record) {
            *link = record->Next;
            MarkIndex(IndexOf(record->Handle), false);
            SetRecordAt(IndexOf(record->Handle), NULL);
            ForgetIdHalfLookups();
            found = true;
            break;
        }
    }
    LeaveCriticalSection(&g_tableLock);
    if (found) free(record);
}

void CloseAllBoards() {
    while (BoardList != NULL) {
        BoardRecord* record = BoardList;
        CloseHandle(record->Device);
        RemoveBoardRecord(record);
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        if (!g_tableLockReady) InitializeCriticalSection(&g_tableLock);
        g_tableLockReady = true;
        // Entry by entry, so that the pages of the index table are touched only by use.
        for (BoardRecord* record = BoardList; record != NULL; record = record->Next)
            SetRecordAt(IndexOf(record->Handle), NULL);
        BoardList = NULL;
        ForgetIdHalfLookups();
        for (DWORD& word : g_usedIndexes) word = 0;
    } else if (reason == DLL_PROCESS_DETACH) {
        CloseAllBoards();
    }
    return TRUE;
}
