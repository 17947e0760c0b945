// The motion operation pages: per axis the move, stop, clear, servo and contact buttons, the
// labels that follow the speed mode, and the start of the page's timers. The controller work
// is done by the command layer, the periodic reading by the status monitor (monitor.cpp).
#include "tlmtest.h"

// Window handles of the controls x001..x017 of each axis of the page shown (x017 exists only
// in the four-axis templates; a missing control leaves a null handle).
static HWND g_axisButtons[AXIS_COUNT][AXIS_BUTTON_COUNT];

BOOL IsAxisOnPage(HWND page, WORD axis) {
    return axis < g_axisCount && axis < AXIS_COUNT && GetDlgItem(page, AXIS_CONTROL_ID(axis, OPK_AXIS_NAME)) != NULL;
}

static void SetControlString(HWND page, WORD axis, int k, UINT stringId) {
    char text[256];
    LoadProgramString(stringId, text);
    SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, k), text);
}

static BOOL HighSpeed(WORD axis) { return g_startCommand[axis] != TLM_CMD_START_FL; }

void ShowCycleStartLabels(HWND page, WORD axis) {
    BOOL high = HighSpeed(axis);
    SetControlString(page, axis, OPK_CYCLE_START, high ? IDS_HIGH_CYCLE_START : IDS_CONST_CYCLE_START);
    SetControlString(page, axis, OPK_STOP, high ? IDS_HIGH_STOP : IDS_CONST_STOP);
}

void ShowCycleRunLabel(HWND page, WORD axis) {
    char cycle[20];
    char time[20];
    char text[64];
    cycle[0] = time[0] = '\0';
    LoadStringA(g_instance, IDS_CYCLE, cycle, sizeof cycle);
    LoadStringA(g_instance, IDS_CYCLE_TIME, time, sizeof time);
    wsprintfA(text, "%s%d%s", cycle, (int)g_cyclesDone[axis], time);
    SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_CYCLE_START), text);
}

void ShowContactLabel(HWND page, WORD axis, WORD button) {
    BOOL set;
    switch (button) {
        case OPK_ELS_CONTACT: set = (g_elsPolarity & (1u << axis)) != 0; break;
        case OPK_DLS_CONTACT: set = (g_signalConfig[axis] & TLM_SIG_DLS_A) != 0; break;
        case OPK_OLS_CONTACT: set = (g_signalConfig[axis] & TLM_SIG_OLS_A) != 0; break;
        case OPK_INPOS_CONTACT: set = (g_signalConfig[axis] & TLM_SIG_INPOS_A) != 0; break;
        case OPK_SVALM_CONTACT: set = (g_signalConfig[axis] & TLM_SIG_SVALM_A) != 0; break;
        default: return;
    }
    SetControlString(page, axis, button, set ? IDS_CONTACT_A : IDS_CONTACT_B);
}

#if COUNTER_SOURCE_BUTTON
// The label of x017 from the stored counter source of the axis.
static void ShowCounterSourceLabel(HWND page, WORD axis) {
    if (g_signalConfig[axis] & TLM_SIG_ENCODER)
        SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_COUNTER_SOURCE), "ENC");
    else
        SetControlString(page, axis, OPK_COUNTER_SOURCE, IDS_COUNTER_COMMAND);
}

void ShowCounterSource(HWND page, WORD axis) {
    // Encoder input moves the position while the axis stands: keep polling it. The poll stops
    // itself once the source is the command pulses again and the axis is idle.
    if (g_signalConfig[axis] & TLM_SIG_ENCODER) SetTimer(page, IDT_AXIS_POLL + axis, 100, NULL);
    ShowCounterSourceLabel(page, axis);
}
#endif

void DisableMoveButtons(HWND, WORD axis) {
    for (int k = OPK_PLUS_PRESET_FEED; k <= OPK_CYCLE_START; ++k) EnableWindow(g_axisButtons[axis][k - 1], FALSE);
}

void EnableMoveButtons(HWND, WORD axis) {
    for (int k = OPK_PLUS_PRESET_FEED; k <= OPK_ORIGIN_OLS_Z; ++k) EnableWindow(g_axisButtons[axis][k - 1], TRUE);
    if (g_cycleCount[axis] != 0) EnableWindow(g_axisButtons[axis][OPK_CYCLE_START - 1], TRUE);
}

void ShowOperationPage(HWND page) {
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        for (int k = 1; k <= AXIS_BUTTON_COUNT; ++k)
            g_axisButtons[axis][k - 1] = IsAxisOnPage(page, axis) ? GetDlgItem(page, AXIS_CONTROL_ID(axis, k)) : NULL;
    }
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        if (!IsAxisOnPage(page, axis)) continue;
        char text[16];
        wsprintfA(text, "%d", (int)g_presetAmount[axis]);
        SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_PRESET), text);
        for (int k = OPK_PRESET; k <= OPK_LED_SVRST; ++k)
            SendDlgItemMessageA(page, AXIS_CONTROL_ID(axis, k), WM_SETFONT, (WPARAM)g_labelFont, TRUE);
    }
    if (IsAxisOnPage(page, 0)) ShowBoardInfo(page, IDC_OP1_INFO1);
#ifndef TLMTEST4
    else
        ShowBoardInfo(page, IDC_OP2_INFO1);
#endif
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        if (!IsAxisOnPage(page, axis)) continue;
        for (int k = 1; k <= AXIS_BUTTON_COUNT; ++k)
            EnableWindow(g_axisButtons[axis][k - 1], k != OPK_CYCLE_START || g_cycleCount[axis] != 0);
        BOOL high = HighSpeed(axis);
        SetControlString(page, axis, OPK_PLUS_PRESET_FEED, high ? IDS_HIGH_PLUS_PRESET : IDS_CONST_PLUS_PRESET);
        SetControlString(page, axis, OPK_MINUS_PRESET_FEED, high ? IDS_HIGH_MINUS_PRESET : IDS_CONST_MINUS_PRESET);
        SetControlString(page, axis, OPK_PLUS_CONTINUOUS, high ? IDS_HIGH_PLUS_CONT : IDS_CONST_PLUS_CONT);
        SetControlString(page, axis, OPK_MINUS_CONTINUOUS, high ? IDS_HIGH_MINUS_CONT : IDS_CONST_MINUS_CONT);
        ShowCycleStartLabels(page, axis);
        for (WORD k = OPK_ELS_CONTACT; k <= OPK_SVALM_CONTACT; ++k) ShowContactLabel(page, axis, k);
#if COUNTER_SOURCE_BUTTON
        ShowCounterSourceLabel(page, axis);
#endif
        SetTimer(page, IDT_AXIS_POLL + axis, 100, NULL);
    }
    SetTimer(page, IDT_LED_POLL, 100, NULL);
}

void PrepareCycleRun(HWND page, WORD axis) {
    DisableMoveButtons(page, axis);
    g_cycleActive[axis] = 1;
    g_cyclesDone[axis] = 1;
    g_cycleDirection[axis] = 1;
    ShowCycleRunLabel(page, axis);
    SetControlString(page, axis, OPK_STOP, IDS_CYCLE_STOP);
}

// A move of the axis has started: poll it until it ends.
static void FollowMove(HWND page, WORD axis) {
    SetTimer(page, IDT_AXIS_POLL + axis, 100, NULL);
    SetFocus(g_tabControl);
}

static void HandleAxisButton(HWND page, WORD axis, int k) {
    typedef WORD (*AxisOperation)(HWND, WORD);
    static const AxisOperation kStarts[] = {StartPlusPresetFeed,      StartMinusPresetFeed, StartPlusContinuousFeed,
                                            StartMinusContinuousFeed, StartOriginReturnOls, StartOriginReturnOlsZ};
    // The contact buttons, OPK_ELS_CONTACT to OPK_SVALM_CONTACT in order.
    static const AxisOperation kContactToggles[] = {ToggleElsContact, ToggleDlsContact, ToggleOlsContact,
                                                    ToggleInposContact, ToggleSvalmContact};
    // An error has been reported and the program is ending: nothing starts any more.
    if (g_shuttingDown) return;
    switch (k) {
        case OPK_PLUS_PRESET_FEED:
        case OPK_MINUS_PRESET_FEED:
        case OPK_PLUS_CONTINUOUS:
        case OPK_MINUS_CONTINUOUS:
        case OPK_ORIGIN_OLS:
        case OPK_ORIGIN_OLS_Z:
            DisableMoveButtons(page, axis);
            if (kStarts[k - 1](page, axis)) FollowMove(page, axis);
            return;
        case OPK_CYCLE_START:
            PrepareCycleRun(page, axis);
            if (StartCycleRun(page, axis)) {
                g_cycleStepRunning[axis] = 1;
                FollowMove(page, axis);
            }
            return;
        case OPK_STOP:
            StopCycleRun(page, axis);
            StopAxis(page, axis);
            break;
        case OPK_CLEAR:
            if (ClearPosition(page, axis)) SetDlgItemTextA(page, AXIS_CONTROL_ID(axis, OPK_POSITION), "0");
            break;
        case OPK_SERVO_ON: ToggleServoOn(page, axis); break;
        case OPK_SERVO_RESET: ToggleServoReset(page, axis); break;
        case OPK_ELS_CONTACT:
        case OPK_DLS_CONTACT:
        case OPK_OLS_CONTACT:
        case OPK_INPOS_CONTACT:
        case OPK_SVALM_CONTACT:
            if (kContactToggles[k - OPK_ELS_CONTACT](page, axis)) ShowContactLabel(page, axis, (WORD)k);
            break;
#if COUNTER_SOURCE_BUTTON
        case OPK_COUNTER_SOURCE:
            // A failed write or read-back has been reported and ends the program.
            if (!ToggleCounterSource(page, axis)) return;
            ShowCounterSource(page, axis);
            break;
#endif
        default: return;
    }
    if (!g_shuttingDown) SetFocus(g_tabControl);
}

// The highest per-axis button id (x001..) that the operation pages handle.
#if COUNTER_SOURCE_BUTTON
#define LAST_AXIS_BUTTON OPK_COUNTER_SOURCE
#else
#define LAST_AXIS_BUTTON OPK_SVALM_CONTACT
#endif

// Both operation pages; the axes of a page are those whose controls its template has.
static INT_PTR OperationPageProc(HWND page, UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG: return TRUE;
        case WM_SHOWWINDOW:
            if (!g_pageShown) {
                g_pageShown = 1;
                ShowOperationPage(page);
            }
            return TRUE;
        case WM_DESTROY:
            g_pageShown = 0;
            StopPagePolling(page);
            return TRUE;
        case WM_TIMER: {
            UINT_PTR id = wParam;
            // The displays and cycle runs go on under a notice box; they pause only once the
            // program is ending (an error reported, the board being closed).
            if (g_shuttingDown) return TRUE;
            if (id == IDT_LED_POLL) {
                PollInputLeds(page);
            } else if (id >= IDT_AXIS_POLL && id < IDT_AXIS_POLL + AXIS_COUNT) {
                if (IsAxisOnPage(page, (WORD)(id - IDT_AXIS_POLL))) PollAxisMotion(page, (WORD)(id - IDT_AXIS_POLL));
            } else if (id >= IDT_CYCLE && id < IDT_CYCLE + AXIS_COUNT) {
                if (IsAxisOnPage(page, (WORD)(id - IDT_CYCLE))) StepCycleRun(page, (WORD)(id - IDT_CYCLE));
            }
            return TRUE;
        }
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            if (HIWORD(wParam) != BN_CLICKED) return TRUE;
            int axis = id / 1000 - 2;
            int k = id % 1000;
            if (axis >= 0 && axis < AXIS_COUNT && IsAxisOnPage(page, (WORD)axis) && k >= OPK_PLUS_PRESET_FEED &&
                k <= LAST_AXIS_BUTTON)
                HandleAxisButton(page, (WORD)axis, k);
            return TRUE;
        }
    }
    return FALSE;
}

INT_PTR CALLBACK OperationPage1Proc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return OperationPageProc(page, message, wParam);
}

#ifndef TLMTEST4
INT_PTR CALLBACK OperationPage2Proc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return OperationPageProc(page, message, wParam);
}
#endif
