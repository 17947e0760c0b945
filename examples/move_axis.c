/* move_axis: moves one axis of the first Tellam board by a preset amount and waits until it
 * has arrived, with the motion library (tellamio_motion.dll).
 *
 *   move_axis [AXIS [PULSES]]     AXIS: X Y Z U V W (default X); PULSES: the distance,
 *                                 negative for the minus direction (default 5000)
 *
 * Steps: open the board, initialise the axis, switch its servo on, a preset feed ramped from
 * 500 to 5000 pulses per second, wait until the axis stands, servo off, close. Ctrl+C stops
 * the axis at once; a move that takes too long is stopped by the wait. Every failed call is
 * printed with its GetLastError value. Exit code 0 when the axis ended on its target, else 1. */
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tellamio_motion.h"

#define FL_SPEED   500  /* pulses per second */
#define FH_SPEED   5000 /* pulses per second */
#define MAX_PULSES 10000000L

static const char AXIS_NAMES[] = "XYZUVW";

/* What the Ctrl+C handler stops. The motion library takes a stop from any thread, also while
 * the main thread waits on the axis, and refuses a handle that has been closed. */
static TLMMOTION g_motion;
static WORD g_axis;
static volatile LONG g_stopRequested;

static BOOL WINAPI OnConsoleCtrl(DWORD event) {
    (void)event;
    InterlockedExchange(&g_stopRequested, 1);
    tlmmotion_Stop(g_motion, g_axis, TRUE);
    return TRUE; /* keep running: the main thread sees the stop, switches the servo off and closes */
}

static int Fail(const char* call) {
    DWORD error = GetLastError(); /* before anything else can change it */
    fprintf(stderr, "%s failed: error 0x%lx\n", call, (unsigned long)error);
    return 1;
}

static int ParseArguments(int argc, char** argv, WORD* axis, long* pulses) {
    const char* name;
    char* end;
    if (argc > 3) return 0;
    if (argc > 1) {
        name = argv[1][0] && !argv[1][1] ? strchr(AXIS_NAMES, toupper((unsigned char)argv[1][0])) : NULL;
        if (name == NULL || *name == '\0') return 0;
        *axis = (WORD)(name - AXIS_NAMES);
    }
    if (argc > 2) {
        *pulses = strtol(argv[2], &end, 10);
        if (*end != '\0' || end == argv[2] || *pulses == 0 || labs(*pulses) > MAX_PULSES) return 0;
    }
    return 1;
}

/* Moves the axis and waits; 0 when it ended on its target. */
static int Move(TLMMOTION motion, WORD axis, long pulses) {
    DWORD limitMs = (DWORD)(labs(pulses) / FL_SPEED * 1000 + 5000); /* even at FL all the way */
    LONG position = 0, reason = 0;
    if (!tlmmotion_Init(motion, axis)) return Fail("tlmmotion_Init");
    if (!tlmmotion_SetSpeeds(motion, axis, FL_SPEED, FH_SPEED, 1.0)) return Fail("tlmmotion_SetSpeeds");
    if (!tlmmotion_ServoOn(motion, axis, TRUE)) return Fail("tlmmotion_ServoOn");
    if (g_stopRequested) {
        fprintf(stderr, "stopped on request\n"); /* Ctrl+C before the start: do not move */
        return 1;
    }
    printf("axis %c: preset feed of %ld pulses, %d to %d pps\n", AXIS_NAMES[axis], pulses, FL_SPEED, FH_SPEED);
    if (!tlmmotion_MoveBy(motion, axis, pulses, TRUE)) return Fail("tlmmotion_MoveBy");
    /* A stop cancels only a start already under way: one from Ctrl+C between the check above
     * and the call is sent again here. */
    if (g_stopRequested) tlmmotion_Stop(motion, axis, TRUE);
    if (!tlmmotion_Wait(motion, axis, limitMs, &position, &reason)) return Fail("tlmmotion_Wait");
    printf("axis %c at %ld (target %ld)\n", AXIS_NAMES[axis], (long)position, pulses);
    if (reason == TLMMOTION_ARRIVED && position == pulses) return 0;
    if (reason == TLMMOTION_TIMEOUT)
        fprintf(stderr, "the move took too long: stopped\n");
    else if (reason == TLMMOTION_STOPPED && g_stopRequested)
        fprintf(stderr, "stopped on request\n");
    else
        fprintf(stderr, "axis %c stopped short of its target\n", AXIS_NAMES[axis]);
    return 1;
}

int main(int argc, char** argv) {
    WORD axis = 0;
    long pulses = 5000;
    DeviceInfo first = {-1, -1, -1, -1, 0, -1}; /* the board with management number 0 */
    TLMIO_HANDLE board;
    TLMMOTION motion;
    int status;

    setvbuf(stdout, NULL, _IONBF, 0); /* each line at once, also into a file or pipe */
    if (!ParseArguments(argc, argv, &axis, &pulses)) {
        fprintf(stderr, "usage: move_axis [X|Y|Z|U|V|W [PULSES]]  (PULSES: nonzero, at most %ld)\n", MAX_PULSES);
        return 2;
    }
    board = tlmio_OpenDevice(&first);
    if (board == TLMIO_INVALID_HANDLE) return Fail("tlmio_OpenDevice (no Tellam board?)");
    printf("board 0 open, handle 0x%08lX\n", (unsigned long)board);
    if (!tlmmotion_Open(board, &motion)) {
        status = Fail("tlmmotion_Open");
    } else {
        g_motion = motion;
        g_axis = axis;
        SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);
        status = Move(motion, axis, pulses);
        if (status != 0) tlmmotion_Stop(motion, axis, TRUE); /* no servo off on a moving axis */
        if (!tlmmotion_ServoOn(motion, axis, FALSE)) status = Fail("tlmmotion_ServoOn (off)");
        if (!tlmmotion_Close(motion)) status = Fail("tlmmotion_Close");
    }
    if (!tlmio_CloseDevice(board)) status = Fail("tlmio_CloseDevice");
    return status;
}
