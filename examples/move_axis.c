/* move_axis: moves one axis of the first Tellam board by a preset amount and waits until it
 * has arrived.
 *
 *   move_axis [AXIS [PULSES]]     AXIS: X Y Z U V W (default X); PULSES: the distance,
 *                                 negative for the minus direction (default 5000)
 *
 * Steps: open the board, initialise the axis, switch its servo on, start a preset feed
 * (ramped from FL to FH), poll position and status every 100 ms until the axis stops,
 * stop, servo off, close. Ctrl+C stops the axis at once. Every failed call is printed with
 * its GetLastError value. Exit code 0 when the axis ended on its target, else 1. */
#include <windows.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tellam_controller.h" /* the controller's commands, registers and bits */
#include "tellamio.h"

#define FL_SPEED 500  /* pulses per second */
#define FH_SPEED 5000 /* pulses per second */
/* The rate register for a 1 s ramp from FL to FH: TLM_CLOCK_HZ * 1 s / (FH - FL) - 1, rounded
 * (docs/controller.md, "The rate register"). */
#define RATE_1S    545
#define MAX_PULSES 10000000L

static const char AXIS_NAMES[] = "XYZUVW";

/* Register values after initialisation, as the test program writes them: speeds, a 1 s ramp
 * between them, the signal configuration (individual pulse outputs, positive logic, B-contact
 * inputs), an origin return on OLS, and the registers the test program sets to fixed values. */
static const struct {
    BYTE reg;
    DWORD value;
} INITIAL_REGISTERS[] = {
    {TLM_REG_FL, FL_SPEED},
    {TLM_REG_FH, FH_SPEED},
    {TLM_REG_RATE, RATE_1S},
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
    {TLM_REG_27, 0},
};

static volatile LONG g_stopRequested;
static volatile LONG g_finished;

static BOOL WINAPI OnConsoleCtrl(DWORD event) {
    int i;
    InterlockedExchange(&g_stopRequested, 1);
    /* Closing the console ends the process when this returns: give the main loop time to
     * stop the axis and close the board first. */
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (i = 0; i < 40 && !g_finished; ++i) Sleep(50);
    }
    return TRUE; /* Ctrl+C: keep running; the main loop stops the axis and closes the board */
}

static int Fail(const char* call) {
    DWORD error = GetLastError(); /* before anything else can change it */
    fprintf(stderr, "%s failed: error 0x%lx\n", call, (unsigned long)error);
    return 1;
}

static BOOL WriteRegister(TLMIO_HANDLE board, WORD axis, BYTE reg, DWORD value) {
    return tlmio_CmdWrite(board, axis, (BYTE)TLM_CMD_WRITE(reg), 1, value);
}

static BOOL ReadRegister(TLMIO_HANDLE board, WORD axis, BYTE reg, DWORD* value) {
    return tlmio_regRead(board, axis, (BYTE)TLM_CMD_READ(reg), value);
}

static int InitialiseAxis(TLMIO_HANDLE board, WORD axis) {
    DWORD config = 0;
    size_t i;
    if (!tlmio_CmdWrite(board, axis, TLM_CMD_AXIS_RESET, 0, 0) ||
        !tlmio_CmdWrite(board, axis, TLM_CMD_CLEAR_INT, 0, 0) || !tlmio_CmdWrite(board, axis, TLM_CMD_CLEAR_END, 0, 0))
        return Fail("tlmio_CmdWrite (axis reset)");
    if (!tlmio_SeigyoWrite(board, axis, TLM_CONTROL_INIT)) return Fail("tlmio_SeigyoWrite");
    for (i = 0; i < sizeof INITIAL_REGISTERS / sizeof INITIAL_REGISTERS[0]; ++i) {
        if (!WriteRegister(board, axis, INITIAL_REGISTERS[i].reg, INITIAL_REGISTERS[i].value))
            return Fail("tlmio_CmdWrite (register write)");
    }
    if (!tlmio_CmdWrite(board, axis, TLM_CMD_SVRST_OFF, 0, 0)) return Fail("tlmio_CmdWrite (servo reset off)");
    /* An axis the board does not have does not give its register back. */
    if (!ReadRegister(board, axis, TLM_REG_SIGNAL, &config)) return Fail("tlmio_regRead (signal configuration)");
    if (config != TLM_SIG_DEFAULT) {
        fprintf(stderr, "axis %c is not on this board\n", AXIS_NAMES[axis]);
        return 1;
    }
    return 0;
}

/* Waits until the axis stops; stops it at once on Ctrl+C or when it runs too long. */
static int WaitForAxis(TLMIO_HANDLE board, WORD axis, long pulses, LONG* position) {
    DWORD limitMs = (DWORD)(labs(pulses) / FL_SPEED * 1000 + 5000); /* even at FL all the way */
    DWORD waitedMs = 0;
    for (;;) {
        BYTE status = 0;
        if (!ReadRegister(board, axis, TLM_REG_POSITION, (DWORD*)position)) return Fail("tlmio_regRead (position)");
        if (!tlmio_status1Read(board, axis, &status)) return Fail("tlmio_status1Read");
        printf("position %ld status 0x%02X\n", (long)*position, (unsigned)status);
        if (!(status & TLM_ST1_OPERATING)) {
            /* The position above may be from just before the last pulses: read it again. */
            if (!ReadRegister(board, axis, TLM_REG_POSITION, (DWORD*)position)) return Fail("tlmio_regRead (position)");
            return 0;
        }
        if (g_stopRequested || waitedMs >= limitMs) {
            if (!tlmio_CmdWrite(board, axis, TLM_CMD_IMMEDIATE_STOP, 0, 0)) return Fail("tlmio_CmdWrite (stop)");
            fprintf(stderr, g_stopRequested ? "stopped on request\n" : "the move took too long: stopped\n");
            return 1;
        }
        Sleep(100);
        waitedMs += 100;
    }
}

/* The end of every run once the board is open: stop, servo off, close. */
static int CloseBoard(TLMIO_HANDLE board, WORD axis, int status) {
    if (!tlmio_CmdWrite(board, axis, TLM_CMD_DECEL_STOP, 0, 0))
        status = Fail("tlmio_CmdWrite (stop)");
    else if (!tlmio_CmdWrite(board, axis, TLM_CMD_SVON_OFF, 0, 0))
        status = Fail("tlmio_CmdWrite (servo off)");
    if (!tlmio_CloseDevice(board)) status = Fail("tlmio_CloseDevice");
    return status;
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

int main(int argc, char** argv) {
    WORD axis = 0;
    long pulses = 5000;
    DeviceInfo boards[16];
    DWORD count = 16;
    TLMIO_HANDLE board;
    LONG position = 0;
    int status;

    setvbuf(stdout, NULL, _IONBF, 0); /* each line at once, also into a file or pipe */
    if (!ParseArguments(argc, argv, &axis, &pulses)) {
        fprintf(stderr, "usage: move_axis [X|Y|Z|U|V|W [PULSES]]  (PULSES: nonzero, at most %ld)\n", MAX_PULSES);
        return 2;
    }
    SetLastError(0); /* a count of 0 is a success when the driver has found no board */
    if (tlmio_GetDeviceCount(1) == 0) {
        fprintf(stderr, "no Tellam board found: error 0x%lx\n", (unsigned long)GetLastError());
        return 1;
    }
    if (!tlmio_GetDeviceInfo(&count, boards)) return Fail("tlmio_GetDeviceInfo");
    if (count == 0) {
        fprintf(stderr, "no Tellam board found\n");
        return 1;
    }
    board = tlmio_OpenDevice(&boards[0]);
    if (board == TLMIO_INVALID_HANDLE) return Fail("tlmio_OpenDevice");
    printf("board %ld open, handle 0x%08lX\n", (long)boards[0].ManagementNumber, (unsigned long)board);
    SetConsoleCtrlHandler(OnConsoleCtrl, TRUE);

    status = InitialiseAxis(board, axis);
    if (status == 0 && !tlmio_CmdWrite(board, axis, TLM_CMD_SVON_ON, 0, 0)) status = Fail("tlmio_CmdWrite (servo on)");
    if (status == 0 && !WriteRegister(board, axis, TLM_REG_PRESET, (DWORD)labs(pulses)))
        status = Fail("tlmio_CmdWrite (preset amount)");
    if (status == 0 && !tlmio_DousaWrite(board, axis, pulses > 0 ? TLM_MODE_PLUS_PRESET : TLM_MODE_MINUS_PRESET))
        status = Fail("tlmio_DousaWrite");
    if (status == 0 && g_stopRequested) {
        fprintf(stderr, "stopped on request\n"); /* Ctrl+C before the start: do not move */
        status = 1;
    }
    if (status == 0) {
        printf("axis %c: preset feed of %ld pulses, %d to %d pps\n", AXIS_NAMES[axis], pulses, FL_SPEED, FH_SPEED);
        if (!tlmio_CmdWrite(board, axis, TLM_CMD_START_RAMPED, 0, 0)) status = Fail("tlmio_CmdWrite (start)");
    }
    if (status == 0) status = WaitForAxis(board, axis, pulses, &position);
    if (status == 0) {
        printf("axis %c at %ld (target %ld)\n", AXIS_NAMES[axis], (long)position, pulses);
        if (position != pulses) {
            fprintf(stderr, "axis %c stopped short of its target\n", AXIS_NAMES[axis]);
            status = 1;
        }
    }
    status = CloseBoard(board, axis, status);
    InterlockedExchange(&g_finished, 1);
    return status;
}
