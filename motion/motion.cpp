// The motion library: axis operations built from tellamio's port calls, as the test program
// builds them, with the arguments checked first and the board made safe on every exit.
//
// The rules every call keeps: one call on an axis at a time, stops included, so that no two
// calls' requests interleave on the axis' command and data ports; a stop cancels a start
// under way; a wait ends with the axis standing or says it could not stop it.
#include <stdint.h>
#include <stdlib.h>

#include "tellam_rate.h"
#include "tellam_controller.h"
#include "tellamio_motion.h"

// What a register read of an axis the board lacks gives: an empty bus.
#define ABSENT_AXIS_REGISTER 0xFFFFFFFFUL

#define POLL_MS 10
// How long a decelerating stop may take beyond the ramp time before the immediate stop, and
// how long that one may take before the library gives up on the axis.
#define SETTLE_MARGIN_MS 250
// How often the watchdog looks at the time since the last call, in real milliseconds.
#define WATCHDOG_POLL_MS 5

// The contact settings of register 6, by the input they belong to.
static const struct {
    LONG input;
    DWORD signalBit;
} kSignalContacts[] = {{TLMMOTION_IN_SLOW_DOWN, TLM_SIG_DLS_A},
                       {TLMMOTION_IN_ORIGIN, TLM_SIG_OLS_A},
                       {TLMMOTION_IN_POSITION, TLM_SIG_INPOS_A},
                       {TLMMOTION_IN_SERVO_ALARM, TLM_SIG_SVALM_A}};
#define LIMIT_INPUTS (TLMMOTION_IN_PLUS_LIMIT | TLMMOTION_IN_MINUS_LIMIT)
#define CONTACT_INPUTS                                                                                                 \
    (LIMIT_INPUTS | TLMMOTION_IN_SLOW_DOWN | TLMMOTION_IN_ORIGIN | TLMMOTION_IN_POSITION | TLMMOTION_IN_SERVO_ALARM)

enum MoveKind { MOVE_NONE, MOVE_PRESET, MOVE_JOG, MOVE_HOME };
enum SettleStep { SETTLE_NONE, SETTLE_DECELERATING, SETTLE_IMMEDIATE, SETTLE_GAVE_UP };

struct AxisState {
    CRITICAL_SECTION lock;  // one call on the axis at a time, stops included
    LONG stops;             // stops asked for: counted before the stop waits for the lock
    LONG stopsWaiting;      // stops waiting for the lock: every other call lets them go first
    LONG moveKind;          // MoveKind of the last start not yet waited for
    LONG direction;         // +1 or -1 of that start
    LONG stopsAtStart;      // the stop count the start went out with
    LONG libraryStop;       // why the library itself stopped that move (a reason), or 0
    LONG settle;            // SettleStep of the library's stop of that move
    DWORD settleBy;         // tick by which that step must have ended it
    DWORD rampMs;           // the ramp time last written, for how long a stop may take
    bool startedByThis;     // close stops it
    LONG fl, fh;            // the axis' own speeds, as last set
    double accelSeconds;    // and its own ramp time
    bool speedsLent;        // the speed registers hold a coordinated move's speeds, or are unknown
    bool softLimited;       // softMin..softMax is the travel moves may target
    LONG softMin, softMax;
    bool jogToLimit;  // the preset feed under way is a jog to the soft limit
    bool zPhase;      // the origin return under way searches a Z mark after OLS
    bool originSeen;  // a poll of that origin return saw OLS
    LONG group;       // the axes (bits) of the coordinated move this axis is part of, or 0
};

// The time the library waits and times out in: the simulator's when the loaded tellamio is
// the simulated one, so that a timeout means the machine's time in every clock mode; the
// system's otherwise.
typedef DWORD(WINAPI* SimSleepFunction)(DWORD ms);
typedef DWORD(WINAPI* SimTickCountFunction)(DWORD* ms);
struct MotionClock {
    SimSleepFunction simSleep;          // null with the real tellamio
    SimTickCountFunction simTickCount;  // null with the real tellamio
    LONG frozenMs;                      // real pauses while the simulated clock stood
};

struct MotionBoard {
    TLMMOTION value;  // the handle's own value, never an address
    TLMIO_HANDLE board;
    MotionClock clock;
    LONG axisCount;
    LONG users;                  // calls under way
    LONG closing;                // set by tlmmotion_Close: waits end, new calls are refused
    CRITICAL_SECTION boardLock;  // the board-wide bytes (ELS polarity)
    AxisState axes[TLMMOTION_MAX_AXES];
    CRITICAL_SECTION watchLock;  // the watchdog's period and thread
    DWORD watchdogMs;            // 0: off
    LONG watchdogRunning;        // its thread runs
    LONG watchdogTripped;        // it stopped the board: calls fail with MOTERR_WATCHDOG
    DWORD lastCall;              // Now() at the latest call on the handle
};

// The handles given out: slot in the low byte, the open's serial number above it, so that a
// closed handle stays refused after another open takes its slot.
#define MAX_MOTION_HANDLES 64
static MotionBoard* g_handles[MAX_MOTION_HANDLES];
static uintptr_t g_opens;
// Held for a few instructions at a time; needs no setup, so no DllMain either.
static LONG g_handlesBusy;

static void LockHandles() {
    while (__atomic_exchange_n(&g_handlesBusy, 1, __ATOMIC_ACQUIRE)) Sleep(0);
}

static void UnlockHandles() { __atomic_store_n(&g_handlesBusy, 0, __ATOMIC_RELEASE); }

// -- time -----------------------------------------------------------------------------------

static void FindClock(MotionClock* clock) {
    HMODULE tellamio = GetModuleHandleA("tellamio.dll");
    if (tellamio == NULL) return;
    SimSleepFunction simSleep = (SimSleepFunction)(void*)GetProcAddress(tellamio, "tlmsim_Sleep");
    SimTickCountFunction simTickCount = (SimTickCountFunction)(void*)GetProcAddress(tellamio, "tlmsim_TickCount");
    if (simSleep == NULL || simTickCount == NULL) return;  // the real tellamio
    clock->simSleep = simSleep;
    clock->simTickCount = simTickCount;
}

// Milliseconds, wrapping at 2^32.
static DWORD Now(MotionClock* clock) {
    if (clock->simTickCount == NULL) return GetTickCount();
    DWORD ms = 0;
    clock->simTickCount(&ms);
    return ms + (DWORD)__atomic_load_n(&clock->frozenMs, __ATOMIC_ACQUIRE);
}

// A pause between polls. A frozen simulated clock refuses to wait: the pause is then real
// and counted, so that a timeout and a stop's margins still run out.
static void Pause(MotionClock* clock, DWORD ms) {
    if (clock->simSleep != NULL && clock->simSleep(ms) == 0) return;
    Sleep(ms);
    if (clock->simSleep != NULL) __atomic_add_fetch(&clock->frozenMs, (LONG)ms, __ATOMIC_ACQ_REL);
}

// -- handles and arguments ------------------------------------------------------------------

// The slot of a handle given out and not closed, or -1. The caller holds the handles.
static int HandleSlot(TLMMOTION motion) {
    int slot = (int)((uintptr_t)motion & 0xFF) - 1;
    return slot >= 0 && slot < MAX_MOTION_HANDLES && g_handles[slot] != NULL && g_handles[slot]->value == motion ? slot
                                                                                                                 : -1;
}

static void ReleaseHandle(MotionBoard* m) { __atomic_sub_fetch(&m->users, 1, __ATOMIC_ACQ_REL); }

// The board of a live handle, counted as in use until ReleaseHandle; null with LIBERR_HANDLE,
// or MOTERR_WATCHDOG once the watchdog has stopped the board, unless evenTripped (the stops,
// and the call that sets the watchdog again). Every call feeds the watchdog.
static MotionBoard* UseHandleFor(TLMMOTION motion, bool evenTripped) {
    MotionBoard* found = NULL;
    LockHandles();
    int slot = HandleSlot(motion);
    if (slot >= 0 && !g_handles[slot]->closing) found = g_handles[slot];
    if (found != NULL) __atomic_add_fetch(&found->users, 1, __ATOMIC_ACQ_REL);
    UnlockHandles();
    if (found == NULL) {
        SetLastError(LIBERR_HANDLE);
    } else if (!evenTripped && __atomic_load_n(&found->watchdogTripped, __ATOMIC_ACQUIRE)) {
        ReleaseHandle(found);
        SetLastError(MOTERR_WATCHDOG);
        found = NULL;
    } else if (__atomic_load_n(&found->watchdogMs, __ATOMIC_ACQUIRE) != 0) {
        __atomic_store_n(&found->lastCall, Now(&found->clock), __ATOMIC_RELEASE);
    }
    return found;
}

static MotionBoard* UseHandle(TLMMOTION motion) { return UseHandleFor(motion, false); }

static BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// An axis of the handle's board; false with the reason otherwise.
static bool AxisValid(const MotionBoard* m, WORD axis) {
    if (axis < TLMMOTION_MAX_AXES && (LONG)axis < m->axisCount) return true;
    SetLastError(axis >= TLMMOTION_MAX_AXES ? ERROR_INVALID_PARAMETER : MOTERR_NO_AXIS);
    return false;
}

static LONG StopCount(AxisState* state) { return __atomic_load_n(&state->stops, __ATOMIC_ACQUIRE); }

// Every call but a stop takes the axis lock here and lets a waiting stop go first: the lock is
// not fair, and a thread that polls could otherwise take it back again and again.
static void LockAxis(AxisState* state) {
    for (;;) {
        while (__atomic_load_n(&state->stopsWaiting, __ATOMIC_ACQUIRE) != 0) Sleep(0);
        EnterCriticalSection(&state->lock);
        if (__atomic_load_n(&state->stopsWaiting, __ATOMIC_ACQUIRE) == 0) return;
        LeaveCriticalSection(&state->lock);
    }
}

// The axis, locked, when it is good; null otherwise (nothing sent). *stopsAtEntry is the stop
// count before the call waited for the lock: a stop after it cancels a start of this call.
static AxisState* UseAxis(MotionBoard* m, WORD axis, LONG* stopsAtEntry) {
    if (!AxisValid(m, axis)) return NULL;
    AxisState* state = &m->axes[axis];
    *stopsAtEntry = StopCount(state);
    LockAxis(state);
    return state;
}

static void ReleaseAxis(AxisState* state) { LeaveCriticalSection(&state->lock); }

// -- controller steps -----------------------------------------------------------------------

static BOOL Command(MotionBoard* m, WORD axis, BYTE command) { return tlmio_CmdWrite(m->board, axis, command, 0, 0); }

static BOOL WriteRegister(MotionBoard* m, WORD axis, BYTE reg, DWORD value) {
    return tlmio_CmdWrite(m->board, axis, (BYTE)TLM_CMD_WRITE(reg), 1, value);
}

static BOOL ReadRegister(MotionBoard* m, WORD axis, BYTE reg, DWORD* value) {
    return tlmio_regRead(m->board, axis, (BYTE)TLM_CMD_READ(reg), value);
}

// The stop every axis gets when something fails or the handle closes: decelerating, and
// immediate where that fails. Counted as a stop, so that a start under way is cancelled and
// the wait says STOPPED. The caller holds the axis lock.
static BOOL StopNow(MotionBoard* m, WORD axis) {
    __atomic_add_fetch(&m->axes[axis].stops, 1, __ATOMIC_ACQ_REL);
    return Command(m, axis, TLM_CMD_DECEL_STOP) || Command(m, axis, TLM_CMD_IMMEDIATE_STOP);
}

// Sends a stop on a failure path and leaves the failure's own error for the caller.
static BOOL StopAfterFailure(MotionBoard* m, WORD axis) {
    DWORD error = GetLastError();
    StopNow(m, axis);
    return Refuse(error);
}

// A start needs a standing axis without a servo alarm, and no stop since the call began.
static BOOL ReadyToStart(MotionBoard* m, WORD axis, AxisState* state, LONG stopsAtEntry) {
    if (StopCount(state) != stopsAtEntry) return Refuse(MOTERR_CANCELLED);
    BYTE status1, status2;
    if (!tlmio_status1Read(m->board, axis, &status1) || !tlmio_status2Read(m->board, axis, &status2)) return FALSE;
    if (status1 & TLM_ST1_OPERATING) return Refuse(MOTERR_NOT_STOPPED);
    if (status2 & TLM_ST2_SVALM) return Refuse(MOTERR_SERVO_ALARM);
    return TRUE;
}

// What a wait needs to know of a start, set before the start goes out.
static void MarkStarted(AxisState* state, LONG stopsAtEntry, LONG kind, LONG direction, LONG group) {
    state->moveKind = kind;
    state->direction = direction;
    state->stopsAtStart = stopsAtEntry;
    state->libraryStop = 0;
    state->settle = SETTLE_NONE;
    state->startedByThis = true;
    state->jogToLimit = false;
    __atomic_store_n(&state->group, group, __ATOMIC_RELEASE);
}

// The speed registers of an axis a coordinated move lent them to hold its own speeds again.
static BOOL OwnSpeeds(MotionBoard* m, WORD axis, AxisState* state) {
    if (!state->speedsLent) return TRUE;
    BOOL ok =
        WriteRegister(m, axis, TLM_REG_FL, (DWORD)state->fl) && WriteRegister(m, axis, TLM_REG_FH, (DWORD)state->fh) &&
        WriteRegister(m, axis, TLM_REG_RATE, ComputeRateValue(state->accelSeconds, (DWORD)state->fl, (DWORD)state->fh));
    if (ok) state->speedsLent = false;
    return ok;
}

// Operation-mode byte, then the start command: the order every start of the test program
// uses. A stop since the call began cancels the start before it goes out; one that comes
// while it goes out waits for the axis lock and follows it.
static BOOL Start(MotionBoard* m, WORD axis, AxisState* state, LONG stopsAtEntry, BYTE mode, BYTE command, LONG kind,
                  LONG direction) {
    if (!OwnSpeeds(m, axis, state) || !tlmio_DousaWrite(m->board, axis, mode)) return FALSE;
    if (StopCount(state) != stopsAtEntry) return Refuse(MOTERR_CANCELLED);
    MarkStarted(state, stopsAtEntry, kind, direction, 0);
    if (Command(m, axis, command)) return TRUE;
    // A start that failed may still have reached the board: stop, then report.
    state->moveKind = MOVE_NONE;
    return StopAfterFailure(m, axis);
}

// A preset feed latches the interrupt status 0x14 when it reaches its target, as the feeds of
// the test program's cycle runs do: cycle mode on, the old status cleared, before the start.
static BOOL MovePulses(MotionBoard* m, WORD axis, AxisState* state, LONG stopsAtEntry, LONGLONG pulses, BOOL ramped) {
    if (!Command(m, axis, TLM_CMD_CLEAR_INT) || !Command(m, axis, TLM_CMD_CYCLE_ON) ||
        !WriteRegister(m, axis, TLM_REG_PRESET, (DWORD)(pulses < 0 ? -pulses : pulses)))
        return FALSE;
    return Start(m, axis, state, stopsAtEntry, pulses > 0 ? TLM_MODE_PLUS_PRESET : TLM_MODE_MINUS_PRESET,
                 ramped ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_PRESET, pulses > 0 ? 1 : -1);
}

// Why a move that has ended ended, from what the controller reports: the interrupt status
// of a preset feed, the limit inputs, and the position counter an origin return zeroes.
static LONG EndReason(const AxisState* state, BYTE status1, BYTE interrupt, LONG position) {
    if (state->libraryStop != 0) return state->libraryStop;
    if (state->moveKind == MOVE_PRESET && interrupt == TLM_INT_FEED_END)
        return state->jogToLimit ? TLMMOTION_SOFT_LIMIT : TLMMOTION_ARRIVED;
    if (state->direction > 0 && (status1 & TLM_ST1_PLUS_ELS)) return TLMMOTION_PLUS_LIMIT;
    if (state->direction < 0 && (status1 & TLM_ST1_MINUS_ELS)) return TLMMOTION_MINUS_LIMIT;
    // An origin return zeroes the counter when it completes; a stop through this handle
    // says it did not.
    bool stoppedHere = __atomic_load_n(&state->stops, __ATOMIC_ACQUIRE) != state->stopsAtStart;
    if (state->moveKind == MOVE_HOME && position == 0 && !stoppedHere) return TLMMOTION_ARRIVED;
    return TLMMOTION_STOPPED;
}

// One poll of a wait, under the axis lock. *why stays 0 while the axis moves; once it stands,
// *why says why and *position is the counter. SVALM during a move stops it at once.
// *groupToStop: the other axes of its coordinated move, when it ended other than arriving or
// the poll failed; the caller stops them once the lock is released.
static BOOL PollAxis(MotionBoard* m, WORD axis, AxisState* state, LONG* why, LONG* position, LONG* groupToStop) {
    *why = 0;
    *groupToStop = 0;
    LockAxis(state);
    BYTE status1, status2, interrupt = 0;
    DWORD counter = 0;
    BOOL ok = tlmio_status1Read(m->board, axis, &status1) && tlmio_status2Read(m->board, axis, &status2);
    bool moving = ok && (status1 & TLM_ST1_OPERATING);
    if (moving && state->moveKind == MOVE_HOME && (status1 & TLM_ST1_OLS)) state->originSeen = true;
    if (ok && moving && (status2 & TLM_ST2_SVALM) && state->settle < SETTLE_IMMEDIATE) {
        state->libraryStop = TLMMOTION_SERVO_ALARM;
        if (state->moveKind == MOVE_NONE) state->moveKind = MOVE_JOG;  // started elsewhere: report the alarm
        state->settle = SETTLE_IMMEDIATE;
        state->settleBy = Now(&m->clock) + SETTLE_MARGIN_MS;
        __atomic_add_fetch(&state->stops, 1, __ATOMIC_ACQ_REL);
        *groupToStop = __atomic_exchange_n(&state->group, 0, __ATOMIC_ACQ_REL);
        ok = Command(m, axis, TLM_CMD_IMMEDIATE_STOP) || Command(m, axis, TLM_CMD_DECEL_STOP);
    } else if (ok && !moving) {
        if (state->moveKind == MOVE_PRESET) ok = tlmio_intstatusRead(m->board, axis, &interrupt);
        ok = ok && ReadRegister(m, axis, TLM_REG_POSITION, &counter);
        if (ok && state->moveKind == MOVE_PRESET) ok = Command(m, axis, TLM_CMD_CYCLE_OFF);
        if (ok) {
            *why = state->moveKind == MOVE_NONE ? (LONG)TLMMOTION_IDLE
                                                : EndReason(state, status1, interrupt, (LONG)counter);
            *position = (LONG)counter;
            if (*why != TLMMOTION_ARRIVED) *groupToStop = state->group;
            state->moveKind = MOVE_NONE;
            state->libraryStop = 0;
            state->settle = SETTLE_NONE;
            __atomic_store_n(&state->group, 0, __ATOMIC_RELEASE);
        }
    }
    // A wait that cannot read the axis cannot watch it either: stop it before reporting.
    if (!ok) {
        *groupToStop = __atomic_exchange_n(&state->group, 0, __ATOMIC_ACQ_REL);
        StopAfterFailure(m, axis);
    }
    *groupToStop &= ~(1L << axis);
    LeaveCriticalSection(&state->lock);
    return ok;
}

// Why the library stops a move at a wait's timeout: an origin return with Z that saw OLS
// missed its Z mark.
static LONG TimeoutReason(const AxisState* state) {
    return state->moveKind == MOVE_HOME && state->zPhase && state->originSeen ? TLMMOTION_NO_Z_MARK : TLMMOTION_TIMEOUT;
}

// The library's own stop of a moving axis (timeout, close), one step per poll, under the
// axis lock: a decelerating stop first; once the ramp time and a margin have passed with the
// axis still moving, the immediate stop; once that has had its margin too, the library gives
// up on the axis (SETTLE_GAVE_UP). Each step is taken also when its request fails.
static BOOL LibraryStop(MotionBoard* m, WORD axis, AxisState* state, LONG reason) {
    BOOL ok = TRUE;
    DWORD now = Now(&m->clock);
    if (state->libraryStop == 0) state->libraryStop = reason;
    if (state->moveKind == MOVE_NONE) state->moveKind = MOVE_JOG;  // started elsewhere: report the stop
    if (state->settle == SETTLE_NONE) {
        state->settle = SETTLE_DECELERATING;
        state->settleBy = now + state->rampMs + SETTLE_MARGIN_MS;
        ok = StopNow(m, axis);
    } else if ((LONG)(now - state->settleBy) < 0) {
        // the stop sent still has time
    } else if (state->settle == SETTLE_DECELERATING) {
        state->settle = SETTLE_IMMEDIATE;
        state->settleBy = now + SETTLE_MARGIN_MS;
        ok = Command(m, axis, TLM_CMD_IMMEDIATE_STOP);
    } else {
        state->settle = SETTLE_GAVE_UP;
        ok = Refuse(MOTERR_NOT_STOPPED);
    }
    return ok;
}

// -- exports --------------------------------------------------------------------------------

// What initialisation writes: the test program's speeds.
static void DefaultSpeeds(AxisState* state) {
    state->fl = TLM_INIT_FL_SPEED;
    state->fh = TLM_INIT_FH_SPEED;
    state->accelSeconds = TLM_INIT_ACCEL_MS / 1000.0;
    state->rampMs = TLM_INIT_ACCEL_MS;
    state->speedsLent = false;
}

// Turns the watchdog off and waits until its thread has ended.
static void EndWatchdog(MotionBoard* m) {
    EnterCriticalSection(&m->watchLock);
    m->watchdogMs = 0;
    LeaveCriticalSection(&m->watchLock);
    while (__atomic_load_n(&m->watchdogRunning, __ATOMIC_ACQUIRE)) Sleep(1);
    EnterCriticalSection(&m->watchLock);  // the thread has left the lock too
    LeaveCriticalSection(&m->watchLock);
}

// The locks and the memory of a board that no call uses any more.
static void FreeBoard(MotionBoard* m) {
    for (int a = 0; a < TLMMOTION_MAX_AXES; ++a) DeleteCriticalSection(&m->axes[a].lock);
    DeleteCriticalSection(&m->boardLock);
    DeleteCriticalSection(&m->watchLock);
    free(m);
}

BOOL WINAPI tlmmotion_Open(TLMIO_HANDLE board, TLMMOTION* motion) {
    if (motion == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = (MotionBoard*)calloc(1, sizeof(MotionBoard));
    if (m == NULL) return Refuse(ERROR_NOT_ENOUGH_MEMORY);
    m->board = board;
    FindClock(&m->clock);
    // An axis the board lacks answers a register read with all bits set.
    BOOL ok = TRUE;
    for (WORD axis = 0; axis < TLMMOTION_MAX_AXES && ok; ++axis) {
        DWORD value;
        ok = ReadRegister(m, axis, TLM_REG_SIGNAL, &value);
        if (ok && value == ABSENT_AXIS_REGISTER) break;
        if (ok) m->axisCount = axis + 1;
    }
    if (ok && m->axisCount == 0) ok = Refuse(MOTERR_NO_AXIS);
    int slot = -1;
    if (ok) {
        InitializeCriticalSection(&m->boardLock);
        InitializeCriticalSection(&m->watchLock);
        for (int a = 0; a < TLMMOTION_MAX_AXES; ++a) {
            InitializeCriticalSection(&m->axes[a].lock);
            DefaultSpeeds(&m->axes[a]);
        }
        LockHandles();
        for (int i = 0; i < MAX_MOTION_HANDLES && slot < 0; ++i)
            if (g_handles[i] == NULL) slot = i;
        if (slot >= 0) {
            m->value = (TLMMOTION)((++g_opens << 8) | (uintptr_t)(slot + 1));
            g_handles[slot] = m;
        }
        UnlockHandles();
        if (slot < 0) {
            FreeBoard(m);
            return Refuse(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    if (!ok) {
        free(m);
        return FALSE;
    }
    *motion = m->value;
    return TRUE;
}

BOOL WINAPI tlmmotion_Close(TLMMOTION motion) {
    // New calls are refused first, then the calls under way end (a wait sees the close at
    // its next poll), and only then go the stops: no start can follow them.
    MotionBoard* m = NULL;
    LockHandles();
    int slot = HandleSlot(motion);
    if (slot >= 0) {
        m = g_handles[slot];
        g_handles[slot] = NULL;
        __atomic_store_n(&m->closing, 1, __ATOMIC_RELEASE);
    }
    UnlockHandles();
    if (m == NULL) return Refuse(LIBERR_HANDLE);
    while (__atomic_load_n(&m->users, __ATOMIC_ACQUIRE) != 0) Sleep(1);
    EndWatchdog(m);  // a stop of the watchdog's under way ends first
    // Every axis this handle started gets the library's stop; close then watches them until
    // they stand, and succeeds only if they do.
    DWORD firstError = 0;
    bool watching[TLMMOTION_MAX_AXES] = {};
    bool any = false;
    for (WORD axis = 0; axis < m->axisCount; ++axis) {
        AxisState* state = &m->axes[axis];
        if (!state->startedByThis) continue;
        state->settle = SETTLE_NONE;
        if (!LibraryStop(m, axis, state, TLMMOTION_STOPPED) && firstError == 0) firstError = GetLastError();
        watching[axis] = any = true;
    }
    for (DWORD pause = 0; any; pause = POLL_MS) {
        if (pause != 0) Pause(&m->clock, pause);
        any = false;
        for (WORD axis = 0; axis < m->axisCount; ++axis) {
            if (!watching[axis]) continue;
            BYTE status1 = 0;
            BOOL ok = tlmio_status1Read(m->board, axis, &status1);
            watching[axis] = ok && (status1 & TLM_ST1_OPERATING);
            if (watching[axis]) ok = LibraryStop(m, axis, &m->axes[axis], TLMMOTION_STOPPED);
            if (m->axes[axis].settle == SETTLE_GAVE_UP) watching[axis] = false;
            if (!ok && firstError == 0) firstError = GetLastError();
            any = any || watching[axis];
        }
    }
    FreeBoard(m);
    if (firstError != 0) return Refuse(firstError);
    return TRUE;
}

BOOL WINAPI tlmmotion_AxisCount(TLMMOTION motion, LONG* count) {
    if (count == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandle(motion);
    if (m == NULL) return FALSE;
    *count = m->axisCount;
    ReleaseHandle(m);
    return TRUE;
}

// Runs one axis operation: handle and axis checked, the axis locked around it. The body sees
// m, axis, state and stopsAtEntry, and sets ok.
#define AXIS_CALL(motion, axis, ...)                                                                                   \
    MotionBoard* m = UseHandle(motion);                                                                                \
    if (m == NULL) return FALSE;                                                                                       \
    LONG stopsAtEntry = 0;                                                                                             \
    AxisState* state = UseAxis(m, axis, &stopsAtEntry);                                                                \
    BOOL ok = FALSE;                                                                                                   \
    if (state != NULL) {                                                                                               \
        __VA_ARGS__;                                                                                                   \
        ReleaseAxis(state);                                                                                            \
    }                                                                                                                  \
    ReleaseHandle(m);                                                                                                  \
    return ok

// The ELS polarity bits of one axis, read, changed and written under the board lock, so that
// calls on other axes keep theirs; with verify, read back as the test program's toggle does.
static BOOL SetElsContact(MotionBoard* m, WORD axis, bool aContact, bool verify) {
    BYTE present = (BYTE)((1u << m->axisCount) - 1), bit = (BYTE)(1u << axis), els = 0, readBack = 0;
    EnterCriticalSection(&m->boardLock);
    BOOL ok = tlmio_ElstRead(m->board, &els);
    els = (BYTE)(aContact ? (els & present) | bit : (els & present) & ~bit);
    ok = ok && tlmio_ElstWrite(m->board, els);
    if (ok && verify) ok = tlmio_ElstRead(m->board, &readBack);
    if (ok && verify && (readBack & present) != els) ok = Refuse(MOTERR_READBACK);
    LeaveCriticalSection(&m->boardLock);
    return ok;
}

BOOL WINAPI tlmmotion_Init(TLMMOTION motion, WORD axis) {
    // The test program's defaults.
    static const struct {
        BYTE reg;
        DWORD value;
    } kInitRegisters[] = TLM_INIT_REGISTERS;
    AXIS_CALL(motion, axis, {
        state->moveKind = MOVE_NONE;  // the reset stops whatever ran
        DefaultSpeeds(state);
        ok = Command(m, axis, TLM_CMD_AXIS_RESET) && Command(m, axis, TLM_CMD_CLEAR_INT) &&
             Command(m, axis, TLM_CMD_CLEAR_END) && tlmio_SeigyoWrite(m->board, axis, TLM_CONTROL_INIT);
        ok = ok && WriteRegister(m, axis, TLM_REG_PRESET, TLM_INIT_PRESET_AMOUNT) &&
             WriteRegister(m, axis, TLM_REG_FL, TLM_INIT_FL_SPEED) &&
             WriteRegister(m, axis, TLM_REG_FH, TLM_INIT_FH_SPEED) &&
             WriteRegister(m, axis, TLM_REG_RATE,
                           ComputeRateValue(TLM_INIT_ACCEL_MS / 1000.0, TLM_INIT_FL_SPEED, TLM_INIT_FH_SPEED));
        for (size_t i = 0; ok && i < sizeof kInitRegisters / sizeof kInitRegisters[0]; ++i)
            ok = WriteRegister(m, axis, kInitRegisters[i].reg, kInitRegisters[i].value);
        ok = ok && Command(m, axis, TLM_CMD_SVON_OFF) && Command(m, axis, TLM_CMD_SVRST_OFF) &&
             SetElsContact(m, axis, false, false);
        if (ok && axis == TLM_AXIS_X) ok = tlmio_CmpcWrite(m->board, 0);
    });
}

BOOL WINAPI tlmmotion_SetSpeeds(TLMMOTION motion, WORD axis, LONG fl, LONG fh, double accelSeconds) {
    if (fl < 1 || fl > TLMMOTION_SPEED_MAX || fh < fl || fh > TLMMOTION_SPEED_MAX ||
        !(accelSeconds >= TLMMOTION_ACCEL_MIN && accelSeconds <= TLMMOTION_ACCEL_MAX))
        return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        ok = WriteRegister(m, axis, TLM_REG_FL, (DWORD)fl) && WriteRegister(m, axis, TLM_REG_FH, (DWORD)fh) &&
             WriteRegister(m, axis, TLM_REG_RATE, ComputeRateValue(accelSeconds, (DWORD)fl, (DWORD)fh));
        // A stop may take as long as the longer of the old and the new ramp.
        DWORD rampMs = (DWORD)(accelSeconds * 1000.0 + 0.5);
        if (ok || rampMs > state->rampMs) state->rampMs = rampMs;
        if (ok) {
            state->fl = fl;
            state->fh = fh;
            state->accelSeconds = accelSeconds;
        }
        state->speedsLent = !ok;  // registers half written are rewritten before the next start
    });
}

BOOL WINAPI tlmmotion_SetContacts(TLMMOTION motion, WORD axis, LONG aContacts) {
    LONG limits = aContacts & LIMIT_INPUTS;
    if ((aContacts & ~CONTACT_INPUTS) != 0 || (limits != 0 && limits != LIMIT_INPUTS))
        return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        DWORD signal = 0, readBack = 0;
        ok = ReadRegister(m, axis, TLM_REG_SIGNAL, &signal);
        for (size_t i = 0; i < sizeof kSignalContacts / sizeof kSignalContacts[0]; ++i)
            signal = (aContacts & kSignalContacts[i].input) ? signal | kSignalContacts[i].signalBit
                                                            : signal & ~kSignalContacts[i].signalBit;
        ok = ok && WriteRegister(m, axis, TLM_REG_SIGNAL, signal) && ReadRegister(m, axis, TLM_REG_SIGNAL, &readBack);
        if (ok && readBack != signal) ok = Refuse(MOTERR_READBACK);
        ok = ok && SetElsContact(m, axis, limits != 0, true);
    });
}

BOOL WINAPI tlmmotion_GetContacts(TLMMOTION motion, WORD axis, LONG* aContacts) {
    if (aContacts == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        DWORD signal = 0;
        BYTE els = 0;
        ok = ReadRegister(m, axis, TLM_REG_SIGNAL, &signal) && tlmio_ElstRead(m->board, &els);
        if (ok) {
            LONG contacts = (els & (1u << axis)) ? LIMIT_INPUTS : 0;
            for (size_t i = 0; i < sizeof kSignalContacts / sizeof kSignalContacts[0]; ++i)
                if (signal & kSignalContacts[i].signalBit) contacts |= kSignalContacts[i].input;
            *aContacts = contacts;
        }
    });
}

static bool WithinSoftLimits(const AxisState* state, LONGLONG target) {
    return !state->softLimited || (target >= state->softMin && target <= state->softMax);
}

// A preset feed to target from where the axis stands: refused outside the soft limits and
// beyond one feed's range; no start where it stands already.
static BOOL MoveToTarget(MotionBoard* m, WORD axis, AxisState* state, LONG stopsAtEntry, LONGLONG target, BOOL ramped) {
    DWORD position;
    if (!WithinSoftLimits(state, target)) return Refuse(MOTERR_SOFT_LIMIT);
    if (!ReadyToStart(m, axis, state, stopsAtEntry) || !ReadRegister(m, axis, TLM_REG_POSITION, &position))
        return FALSE;
    LONGLONG pulses = target - (LONGLONG)(LONG)position;
    if (pulses > TLMMOTION_MOVE_MAX || pulses < -(LONGLONG)TLMMOTION_MOVE_MAX || target < INT32_MIN ||
        target > INT32_MAX)
        return Refuse(ERROR_INVALID_PARAMETER);
    if (pulses != 0) return MovePulses(m, axis, state, stopsAtEntry, pulses, ramped);
    state->moveKind = MOVE_NONE;
    return TRUE;
}

BOOL WINAPI tlmmotion_MoveBy(TLMMOTION motion, WORD axis, LONG pulses, BOOL ramped) {
    if (pulses == 0 || pulses < -TLMMOTION_MOVE_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        if (!state->softLimited) {
            ok = ReadyToStart(m, axis, state, stopsAtEntry) && MovePulses(m, axis, state, stopsAtEntry, pulses, ramped);
        } else {
            // The target needs the position: the same feed, checked against the limits first.
            DWORD position;
            ok = ReadRegister(m, axis, TLM_REG_POSITION, &position);
            if (ok && !WithinSoftLimits(state, (LONGLONG)(LONG)position + pulses)) ok = Refuse(MOTERR_SOFT_LIMIT);
            ok = ok && ReadyToStart(m, axis, state, stopsAtEntry) &&
                 MovePulses(m, axis, state, stopsAtEntry, pulses, ramped);
        }
    });
}

BOOL WINAPI tlmmotion_MoveTo(TLMMOTION motion, WORD axis, LONG target, BOOL ramped) {
    AXIS_CALL(motion, axis, { ok = MoveToTarget(m, axis, state, stopsAtEntry, target, ramped); });
}

// With soft limits a jog is a preset feed to the limit in its direction, so that the board
// itself stops the axis there; nothing starts at or beyond that limit.
static BOOL JogToLimit(MotionBoard* m, WORD axis, AxisState* state, LONG stopsAtEntry, LONG direction, BOOL ramped) {
    DWORD position;
    if (!ReadyToStart(m, axis, state, stopsAtEntry) || !ReadRegister(m, axis, TLM_REG_POSITION, &position))
        return FALSE;
    LONGLONG pulses = (LONGLONG)(direction > 0 ? state->softMax : state->softMin) - (LONG)position;
    if (pulses * direction <= 0) return Refuse(MOTERR_SOFT_LIMIT);
    if (pulses > TLMMOTION_MOVE_MAX) pulses = TLMMOTION_MOVE_MAX;  // stops short of the limit
    if (pulses < -(LONGLONG)TLMMOTION_MOVE_MAX) pulses = -(LONGLONG)TLMMOTION_MOVE_MAX;
    if (!MovePulses(m, axis, state, stopsAtEntry, pulses, ramped)) return FALSE;
    state->jogToLimit = true;
    return TRUE;
}

BOOL WINAPI tlmmotion_Jog(TLMMOTION motion, WORD axis, LONG direction, BOOL ramped) {
    if (direction != 1 && direction != -1) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        if (state->softLimited)
            ok = JogToLimit(m, axis, state, stopsAtEntry, direction, ramped);
        else
            ok = ReadyToStart(m, axis, state, stopsAtEntry) &&
                 Start(m, axis, state, stopsAtEntry,
                       direction > 0 ? TLM_MODE_PLUS_CONTINUOUS : TLM_MODE_MINUS_CONTINUOUS,
                       ramped ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_JOG, direction);
    });
}

BOOL WINAPI tlmmotion_Home(TLMMOTION motion, WORD axis, BOOL zPhase) {
    AXIS_CALL(motion, axis, {
        state->zPhase = zPhase != FALSE;
        state->originSeen = false;
        ok = ReadyToStart(m, axis, state, stopsAtEntry) &&
             WriteRegister(m, axis, TLM_REG_ORIGIN, zPhase ? TLM_ORIGIN_OLS_Z : TLM_ORIGIN_OLS) &&
             Start(m, axis, state, stopsAtEntry, TLM_MODE_ORIGIN_RETURN,
                   zPhase ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_HOME, -1);
    });
}

BOOL WINAPI tlmmotion_GetSpeeds(TLMMOTION motion, WORD axis, LONG* fl, LONG* fh, double* accelSeconds) {
    if (fl == NULL || fh == NULL || accelSeconds == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        *fl = state->fl;
        *fh = state->fh;
        *accelSeconds = state->accelSeconds;
        ok = TRUE;
    });
}

BOOL WINAPI tlmmotion_SetSoftLimits(TLMMOTION motion, WORD axis, LONG min, LONG max) {
    if (min > max) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        state->softLimited = true;
        state->softMin = min;
        state->softMax = max;
        ok = TRUE;
    });
}

BOOL WINAPI tlmmotion_ClearSoftLimits(TLMMOTION motion, WORD axis) {
    AXIS_CALL(motion, axis, {
        state->softLimited = false;
        ok = TRUE;
    });
}

BOOL WINAPI tlmmotion_GetSoftLimits(TLMMOTION motion, WORD axis, BOOL* set, LONG* min, LONG* max) {
    if (set == NULL || min == NULL || max == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        *set = state->softLimited;
        *min = state->softMin;
        *max = state->softMax;
        ok = TRUE;
    });
}

// A stop is counted before it waits for the axis lock, so that a start under way sees it;
// it then waits at most for the requests of the one call that holds the axis.
static BOOL StopAxis(MotionBoard* m, WORD axis, BYTE command) {
    AxisState* state = &m->axes[axis];
    __atomic_add_fetch(&state->stopsWaiting, 1, __ATOMIC_ACQ_REL);
    __atomic_add_fetch(&state->stops, 1, __ATOMIC_ACQ_REL);
    EnterCriticalSection(&state->lock);
    __atomic_sub_fetch(&state->stopsWaiting, 1, __ATOMIC_ACQ_REL);
    BOOL ok = Command(m, axis, command) || (command == TLM_CMD_DECEL_STOP && Command(m, axis, TLM_CMD_IMMEDIATE_STOP));
    LeaveCriticalSection(&state->lock);
    return ok;
}

// The other axes of a coordinated move, when one of it stops or fails: each leaves the group
// first, so that its own end does not stop the group again. The first failure is returned.
static BOOL StopGroup(MotionBoard* m, LONG group, BYTE command) {
    DWORD firstError = 0;
    for (WORD axis = 0; axis < m->axisCount; ++axis) {
        if (!(group & (1L << axis))) continue;
        __atomic_store_n(&m->axes[axis].group, 0, __ATOMIC_RELEASE);
        if (!StopAxis(m, axis, command) && firstError == 0) firstError = GetLastError();
    }
    if (firstError != 0) return Refuse(firstError);
    return TRUE;
}

BOOL WINAPI tlmmotion_Stop(TLMMOTION motion, WORD axis, BOOL immediate) {
    MotionBoard* m = UseHandleFor(motion, true);
    if (m == NULL) return FALSE;
    BYTE command = immediate ? TLM_CMD_IMMEDIATE_STOP : TLM_CMD_DECEL_STOP;
    BOOL ok = AxisValid(m, axis) && StopAxis(m, axis, command);
    if (ok) {
        LONG group = __atomic_load_n(&m->axes[axis].group, __ATOMIC_ACQUIRE) & ~(1L << axis);
        ok = group == 0 || StopGroup(m, group, command);
    }
    ReleaseHandle(m);
    return ok;
}

BOOL WINAPI tlmmotion_StopAll(TLMMOTION motion) {
    MotionBoard* m = UseHandleFor(motion, true);
    if (m == NULL) return FALSE;
    DWORD firstError = 0;
    for (WORD axis = 0; axis < m->axisCount; ++axis)
        if (!StopAxis(m, axis, TLM_CMD_DECEL_STOP) && firstError == 0) firstError = GetLastError();
    ReleaseHandle(m);
    if (firstError != 0) return Refuse(firstError);
    return TRUE;
}

// StopGroup on the way out of a poll or a wait, leaving the error it may have for its caller.
static void StopGroupKeepingError(MotionBoard* m, LONG group) {
    DWORD error = GetLastError();
    StopGroup(m, group, TLM_CMD_DECEL_STOP);
    SetLastError(error);
}

BOOL WINAPI tlmmotion_Poll(TLMMOTION motion, WORD axis, LONG* position, LONG* reason) {
    if (position == NULL || reason == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandle(motion);
    if (m == NULL) return FALSE;
    LONG why = 0, counter = 0, group = 0;
    BOOL ok = AxisValid(m, axis) && PollAxis(m, axis, &m->axes[axis], &why, &counter, &group);
    if (group != 0) StopGroupKeepingError(m, group);
    if (ok && why != 0) *position = counter;
    if (ok) *reason = why;
    ReleaseHandle(m);
    return ok;
}

BOOL WINAPI tlmmotion_Wait(TLMMOTION motion, WORD axis, DWORD timeoutMs, LONG* position, LONG* reason) {
    if (position == NULL || timeoutMs > TLMMOTION_TIMEOUT_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandle(motion);
    if (m == NULL) return FALSE;
    // Locked one poll at a time, so that a stop gets through between them.
    AxisState* state = AxisValid(m, axis) ? &m->axes[axis] : NULL;
    BOOL ok = state != NULL;
    LONG why = 0, counter = 0, group = 0;
    DWORD started = Now(&m->clock);
    while (ok) {
        // A close ends the wait; the close then stops the axis.
        if (__atomic_load_n(&m->closing, __ATOMIC_ACQUIRE)) ok = Refuse(LIBERR_HANDLE);
        ok = ok && PollAxis(m, axis, state, &why, &counter, &group);
        if (group != 0) StopGroupKeepingError(m, group);
        if (!ok || why != 0) break;
        // At the timeout the library stops the axis and waits, bounded, until it stands.
        LockAxis(state);
        if (Now(&m->clock) - started >= timeoutMs || state->settle != SETTLE_NONE)
            ok = LibraryStop(m, axis, state, TimeoutReason(state));
        LeaveCriticalSection(&state->lock);
        if (ok) Pause(&m->clock, POLL_MS);
    }
    if (ok) {
        *position = counter;
        if (reason != NULL) *reason = why;
    }
    ReleaseHandle(m);
    return ok;
}

BOOL WINAPI tlmmotion_GetStatus(TLMMOTION motion, WORD axis, TLMMOTION_STATUS* status) {
    if (status == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        BYTE status1, status2;
        DWORD position, speed, inputs;
        ok = tlmio_status1Read(m->board, axis, &status1) && tlmio_status2Read(m->board, axis, &status2) &&
             ReadRegister(m, axis, TLM_REG_POSITION, &position) && ReadRegister(m, axis, TLM_REG_SPEED, &speed) &&
             ReadRegister(m, axis, TLM_REG_INPUTS, &inputs);
        if (ok) {
            status->position = (LONG)position;
            status->moving = (status1 & TLM_ST1_OPERATING) != 0;
            status->speed = status->moving ? (LONG)(speed & TLM_SPEED_BITS) : 0;
            status->inputs = ((status1 & TLM_ST1_PLUS_ELS) ? TLMMOTION_IN_PLUS_LIMIT : 0) |
                             ((status1 & TLM_ST1_MINUS_ELS) ? TLMMOTION_IN_MINUS_LIMIT : 0) |
                             ((status1 & (TLM_ST1_DLS | TLM_ST1_DLS_HOLD)) ? TLMMOTION_IN_SLOW_DOWN : 0) |
                             ((status1 & TLM_ST1_OLS) ? TLMMOTION_IN_ORIGIN : 0) |
                             ((inputs & TLM_IN_Z) ? TLMMOTION_IN_Z_PHASE : 0) |
                             ((status2 & TLM_ST2_INPOS) ? TLMMOTION_IN_POSITION : 0) |
                             ((status2 & TLM_ST2_SVALM) ? TLMMOTION_IN_SERVO_ALARM : 0);
        }
    });
}

BOOL WINAPI tlmmotion_ServoOn(TLMMOTION motion, WORD axis, BOOL on) {
    AXIS_CALL(motion, axis, { ok = Command(m, axis, on ? TLM_CMD_SVON_ON : TLM_CMD_SVON_OFF); });
}

BOOL WINAPI tlmmotion_ServoReset(TLMMOTION motion, WORD axis, BOOL on) {
    AXIS_CALL(motion, axis, { ok = Command(m, axis, on ? TLM_CMD_SVRST_ON : TLM_CMD_SVRST_OFF); });
}

// -- several axes ---------------------------------------------------------------------------

// count distinct axes below TLMMOTION_MAX_AXES, as a bit set; 0 for anything else.
static LONG AxisSet(LONG count, const WORD* axes) {
    if (count < 1 || count > TLMMOTION_MAX_AXES || axes == NULL) return 0;
    LONG set = 0;
    for (LONG i = 0; i < count; ++i) {
        if (axes[i] >= TLMMOTION_MAX_AXES || (set & (1L << axes[i]))) return 0;
        set |= 1L << axes[i];
    }
    return set;
}

// Every axis of the set on the board; false with MOTERR_NO_AXIS otherwise.
static bool AxesValid(const MotionBoard* m, LONG set) {
    for (WORD axis = 0; axis < TLMMOTION_MAX_AXES; ++axis)
        if ((set & (1L << axis)) && !AxisValid(m, axis)) return false;
    return true;
}

// The speeds of one axis of a coordinated move, its share of the lead's: the whole pulses per
// second nearest to lead * distance / leadDistance, at least 1.
static LONG ShareOf(LONG leadSpeed, LONGLONG distance, LONGLONG leadDistance) {
    LONGLONG share = ((LONGLONG)leadSpeed * distance * 2 + leadDistance) / (leadDistance * 2);
    return share < 1 ? 1 : (LONG)share;
}

// The ramp time that makes a ramped move of `distance` at fl..fh take as long as the lead's:
// the speeds are whole pulses per second, and their rounding would change the move's time by
// up to half a pulse per second of cruise; the ramp time takes that up. A lead move that
// reaches FH takes T = ramp + distance / FH - ramp * FL / FH (two ramps and the cruise); the
// axis' move takes as long with ramp (T * fh - distance) / (fh - fl). The lead's ramp time
// where that does not work out: a lead that never reaches FH, or no room for a ramp.
static double MatchingRamp(const AxisState* lead, LONGLONG leadDistance, LONG fl, LONG fh, LONGLONG distance) {
    double ramp = lead->accelSeconds;
    if (lead->fh <= lead->fl || fh <= fl || (double)leadDistance < (lead->fl + lead->fh) * ramp) return ramp;
    double moveSeconds = ramp + ((double)leadDistance - ramp * lead->fl) / lead->fh;
    double matching = (moveSeconds * fh - (double)distance) / (fh - fl);
    return matching >= TLMMOTION_ACCEL_MIN && matching <= moveSeconds / 2 ? matching : ramp;
}

// Under the locks of all its axes: everything is checked and read first, then the speeds,
// presets and modes are written, and the starts go out back to back at the end.
static BOOL StartGroup(MotionBoard* m, LONG count, const WORD* axes, const LONG* targets, BOOL ramped,
                       const LONG* stopsAtEntry) {
    LONGLONG pulses[TLMMOTION_MAX_AXES] = {};
    LONG lead = -1, group = 0;
    for (LONG i = 0; i < count; ++i)
        if (!WithinSoftLimits(&m->axes[axes[i]], targets[i])) return Refuse(MOTERR_SOFT_LIMIT);
    for (LONG i = 0; i < count; ++i) {
        AxisState* state = &m->axes[axes[i]];
        DWORD position;
        if (!ReadyToStart(m, axes[i], state, stopsAtEntry[i]) || !ReadRegister(m, axes[i], TLM_REG_POSITION, &position))
            return FALSE;
        pulses[i] = (LONGLONG)targets[i] - (LONG)position;
        if (pulses[i] > TLMMOTION_MOVE_MAX || pulses[i] < -(LONGLONG)TLMMOTION_MOVE_MAX)
            return Refuse(ERROR_INVALID_PARAMETER);
        if (pulses[i] != 0) group |= 1L << axes[i];
        if (pulses[i] != 0 && (lead < 0 || llabs(pulses[i]) > llabs(pulses[lead]))) lead = i;
    }
    for (LONG i = 0; i < count; ++i) m->axes[axes[i]].moveKind = MOVE_NONE;
    if (lead < 0) return TRUE;  // every axis stands at its target
    const AxisState* leader = &m->axes[axes[lead]];
    BOOL ok = OwnSpeeds(m, axes[lead], &m->axes[axes[lead]]);
    for (LONG i = 0; ok && i < count; ++i) {
        if (pulses[i] == 0) continue;
        WORD axis = axes[i];
        AxisState* state = &m->axes[axis];
        if (i != lead) {
            LONG fl = ShareOf(leader->fl, llabs(pulses[i]), llabs(pulses[lead]));
            LONG fh = ShareOf(leader->fh, llabs(pulses[i]), llabs(pulses[lead]));
            double ramp =
                ramped ? MatchingRamp(leader, llabs(pulses[lead]), fl, fh, llabs(pulses[i])) : leader->accelSeconds;
            state->speedsLent = true;
            ok = WriteRegister(m, axis, TLM_REG_FL, (DWORD)fl) && WriteRegister(m, axis, TLM_REG_FH, (DWORD)fh) &&
                 WriteRegister(m, axis, TLM_REG_RATE, ComputeRateValue(ramp, (DWORD)fl, (DWORD)fh));
            DWORD rampMs = (DWORD)(ramp * 1000.0 + 0.5);
            if (rampMs > state->rampMs) state->rampMs = rampMs;
        }
        ok = ok && Command(m, axis, TLM_CMD_CLEAR_INT) && Command(m, axis, TLM_CMD_CYCLE_ON) &&
             WriteRegister(m, axis, TLM_REG_PRESET, (DWORD)llabs(pulses[i])) &&
             tlmio_DousaWrite(m->board, axis, pulses[i] > 0 ? TLM_MODE_PLUS_PRESET : TLM_MODE_MINUS_PRESET);
    }
    for (LONG i = 0; ok && i < count; ++i)
        if (StopCount(&m->axes[axes[i]]) != stopsAtEntry[i]) ok = Refuse(MOTERR_CANCELLED);
    if (!ok) return FALSE;
    for (LONG i = 0; i < count; ++i)
        if (pulses[i] != 0) MarkStarted(&m->axes[axes[i]], stopsAtEntry[i], MOVE_PRESET, pulses[i] > 0 ? 1 : -1, group);
    for (LONG i = 0; ok && i < count; ++i)
        if (pulses[i] != 0) ok = Command(m, axes[i], ramped ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL);
    if (ok) return TRUE;
    // A start that failed may have reached the board, and the others did: stop them all.
    DWORD error = GetLastError();
    for (LONG i = 0; i < count; ++i) {
        if (pulses[i] == 0) continue;
        m->axes[axes[i]].moveKind = MOVE_NONE;
        __atomic_store_n(&m->axes[axes[i]].group, 0, __ATOMIC_RELEASE);
        StopNow(m, axes[i]);
    }
    return Refuse(error);
}

BOOL WINAPI tlmmotion_MoveAxesTo(TLMMOTION motion, LONG count, const WORD* axes, const LONG* targets, BOOL ramped) {
    LONG set = AxisSet(count, axes);
    if (set == 0 || targets == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandle(motion);
    if (m == NULL) return FALSE;
    BOOL ok = AxesValid(m, set);
    if (ok) {
        // Locked in the order of the axes, so that two such calls cannot wait for each other.
        LONG stopsAtEntry[TLMMOTION_MAX_AXES] = {};
        for (LONG i = 0; i < count; ++i) stopsAtEntry[i] = StopCount(&m->axes[axes[i]]);
        for (WORD axis = 0; axis < TLMMOTION_MAX_AXES; ++axis)
            if (set & (1L << axis)) LockAxis(&m->axes[axis]);
        ok = StartGroup(m, count, axes, targets, ramped, stopsAtEntry);
        for (WORD axis = 0; axis < TLMMOTION_MAX_AXES; ++axis)
            if (set & (1L << axis)) ReleaseAxis(&m->axes[axis]);
    }
    ReleaseHandle(m);
    return ok;
}

BOOL WINAPI tlmmotion_WaitAxes(TLMMOTION motion, LONG count, const WORD* axes, DWORD timeoutMs, LONG* positions,
                               LONG* reasons) {
    LONG set = AxisSet(count, axes);
    if (set == 0 || positions == NULL || timeoutMs > TLMMOTION_TIMEOUT_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandle(motion);
    if (m == NULL) return FALSE;
    BOOL ok = AxesValid(m, set);
    LONG why[TLMMOTION_MAX_AXES] = {}, counter[TLMMOTION_MAX_AXES] = {}, waiting = set;
    DWORD started = Now(&m->clock);
    while (ok && waiting != 0) {
        if (__atomic_load_n(&m->closing, __ATOMIC_ACQUIRE)) ok = Refuse(LIBERR_HANDLE);
        for (LONG i = 0; ok && i < count; ++i) {
            if (!(waiting & (1L << axes[i]))) continue;
            LONG group = 0;
            ok = PollAxis(m, axes[i], &m->axes[axes[i]], &why[i], &counter[i], &group);
            if (group != 0) StopGroupKeepingError(m, group);
            if (ok && why[i] != 0) waiting &= ~(1L << axes[i]);
        }
        bool late = Now(&m->clock) - started >= timeoutMs;
        for (LONG i = 0; ok && i < count; ++i) {
            AxisState* state = &m->axes[axes[i]];
            if (!(waiting & (1L << axes[i]))) continue;
            LockAxis(state);
            if (late || state->settle != SETTLE_NONE) ok = LibraryStop(m, axes[i], state, TimeoutReason(state));
            ReleaseAxis(state);
        }
        if (ok && waiting != 0) Pause(&m->clock, POLL_MS);
    }
    // A wait that fails cannot watch the axes any more: they stop before the error is told.
    if (!ok && waiting != 0 && GetLastError() != MOTERR_NO_AXIS) StopGroupKeepingError(m, waiting);
    if (ok) {
        for (LONG i = 0; i < count; ++i) {
            positions[i] = counter[i];
            if (reasons != NULL) reasons[i] = why[i];
        }
    }
    ReleaseHandle(m);
    return ok;
}

// -- the watchdog ---------------------------------------------------------------------------

// Whether an axis this handle started still moves; a status that cannot be read counts as
// moving.
static bool AnyStartedAxisMoves(MotionBoard* m) {
    for (WORD axis = 0; axis < m->axisCount; ++axis) {
        AxisState* state = &m->axes[axis];
        if (__atomic_load_n(&state->moveKind, __ATOMIC_ACQUIRE) == MOVE_NONE) continue;
        BYTE status1 = 0;
        LockAxis(state);
        BOOL read = tlmio_status1Read(m->board, axis, &status1);
        ReleaseAxis(state);
        if (!read || (status1 & TLM_ST1_OPERATING)) return true;
    }
    return false;
}

// The watchdog's thread: polls in real time, measures in the handle's time. When the program
// has made no call for the period while an axis it started moves, every later call is
// refused first, so that no start slips in after the stops, and then every axis of the board
// is stopped.
static DWORD WINAPI Watchdog(LPVOID parameter) {
    MotionBoard* m = (MotionBoard*)parameter;
    for (;;) {
        EnterCriticalSection(&m->watchLock);
        DWORD period = m->watchdogMs;
        if (period == 0) __atomic_store_n(&m->watchdogRunning, 0, __ATOMIC_RELEASE);
        LeaveCriticalSection(&m->watchLock);
        if (period == 0) return 0;
        Sleep(period < WATCHDOG_POLL_MS ? period : WATCHDOG_POLL_MS);
        DWORD quiet = Now(&m->clock) - __atomic_load_n(&m->lastCall, __ATOMIC_ACQUIRE);
        if (quiet < period || !AnyStartedAxisMoves(m)) continue;
        EnterCriticalSection(&m->watchLock);
        bool trip = m->watchdogMs == period;  // not set anew meanwhile
        if (trip) {
            __atomic_store_n(&m->watchdogTripped, 1, __ATOMIC_RELEASE);
            m->watchdogMs = 0;
        }
        LeaveCriticalSection(&m->watchLock);
        for (WORD axis = 0; trip && axis < m->axisCount; ++axis) StopAxis(m, axis, TLM_CMD_DECEL_STOP);
    }
}

BOOL WINAPI tlmmotion_SetWatchdog(TLMMOTION motion, DWORD ms) {
    if (ms > TLMMOTION_TIMEOUT_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    MotionBoard* m = UseHandleFor(motion, true);
    if (m == NULL) return FALSE;
    BOOL ok = TRUE;
    EnterCriticalSection(&m->watchLock);
    __atomic_store_n(&m->watchdogTripped, 0, __ATOMIC_RELEASE);
    m->watchdogMs = ms;
    __atomic_store_n(&m->lastCall, Now(&m->clock), __ATOMIC_RELEASE);
    if (ms != 0 && !__atomic_load_n(&m->watchdogRunning, __ATOMIC_ACQUIRE)) {
        HANDLE thread = CreateThread(NULL, 0, Watchdog, m, 0, NULL);
        if (thread == NULL) {
            m->watchdogMs = 0;
            ok = FALSE;
        } else {
            __atomic_store_n(&m->watchdogRunning, 1, __ATOMIC_RELEASE);
#ifdef _WIN32
            CloseHandle(thread);  // the thread ends on its own; Close waits for that
#endif
        }
    }
    LeaveCriticalSection(&m->watchLock);
    ReleaseHandle(m);
    return ok;
}

BOOL WINAPI tlmmotion_Feed(TLMMOTION motion) {
    MotionBoard* m = UseHandle(motion);  // the call itself is the feed
    if (m == NULL) return FALSE;
    ReleaseHandle(m);
    return TRUE;
}
