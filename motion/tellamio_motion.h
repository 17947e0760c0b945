/* tellamio_motion: move, jog, home, stop and wait on the axes of a Tellam-6X or Tellam-4X
 * board, over tellamio.dll.
 *
 * Every export uses the Win32 standard calling convention and returns nonzero for success
 * and 0 for failure, with the reason in the thread's last-error value: the motion library's
 * own codes below, ERROR_INVALID_PARAMETER for an argument out of range (nothing is sent),
 * or whatever tellamio.dll left (its LIBERR_ codes and the system's). Out-parameters are
 * written only on success.
 *
 * Threads: one call on an axis at a time, stops included: every call holds the axis while it
 * sends, so no two calls' requests interleave on the axis' ports; calls on different axes run
 * concurrently. A wait holds the axis only for each poll, so a stop waits at most for the
 * requests of one call in flight. A stop cancels a start call under way: that call either
 * sends no start and fails with MOTERR_CANCELLED, or its start goes out and the stop follows
 * it. A stop made before a start call began does not cancel it. Usable from C and C++. */
#ifndef TELLAMIO_MOTION_H
#define TELLAMIO_MOTION_H

#include "tellamio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The motion library's own last-error values (bit 29 set, as tellamio's). */
#define MOTERR_NO_AXIS     0x20000101L /* the board has no such axis */
#define MOTERR_NOT_STOPPED 0x20000102L /* the axis is moving: stop it or wait first */
#define MOTERR_SERVO_ALARM 0x20000103L /* a move is refused while the axis' SVALM input is active */
#define MOTERR_CANCELLED   0x20000104L /* a stop came while the call was starting the axis: no start was sent */
#define MOTERR_READBACK    0x20000105L /* a setting read back other than it was written */
#define MOTERR_SOFT_LIMIT  0x20000106L /* the target lies outside the axis' soft limits: nothing was written */
#define MOTERR_WATCHDOG    0x20000107L /* the watchdog stopped the board: call tlmmotion_SetWatchdog again */

/* A motion handle: one open board as the motion library drives it. */
typedef struct TLMMOTION_BOARD* TLMMOTION;

/* Axes: 0 = X, 1 = Y, 2 = Z, 3 = U, 4 = V, 5 = W. */
#define TLMMOTION_MAX_AXES 6

/* Ranges of the arguments. */
#define TLMMOTION_SPEED_MAX   32766 /* FL and FH, pulses per second, from 1 */
#define TLMMOTION_ACCEL_MIN   0.010 /* acceleration/deceleration time, seconds */
#define TLMMOTION_ACCEL_MAX   9999.999
#define TLMMOTION_MOVE_MAX    2147483647 /* pulses of one preset feed */
#define TLMMOTION_TIMEOUT_MAX 86400000   /* milliseconds a wait may take */

/* Why a wait ended, from what the controller reports (status bytes, the interrupt status of a
 * preset feed, the position counter of an origin return) and the stops the library sent. */
enum {
    TLMMOTION_ARRIVED = 1,     /* the preset feed reached its target, or the origin return completed */
    TLMMOTION_PLUS_LIMIT = 2,  /* +ELS, in the direction of travel, is active at the end */
    TLMMOTION_MINUS_LIMIT = 3, /* -ELS, in the direction of travel, is active at the end */
    TLMMOTION_STOPPED = 4,     /* a stop ended it, sent by anyone */
    TLMMOTION_SERVO_ALARM = 5, /* SVALM came on: the library stopped the axis at once */
    TLMMOTION_TIMEOUT = 6,     /* still moving at the timeout: the library stopped it */
    TLMMOTION_IDLE = 7,        /* nothing had been started since the last wait */
    TLMMOTION_SOFT_LIMIT = 8,  /* a jog reached the soft limit in its direction */
    TLMMOTION_NO_Z_MARK = 9    /* an origin return with Z saw OLS, but no Z mark came before the
                                  timeout: the library stopped it (TLMMOTION_TIMEOUT where no poll
                                  of the wait saw OLS) */
};

/* The inputs, as bits of TLMMOTION_STATUS.inputs. */
#define TLMMOTION_IN_PLUS_LIMIT  0x01 /* +ELS */
#define TLMMOTION_IN_MINUS_LIMIT 0x02 /* -ELS */
#define TLMMOTION_IN_SLOW_DOWN   0x04 /* DLS */
#define TLMMOTION_IN_ORIGIN      0x08 /* OLS */
#define TLMMOTION_IN_Z_PHASE     0x10 /* encoder Z */
#define TLMMOTION_IN_POSITION    0x20 /* INPOS */
#define TLMMOTION_IN_SERVO_ALARM 0x40 /* SVALM */

typedef struct TLMMOTION_STATUS {
    LONG position; /* the position counter, pulses */
    LONG speed;    /* current speed, pulses per second (0 when idle) */
    LONG moving;   /* nonzero while the axis operates */
    LONG inputs;   /* TLMMOTION_IN_ bits of the active inputs */
} TLMMOTION_STATUS;

/* Takes a board opened with tellamio (its handle, or its index-0 board-ID key) for motion:
 * counts its axes by reading a register of each (nothing is written). The board stays
 * tellamio's: close the motion handle first, then the board. */
BOOL WINAPI tlmmotion_Open(TLMIO_HANDLE board, TLMMOTION* motion);
/* Refuses new calls on the handle, waits for the calls under way (a wait ends with
 * LIBERR_HANDLE), then stops every axis this handle started (decelerating; an immediate stop
 * where that fails or the axis still moves after its ramp time) and frees the handle, also
 * when a stop fails. TRUE only if every one of those axes stands; otherwise the first failure,
 * MOTERR_NOT_STOPPED for an axis that would not stop. A closed handle is refused with
 * LIBERR_HANDLE, also after another open. */
BOOL WINAPI tlmmotion_Close(TLMMOTION motion);
/* The axes the board has (4 or 6). */
BOOL WINAPI tlmmotion_AxisCount(TLMMOTION motion, LONG* count);

/* Initialises an axis with the test program's defaults: reset, control byte, registers
 * (preset 1500, FL 500, FH 5000, 1 s ramps, signal configuration 0x13000004, origin return on
 * OLS, position 0), servo outputs off, B contact for its inputs: its own bit of the ELS
 * polarity byte cleared (read, changed, written; the other axes' bits stay). For axis X also
 * the CMP byte 0. */
BOOL WINAPI tlmmotion_Init(TLMMOTION motion, WORD axis);
/* FL and FH (1..32766 pps, FH not below FL) and the acceleration/deceleration time in
 * seconds, written as the rate register by the test program's formula. */
BOOL WINAPI tlmmotion_SetSpeeds(TLMMOTION motion, WORD axis, LONG fl, LONG fh, double accelSeconds);

/* The axis' own speeds as last set (the defaults after tlmmotion_Init); the scaled speeds a
 * coordinated move lends it are not its own. */
BOOL WINAPI tlmmotion_GetSpeeds(TLMMOTION motion, WORD axis, LONG* fl, LONG* fh, double* accelSeconds);

/* Soft limits: travel the library allows the axis, in positions of the counter, min <= max.
 * A move whose target lies outside is refused with MOTERR_SOFT_LIMIT: a move to a position
 * before anything is sent, a move by pulses after it has read the position counter (a move
 * back inside from outside is allowed); a jog becomes a preset feed to the limit in
 * its direction, so that the board stops the axis there even if the program dies. Origin
 * returns ignore them. Set, they hold until cleared or the handle closes. */
BOOL WINAPI tlmmotion_SetSoftLimits(TLMMOTION motion, WORD axis, LONG min, LONG max);
BOOL WINAPI tlmmotion_ClearSoftLimits(TLMMOTION motion, WORD axis);
/* *set nonzero with *min and *max when the axis has soft limits. */
BOOL WINAPI tlmmotion_GetSoftLimits(TLMMOTION motion, WORD axis, BOOL* set, LONG* min, LONG* max);

/* Preset feeds: by a number of pulses (nonzero; the sign gives the direction), or to a
 * position of the position counter. ramped: nonzero accelerates from FL to FH and back,
 * 0 runs at FL. A move to where the axis stands sends no start. */
BOOL WINAPI tlmmotion_MoveBy(TLMMOTION motion, WORD axis, LONG pulses, BOOL ramped);
BOOL WINAPI tlmmotion_MoveTo(TLMMOTION motion, WORD axis, LONG target, BOOL ramped);
/* A coordinated move of count (1..6) distinct axes to their targets, so that they arrive
 * together: the axis with the longest move keeps its FL, FH and ramp time; the others get FL
 * and FH scaled by their distance (whole pulses per second, at least 1) and the same ramp
 * time. Every axis is checked (standing, no alarm, target in range and within its soft
 * limits) before anything is written, and the starts go out back to back. Until the moves
 * are waited for, a stop of one axis of the group, or an end other than arriving, stops the
 * whole group. An axis' own speeds are written again at its next single-axis start. */
BOOL WINAPI tlmmotion_MoveAxesTo(TLMMOTION motion, LONG count, const WORD* axes, const LONG* targets, BOOL ramped);

/* Continuous feed until stopped or a limit: direction +1 or -1. */
BOOL WINAPI tlmmotion_Jog(TLMMOTION motion, WORD axis, LONG direction, BOOL ramped);
/* Origin return: to OLS at FL, or with zPhase on to OLS then the next Z mark (ramped). The
 * position counter becomes 0 when it completes. */
BOOL WINAPI tlmmotion_Home(TLMMOTION motion, WORD axis, BOOL zPhase);
/* The contact type of an axis' inputs: aContacts is the set of TLMMOTION_IN_ bits whose
 * inputs are A contact (normally open); the others become B contact. +ELS and -ELS share one
 * setting, so both bits or neither; Z has none (ERROR_INVALID_PARAMETER). Register 6 and the
 * axis' bit of the ELS polarity byte are written and read back (MOTERR_READBACK). */
BOOL WINAPI tlmmotion_SetContacts(TLMMOTION motion, WORD axis, LONG aContacts);
BOOL WINAPI tlmmotion_GetContacts(TLMMOTION motion, WORD axis, LONG* aContacts);

/* Decelerating stop (0x0A, then 0x09 where that fails), or with immediate nonzero an
 * immediate one. It cancels a start call under way on the axis (see Threads). */
BOOL WINAPI tlmmotion_Stop(TLMMOTION motion, WORD axis, BOOL immediate);
/* A decelerating stop to every axis of the board, whoever started it. */
BOOL WINAPI tlmmotion_StopAll(TLMMOTION motion);
/* Waits until the axis stands, at most timeoutMs milliseconds; gives the position then and
 * why it stopped (TLMMOTION_ARRIVED ...). Every exit leaves the axis standing or says it
 * could not: when SVALM comes on, the immediate stop; at the timeout, the decelerating stop
 * and a wait, bounded by the ramp time, until the axis stands (TLMMOTION_TIMEOUT); when a
 * read fails, a stop before the error is returned; an axis that would not stop,
 * MOTERR_NOT_STOPPED. reason may be null. */
BOOL WINAPI tlmmotion_Wait(TLMMOTION motion, WORD axis, DWORD timeoutMs, LONG* position, LONG* reason);
/* One poll of tlmmotion_Wait, for a program that waits in its own loop: *reason 0 while the
 * axis moves (SVALM stops it, as in a wait), else why it ended, with *position. A poll that
 * fails stops the axis. Call tlmmotion_Wait with timeout 0 to stop a move that took too long. */
BOOL WINAPI tlmmotion_Poll(TLMMOTION motion, WORD axis, LONG* position, LONG* reason);
/* tlmmotion_Wait for count (1..6) distinct axes at once: until all stand, at most timeoutMs
 * in all, then each one's position and reason (reasons may be null). At the timeout every
 * axis still moving gets the library's stop; when a poll fails, every axis is stopped before
 * the error is returned. */
BOOL WINAPI tlmmotion_WaitAxes(TLMMOTION motion, LONG count, const WORD* axes, DWORD timeoutMs, LONG* positions,
                               LONG* reasons);
BOOL WINAPI tlmmotion_GetStatus(TLMMOTION motion, WORD axis, TLMMOTION_STATUS* status);
/* Servo-on (SVON) and servo-reset (SVRST) outputs. */
BOOL WINAPI tlmmotion_ServoOn(TLMMOTION motion, WORD axis, BOOL on);
BOOL WINAPI tlmmotion_ServoReset(TLMMOTION motion, WORD axis, BOOL on);

/* A host-side failsafe: while an axis this handle started moves, the program must make a
 * motion call on the handle (any, or tlmmotion_Feed) at least every ms milliseconds
 * (1..86400000; 0 turns the watchdog off). Otherwise a thread of the library stops every
 * axis of the board, decelerating, and every later call but the stops, tlmmotion_Close and
 * tlmmotion_SetWatchdog fails with MOTERR_WATCHDOG until tlmmotion_SetWatchdog is called
 * again. It watches from inside the process: a process that is killed stops nothing. */
BOOL WINAPI tlmmotion_SetWatchdog(TLMMOTION motion, DWORD ms);
BOOL WINAPI tlmmotion_Feed(TLMMOTION motion);

#ifdef __cplusplus
}
#endif

#endif /* TELLAMIO_MOTION_H */
