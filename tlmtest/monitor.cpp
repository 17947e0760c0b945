// The status monitor of the operation pages: the 100 ms motion poll of each axis (position,
// speed, end of a move), the cycle step that carries a cycle run through its round trips,
// and the lamp poll of the inputs and servo outputs.
//
// A cycle run is ended by its cycle step, not by the motion poll: between the end of one feed
// and the tick that starts the next the axis stands still, and a poll that ended the run there
// would cut it short. The cycle step tells a feed that reached its target (interrupt status
// TLM_INT_FEED_END) from a run that was stopped (the axis idle with nothing latched); the
// motion poll ends a run itself only when no cycle step is left to do it: a run stopped with "サイクルストップ",
// whose cycle step ends with the press so that no further feed starts.
#include "tlmtest.h"

WORD g_cycleStepRunning[AXIS_COUNT];

static const char kIdleSpeed[] = "          0";

static TLMIO_HANDLE Board(void) { return g_boardHandle; }

static void ShowValue(HWND page, WORD axis, int k, LONG value) {
    char text[32];
    wsprintfA(text, "%11ld", value);
    SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, k), text);
}

// A failed read or command: this timer first, then the report that ends the program. The
// report is owned by the main window, which keeps the tabs still while it is open: a page
// switch would destroy the page under its own error box.
static void FailTimer(HWND page, UINT_PTR timer, UINT messageId) {
    KillTimer(page, timer);
    ShowBoardError(g_mainWindow, messageId);
}

static BOOL WriteCycleEnd(WORD axis) { return tlmio_CmdWrite(Board(), axis, TLM_CMD_CYCLE_OFF, 0, 0); }

void PollAxisMotion(HWND page, WORD axis) {
    UINT_PTR timer = IDT_AXIS_POLL + axis;
    DWORD value = 0;
    BYTE status = 0;
    if (!ReadAxisRegister(axis, TLM_REG_POSITION, &value)) {
        FailTimer(page, timer, IDS_ERR_REGISTER_READ);
        return;
    }
    ShowValue(page, axis, OPK_POSITION, (LONG)value);
    if (!tlmio_status1Read(Board(), axis, &status)) {
        FailTimer(page, timer, IDS_ERR_STATUS1_READ);
        return;
    }

    if (!(status & TLM_ST1_OPERATING)) {
        // The move may have ended after the position above was read: read it once more, so
        // that the display the poll leaves behind is where the axis stopped.
        if (!ReadAxisRegister(axis, TLM_REG_POSITION, &value)) {
            FailTimer(page, timer, IDS_ERR_REGISTER_READ);
            return;
        }
        ShowValue(page, axis, OPK_POSITION, (LONG)value);
        if (g_cycleActive[axis] && g_cycleStepRunning[axis]) {
            // Between two feeds of a run: the cycle step starts the next one or ends the run.
            SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_SPEED), kIdleSpeed);
            return;
        }
        if (!(g_signalConfig[axis] & TLM_SIG_ENCODER) && !g_cycleActive[axis]) KillTimer(page, timer);
        if (g_cycleActive[axis]) {
            g_cycleActive[axis] = 0;
            if (!WriteCycleEnd(axis)) {
                FailTimer(page, timer, IDS_ERR_COMMAND_WRITE);
                return;
            }
            ShowCycleStartLabels(page, axis);
        }
        EnableMoveButtons(page, axis);
        SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_SPEED), kIdleSpeed);
        return;
    }

    if (!ReadAxisRegister(axis, TLM_REG_SPEED, &value)) {
        FailTimer(page, timer, IDS_ERR_REGISTER_READ);
        return;
    }
    ShowValue(page, axis, OPK_SPEED, (LONG)(value & TLM_SPEED_BITS));
    if (!g_cycleActive[axis]) return;
    if (!ReadAxisRegister(axis, TLM_REG_OPERATION, &value)) {
        FailTimer(page, timer, IDS_ERR_REGISTER_READ);
        return;
    }
    if (value & TLM_OP_INT_LATCHED) return;
    ShowCycleRunLabel(page, axis);
}

static void StopCycleStep(HWND page, WORD axis) {
    KillTimer(page, IDT_CYCLE + axis);
    g_cycleStepRunning[axis] = 0;
}

// The run is over (all round trips made, or stopped): cycle mode off and the labels back.
// The motion poll then finds the axis idle, enables its buttons and stops.
static void FinishCycleRun(HWND page, WORD axis) {
    StopCycleStep(page, axis);
    g_cycleActive[axis] = 0;
    if (!WriteCycleEnd(axis)) {
        ShowBoardError(g_mainWindow, IDS_ERR_COMMAND_WRITE);
        return;
    }
    ShowCycleStartLabels(page, axis);
}

void StopCycleRun(HWND page, WORD axis) {
    if (!g_cycleActive[axis]) return;
    StopCycleStep(page, axis);
    SetTimer(page, IDT_AXIS_POLL + axis, 100, NULL);
}

void StepCycleRun(HWND page, WORD axis) {
    UINT_PTR timer = IDT_CYCLE + axis;
    BYTE interrupt = 0;
    BYTE status = 0;
    // A tick already queued when the run was stopped.
    if (!g_cycleStepRunning[axis]) {
        KillTimer(page, timer);
        return;
    }
    if (!tlmio_intstatusRead(Board(), axis, &interrupt)) {
        FailTimer(page, timer, IDS_ERR_INTSTATUS_READ);
        return;
    }
    if (!tlmio_status1Read(Board(), axis, &status)) {
        FailTimer(page, timer, IDS_ERR_STATUS1_READ);
        return;
    }
    // While a feed runs, a latched end can only be left over from an earlier feed.
    if (status & TLM_ST1_OPERATING) return;
    if (interrupt != TLM_INT_FEED_END) {
        // The feed may have ended between the two reads: its end is latched by now if it
        // reached its target.
        if (!tlmio_intstatusRead(Board(), axis, &interrupt)) {
            FailTimer(page, timer, IDS_ERR_INTSTATUS_READ);
            return;
        }
        if (interrupt != TLM_INT_FEED_END) {
            FinishCycleRun(page, axis);
            return;
        }
    }

    if (g_cycleDirection[axis]) {
        g_cycleDirection[axis] = 0;
        if (!StartMinusPresetFeed(g_mainWindow, axis)) StopCycleStep(page, axis);
        return;
    }
    if (g_cyclesDone[axis] >= g_cycleCount[axis]) {
        FinishCycleRun(page, axis);
        return;
    }
    g_cycleDirection[axis] = 1;
    if (StartPlusPresetFeed(g_mainWindow, axis))
        ++g_cyclesDone[axis];
    else
        StopCycleStep(page, axis);
}

static void ShowLamp(HWND page, WORD axis, int k, BOOL on, HBITMAP onImage) {
    SendDlgItemMessageA(page, AXIS_CONTROL_ID(axis, k), STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)(on ? onImage : g_ledOff));
}

void PollInputLeds(HWND page) {
    for (WORD axis = 0; axis < g_axisCount && axis < AXIS_COUNT; ++axis) {
        BYTE status = 0;
        DWORD inputs = 0;
        if (!tlmio_status1Read(Board(), axis, &status)) {
            FailTimer(page, IDT_LED_POLL, IDS_ERR_STATUS1_READ);
            return;
        }
        ShowLamp(page, axis, OPK_LED_PLUS_ELS, (status & TLM_ST1_PLUS_ELS) != 0, g_ledRed);
        ShowLamp(page, axis, OPK_LED_MINUS_ELS, (status & TLM_ST1_MINUS_ELS) != 0, g_ledRed);
        ShowLamp(page, axis, OPK_LED_DLS, (status & (TLM_ST1_DLS | TLM_ST1_DLS_HOLD)) != 0, g_ledGreen);
        ShowLamp(page, axis, OPK_LED_OLS, (status & TLM_ST1_OLS) != 0, g_ledGreen);
        if (!tlmio_status2Read(Board(), axis, &status)) {
            FailTimer(page, IDT_LED_POLL, IDS_ERR_STATUS2_READ);
            return;
        }
        ShowLamp(page, axis, OPK_LED_SVON, (status & TLM_ST2_SVON) != 0, g_ledGreen);
        ShowLamp(page, axis, OPK_LED_SVRST, (status & TLM_ST2_SVRST) != 0, g_ledGreen);
        ShowLamp(page, axis, OPK_LED_INPOS, (status & TLM_ST2_INPOS) != 0, g_ledGreen);
        ShowLamp(page, axis, OPK_LED_SVALM, (status & TLM_ST2_SVALM) != 0, g_ledRed);
        if (!ReadAxisRegister(axis, TLM_REG_INPUTS, &inputs)) {
            FailTimer(page, IDT_LED_POLL, IDS_ERR_REGISTER_READ);
            return;
        }
        ShowLamp(page, axis, OPK_LED_Z, (inputs & TLM_IN_Z) != 0, g_ledGreen);
    }
}

void StopPagePolling(HWND page) {
    static const int kLamps[] = {OPK_LED_PLUS_ELS, OPK_LED_MINUS_ELS, OPK_LED_DLS,  OPK_LED_OLS,  OPK_LED_Z,
                                 OPK_LED_INPOS,    OPK_LED_SVALM,     OPK_LED_SVON, OPK_LED_SVRST};
    KillTimer(page, IDT_LED_POLL);
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        if (!GetDlgItem(page, AXIS_CONTROL_ID(axis, OPK_AXIS_NAME))) continue;
        KillTimer(page, IDT_AXIS_POLL + axis);
        KillTimer(page, IDT_CYCLE + axis);
        g_cycleStepRunning[axis] = 0;
    }
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        if (!GetDlgItem(page, AXIS_CONTROL_ID(axis, OPK_AXIS_NAME))) continue;
        for (int k : kLamps) SendDlgItemMessageA(page, AXIS_CONTROL_ID(axis, k), STM_SETIMAGE, IMAGE_BITMAP, 0);
    }
    if (g_pageWindow == page) g_pageWindow = NULL;
}
