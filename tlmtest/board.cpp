// Board selection and bring-up: the list of boards the driver knows, the choice of the board
// and of the open mode, the open with axis detection, and the close.
#include "tlmtest.h"

DWORD g_deviceCount = 0;
DeviceInfo g_deviceList[MAX_BOARDS];
DeviceInfo g_openTarget;
WORD g_openMode = OPEN_BY_DEVICE_NUMBER;
DWORD g_selectedIndex = 0;
WORD g_openedMode = OPEN_BY_DEVICE_NUMBER;
DWORD g_openedIndex = 0;
WORD g_idOpenDisabled = 0;

BOOL EnumerateBoards(HWND window) {
    g_deviceCount = tlmio_GetDeviceCount(1);
    if (g_deviceCount == 0 || g_deviceCount > MAX_BOARDS) {
        ShowBoardError(window, IDS_ERR_DEVICE_COUNT);
        return FALSE;
    }
    if (!tlmio_GetDeviceInfo(&g_deviceCount, g_deviceList)) {
        ShowBoardError(window, IDS_ERR_DEVICE_INFO);
        return FALSE;
    }
    // A reply without a whole record names no board to open: the same as none found.
    if (g_deviceCount == 0) {
        ShowBoardError(window, IDS_ERR_DEVICE_COUNT);
        return FALSE;
    }
    // The list has room for MAX_BOARDS records whatever count the library reports back.
    if (g_deviceCount > MAX_BOARDS) g_deviceCount = MAX_BOARDS;
    return TRUE;
}

void CheckBoardIds(HWND window) {
    for (DWORD i = 0; i < g_deviceCount && !g_idOpenDisabled; ++i) {
        for (DWORD j = 0; j < g_deviceCount; ++j) {
            if (i != j && g_deviceList[i].BoardId == g_deviceList[j].BoardId) {
                ShowStringMessage(window, IDS_DUPLICATE_BOARD_ID);
                g_idOpenDisabled = 1;
                break;
            }
        }
    }
    g_openTarget = g_deviceList[0];
}

WORD OpenSelectedBoard(HWND window) {
    if (g_openMode == OPEN_BY_BOARD_ID)
        g_boardHandle = tlmio_OpenDeviceID(&g_openTarget);
    else
        g_boardHandle = tlmio_OpenDevice(&g_openTarget);
    if (g_boardHandle == TLMIO_INVALID_HANDLE) {
        ShowBoardError(window, IDS_ERR_DEVICE_OPEN);
        return 0;
    }
    // A handle without its index addresses the board by its board ID.
    if (g_openMode == OPEN_BY_BOARD_ID) g_boardHandle &= 0xFFFF0000UL;

    g_axisCount = AXIS_COUNT;
    g_axisPresentMask = 0;
    for (WORD axis = 0; axis < AXIS_COUNT; ++axis) {
        DWORD value = 0;
        if (!InitAxis(window, axis)) return 0;
        if (!ReadAxisRegister(axis, TLM_REG_SIGNAL, &value)) {
            ShowBoardError(window, IDS_ERR_REGISTER_READ);
            return 0;
        }
        if (value != g_signalConfig[axis]) {
            if (axis == 0) {
                ShowBoardError(window, IDS_ERR_REGISTER_READ);
                return 0;
            }
            g_axisCount = axis;
            break;
        }
        g_cycleCount[axis] = 0;
        g_cycleDirection[axis] = 0;
        g_cyclesDone[axis] = 0;
        g_cycleActive[axis] = 0;
        g_startCommand[axis] = TLM_CMD_START_FL;
        g_axisPresentMask |= (BYTE)(1u << axis);
    }

    BYTE value = 0;
    if (!tlmio_ElstRead(g_boardHandle, &value) || (BYTE)(g_axisPresentMask & value) != g_elsPolarity) {
        ShowBoardError(window, IDS_ERR_ELS_PORT);
        return 0;
    }
    if (!tlmio_CmpcRead(g_boardHandle, &value) || (value & TLM_CMP_STATUS)) {
        ShowBoardError(window, IDS_ERR_CMP_PORT);
        return 0;
    }
    return 1;
}

// Every axis is told to stop and its servo outputs go off even when a request fails on the
// way: one lost command must not leave the other axes running. A decelerating stop that fails
// is followed by an immediate stop of that axis. The first failure is reported after all axes
// were told, and the board then stays open as it was.
WORD CloseBoard(HWND window) {
    static const BYTE kCloseCommands[] = {TLM_CMD_DECEL_STOP, TLM_CMD_SVON_OFF, TLM_CMD_SVRST_OFF};
    if (g_boardHandle == TLMIO_INVALID_HANDLE) return 1;
    BOOL failed = FALSE;
    DWORD failure = 0;
    for (WORD axis = 0; axis < g_axisCount; ++axis) {
        for (BYTE command : kCloseCommands) {
            if (tlmio_CmdWrite(g_boardHandle, axis, command, 0, 0)) continue;
            if (!failed) failure = GetLastError();
            failed = TRUE;
            if (command == TLM_CMD_DECEL_STOP) tlmio_CmdWrite(g_boardHandle, axis, TLM_CMD_IMMEDIATE_STOP, 0, 0);
        }
    }
    if (failed) {
        SetLastError(failure);
        ShowBoardError(window, IDS_ERR_COMMAND_WRITE);
        return 0;
    }
    if (!tlmio_CloseDevice(g_boardHandle)) {
        ShowBoardError(window, IDS_ERR_DEVICE_CLOSE);
        return 0;
    }
    g_boardHandle = TLMIO_INVALID_HANDLE;
    return 1;
}

// Empties a board combo box and lists every board in it by device number or by board ID.
static void ListBoards(HWND page, int controlId, WORD mode) {
    HWND combo = GetDlgItem(page, controlId);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (DWORD i = 0; i < g_deviceCount; ++i) {
        char text[16];
        wsprintfA(text, "%d", mode == OPEN_BY_BOARD_ID ? g_deviceList[i].BoardId : g_deviceList[i].DeviceNumber);
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
    }
}

static int ComboOfMode(WORD mode) { return mode == OPEN_BY_BOARD_ID ? IDC_SET1_BOARDID_COMBO : IDC_SET1_DEVNO_COMBO; }

void FillBoardCombos(HWND page) {
    EnableWindow(GetDlgItem(page, IDC_SET1_DEVNO_COMBO), TRUE);
    if (!g_idOpenDisabled) EnableWindow(GetDlgItem(page, IDC_SET1_BOARDID_COMBO), TRUE);
    ListBoards(page, ComboOfMode(g_openMode), g_openMode);
    SendDlgItemMessageA(page, ComboOfMode(g_openMode), CB_SETCURSEL, g_selectedIndex, 0);
    SelectBoardFromCombo(page, (WORD)ComboOfMode(g_openMode), CBN_SELCHANGE);
}

void ShowBoardInfo(HWND window, int firstId) {
    char bus[20], device[20], ioAddress[20], irq[20], management[20], boardId[20];
    char text[128];
    LoadStringA(g_instance, IDS_BUS_NUMBER, bus, sizeof bus);
    LoadStringA(g_instance, IDS_DEVICE_NUMBER, device, sizeof device);
    LoadStringA(g_instance, IDS_IO_ADDRESS, ioAddress, sizeof ioAddress);
    LoadStringA(g_instance, IDS_IRQ_NUMBER, irq, sizeof irq);
    LoadStringA(g_instance, IDS_MANAGEMENT_NUMBER, management, sizeof management);
    LoadStringA(g_instance, IDS_BOARD_ID, boardId, sizeof boardId);
    wsprintfA(text, "%s%ld\n%s%lXh\n%s%ld", bus, (long)g_openTarget.BusNumber, ioAddress, (long)g_openTarget.IoAddress,
              management, (long)g_openTarget.ManagementNumber);
    SetDlgItemTextA(window, firstId, text);
    wsprintfA(text, "%s%ld\n%s%ld\n%s%ld", device, (long)g_openTarget.DeviceNumber, irq, (long)g_openTarget.IrqNumber,
              boardId, (long)g_openTarget.BoardId);
    SetDlgItemTextA(window, firstId + 1, text);
}

void SelectBoardFromCombo(HWND page, WORD controlId, WORD notification) {
    if (notification != CBN_SELCHANGE) return;
    g_openMode = controlId == IDC_SET1_BOARDID_COMBO ? OPEN_BY_BOARD_ID : OPEN_BY_DEVICE_NUMBER;
    int combo = ComboOfMode(g_openMode);
    LRESULT selection = SendDlgItemMessageA(page, combo, CB_GETCURSEL, 0, 0);
    if (selection >= 0 && (DWORD)selection < g_deviceCount)
        g_selectedIndex = (DWORD)selection;
    else
        SendDlgItemMessageA(page, combo, CB_SETCURSEL, g_selectedIndex, 0);
    g_openTarget = g_deviceList[g_selectedIndex];

    WORD otherMode = g_openMode == OPEN_BY_BOARD_ID ? OPEN_BY_DEVICE_NUMBER : OPEN_BY_BOARD_ID;
    ListBoards(page, ComboOfMode(otherMode), otherMode);
    ShowBoardInfo(page, IDC_SET1_INFO1);

    if (g_openMode != g_openedMode || g_selectedIndex != g_openedIndex) {
        g_openedMode = g_openMode;
        g_openedIndex = g_selectedIndex;
        if (!CloseBoard(page)) return;
        DisableSettingsAxisControls(page);
        if (!OpenSelectedBoard(page)) return;
        RefillSettingsPage(page);
    }
    SetFocus(g_tabControl);
}
