// The control exports of the simulated library (tellamio_sim.h): each one private request
// of tlmsim_control.h on the library's model.
#include <stdio.h>
#include <string.h>

#include "sim_library.h"
#include "simhost.h"
#include "tellamio_sim.h"

#define BOARDS_RECORD_SIZE (sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig))

DWORD WINAPI tlmsim_Request(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    return SimControl(code, in, inLength, out, outLength, returned);
}

DWORD WINAPI tlmsim_Reset(void) { return SimControl(TLMSIM_IOCTL_RESET, NULL, 0, NULL, 0, NULL); }

DWORD WINAPI tlmsim_SetBoards(const TlmSimBoardConfig* boards, DWORD count) {
    if (count > TLMSIM_MAX_BOARDS || (boards == NULL && count != 0)) return ERROR_INVALID_PARAMETER;
    return SimSetBoards(boards, count);
}

DWORD WINAPI tlmsim_GetBoards(TlmSimBoardConfig* boards, DWORD room, DWORD* count) {
    if (count == NULL || (boards == NULL && room != 0)) return ERROR_INVALID_PARAMETER;
    uint8_t reply[BOARDS_RECORD_SIZE];
    DWORD got = 0;
    DWORD error = SimControl(TLMSIM_IOCTL_GET_BOARDS, NULL, 0, reply, sizeof reply, &got);
    if (error != 0) return error;
    TlmSimBoards head;
    memcpy(&head, reply, sizeof head);
    if (head.count > room) return ERROR_INSUFFICIENT_BUFFER;
    if (head.count) memcpy(boards, reply + sizeof head, head.count * sizeof(TlmSimBoardConfig));
    *count = head.count;
    return 0;
}

DWORD WINAPI tlmsim_LoadBoards(const char* path) {
    if (path == NULL) return ERROR_INVALID_PARAMETER;
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    uint32_t count = 0;
    char error[400];
    if (!ReadBoardFile(path, boards, &count, error, sizeof error)) return ERROR_BAD_FORMAT;
    return SimSetBoards(boards, count);
}

DWORD WINAPI tlmsim_SaveBoards(const char* path) {
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    DWORD count = 0;
    if (path == NULL) return ERROR_INVALID_PARAMETER;
    DWORD error = tlmsim_GetBoards(boards, TLMSIM_MAX_BOARDS, &count);
    if (error != 0) return error;
    FILE* file = fopen(path, "wb");
    if (file == NULL) return ERROR_CANNOT_MAKE;
    bool written = WriteBoardFile(file, boards, count);
    written = fclose(file) == 0 && written;
    return written ? 0 : ERROR_WRITE_FAULT;
}

DWORD WINAPI tlmsim_SetInput(LONG board, DWORD axis, DWORD input, DWORD force) {
    TlmSimForceInput r = {board, axis, input, force};
    return SimControl(TLMSIM_IOCTL_FORCE_INPUT, &r, sizeof r, NULL, 0, NULL);
}

DWORD WINAPI tlmsim_SetSensors(const TlmSimSetSensors* sensors) {
    if (sensors == NULL) return ERROR_INVALID_PARAMETER;
    return SimControl(TLMSIM_IOCTL_SET_SENSORS, sensors, sizeof *sensors, NULL, 0, NULL);
}

DWORD WINAPI tlmsim_GetSensors(LONG board, DWORD axis, TlmSimSetSensors* sensors) {
    if (sensors == NULL) return ERROR_INVALID_PARAMETER;
    TlmSimAxisRef r = {board, axis};
    return SimControl(TLMSIM_IOCTL_GET_SENSORS, &r, sizeof r, sensors, sizeof *sensors, NULL);
}

DWORD WINAPI tlmsim_SetCarriage(LONG board, DWORD axis, LONGLONG position) {
    TlmSimMachinePosition r = {board, axis, position};
    return SimControl(TLMSIM_IOCTL_SET_MACHINE_POSITION, &r, sizeof r, NULL, 0, NULL);
}

DWORD WINAPI tlmsim_GetCarriage(LONG board, DWORD axis, LONGLONG* position) {
    if (position == NULL) return ERROR_INVALID_PARAMETER;
    TlmSimAxisRef r = {board, axis};
    int64_t at = 0;
    DWORD error = SimControl(TLMSIM_IOCTL_GET_MACHINE_POSITION, &r, sizeof r, &at, sizeof at, NULL);
    if (error == 0) *position = at;
    return error;
}

DWORD WINAPI tlmsim_SetComparator(LONG board, BOOL on) {
    TlmSimForceCmp r = {board, on ? 1u : 0u};
    return SimControl(TLMSIM_IOCTL_FORCE_CMP, &r, sizeof r, NULL, 0, NULL);
}

static DWORD Clock(uint32_t op, uint64_t ns, TlmSimClockState* state) {
    TlmSimClockRequest r = {op, 0, ns};
    return SimControl(TLMSIM_IOCTL_CLOCK, &r, sizeof r, state, sizeof *state, NULL);
}

DWORD WINAPI tlmsim_ClockFreeze(void) {
    TlmSimClockState s;
    return Clock(TLMSIM_CLOCK_FREEZE, 0, &s);
}

DWORD WINAPI tlmsim_ClockRun(void) {
    TlmSimClockState s;
    return Clock(TLMSIM_CLOCK_RUN, 0, &s);
}

DWORD WINAPI tlmsim_ClockAdvance(ULONGLONG ns) {
    TlmSimClockState s;
    return Clock(TLMSIM_CLOCK_ADVANCE, ns, &s);
}

DWORD WINAPI tlmsim_ClockNow(ULONGLONG* ns, BOOL* frozen) {
    TlmSimClockState s;
    DWORD error = Clock(TLMSIM_CLOCK_QUERY, 0, &s);
    if (error != 0) return error;
    if (ns != NULL) *ns = s.nowNs;
    if (frozen != NULL) *frozen = s.mode != TLMSIM_CLOCK_RUNNING;
    return 0;
}

DWORD WINAPI tlmsim_ClockScale(double scale) {
    // Written so that a NaN is refused too.
    if (!(scale >= TLMSIM_SCALE_MIN / (double)TLMSIM_SCALE_ONE && scale <= TLMSIM_SCALE_MAX / (double)TLMSIM_SCALE_ONE))
        return ERROR_INVALID_PARAMETER;
    TlmSimClockState s;
    return Clock(TLMSIM_CLOCK_SCALE, (uint64_t)(scale * TLMSIM_SCALE_ONE + 0.5), &s);
}

DWORD WINAPI tlmsim_ClockVirtual(void) {
    TlmSimClockState s;
    return Clock(TLMSIM_CLOCK_VIRTUAL, 0, &s);
}

DWORD WINAPI tlmsim_Sleep(DWORD ms) {
    TlmSimClockState s;
    DWORD error = Clock(TLMSIM_CLOCK_QUERY, 0, &s);
    if (error != 0) return error;
    if (s.mode == TLMSIM_CLOCK_FROZEN) return ERROR_INVALID_PARAMETER;
    if (s.mode == TLMSIM_CLOCK_STEPPED) return Clock(TLMSIM_CLOCK_ADVANCE, ms * 1000000ull, &s);
    // Running: sleep the real time the rest takes at this scale, then look again; below a
    // millisecond of real time, give up the time slice only. A change of mode ends the wait.
    const uint64_t until = s.nowNs + ms * 1000000ull;
    while (error == 0 && s.mode == TLMSIM_CLOCK_RUNNING && s.nowNs < until) {
        uint64_t realMs = (until - s.nowNs) / 1000000ull * TLMSIM_SCALE_ONE / s.scale;
        Sleep((DWORD)(realMs < 0xFFFFFFFEu ? realMs : 0xFFFFFFFEu));
        error = Clock(TLMSIM_CLOCK_QUERY, 0, &s);
    }
    return error;
}

DWORD WINAPI tlmsim_TickCount(DWORD* ms) {
    if (ms == NULL) return ERROR_INVALID_PARAMETER;
    TlmSimClockState s;
    DWORD error = Clock(TLMSIM_CLOCK_QUERY, 0, &s);
    if (error == 0) *ms = (DWORD)(s.nowNs / 1000000ull);
    return error;
}

DWORD WINAPI tlmsim_AddFault(DWORD kind, DWORD request, DWORD code, LONG status, DWORD value) {
    TlmSimFault f = {kind, request, code, status, value};
    return SimControl(TLMSIM_IOCTL_ADD_FAULT, &f, sizeof f, NULL, 0, NULL);
}

DWORD WINAPI tlmsim_ClearFaults(void) { return SimControl(TLMSIM_IOCTL_CLEAR_FAULTS, NULL, 0, NULL, 0, NULL); }

DWORD WINAPI tlmsim_ReadTrace(DWORD first, TlmSimBoardTraceEntry* entries, DWORD room, DWORD* count) {
    if (count == NULL || (entries == NULL && room != 0)) return ERROR_INVALID_PARAMETER;
    *count = 0;
    // In pages, so that no reply record is larger than one page of entries.
    static const DWORD PAGE = 256;
    uint8_t reply[sizeof(TlmSimTraceHeader) + PAGE * sizeof(TlmSimBoardTraceEntry)];
    while (*count < room) {
        DWORD want = room - *count < PAGE ? room - *count : PAGE;
        DWORD got = 0;
        DWORD error = SimControl(TLMSIM_IOCTL_READ_BOARD_TRACE, &first, sizeof first, reply,
                                 (DWORD)(sizeof(TlmSimTraceHeader) + want * sizeof(TlmSimBoardTraceEntry)), &got);
        if (error != 0) return error;
        TlmSimTraceHeader head;
        memcpy(&head, reply, sizeof head);
        memcpy(entries + *count, reply + sizeof head, head.count * sizeof(TlmSimBoardTraceEntry));
        *count += head.count;
        if (head.count < want) break;
        first = head.first + head.count;
    }
    return 0;
}

DWORD WINAPI tlmsim_ResetTrace(void) { return SimControl(TLMSIM_IOCTL_RESET_TRACE, NULL, 0, NULL, 0, NULL); }

DWORD WINAPI tlmsim_FormatTraceLine(const TlmSimBoardTraceEntry* entry, char* line, DWORD room) {
    if (line == NULL || room == 0) return ERROR_INVALID_PARAMETER;
    char text[TRACE_LINE_ROOM];
    if (entry == NULL)
        TraceHeadLine(text, sizeof text);
    else
        TraceLine(*entry, text, sizeof text);
    if (strlen(text) >= room) return ERROR_INSUFFICIENT_BUFFER;
    strcpy(line, text);
    return 0;
}

DWORD WINAPI tlmsim_GetState(TlmSimState* state) {
    if (state == NULL) return ERROR_INVALID_PARAMETER;
    return SimControl(TLMSIM_IOCTL_GET_STATE, NULL, 0, state, sizeof *state, NULL);
}
