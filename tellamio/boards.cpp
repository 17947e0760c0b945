// The table of boards opened by this process.
#include <stdlib.h>

#include "internal.h"

static BoardRecord* BoardList;

// The answer to the last handle lookup. Port functions look up the same handle call after
// call; any change of the table forgets it, so it always equals what a walk would find.
static TLMIO_HANDLE g_lastKey;
static BoardRecord* g_lastFound;

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

BoardRecord* AddBoardRecord(const DeviceInfo* info, HANDLE device) {
    DWORD index = LowestFreeIndex();
    BoardRecord* record = index != 0 ? (BoardRecord*)malloc(sizeof(BoardRecord)) : NULL;
    if (record == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    DWORD idHalf = info->BoardId == -1 ? 0xFFFFu : ((DWORD)info->BoardId & 0xFFFFu);
    record->Handle = (idHalf << 16) | index;
    record->Device = device;
    record->Info = *info;
    record->Next = BoardList;
    BoardList = record;
    MarkIndex(index, true);
    g_lastFound = NULL;
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

static BoardRecord* FindByHandle(TLMIO_HANDLE key) {
    if (g_lastFound != NULL && g_lastKey == key) return g_lastFound;
    for (BoardRecord* record = BoardList; record != NULL; record = record->Next) {
        if (RecordMatchesHandle(record, key)) {
            g_lastKey = key;
            g_lastFound = record;
            return record;
        }
    }
    return NULL;
}

BoardRecord* FindBoardRecord(int kind, const void* key) {
    if (kind == FIND_BY_HANDLE) return FindByHandle(*(const TLMIO_HANDLE*)key);
    bool windows9x = kind == FIND_BY_INFO && BoardList != NULL && IsWindows9x();
    for (BoardRecord* record = BoardList; record != NULL; record = record->Next) {
        if (kind == FIND_BY_INFO && RecordMatchesInfo(record, (const DeviceInfo*)key, windows9x)) return record;
    }
    return NULL;
}

void RemoveBoardRecord(BoardRecord* record) {
    for (BoardRecord** link = &BoardList; *link != NULL; link = &(*link)->Next) {
        if (*link == record) {
            *link = record->Next;
            MarkIndex(IndexOf(record->Handle), false);
            g_lastFound = NULL;
            free(record);
            return;
        }
    }
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
        BoardList = NULL;
        g_lastFound = NULL;
        for (DWORD& word : g_usedIndexes) word = 0;
    } else if (reason == DLL_PROCESS_DETACH) {
        CloseAllBoards();
    }
    return TRUE;
}
