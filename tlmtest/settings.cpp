// The axis parameter settings pages: per axis the preset amount, FL and FH speed,
// acceleration/deceleration time and cycle count, the speed mode and the pulse output form;
// on the first page also the choice of board. Entries are checked on the setting-check button
// and before the page may be left; the motion registers are written when the page closes.
#include "tlmtest.h"

#include <math.h>

// Input limits of the edit boxes.
#define PRESET_MAX   3276700UL
#define SPEED_MAX    32766UL
#define ACCEL_MIN_MS 10L
#define CYCLE_MAX    9999UL

// Text limits of the edit boxes x201..x205.
static const int kTextLimits[5] = {7, 5, 5, 7, 4};

static const char kAxisLetters[] = "XYZUVW";

// The tab pages that the settings dialog procedures serve.
#define SETTINGS_PAGE1_TAB TAB_SETTINGS1
#ifndef TLMTEST4
#define SETTINGS_PAGE2_TAB TAB_SETTINGS2
#endif

static int AxisControl(WORD axis, int k) { return AXIS_CONTROL_ID(axis, k); }

// Axes firstAxis up to, not including, *limit of the settings page at tab index `tab`: the
// axes the open board has.
static WORD PageAxes(WORD tab, WORD* limit) {
    const PageDefinition* definition = &g_pageTable[tab < PAGE_COUNT ? tab : PAGE_COUNT - 1];
    *limit = g_axisCount < definition->axisLimit ? g_axisCount : definition->axisLimit;
    return definition->firstAxis;
}

// The axis slots of the page's template, whatever the board has.
static WORD PageSlots(WORD tab, WORD* limit) {
    const PageDefinition* definition = &g_pageTable[tab < PAGE_COUNT ? tab : PAGE_COUNT - 1];
    *limit = definition->axisLimit;
    return definition->firstAxis;
}

static int CheckButtonOf(WORD tab) { return PAGE_CONTROL_ID(tab, PGN_SET_CHECK); }

static void SetStringText(HWND page, int controlId, UINT stringId) {
    char text[256];
    LoadProgramString(stringId, text);
    SetDlgItemTextA(page, controlId, text);
}

// A message box of the page: empty caption, OK button.
static void ShowPageMessage(HWND page, const char* text) { MessageBoxA(page, text, "", MB_OK); }

// The acceleration time in whole milliseconds, as it is shown. The time is held in seconds
// as a double; the nearest millisecond is taken, so an accepted entry reads back unchanged.
static long AccelTimeMs(WORD axis) { return (long)floor(g_accelTime[axis] * 1000.0 + 0.5); }

// The stored values of an axis in its edit boxes, each followed by its text limit.
static void ShowAxisValues(HWND page, WORD axis) {
    long values[5] = {(long)g_presetAmount[axis], (long)g_flSpeed[axis], (long)g_fhSpeed[axis], AccelTimeMs(axis),
                      (long)g_cycleCount[axis]};
    for (int i = 0; i < 5; ++i) {
        int id = AxisControl(axis, SEK_PRESET_EDIT + i);
        char text[16];
        EnableWindow(GetDlgItem(page, id), TRUE);
        wsprintfA(text, "%ld", values[i]);
        SetDlgItemTextA(page, id, text);
        SendDlgItemMessageA(page, id, EM_LIMITTEXT, kTextLimits[i], 0);
    }
}

static void ShowSpeedMode(HWND page, WORD axis) {
    SetStringText(page, AxisControl(axis, SEK_SPEED_MODE_TEXT),
                  g_startCommand[axis] == TLM_CMD_START_FL ? IDS_NOW_CONSTANT : IDS_NOW_HIGH);
}

static void ShowPulseCommandMode(HWND page, WORD axis) {
    SetStringText(page, AxisControl(axis, SEK_PULSE_COMMAND),
                  (g_signalConfig[axis] & TLM_SIG_PULSE_INDIVIDUAL) ? IDS_PULSE_INDIVIDUAL : IDS_PULSE_COMMON);
}

static void ShowPulseLogic(HWND page, WORD axis) {
    SetStringText(page, AxisControl(axis, SEK_PULSE_LOGIC),
                  (g_signalConfig[axis] & TLM_SIG_PULSE_NEGATIVE) ? IDS_LOGIC_NEGATIVE : IDS_LOGIC_POSITIVE);
}

// Fills the settings page at tab index `tab` from the program's state.
static void ShowSettingsPageOf(HWND page, WORD tab) {
    if (SETTINGS_SHOWS_BOARD_INFO) ShowBoardInfo(page, PAGE_CONTROL_ID(tab, PGN_SET_INFO1));
    HWND check = GetDlgItem(page, CheckButtonOf(tab));
    WORD limit;
    for (WORD axis = PageSlots(tab, &limit); axis < limit; ++axis)
        SetDlgItemTextA(page, AxisControl(axis, SEK_SPEED_MODE_TEXT), "");
    EnableWindow(check, TRUE);
    WORD first = PageAxes(tab, &limit);
    for (WORD axis = first; axis < limit; ++axis) {
        for (int k = SEK_SPEED_MODE; k <= SEK_PULSE_DEFAULT; ++k)
            EnableWindow(GetDlgItem(page, AxisControl(axis, k)), TRUE);
        ShowSpeedMode(page, axis);
        ShowPulseCommandMode(page, axis);
        ShowPulseLogic(page, axis);
    }
    for (WORD axis = first; axis < limit; ++axis) ShowAxisValues(page, axis);
}

void ShowSettingsPage(HWND page) { ShowSettingsPageOf(page, g_currentPage); }

void ToggleSpeedMode(HWND page, WORD axis) {
    g_startCommand[axis] ^= TLM_CMD_START_FL ^ TLM_CMD_START_RAMPED;
    ShowSpeedMode(page, axis);
}

// The entry of an edit box: at most 7 characters read as a decimal integer (leading white
// space, an optional sign, digits up to the first other character; no digits give 0).
static LONG ReadEntry(HWND page, int controlId) {
    char text[8];
    text[0] = '\0';
    GetDlgItemTextA(page, controlId, text, sizeof text);
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    BOOL negative = FALSE;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    LONG value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + (*p - '0');  // 7 characters at most
    return negative ? -value : value;
}

// "<letter>軸：" followed by `rest`, in `text` of 512 characters.
static void AxisMessagePrefix(WORD axis, char* text) {
    char suffix[256];
    LoadProgramString(IDS_AXIS_SUFFIX, suffix);
    wsprintfA(text, "%c%s", kAxisLetters[axis], suffix);
}

// One rejected entry: item, reason, the value that stays.
static void ReportEntry(HWND page, WORD axis, const char* item, UINT reasonId, long kept) {
    char suffix[256], reason[256], used[256], text[1024];
    LoadProgramString(IDS_AXIS_SUFFIX, suffix);
    LoadProgramString(reasonId, reason);
    LoadProgramString(IDS_DATA_USED, used);
    wsprintfA(text, "%c%s%s%s%ld%s", kAxisLetters[axis], suffix, item, reason, kept, used);
    ShowPageMessage(page, text);
}

// The item name `itemId`, or for an entry above or below its limit the name followed by the
// limit ("<name> 3276700").
static void ItemName(UINT itemId, const char* limit, char* item) {
    char name[256];
    LoadProgramString(itemId, name);
    if (limit)
        wsprintfA(item, "%s %s", name, limit);
    else
        lstrcpyA(item, name);
}

// The item name of the cycle count with its limit, "[サイクル回数] 9999": the bracketed name
// that opens the cycle-impossible message.
static void CycleItemName(char* item) {
    char text[256];
    LoadProgramString(IDS_CYCLE_IMPOSSIBLE, text);
    char* end = text;
    while (*end && *end != ']') end = CharNextA(end);
    if (*end) end[1] = '\0';
    wsprintfA(item, "%s %lu", text, CYCLE_MAX);
}

// Checks a speed entry (FL or FH): the candidate, or the stored value after a report.
static WORD CheckSpeed(HWND page, WORD axis, int k, UINT itemId, DWORD stored, DWORD* candidate) {
    char item[300];
    DWORD value = (DWORD)ReadEntry(page, AxisControl(axis, k));
    if (value >= 1 && value <= SPEED_MAX) {
        *candidate = value;
        return 1;
    }
    *candidate = stored;
    if (value == 0) {
        ItemName(itemId, NULL, item);
        ReportEntry(page, axis, item, IDS_REASON_EMPTY, (long)stored);
    } else {
        ItemName(itemId, "32766", item);
        ReportEntry(page, axis, item, IDS_REASON_ABOVE, (long)stored);
    }
    return 0;
}

WORD CheckAxisSettings(HWND page, WORD axis) {
    WORD valid = 1;
    char item[300];

    DWORD preset = (DWORD)ReadEntry(page, AxisControl(axis, SEK_PRESET_EDIT));
    if (preset >= 1 && preset <= PRESET_MAX) {
        g_presetAmount[axis] = preset;
    } else {
        valid = 0;
        if (preset == 0) {
            ItemName(IDS_ITEM_PRESET, NULL, item);
            ReportEntry(page, axis, item, IDS_REASON_EMPTY, (long)g_presetAmount[axis]);
        } else {
            ItemName(IDS_ITEM_PRESET, "3276700", item);
            ReportEntry(page, axis, item, IDS_REASON_ABOVE, (long)g_presetAmount[axis]);
        }
    }

    DWORD fl, fh;
    if (!CheckSpeed(page, axis, SEK_FL_EDIT, IDS_ITEM_FL, g_flSpeed[axis], &fl)) valid = 0;
    if (!CheckSpeed(page, axis, SEK_FH_EDIT, IDS_ITEM_FH, g_fhSpeed[axis], &fh)) valid = 0;
    if (fh < fl) {
        char text[1024], prefix[512], name[256], reason[256], used[256];
        AxisMessagePrefix(axis, prefix);
        LoadProgramString(IDS_ITEM_FH, name);
        LoadProgramString(IDS_REASON_BELOW_FL, reason);
        LoadProgramString(IDS_DATA_USED, used);
        wsprintfA(text, "%s%s%s%ld,%ld%s", prefix, name, reason, (long)g_flSpeed[axis], (long)g_fhSpeed[axis], used);
        ShowPageMessage(page, text);
        valid = 0;
    } else {
        g_flSpeed[axis] = fl;
        g_fhSpeed[axis] = fh;
    }

    // A negative time (a pasted sign) is below the minimum like 1..9 ms.
    LONG accel = ReadEntry(page, AxisControl(axis, SEK_ACCEL_EDIT));
    if (accel >= ACCEL_MIN_MS) {
        g_accelTime[axis] = (double)accel * 0.001;
    } else {
        valid = 0;
        if (accel == 0) {
            ItemName(IDS_ITEM_ACCEL, NULL, item);
            ReportEntry(page, axis, item, IDS_REASON_EMPTY, AccelTimeMs(axis));
        } else {
            ItemName(IDS_ITEM_ACCEL, "10msec", item);
            ReportEntry(page, axis, item, IDS_REASON_BELOW, AccelTimeMs(axis));
        }
    }

    // A count above four digits (a pasted sign or a long paste) is rejected like the other
    // entries; the count that stays is then checked against the speeds as an entry would be.
    DWORD cycles = (DWORD)ReadEntry(page, AxisControl(axis, SEK_CYCLE_EDIT));
    if (cycles > CYCLE_MAX) {
        valid = 0;
        CycleItemName(item);
        ReportEntry(page, axis, item, IDS_REASON_ABOVE, (long)g_cycleCount[axis]);
        cycles = g_cycleCount[axis];
    }
    if (cycles == 0) {
        g_cycleCount[axis] = 0;
    } else {
        DWORD speed = g_startCommand[axis] == TLM_CMD_START_FL ? g_flSpeed[axis] : g_fhSpeed[axis];
        if (speed > g_presetAmount[axis]) {
            char text[1024], prefix[512], reason[256];
            g_cycleCount[axis] = 0;
            AxisMessagePrefix(axis, prefix);
            LoadProgramString(IDS_CYCLE_IMPOSSIBLE, reason);
            wsprintfA(text, "%s%s", prefix, reason);
            ShowPageMessage(page, text);
            valid = 0;
        } else {
            g_cycleCount[axis] = (WORD)cycles;
        }
    }
    return valid;
}

WORD CheckSettings(HWND page) {
    WORD valid = 1;
    WORD limit;
    for (WORD axis = PageAxes(g_currentPage, &limit); axis < limit; ++axis) {
        if (!CheckAxisSettings(page, axis)) valid = 0;
        ShowAxisValues(page, axis);
    }
    return valid;
}

// Writes registers 0 to 3 of every axis of the closing page, unless the program is ending.
void WriteMotionRegisters(HWND page) {
    if (!g_shuttingDown) {
        WORD limit;
        for (WORD axis = PageAxes(g_currentPage, &limit); axis < limit; ++axis) {
            if (!WriteAxisRegister(axis, TLM_REG_PRESET, g_presetAmount[axis]) ||
                !WriteAxisRegister(axis, TLM_REG_FL, g_flSpeed[axis]) ||
                !WriteAxisRegister(axis, TLM_REG_FH, g_fhSpeed[axis]) ||
                !WriteAxisRegister(axis, TLM_REG_RATE,
                                   ComputeRateValue(g_accelTime[axis], g_flSpeed[axis], g_fhSpeed[axis]))) {
                ShowBoardError(page, IDS_ERR_REGISTER_WRITE);
                break;
            }
        }
    }
    g_pageWindow = NULL;
}

void DisableSettingsAxisControls(HWND page) {
    EnableWindow(GetDlgItem(page, CheckButtonOf(g_currentPage)), FALSE);
    WORD limit;
    for (WORD axis = PageAxes(g_currentPage, &limit); axis < limit; ++axis) {
        for (int k = SEK_SPEED_MODE; k <= SEK_PULSE_DEFAULT; ++k)
            EnableWindow(GetDlgItem(page, AxisControl(axis, k)), FALSE);
        for (int k = SEK_PRESET_EDIT; k <= SEK_CYCLE_EDIT; ++k) {
            SetDlgItemTextA(page, AxisControl(axis, k), "");
            EnableWindow(GetDlgItem(page, AxisControl(axis, k)), FALSE);
        }
    }
}

void RefillSettingsPage(HWND page) { ShowSettingsPage(page); }

// The buttons and the colour of an axis' speed-mode text, for the axes of page `tab`.
static INT_PTR AxisCommand(HWND page, WORD tab, int controlId) {
    WORD limit;
    WORD first = PageAxes(tab, &limit);
    if (controlId < 2000) return TRUE;
    WORD axis = (WORD)(controlId / 1000 - 2);
    int k = controlId % 1000;
    if (axis < first || axis >= limit) return TRUE;
    switch (k) {
        case SEK_SPEED_MODE:
            ToggleSpeedMode(page, axis);
            SetFocus(g_tabControl);
            break;
        case SEK_PULSE_COMMAND:
            if (TogglePulseCommandMode(page, axis)) {
                ShowPulseCommandMode(page, axis);
                SetFocus(g_tabControl);
            }
            break;
        case SEK_PULSE_LOGIC:
            if (TogglePulseLogic(page, axis)) {
                ShowPulseLogic(page, axis);
                SetFocus(g_tabControl);
            }
            break;
        case SEK_PULSE_DEFAULT:
            if (SetDefaultPulseOutput(page, axis)) {
                SetStringText(page, AxisControl(axis, SEK_PULSE_COMMAND), IDS_PULSE_INDIVIDUAL);
                SetStringText(page, AxisControl(axis, SEK_PULSE_LOGIC), IDS_LOGIC_POSITIVE);
                SetFocus(g_tabControl);
            }
            break;
    }
    return TRUE;
}

static INT_PTR SpeedModeColour(WORD tab, HWND control) {
    WORD limit;
    int id = GetDlgCtrlID(control);
    for (WORD axis = PageAxes(tab, &limit); axis < limit; ++axis)
        if (id == AxisControl(axis, SEK_SPEED_MODE_TEXT)) return (INT_PTR)GetStockObject(WHITE_BRUSH);
    return FALSE;
}

// What both settings pages do; `tab` is the page's tab index.
static INT_PTR SettingsPageProc(HWND page, WORD tab, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (!g_pageShown) {
                g_pageShown = 1;
                if (tab == SETTINGS_PAGE1_TAB) FillBoardCombos(page);
                ShowSettingsPageOf(page, tab);
            }
            return TRUE;
        case WM_DESTROY:
            g_pageShown = 0;
            WriteMotionRegisters(page);
            return TRUE;
        case WM_COMMAND: {
            int id = LOWORD(wParam);
            if (tab == SETTINGS_PAGE1_TAB && (id == IDC_SET1_DEVNO_COMBO || id == IDC_SET1_BOARDID_COMBO)) {
                SelectBoardFromCombo(page, (WORD)id, HIWORD(wParam));
                return TRUE;
            }
            if (id == CheckButtonOf(tab)) {
                CheckSettings(page);
                SetFocus(g_tabControl);
                return TRUE;
            }
            return AxisCommand(page, tab, id);
        }
        case WM_CTLCOLORSTATIC: return SpeedModeColour(tab, (HWND)lParam);
    }
    return FALSE;
}

INT_PTR CALLBACK SettingsPage1Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return SettingsPageProc(page, SETTINGS_PAGE1_TAB, message, wParam, lParam);
}

#ifndef TLMTEST4
INT_PTR CALLBACK SettingsPage2Proc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return SettingsPageProc(page, SETTINGS_PAGE2_TAB, message, wParam, lParam);
}
#endif
