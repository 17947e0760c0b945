// The motion library: axis operations built from tellamio's port calls, as the test program
// builds them, with the arguments checked first and the board made safe on every exit.
#include <stdlib.h>

#include "rate.h"
#include "tellam_controller.h"
#include "tellamio_motion.h"

// What a register read of an axis the board lacks gives: an empty bus.
#define ABSENT_AXIS_REGISTER 0xFFFFFFFFUL

#define POLL_MS 10

enum MoveKind { MOVE_NONE, MOVE_PRESET, MOVE_JOG, MOVE_HOME };

struct AxisState {
    CRITICAL_SECTION lock;  // one call on the axis at a time
    LONG moveKind;          // MoveKind of the last start not yet waited for
    LONG direction;         // +1 or -1 of that start
    LONG stopSent;          // a stop was sent since that start (set from any thread)
    bool startedByThis;     // close stops it
};

struct TLMMOTION_BOARD {
    TLMIO_HANDLE board;
    LONG axisCount;
    LONG users;    // calls under way
    LONG closing;  // set by tlmmotion_Close: waits end, new calls are refused
    AxisState axes[TLMMOTION_MAX_AXES];
};

// The handles given out, so that a stale or made-up handle is refused rather than followed.
#define MAX_MOTION_HANDLES 64
static TLMMOTION g_handles[MAX_MOTION_HANDLES];
// Held for a few instructions at a time; needs no setup, so no DllMain either.
static LONG g_handlesBusy;

static void LockHandles() {
    while (__atomic_exchange_n(&g_handlesBusy, 1, __ATOMIC_ACQUIRE)) Sleep(0);
}

static void UnlockHandles() { __atomic_store_n(&g_handlesBusy, 0, __ATOMIC_RELEASE); }

// -- handles and arguments ------------------------------------------------------------------

// A live handle, counted as in use until ReleaseHandle; null with LIBERR_HANDLE.
static TLMMOTION UseHandle(TLMMOTION motion) {
    TLMMOTION found = NULL;
    LockHandles();
    for (int i = 0; i < MAX_MOTION_HANDLES && found == NULL; ++i)
        if (motion != NULL && g_handles[i] == motion && !motion->closing) found = motion;
    if (found != NULL) __atomic_add_fetch(&found->users, 1, __ATOMIC_ACQ_REL);
    UnlockHandles();
    if (found == NULL) SetLastError(LIBERR_HANDLE);
    return found;
}

static void ReleaseHandle(TLMMOTION motion) { __atomic_sub_fetch(&motion->users, 1, __ATOMIC_ACQ_REL); }

static BOOL Refuse(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// An axis of the handle's board; false with the reason otherwise.
static bool AxisValid(TLMMOTION motion, WORD axis) {
    if (axis < TLMMOTION_MAX_AXES && (LONG)axis < motion->axisCount) return true;
    SetLastError(axis >= TLMMOTION_MAX_AXES ? ERROR_INVALID_PARAMETER : MOTERR_NO_AXIS);
    return false;
}

// The axis, locked, when the handle and the axis are good; null otherwise (nothing sent).
static AxisState* UseAxis(TLMMOTION motion, WORD axis) {
    if (!AxisValid(motion, axis)) return NULL;
    AxisState* state = &motion->axes[axis];
    EnterCriticalSection(&state->lock);
    return state;
}

static void ReleaseAxis(AxisState* state) { LeaveCriticalSection(&state->lock); }

// -- controller steps -----------------------------------------------------------------------

static BOOL Command(TLMMOTION m, WORD axis, BYTE command) { return tlmio_CmdWrite(m->board, axis, command, 0, 0); }

static BOOL WriteRegister(TLMMOTION m, WORD axis, BYTE reg, DWORD value) {
    return tlmio_CmdWrite(m->board, axis, (BYTE)(TLM_CMD_WRITE_REG + reg), 1, value);
}

static BOOL ReadRegister(TLMMOTION m, WORD axis, BYTE reg, DWORD* value) {
    return tlmio_regRead(m->board, axis, (BYTE)(TLM_CMD_READ_REG + reg), value);
}

// The stop every axis gets when something fails or the handle closes.
static BOOL StopNow(TLMMOTION m, WORD axis) {
    return Command(m, axis, TLM_CMD_DECEL_STOP) || Command(m, axis, TLM_CMD_IMMEDIATE_STOP);
}

// A start needs a standing axis without a servo alarm.
static BOOL ReadyToStart(TLMMOTION m, WORD axis) {
    BYTE status1, status2;
    if (!tlmio_status1Read(m->board, axis, &status1) || !tlmio_status2Read(m->board, axis, &status2)) return FALSE;
    if (status1 & TLM_ST1_OPERATING) return Refuse(MOTERR_NOT_STOPPED);
    if (status2 & TLM_ST2_SVALM) return Refuse(MOTERR_SERVO_ALARM);
    return TRUE;
}

// Operation-mode byte, then the start command: the order every start of the test program
// uses. The axis counts as started only once the start command went out.
static BOOL Start(TLMMOTION m, WORD axis, AxisState* state, BYTE mode, BYTE command, LONG kind, LONG direction) {
    if (!tlmio_DousaWrite(m->board, axis, mode)) return FALSE;
    state->moveKind = kind;
    state->direction = direction;
    __atomic_store_n(&state->stopSent, 0, __ATOMIC_RELEASE);
    state->startedByThis = true;
    if (Command(m, axis, command)) return TRUE;
    // A start that failed may still have reached the board: stop, then report.
    DWORD error = GetLastError();
    StopNow(m, axis);
    SetLastError(error);
    return FALSE;
}

static BOOL MovePulses(TLMMOTION m, WORD axis, AxisState* state, LONGLONG pulses, BOOL ramped) {
    if (!WriteRegister(m, axis, TLM_REG_PRESET, (DWORD)(pulses < 0 ? -pulses : pulses))) return FALSE;
    return Start(m, axis, state, pulses > 0 ? TLM_MODE_PLUS_PRESET : TLM_MODE_MINUS_PRESET,
                 ramped ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_PRESET, pulses > 0 ? 1 : -1);
}

// -- exports --------------------------------------------------------------------------------

BOOL WINAPI tlmmotion_Open(TLMIO_HANDLE board, TLMMOTION* motion) {
    if (motion == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    TLMMOTION m = (TLMMOTION)calloc(1, sizeof(struct TLMMOTION_BOARD));
    if (m == NULL) return Refuse(ERROR_NOT_ENOUGH_MEMORY);
    m->board = board;
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
        LockHandles();
        for (int i = 0; i < MAX_MOTION_HANDLES && slot < 0; ++i)
            if (g_handles[i] == NULL) slot = i;
        if (slot >= 0) {
            for (int a = 0; a < TLMMOTION_MAX_AXES; ++a) InitializeCriticalSection(&m->axes[a].lock);
            g_handles[slot] = m;
        }
        UnlockHandles();
        if (slot < 0) ok = Refuse(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!ok) {
        free(m);
        return FALSE;
    }
    *motion = m;
    return TRUE;
}

BOOL WINAPI tlmmotion_Close(TLMMOTION motion) {
    bool found = false;
    LockHandles();
    for (int i = 0; i < MAX_MOTION_HANDLES; ++i)
        if (motion != NULL && g_handles[i] == motion) {
            g_handles[i] = NULL;
            found = true;
        }
    if (found) __atomic_store_n(&motion->closing, 1, __ATOMIC_RELEASE);
    UnlockHandles();
    if (!found) return Refuse(LIBERR_HANDLE);
    // The stops go out at once; calls under way (a wait polls) see the close and leave.
    BOOL ok = TRUE;
    DWORD firstError = 0;
    for (WORD axis = 0; axis < motion->axisCount; ++axis) {
        if (!motion->axes[axis].startedByThis) continue;
        __atomic_store_n(&motion->axes[axis].stopSent, 1, __ATOMIC_RELEASE);
        if (!StopNow(motion, axis) && ok) {
            ok = FALSE;
            firstError = GetLastError();
        }
    }
    while (__atomic_load_n(&motion->users, __ATOMIC_ACQUIRE) != 0) Sleep(1);
    for (int a = 0; a < TLMMOTION_MAX_AXES; ++a) DeleteCriticalSection(&motion->axes[a].lock);
    free(motion);
    if (!ok) SetLastError(firstError);
    return ok;
}

BOOL WINAPI tlmmotion_AxisCount(TLMMOTION motion, LONG* count) {
    if (count == NULL) return Refuse(ERROR_INVALID_PARAMETER);
    TLMMOTION m = UseHandle(motion);
    if (m == NULL) return FALSE;
    *count = m->axisCount;
    ReleaseHandle(m);
    return TRUE;
}

// Runs one axis operation: handle and axis checked, the axis locked around it.
#define AXIS_CALL(motion, axis, ...)                                                                                   \
    TLMMOTION m = UseHandle(motion);                                                                                   \
    if (m == NULL) return FALSE;                                                                                       \
    AxisState* state = UseAxis(m, axis);                                                                               \
    BOOL ok = FALSE;                                                                                                   \
    if (state != NULL) {                                                                                               \
        __VA_ARGS__;                                                                                                   \
        ReleaseAxis(state);                                                                                            \
    }                                                                                                                  \
    ReleaseHandle(m);                                                                                                  \
    return ok

BOOL WINAPI tlmmotion_Init(TLMMOTION motion, WORD axis) {
    // The test program's defaults: 1500 pulses, 500 to 5000 pps in 1 s.
    const struct {
        BYTE reg;
        DWORD value;
    } kDefaults[] = {{TLM_REG_PRESET, 1500},
                     {TLM_REG_FL, 500},
                     {TLM_REG_FH, 5000},
                     {TLM_REG_RATE, ComputeRateValue(1.0, 500, 5000)},
                     {TLM_REG_4, TLM_REG_4_INIT},
                     {TLM_REG_5, 0},
                     {TLM_REG_SIGNAL, TLM_SIG_DEFAULT},
                     {TLM_REG_ORIGIN, TLM_ORIGIN_OLS},
                     {TLM_REG_8, TLM_REG_8_INIT},
                     {TLM_REG_POSITION, 0},
                     {TLM_REG_10, 0},
                     {TLM_REG_11, 0},
                     {TLM_REG_17, 0},
                     {TLM_REG_18, 0},
                     {TLM_REG_19, 0},
                     {TLM_REG_23, 0},
                     {TLM_REG_24, 0},
                     {TLM_REG_25, 0},
                     {TLM_REG_26, 0},
                     {TLM_REG_27, 0}};
    AXIS_CALL(motion, axis, {
        ok = Command(m, axis, TLM_CMD_AXIS_RESET) && Command(m, axis, TLM_CMD_CLEAR_INT) &&
             Command(m, axis, TLM_CMD_CLEAR_END) && tlmio_SeigyoWrite(m->board, axis, TLM_CONTROL_INIT);
        for (size_t i = 0; ok && i < sizeof kDefaults / sizeof kDefaults[0]; ++i)
            ok = WriteRegister(m, axis, kDefaults[i].reg, kDefaults[i].value);
        ok = ok && Command(m, axis, TLM_CMD_SVON_OFF) && Command(m, axis, TLM_CMD_SVRST_OFF);
        if (ok && axis == 0) ok = tlmio_ElstWrite(m->board, 0) && tlmio_CmpcWrite(m->board, 0);
        state->moveKind = MOVE_NONE;
    });
}

BOOL WINAPI tlmmotion_SetSpeeds(TLMMOTION motion, WORD axis, LONG fl, LONG fh, double accelSeconds) {
    if (fl < 1 || fl > TLMMOTION_SPEED_MAX || fh < fl || fh > TLMMOTION_SPEED_MAX ||
        !(accelSeconds >= TLMMOTION_ACCEL_MIN && accelSeconds <= TLMMOTION_ACCEL_MAX))
        return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        ok = WriteRegister(m, axis, TLM_REG_FL, (DWORD)fl) && WriteRegister(m, axis, TLM_REG_FH, (DWORD)fh) &&
             WriteRegister(m, axis, TLM_REG_RATE, ComputeRateValue(accelSeconds, (DWORD)fl, (DWORD)fh));
    });
}

BOOL WINAPI tlmmotion_MoveBy(TLMMOTION motion, WORD axis, LONG pulses, BOOL ramped) {
    if (pulses == 0 || pulses < -TLMMOTION_MOVE_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, { ok = ReadyToStart(m, axis) && MovePulses(m, axis, state, pulses, ramped); });
}

BOOL WINAPI tlmmotion_MoveTo(TLMMOTION motion, WORD axis, LONG target, BOOL ramped) {
    AXIS_CALL(motion, axis, {
        DWORD position;
        ok = ReadyToStart(m, axis) && ReadRegister(m, axis, TLM_REG_POSITION, &position);
        LONGLONG pulses = (LONGLONG)target - (LONGLONG)(LONG)position;
        if (ok && (pulses > TLMMOTION_MOVE_MAX || pulses < -(LONGLONG)TLMMOTION_MOVE_MAX))
            ok = Refuse(ERROR_INVALID_PARAMETER);
        else if (ok && pulses != 0)
            ok = MovePulses(m, axis, state, pulses, ramped);
        else if (ok)
            state->moveKind = MOVE_NONE;
    });
}

BOOL WINAPI tlmmotion_Jog(TLMMOTION motion, WORD axis, LONG direction, BOOL ramped) {
    if (direction != 1 && direction != -1) return Refuse(ERROR_INVALID_PARAMETER);
    AXIS_CALL(motion, axis, {
        ok = ReadyToStart(m, axis) &&
             Start(m, axis, state, direction > 0 ? TLM_MODE_PLUS_CONTINUOUS : TLM_MODE_MINUS_CONTINUOUS,
                   ramped ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_JOG, direction);
    });
}

BOOL WINAPI tlmmotion_Home(TLMMOTION motion, WORD axis, BOOL zPhase) {
    AXIS_CALL(motion, axis, {
        ok = ReadyToStart(m, axis) &&
             WriteRegister(m, axis, TLM_REG_ORIGIN, zPhase ? TLM_ORIGIN_OLS_Z : TLM_ORIGIN_OLS) &&
             Start(m, axis, state, TLM_MODE_ORIGIN_RETURN, zPhase ? TLM_CMD_START_RAMPED : TLM_CMD_START_FL, MOVE_HOME,
                   -1);
    });
}

BOOL WINAPI tlmmotion_Stop(TLMMOTION motion, WORD axis, BOOL immediate) {
    TLMMOTION m = UseHandle(motion);
    if (m == NULL) return FALSE;
    BOOL ok = FALSE;
    if (AxisValid(m, axis)) {
        // Not behind the axis lock: a stop must not wait for anything on the same axis.
        __atomic_store_n(&m->axes[axis].stopSent, 1, __ATOMIC_RELEASE);
        ok = Command(m, axis, immediate ? TLM_CMD_IMMEDIATE_STOP : TLM_CMD_DECEL_STOP);
    }
    ReleaseHandle(m);
    return ok;
}

// Why a move that has ended ended, from what this handle started and sent and the limit
// inputs at its end.
static LONG EndReason(const AxisState* state, BYTE status1) {
    if (__atomic_load_n(&state->stopSent, __ATOMIC_ACQUIRE)) return TLMMOTION_STOPPED;
    if (state->direction > 0 && (status1 & TLM_ST1_PLUS_ELS)) return TLMMOTION_PLUS_LIMIT;
    if (state->direction < 0 && (status1 & TLM_ST1_MINUS_ELS)) return TLMMOTION_MINUS_LIMIT;
    if (state->moveKind == MOVE_JOG) return TLMMOTION_STOPPED;  // by someone else
    return TLMMOTION_ARRIVED;
}

BOOL WINAPI tlmmotion_Wait(TLMMOTION motion, WORD axis, DWORD timeoutMs, LONG* position, LONG* reason) {
    if (position == NULL || timeoutMs > TLMMOTION_TIMEOUT_MAX) return Refuse(ERROR_INVALID_PARAMETER);
    TLMMOTION m = UseHandle(motion);
    if (m == NULL) return FALSE;
    // Locked below one poll at a time, so that a stop gets through.
    AxisState* state = AxisValid(m, axis) ? &m->axes[axis] : NULL;
    BOOL ok = state != NULL;
    LONG why = 0;
    DWORD started = GetTickCount();
    while (ok && why == 0) {
        if (__atomic_load_n(&m->closing, __ATOMIC_ACQUIRE)) {
            ok = Refuse(LIBERR_HANDLE);
            break;
        }
        EnterCriticalSection(&state->lock);
        BYTE status1, status2;
        ok = tlmio_status1Read(m->board, axis, &status1) && tlmio_status2Read(m->board, axis, &status2);
        bool moving = ok && (status1 & TLM_ST1_OPERATING);
        if (ok && moving && (status2 & TLM_ST2_SVALM)) {
            ok = Command(m, axis, TLM_CMD_IMMEDIATE_STOP);
            why = TLMMOTION_SERVO_ALARM;
        } else if (ok && moving && GetTickCount() - started >= timeoutMs) {
            __atomic_store_n(&state->stopSent, 1, __ATOMIC_RELEASE);
            ok = StopNow(m, axis);
            why = TLMMOTION_TIMEOUT;
        } else if (ok && !moving) {
            why = state->moveKind == MOVE_NONE ? (LONG)TLMMOTION_IDLE : EndReason(state, status1);
        }
        if (why != 0) state->moveKind = MOVE_NONE;
        LeaveCriticalSection(&state->lock);
        if (ok && why == 0) Sleep(POLL_MS);
    }
    DWORD counter = 0;
    if (ok) {
        EnterCriticalSection(&state->lock);
        ok = ReadRegister(m, axis, TLM_REG_POSITION, &counter);
        LeaveCriticalSection(&state->lock);
    }
    if (ok) {
        *position = (LONG)counter;
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
