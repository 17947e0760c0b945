// Controller command layer: the commands, registers and mode bytes the program writes, the
// per-axis copies of the values last written, and the one error report of the program.
#include "tlmtest.h"

LONG g_boardHandle = -1;
WORD g_axisCount = AXIS_COUNT;
BYTE g_axisPresentMask = 0;
BYTE g_elsPolarity = 0;
BYTE g_startCommand[AXIS_COUNT];
DWORD g_presetAmount[AXIS_COUNT];
DWORD g_flSpeed[AXIS_COUNT];
DWORD g_fhSpeed[AXIS_COUNT];
double g_accelTime[AXIS_COUNT];
DWORD g_signalConfig[AXIS_COUNT];
WORD g_cycleCount[AXIS_COUNT];
WORD g_cycleDirection[AXIS_COUNT];
WORD g_cyclesDone[AXIS_COUNT];
WORD g_cycleActive[AXIS_COUNT];

static const char kErrorCaption[] = "ErrorMessgae";

static TLMIO_HANDLE Board(void) { return (TLMIO_HANDLE)g_boardHandle; }

static BOOL WriteCommand(WORD axis, BYTE command) { return tlmio_CmdWrite(Board(), axis, command, 0, 0); }

// The stop every axis gets at close: a decelerating stop, an immediate stop where that fails.
// A failure here goes unreported; the report is of the failure that asked for the stop.
static void StopEveryAxis(void) {
    if (g_boardHandle == -1) return;
    for (WORD axis = 0; axis < g_axisCount; ++axis)
        if (!WriteCommand(axis, CMD_DECELERATING_STOP)) WriteCommand(axis, CMD_IMMEDIATE_STOP);
}

void ShowBoardError(HWND window, UINT messageId) {
    // One report at a time: a failure met while the box of an earlier one is open (by a
    // message handled in the box's loop) ends the program with that earlier one, which closes
    // the board once. The axes were stopped before that box, and nothing starts under it.
    static WORD reporting = 0;
    if (reporting) return;
    DWORD error = GetLastError();
    // The board is made safe first: the box waits for an answer, a moving axis must not.
    StopEveryAxis();
    char message[256];
    char text[256 + 32];
    LoadProgramString(messageId & 0xFFFF, message);
    wsprintfA(text, "%s(%#lx)", message, error);
    reporting = 1;
    // The program is ending from here on: the page timers pause and no button or tab starts
    // anything. The page and the tabs stay unusable whichever window owns the box, and stay so
    // until the program has ended.
    WORD wasShuttingDown = g_shuttingDown;
    g_shuttingDown = 1;
    if (g_pageWindow) EnableWindow(g_pageWindow, FALSE);
    if (g_mainWindow) EnableWindow(g_mainWindow, FALSE);
    MessageBoxA(window, text, kErrorCaption, MB_OK);
    reporting = 0;
    if (wasShuttingDown) return;
    CloseBoard(window);
    DeleteStartupObjects();
    PostQuitMessage(0);
}

BOOL WriteAxisRegister(WORD axis, BYTE reg, DWORD value) {
    return tlmio_CmdWrite(Board(), axis, (BYTE)(CMD_REGISTER_WRITE + reg), 1, value);
}

BOOL ReadAxisRegister(WORD axis, BYTE reg, DWORD* value) {
    return tlmio_regRead(Board(), axis, (BYTE)(CMD_REGISTER_READ + reg), value);
}

// Operation-mode byte, then the start command; the first failure is reported.
static WORD StartWithMode(HWND window, WORD axis, BYTE mode, BYTE command) {
    if (!tlmio_DousaWrite(Board(), axis, mode)) {
        ShowBoardError(window, IDS_ERR_DOUSA_WRITE);
        return 0;
    }
    if (!WriteCommand(axis, command)) {
        ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
        return 0;
    }
    return 1;
}

WORD StartPlusPresetFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, MODE_PLUS_PRESET, g_startCommand[axis]);
}

WORD StartMinusPresetFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, MODE_MINUS_PRESET, g_startCommand[axis]);
}

WORD StartPlusContinuousFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, MODE_PLUS_CONTINUOUS, g_startCommand[axis]);
}

WORD StartMinusContinuousFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, MODE_MINUS_CONTINUOUS, g_startCommand[axis]);
}

static WORD StartOriginReturn(HWND window, WORD axis, DWORD originConfig, BYTE command) {
    if (!WriteAxisRegister(axis, REG_ORIGIN_CONFIG, originConfig)) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }
    return StartWithMode(window, axis, MODE_ORIGIN_RETURN, command);
}

WORD StartOriginReturnOls(HWND window, WORD axis) {
    return StartOriginReturn(window, axis, ORIGIN_CONFIG_OLS, CMD_START_CONSTANT);
}

WORD StartOriginReturnOlsZ(HWND window, WORD axis) {
    return StartOriginReturn(window, axis, ORIGIN_CONFIG_OLS_Z, CMD_START_HIGH_SPEED);
}

WORD StartCycleRun(HWND window, WORD axis) {
    // An end latched before this run (a run stopped between two feeds leaves one; 0x67 keeps
    // it) is read away, so that the cycle step reacts only to the feeds of this run.
    BYTE latched = 0;
    if (!tlmio_intstatusRead(Board(), axis, &latched)) {
        ShowBoardError(window, IDS_ERR_INTSTATUS_READ);
        return 0;
    }
    if (!StartPlusPresetFeed(window, axis)) return 0;
    if (!WriteCommand(axis, CMD_CYCLE_BEGIN)) {
        ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
        return 0;
    }
    SetTimer(window, IDT_CYCLE + axis, 100, NULL);
    return 1;
}

void StopAxis(HWND window, WORD axis) {
    BYTE command = g_startCommand[axis] == CMD_START_CONSTANT ? CMD_IMMEDIATE_STOP : CMD_DECELERATING_STOP;
    if (!WriteCommand(axis, command)) ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
}

WORD ClearPosition(HWND window, WORD axis) {
    if (!WriteAxisRegister(axis, REG_POSITION, 0)) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }
    return 1;
}

// Reads status 2 and writes `whenSet` if `bit` is set in it, `whenClear` otherwise.
static void ToggleByStatus2(HWND window, WORD axis, BYTE bit, BYTE whenSet, BYTE whenClear) {
    BYTE status = 0;
    if (!tlmio_status2Read(Board(), axis, &status)) {
        ShowBoardError(window, IDS_ERR_STATUS2_READ);
        return;
    }
    if (!WriteCommand(axis, (status & bit) ? whenSet : whenClear)) ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
}

void ToggleServoOn(HWND window, WORD axis) {
    ToggleByStatus2(window, axis, STATUS2_SERVO_ON, CMD_SERVO_ON_OFF, CMD_SERVO_ON_ON);
}

void ToggleServoReset(HWND window, WORD axis) {
    ToggleByStatus2(window, axis, STATUS2_SERVO_RESET, CMD_SERVO_RESET_OFF, CMD_SERVO_RESET_ON);
}

WORD ToggleElsContact(HWND window, WORD axis) {
    BYTE read = 0;
    g_elsPolarity ^= (BYTE)(1u << axis);
    if (!tlmio_ElstWrite(Board(), g_elsPolarity) || !tlmio_ElstRead(Board(), &read) ||
        (BYTE)(g_axisPresentMask & read) != g_elsPolarity) {
        ShowBoardError(window, IDS_ERR_ELS_PORT);
        return 0;
    }
    return 1;
}

// Stores the new register 6 value, writes it and reads it back.
static WORD WriteSignalConfig(HWND window, WORD axis, DWORD value) {
    DWORD read = 0;
    g_signalConfig[axis] = value;
    if (!WriteAxisRegister(axis, REG_SIGNAL_CONFIG, value)) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }
    if (!ReadAxisRegister(axis, REG_SIGNAL_CONFIG, &read) || read != g_signalConfig[axis]) {
        ShowBoardError(window, IDS_ERR_REGISTER_READ);
        return 0;
    }
    return 1;
}

WORD ToggleDlsContact(HWND window, WORD axis) { return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ 0x10); }

WORD ToggleOlsContact(HWND window, WORD axis) { return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ 0x20); }

WORD ToggleInposContact(HWND window, WORD axis) { return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ 0x08); }

WORD ToggleSvalmContact(HWND window, WORD axis) { return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ 0x40); }

static DWORD WithPulseCode(DWORD config, DWORD code) { return (config & ~7UL) | code; }

WORD TogglePulseCommandMode(HWND window, WORD axis) {
    DWORD code = g_signalConfig[axis] & 7;
    DWORD next = code == 0 ? 4 : code == 4 ? 0 : code == 7 ? 2 : 7;
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], next));
}

WORD TogglePulseLogic(HWND window, WORD axis) {
    DWORD code = g_signalConfig[axis] & 7;
    DWORD next = code == 0 ? 2 : code == 4 ? 7 : code == 7 ? 4 : 0;
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], next));
}

WORD SetDefaultPulseOutput(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], 4));
}

#if COUNTER_SOURCE_BUTTON
WORD ToggleCounterSource(HWND window, WORD axis) {
    if (!WriteSignalConfig(window, axis, g_signalConfig[axis] ^ SIGNAL_CONFIG_ENCODER)) return 0;
    // The count so far was made from the other source: start again from 0. A failed clear is
    // reported by ClearPosition and ends the program; the source itself has changed.
    ClearPosition(window, axis);
    return 1;
}
#endif

WORD InitAxis(HWND window, WORD axis) {
    static const BYTE kInitCommands[] = {CMD_INIT_1, CMD_INIT_2, CMD_INIT_3};
    static const BYTE kZeroRegisters[] = {9, 10, 11, 17, 18, 19, 23, 24, 25, 26, 27};
    for (BYTE command : kInitCommands) {
        if (!WriteCommand(axis, command)) {
            ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
            return 0;
        }
    }
    if (!tlmio_SeigyoWrite(Board(), axis, CONTROL_MODE_INIT)) {
        ShowBoardError(window, IDS_ERR_SEIGYO_WRITE);
        return 0;
    }

    g_presetAmount[axis] = 1500;
    BOOL ok = WriteAxisRegister(axis, REG_PRESET, 1500);
    if (ok) {
        g_flSpeed[axis] = 500;
        ok = WriteAxisRegister(axis, REG_FL, 500);
    }
    if (ok) {
        g_fhSpeed[axis] = 5000;
        ok = WriteAxisRegister(axis, REG_FH, 5000);
    }
    if (ok) {
        g_accelTime[axis] = 1.0;
        ok = WriteAxisRegister(axis, REG_RATE, 545);
    }
    if (ok) ok = WriteAxisRegister(axis, 4, 299);
    if (ok) ok = WriteAxisRegister(axis, 5, 0);
    if (ok) {
        g_signalConfig[axis] = SIGNAL_CONFIG_DEFAULT;
        ok = WriteAxisRegister(axis, REG_SIGNAL_CONFIG, SIGNAL_CONFIG_DEFAULT);
    }
    if (ok) ok = WriteAxisRegister(axis, REG_ORIGIN_CONFIG, ORIGIN_CONFIG_OLS);
    if (ok) ok = WriteAxisRegister(axis, 8, 0x4000);
    for (size_t i = 0; ok && i < sizeof kZeroRegisters; ++i) ok = WriteAxisRegister(axis, kZeroRegisters[i], 0);
    if (!ok) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }

    if (!WriteCommand(axis, CMD_SERVO_ON_OFF) || !WriteCommand(axis, CMD_SERVO_RESET_OFF)) {
        ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
        return 0;
    }
    if (axis == 0) {
        g_elsPolarity = 0;
        if (!tlmio_ElstWrite(Board(), 0)) {
            ShowBoardError(window, IDS_ERR_ELS_PORT);
            return 0;
        }
        if (!tlmio_CmpcWrite(Board(), 0)) {
            ShowBoardError(window, IDS_ERR_CMP_PORT);
            return 0;
        }
    }
    return 1;
}
