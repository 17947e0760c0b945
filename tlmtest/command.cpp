// Controller command layer: the commands, registers and mode bytes the program writes, the
// per-axis copies of the values last written, and the one error report of the program.
#include "tlmtest.h"

TLMIO_HANDLE g_boardHandle = TLMIO_INVALID_HANDLE;
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

// The error box's caption, spelt as the program has always spelt it: users and their tools
// look for this text, so it stays.
static const char kErrorCaption[] = "ErrorMessgae";

static TLMIO_HANDLE Board(void) { return g_boardHandle; }

static BOOL WriteCommand(WORD axis, BYTE command) { return tlmio_CmdWrite(Board(), axis, command, 0, 0); }

// The stop every axis gets at close: a decelerating stop, an immediate stop where that fails.
// A failure here goes unreported; the report is of the failure that asked for the stop.
static void StopEveryAxis(void) {
    if (g_boardHandle == TLMIO_INVALID_HANDLE) return;
    for (WORD axis = 0; axis < g_axisCount; ++axis)
        if (!WriteCommand(axis, TLM_CMD_DECEL_STOP)) WriteCommand(axis, TLM_CMD_IMMEDIATE_STOP);
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
    return tlmio_CmdWrite(Board(), axis, (BYTE)(TLM_CMD_WRITE_REG + reg), 1, value);
}

BOOL ReadAxisRegister(WORD axis, BYTE reg, DWORD* value) {
    return tlmio_regRead(Board(), axis, (BYTE)(TLM_CMD_READ_REG + reg), value);
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
    return StartWithMode(window, axis, TLM_MODE_PLUS_PRESET, g_startCommand[axis]);
}

WORD StartMinusPresetFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, TLM_MODE_MINUS_PRESET, g_startCommand[axis]);
}

WORD StartPlusContinuousFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, TLM_MODE_PLUS_CONTINUOUS, g_startCommand[axis]);
}

WORD StartMinusContinuousFeed(HWND window, WORD axis) {
    return StartWithMode(window, axis, TLM_MODE_MINUS_CONTINUOUS, g_startCommand[axis]);
}

static WORD StartOriginReturn(HWND window, WORD axis, DWORD originConfig, BYTE command) {
    if (!WriteAxisRegister(axis, TLM_REG_ORIGIN, originConfig)) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }
    return StartWithMode(window, axis, TLM_MODE_ORIGIN_RETURN, command);
}

WORD StartOriginReturnOls(HWND window, WORD axis) {
    return StartOriginReturn(window, axis, TLM_ORIGIN_OLS, TLM_CMD_START_FL);
}

WORD StartOriginReturnOlsZ(HWND window, WORD axis) {
    return StartOriginReturn(window, axis, TLM_ORIGIN_OLS_Z, TLM_CMD_START_RAMPED);
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
    if (!WriteCommand(axis, TLM_CMD_CYCLE_ON)) {
        ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
        return 0;
    }
    SetTimer(window, IDT_CYCLE + axis, 100, NULL);
    return 1;
}

void StopAxis(HWND window, WORD axis) {
    BYTE command = g_startCommand[axis] == TLM_CMD_START_FL ? TLM_CMD_IMMEDIATE_STOP : TLM_CMD_DECEL_STOP;
    if (!WriteCommand(axis, command)) ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
}

WORD ClearPosition(HWND window, WORD axis) {
    if (!WriteAxisRegister(axis, TLM_REG_POSITION, 0)) {
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
    ToggleByStatus2(window, axis, TLM_ST2_SVON, TLM_CMD_SVON_OFF, TLM_CMD_SVON_ON);
}

void ToggleServoReset(HWND window, WORD axis) {
    ToggleByStatus2(window, axis, TLM_ST2_SVRST, TLM_CMD_SVRST_OFF, TLM_CMD_SVRST_ON);
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
    if (!WriteAxisRegister(axis, TLM_REG_SIGNAL, value)) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }
    if (!ReadAxisRegister(axis, TLM_REG_SIGNAL, &read) || read != g_signalConfig[axis]) {
        ShowBoardError(window, IDS_ERR_REGISTER_READ);
        return 0;
    }
    return 1;
}

WORD ToggleDlsContact(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ TLM_SIG_DLS_A);
}

WORD ToggleOlsContact(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ TLM_SIG_OLS_A);
}

WORD ToggleInposContact(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ TLM_SIG_INPOS_A);
}

WORD ToggleSvalmContact(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, g_signalConfig[axis] ^ TLM_SIG_SVALM_A);
}

static DWORD WithPulseCode(DWORD config, DWORD code) { return (config & ~(DWORD)TLM_SIG_PULSE_MASK) | code; }

// A pulse-form toggle: codes a and b swap, c becomes d, and any other code becomes c (the
// register holds one of the four codes, so in practice that is d).
static DWORD TogglePulseCode(DWORD code, DWORD a, DWORD b, DWORD c, DWORD d) {
    return code == a ? b : code == b ? a : code == c ? d : c;
}

WORD TogglePulseCommandMode(HWND window, WORD axis) {
    DWORD next = TogglePulseCode(g_signalConfig[axis] & TLM_SIG_PULSE_MASK, TLM_SIG_PULSE_COMMON_POS,
                                 TLM_SIG_PULSE_INDIV_POS, TLM_SIG_PULSE_INDIV_NEG, TLM_SIG_PULSE_COMMON_NEG);
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], next));
}

WORD TogglePulseLogic(HWND window, WORD axis) {
    DWORD next = TogglePulseCode(g_signalConfig[axis] & TLM_SIG_PULSE_MASK, TLM_SIG_PULSE_INDIV_POS,
                                 TLM_SIG_PULSE_INDIV_NEG, TLM_SIG_PULSE_COMMON_POS, TLM_SIG_PULSE_COMMON_NEG);
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], next));
}

WORD SetDefaultPulseOutput(HWND window, WORD axis) {
    return WriteSignalConfig(window, axis, WithPulseCode(g_signalConfig[axis], TLM_SIG_PULSE_INDIV_POS));
}

#if COUNTER_SOURCE_BUTTON
WORD ToggleCounterSource(HWND window, WORD axis) {
    if (!WriteSignalConfig(window, axis, g_signalConfig[axis] ^ TLM_SIG_ENCODER)) return 0;
    // The count so far was made from the other source: start again from 0. A failed clear is
    // reported by ClearPosition and ends the program; the source itself has changed.
    ClearPosition(window, axis);
    return 1;
}
#endif

WORD InitAxis(HWND window, WORD axis) {
    static const BYTE kInitCommands[] = {TLM_CMD_AXIS_RESET, TLM_CMD_CLEAR_INT, TLM_CMD_CLEAR_END};
    static const struct {
        BYTE reg;
        DWORD value;
    } kInitRegisters[] = TLM_INIT_REGISTERS;
    for (BYTE command : kInitCommands) {
        if (!WriteCommand(axis, command)) {
            ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
            return 0;
        }
    }
    if (!tlmio_SeigyoWrite(Board(), axis, TLM_CONTROL_INIT)) {
        ShowBoardError(window, IDS_ERR_SEIGYO_WRITE);
        return 0;
    }

    // Each copy is set just before its register is written.
    g_presetAmount[axis] = TLM_INIT_PRESET_AMOUNT;
    BOOL ok = WriteAxisRegister(axis, TLM_REG_PRESET, TLM_INIT_PRESET_AMOUNT);
    if (ok) {
        g_flSpeed[axis] = TLM_INIT_FL_SPEED;
        ok = WriteAxisRegister(axis, TLM_REG_FL, TLM_INIT_FL_SPEED);
    }
    if (ok) {
        g_fhSpeed[axis] = TLM_INIT_FH_SPEED;
        ok = WriteAxisRegister(axis, TLM_REG_FH, TLM_INIT_FH_SPEED);
    }
    if (ok) {
        g_accelTime[axis] = TLM_INIT_ACCEL_MS / 1000.0;
        ok = WriteAxisRegister(axis, TLM_REG_RATE,
                               ComputeRateValue(g_accelTime[axis], TLM_INIT_FL_SPEED, TLM_INIT_FH_SPEED));
    }
    for (size_t i = 0; ok && i < sizeof kInitRegisters / sizeof kInitRegisters[0]; ++i) {
        if (kInitRegisters[i].reg == TLM_REG_SIGNAL) g_signalConfig[axis] = kInitRegisters[i].value;
        ok = WriteAxisRegister(axis, kInitRegisters[i].reg, kInitRegisters[i].value);
    }
    if (!ok) {
        ShowBoardError(window, IDS_ERR_REGISTER_WRITE);
        return 0;
    }

    if (!WriteCommand(axis, TLM_CMD_SVON_OFF) || !WriteCommand(axis, TLM_CMD_SVRST_OFF)) {
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
