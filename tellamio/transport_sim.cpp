// The transport of the simulated library: every device request is answered by the board and
// driver model of sim/, held in this library, on the real clock (the performance counter),
// one request at a time under one lock, for every thread of the process.
//
// The model starts at the first use of the library: one Tellam-6X, or the boards of the
// board file TELLAMIO_SIM_BOARDS names (a bad file: one message on stderr and the debugger's
// output, then no boards). TELLAMIO_SIM_TRACE names a file that receives every answered board
// request as a decoded trace line while the program runs. TELLAMIO_SIM_CLOCK sets the clock's
// mode: real (the default), virtual, or x and a scale (a bad value: one message, real time).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef _WIN32
#include <time.h>
#endif

#include "driver.h"
#include "sim_control.h"
#include "sim_library.h"
#include "simhost.h"
#include "transport.h"

namespace {

// Room for every board index the open-board table can give out, the control devices of the
// enumeration calls and this library's own control handle.
constexpr uint32_t kFileSlots = 65536 + 64;
constexpr uintptr_t kHandleBase = 0x1000;  // handle = kHandleBase + file slot

tlmsim::Driver g_model;
tlmsim::File g_files[kFileSlots];
tlmsim::SimClock g_clock;
uint32_t g_controlFile;  // the control API's own handle on the control device, as tlmsimctl's
bool g_started;

CRITICAL_SECTION g_lock;
LONG g_lockState;  // 0: not made, 1: being made, 2: ready

// Closes that found the lock taken (process detach may meet a lock whose holder was ended):
// the next holder of the lock closes them.
uint32_t g_closesPending;
uint32_t g_closePending[kFileSlots / 32];

// The trace file and the next request number it has not shown yet.
FILE* g_traceFile;
uint32_t g_traceNext = 1;

uint64_t RealNs() {
#ifdef _WIN32
    LARGE_INTEGER ticks, frequency;
    QueryPerformanceCounter(&ticks);
    QueryPerformanceFrequency(&frequency);
    uint64_t t = (uint64_t)ticks.QuadPart, f = (uint64_t)frequency.QuadPart;
    if (f == 0) f = 1;
    return t / f * 1000000000ull + t % f * 1000000000ull / f;
#else
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000000000ull + (uint64_t)now.tv_nsec;
#endif
}

// One line on stderr and in the debugger's output.
void Report(const char* text) {
    char line[512];
    snprintf(line, sizeof line, "tellamio (simulated): %s\n", text);
#ifdef _WIN32
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written;
    if (err != NULL && err != INVALID_HANDLE_VALUE) WriteFile(err, line, (DWORD)strlen(line), &written, NULL);
    OutputDebugStringA(line);
#else
    fputs(line, stderr);
#endif
}

const char* Setting(const char* name) {
    const char* value = getenv(name);
    return value != NULL && value[0] != 0 ? value : NULL;
}

// Text mode: Windows lines end in CR LF.
void OpenTraceFile(const char* path) {
    g_traceFile = fopen(path, "w");
    if (g_traceFile == NULL) {
        char text[400];
        snprintf(text, sizeof text, "TELLAMIO_SIM_TRACE: '%s' cannot be written; no trace file", path);
        Report(text);
    }
}

// Each line at once, for a reader of the file while the program runs.
void WriteTraceText(const char* line) {
    fprintf(g_traceFile, "%s\n", line);
    fflush(g_traceFile);
}

// The requests answered since the last call, as `tlmsimctl trace --follow` would show them.
void WriteNewTraceLines() {
    if (g_traceFile == NULL) return;
    if (g_model.requestCount + 1 < g_traceNext) {
        WriteTraceText("(trace reset)");
        g_traceNext = 1;
    }
    for (; g_traceNext <= g_model.requestCount; ++g_traceNext) {
        const tlmsim::TraceEntry* e = tlmsim::DriverTraceEntry(&g_model, g_traceNext);
        if (e == NULL) continue;
        TlmSimBoardTraceEntry t = {{e->seq, e->file, e->code, e->port, e->value, e->status, e->returned}, e->board};
        char line[TRACE_LINE_ROOM];
        TraceLine(t, line, sizeof line);
        WriteTraceText(line);
    }
}

DWORD SetBoards(const TlmSimBoardConfig* boards, uint32_t count) {
    static uint8_t request[sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig)];
    TlmSimBoards head = {count};
    memcpy(request, &head, sizeof head);
    if (count != 0) memcpy(request + sizeof head, boards, count * sizeof(TlmSimBoardConfig));
    uint32_t returned = 0;
    bool changed = false;
    int32_t status = tlmsim::SimControlRequest(&g_model, &g_clock, TLMSIM_IOCTL_SET_BOARDS, request,
                                               (uint32_t)(sizeof head + count * sizeof(TlmSimBoardConfig)), NULL, 0,
                                               &returned, RealNs(), &changed);
    return tlmsim::Win32ErrorOfStatus(status);
}

// Under the lock, at the first use.
void Start() {
    g_started = true;
    // All of the model's memory is taken now (its trace ring, every file slot), so that the
    // library's use of memory does not grow while a program runs.
    memset(&g_model, 0, sizeof g_model);
    memset(g_files, 0, sizeof g_files);
    tlmsim::SimClockInit(&g_clock, RealNs());
    tlmsim::DriverInit(&g_model, g_files, kFileSlots, 0);
    tlmsim::DriverOpen(&g_model, tlmsim::kDeviceControl, &g_controlFile);
    const char* trace = Setting("TELLAMIO_SIM_TRACE");
    if (trace != NULL) OpenTraceFile(trace);
    if (g_traceFile != NULL) {
        char head[TRACE_LINE_ROOM];
        TraceHeadLine(head, sizeof head);
        WriteTraceText(head);
    }
    const char* boardFile = Setting("TELLAMIO_SIM_BOARDS");
    if (boardFile != NULL) {
        TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
        uint32_t count = 0;
        char error[400], text[480];
        if (ReadBoardFile(boardFile, boards, &count, error, sizeof error)) {
            SetBoards(boards, count);
        } else {
            snprintf(text, sizeof text, "TELLAMIO_SIM_BOARDS: %s; no boards are simulated", error);
            Report(text);
            SetBoards(boards, 0);
        }
    }
    const char* clock = Setting("TELLAMIO_SIM_CLOCK");
    uint32_t op, scale;
    if (clock != NULL && ParseClockSetting(clock, &op, &scale)) {
        tlmsim::SimClockApply(&g_clock, op, scale, RealNs());
    } else if (clock != NULL) {
        char text[200];
        snprintf(text, sizeof text,
                 "TELLAMIO_SIM_CLOCK: '%.64s' is not real, virtual or x and a scale of 0.01 to 10000 "
                 "(as x10); the clock runs in real time",
                 clock);
        Report(text);
    }
    StartPipeServer();
}

void CloseNow(uint32_t slot) { tlmsim::DriverClose(&g_model, slot); }

void ClosePending() {
    if (!__atomic_exchange_n(&g_closesPending, 0u, __ATOMIC_ACQUIRE)) return;
    for (uint32_t word = 0; word < kFileSlots / 32; ++word) {
        uint32_t bits = __atomic_exchange_n(&g_closePending[word], 0u, __ATOMIC_ACQUIRE);
        for (uint32_t bit = 0; bits != 0 && bit < 32; ++bit)
            if (bits & (1u << bit)) CloseNow(word * 32 + bit);
    }
}

void MakeLock() {
    if (__atomic_load_n(&g_lockState, __ATOMIC_ACQUIRE) == 2) return;
    LONG expected = 0;
    if (__atomic_compare_exchange_n(&g_lockState, &expected, 1, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        InitializeCriticalSection(&g_lock);
        __atomic_store_n(&g_lockState, 2, __ATOMIC_RELEASE);
        return;
    }
    while (__atomic_load_n(&g_lockState, __ATOMIC_ACQUIRE) != 2) Sleep(0);
}

void Lock() {
    MakeLock();
    EnterCriticalSection(&g_lock);
    if (!g_started) Start();
    ClosePending();
}

void Unlock() { LeaveCriticalSection(&g_lock); }

bool SlotOf(HANDLE handle, uint32_t* slot) {
    uintptr_t h = (uintptr_t)handle;
    if (h < kHandleBase || h - kHandleBase >= kFileSlots) return false;
    *slot = (uint32_t)(h - kHandleBase);
    return true;
}

HANDLE OpenModelDevice(const char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    (void)access;
    (void)share;
    (void)disposition;
    (void)flags;
    int32_t device;
    if (name == NULL || !tlmsim::DeviceFromName(name, &device)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Lock();
    uint32_t slot = 0;
    int32_t status = tlmsim::DriverOpen(&g_model, device, &slot);
    Unlock();
    if (status != tlmsim::kStatusSuccess) {
        SetLastError(tlmsim::Win32ErrorOfStatus(status));
        return INVALID_HANDLE_VALUE;
    }
    return (HANDLE)(kHandleBase + slot);
}

BOOL AskModel(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    *returned = 0;
    uint32_t slot;
    if (!SlotOf(device, &slot)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Lock();
    uint32_t count = 0;
    int32_t status = tlmsim::DriverIoctl(&g_model, slot, code, in, inSize, out, outSize, &count,
                                         tlmsim::SimClockNow(&g_clock, RealNs()));
    WriteNewTraceLines();
    Unlock();
    *returned = count > outSize ? outSize : count;
    if (status != tlmsim::kStatusSuccess) {
        SetLastError(tlmsim::Win32ErrorOfStatus(status));
        return FALSE;
    }
    return TRUE;
}

// Never waits: at process detach another thread may have been ended holding the lock.
BOOL CloseModelDevice(HANDLE device) {
    uint32_t slot;
    if (!SlotOf(device, &slot)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MakeLock();
    if (TryEnterCriticalSection(&g_lock)) {
        ClosePending();
        CloseNow(slot);
        Unlock();
    } else {
        __atomic_fetch_or(&g_closePending[slot / 32], 1u << (slot % 32), __ATOMIC_RELEASE);
        __atomic_store_n(&g_closesPending, 1u, __ATOMIC_RELEASE);
    }
    return TRUE;
}

}  // namespace

const Transport g_transport = {OpenModelDevice, AskModel, CloseModelDevice};

DWORD SimControl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    uint32_t count = 0;
    int32_t status = tlmsim::kStatusInvalidDeviceRequest;
    Lock();
    if (tlmsim::IsSimControlCode(code)) {
        bool changed = false;
        status = tlmsim::SimControlRequest(&g_model, &g_clock, code, in, inLength, out, outLength, &count, RealNs(),
                                           &changed);
    }
    WriteNewTraceLines();
    Unlock();
    if (returned != NULL) *returned = count > outLength ? outLength : count;
    return tlmsim::Win32ErrorOfStatus(status);
}

DWORD SimSetBoards(const TlmSimBoardConfig* boards, uint32_t count) {
    Lock();
    DWORD result = SetBoards(boards, count);
    Unlock();
    return result;
}
