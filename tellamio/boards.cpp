// The table of boards opened by this process.
#include <stdlib.h>

#include "internal.h"

static BoardRecord* BoardList;

// Opens and closes, one at a time.
static CRITICAL_SECTION g_tableLock;
static bool g_tableLockReady;

UseSlot g_useSlots[USE_SLOTS];
LONG g_sharedUsers;
LONG g_tableChanging;

static void WaitABit(int round) { Sleep(round < 64 ? 0 : 1); }

void WaitForTableChange(int* round) {
    while (__atomic_load_n(&g_tableChanging, __ATOMIC_ACQUIRE)) WaitABit((*round)++);
}

void BeginTableChange() { EnterCriticalSection(&g_tableLock); }

void EndTableChange() { LeaveCriticalSection(&g_tableLock); }

// Within a change: holds port calls back, and waits for those that may hold a record.
static void ShutOutPortCalls() {
    __atomic_store_n(&g_tableChanging, 1, __ATOMIC_SEQ_CST);
    for (int round = 0;; ++round) {
        bool inUse = __atomic_load_n(&g_sharedUsers, __ATOMIC_SEQ_CST) != 0;
        for (int i = 0; i < USE_SLOTS && !inUse; ++i) inUse = __atomic_load_n(&g_useSlots[i].busy, __ATOMIC_SEQ_CST);
        if (!inUse) return;
        WaitABit(round);
    }
}

static void LetPortCallsIn() { __atomic_store_n(&g_tableChanging, 0, __ATOMIC_RELEASE); }

// The open records by index, so that a handle with an index is found with one load.
BoardRecord* g_recordByIndex[65536];

// The answers to the last lookups by board ID half (keys with index 0), one per low 4 bits
// of the half. Port calls of several threads fill them at once; each entry is one 32-bit
// word, so that a lookup never pairs one board's key with another board's record. Every
// change of the table empties them, so a hit equals what a walk would find.
DWORD g_idHalfCache[16];

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

static void ForgetIdHalfLookups() {
    for (DWORD& entry : g_idHalfCache) __atomic_store_n(&entry, 0u, __ATOMIC_RELAXED);
}

BoardRecord* AddBoardRecord(const DeviceInfo* info, HANDLE device) {
    DWORD idHalf = info->BoardId == -1 ? 0xFFFFu : ((DWORD)info->BoardId & 0xFFFFu);
    DWORD index = LowestFreeIndex();
    // Index 65535 under the half 0xFFFF would form 0xFFFFFFFF, the failure value of the opens;
    // as the lowest free index it is the only one left, so the table counts as full.
    if (index == 0xFFFFu && idHalf == 0xFFFFu) index = 0;
    BoardRecord* record = index != 0 ? (BoardRecord*)malloc(sizeof(BoardRecord)) : NULL;
    if (record == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    record->Handle = (idHalf << 16) | index;
    record->Device = device;
    record->Info = *info;
    ShutOutPortCalls();
    record->Next = BoardList;
    BoardList = record;
    MarkIndex(index, true);
    g_recordByIndex[index] = record;
    ForgetIdHalfLookups();
    LetPortCallsIn();
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

BoardRecord* FindByIdHalf(TLMIO_HANDLE key) {
    DWORD* cached = &g_idHalfCache[(key >> 16) & 15];
    BoardRecord* record = BoardList;
    while (record != NULL && !RecordMatchesHandle(record, key)) record = record->Next;
    if (record != NULL) __atomic_store_n(cached, (key & 0xFFFF0000u) | IndexOf(record->Handle), __ATOMIC_RELAXED);
    return record;
}

BoardRecord* FindBoardRecord(int kind, const void* key) {
    if (kind == FIND_BY_HANDLE) {
        TLMIO_HANDLE handle = *(const TLMIO_HANDLE*)key;
        return FindByHandle(handle);
    }
    bool windows9x = IsWindows9x();
    BoardRecord* record = BoardList;
    while (record != NULL && !(kind == FIND_BY_INFO && RecordMatchesInfo(record, (const DeviceInfo*)key, windows9x)))
        record = record->Next;
    return record;
}

static bool UnlinkRecord(BoardRecord* record) {
    for (BoardRecord** link = &BoardList; *link != NULL; link = &(*link)->Next) {
        if (*link == record) {
            *link = record->Next;
            MarkIndex(IndexOf(record->Handle), false);
            g_recordByIndex[IndexOf(record->Handle)] = NULL;
            ForgetIdHalfLookups();
            return true;
        }
    }
    return false;
}

void RemoveBoardRecord(BoardRecord* record) {
    ShutOutPortCalls();
    bool found = UnlinkRecord(record);
    LetPortCallsIn();
    if (found) free(record);
}

// At process detach the other threads are gone, possibly in the middle of a call, so no
// lock or mark of theirs is waited for.
void CloseAllBoards() {
    while (BoardList != NULL) {
        BoardRecord* record = BoardList;
        UnlinkRecord(record);
        CloseDriverDevice(record->Device);
        free(record);
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
            g_recordByIndex[IndexOf(record->Handle)] = NULL;
        BoardList = NULL;
        ForgetIdHalfLookups();
        for (DWORD& word : g_usedIndexes) word = 0;
        for (UseSlot& slot : g_useSlots) slot.busy = 0;
        g_sharedUsers = 0;
        g_tableChanging = 0;
    } else if (reason == DLL_PROCESS_DETACH) {
        CloseAllBoards();
    }
    return TRUE;
}
