// The frame of the test program: entry point and message loop, the main window with its tab
// control, the start-up checks, the tab pages and the rules for moving between them.
#include "tlmtest.h"

#include <commctrl.h>

HINSTANCE g_instance;
HWND g_mainWindow;
HWND g_tabControl;
HWND g_pageWindow;
WORD g_currentPage = 0;
WORD g_shuttingDown = 0;
WORD g_pageShown = 0;
HFONT g_labelFont;
HBITMAP g_ledOff;
HBITMAP g_ledGreen;
HBITMAP g_ledRed;

// Where the main window was centred, and where pages are shown (screen pixels).
static RECT g_mainRect;  // left, top, width, height
static RECT g_pageRect;  // left, top, width, height

static const char kClassName[] = "MainDlg";

void LoadProgramString(UINT id, char* buffer) {
    buffer[0] = '\0';
    LoadStringA(g_instance, id, buffer, 256);
}

void ShowStringMessage(HWND owner, UINT id) {
    char text[256];
    LoadProgramString(id, text);
    MessageBoxA(owner, text, "", MB_OK);
}

BOOL InitMainWindow(HWND mainWindow) {
    RECT window;
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    GetWindowRect(mainWindow, &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    if (!(screenHeight > height + 15 && screenWidth > width)) {
        ShowStringMessage(mainWindow, IDS_SCREEN_TOO_SMALL);
        DestroyCurrentPage();
        DestroyMainWindow(mainWindow);
        return FALSE;
    }

    int x = (screenWidth - width) / 2;
    int y = (screenHeight - height) / 2 - 15;
    MoveWindow(mainWindow, x, y, width, height, TRUE);
    SetRect(&g_mainRect, x, y, width, height);

    HDC dc = GetDC(mainWindow);
    int fontHeight = -MulDiv(14, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(mainWindow, dc);
    char face[256];
    LoadProgramString(IDS_FONT_FACE, face);
    g_labelFont = CreateFontA(fontHeight, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, face);
    if (!g_labelFont)
        g_labelFont = CreateFontA(fontHeight, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, NULL);
    if (!g_labelFont) {
        ShowStringMessage(mainWindow, IDS_FONT_ERROR);
        DestroyCurrentPage();
        DestroyMainWindow(mainWindow);
        return FALSE;
    }

    g_ledOff = LoadBitmapA(g_instance, MAKEINTRESOURCEA(IDB_LED_OFF));
    g_ledGreen = LoadBitmapA(g_instance, MAKEINTRESOURCEA(IDB_LED_GREEN));
    g_ledRed = LoadBitmapA(g_instance, MAKEINTRESOURCEA(IDB_LED_RED));
    return TRUE;
}

static const PageDefinition* PageAt(WORD index) { return &g_pageTable[index < PAGE_COUNT ? index : PAGE_COUNT - 1]; }

static HWND CreatePage(WORD index, HWND parent) {
    const PageDefinition* page = PageAt(index);
    return CreateDialogParamA(g_instance, MAKEINTRESOURCEA(page->templateId), parent, page->procedure, 0);
}

// A page that cannot be created ends the program with the board closed.
static void EndAfterPageFailure(HWND mainWindow) {
    ShowStringMessage(mainWindow, IDS_DIALOG_CREATE_ERROR);
    DestroyCurrentPage();
    CloseBoard(mainWindow);
    DestroyMainWindow(mainWindow);
}

void CreatePages(HWND mainWindow) {
    g_tabControl = GetDlgItem(mainWindow, IDC_TAB);
    for (WORD i = 0; i < PAGE_COUNT; ++i) {
        char label[256];
        TCITEMA item = {};
        LoadProgramString(g_pageTable[i].labelId, label);
        item.mask = TCIF_TEXT;
        item.pszText = label;
        SendMessageA(g_tabControl, TCM_INSERTITEMA, i, (LPARAM)&item);
    }
    g_pageWindow = CreatePage(0, mainWindow);
    if (!g_pageWindow) {
        EndAfterPageFailure(mainWindow);
        return;
    }
    RECT page;
    GetWindowRect(g_pageWindow, &page);
    SetRect(&g_pageRect, page.left, page.top, page.right - page.left, page.bottom - page.top);
    ShowWindow(g_pageWindow, SW_SHOW);
}

// Selects the tab of the page still shown, after a refused change.
static void KeepCurrentTab(void) { SendMessageA(g_tabControl, TCM_SETCURSEL, g_currentPage, 0); }

void SwitchPage(HWND mainWindow, const NMHDR* notification) {
    if (notification->code != (UINT)TCN_SELCHANGE) return;
    // Once an error has been reported the program is ending: the page stays as it is.
    if (g_shuttingDown) {
        KeepCurrentTab();
        return;
    }
    WORD next = (WORD)SendMessageA(g_tabControl, TCM_GETCURSEL, 0, 0);

    if (PageAt(next)->firstAxis >= g_axisCount) {
        KeepCurrentTab();
        ShowStringMessage(mainWindow, IDS_MISSING_AXES);
        return;
    }

    const PageDefinition* current = PageAt(g_currentPage);
    if (current->kind == PAGE_SETTINGS) {
        if (!CheckSettings(g_pageWindow)) {
            KeepCurrentTab();
            return;
        }
    } else {
        WORD limit = g_axisCount < current->axisLimit ? g_axisCount : current->axisLimit;
        for (WORD axis = current->firstAxis; axis < limit; ++axis) {
            BYTE status = 0;
            if (!tlmio_status1Read(g_boardHandle, axis, &status)) {
                ShowBoardError(mainWindow, IDS_ERR_STATUS1_READ);
                return;
            }
            // A cycle run counts as operating between its feeds too, while the axis stands.
            if ((status & TLM_ST1_OPERATING) || g_cycleActive[axis]) {
                ShowStringMessage(mainWindow, IDS_CANNOT_SWITCH);
                KeepCurrentTab();
                return;
            }
        }
    }

    if (g_pageWindow) DestroyWindow(g_pageWindow);
    g_pageWindow = NULL;
    // A failed write-back of the page left has ended the program: no page on a closed board.
    if (g_shuttingDown) return;
    g_currentPage = next;
    g_pageWindow = CreatePage(next, g_tabControl);
    if (!g_pageWindow) {
        EndAfterPageFailure(mainWindow);
        return;
    }
    MoveWindow(g_pageWindow, g_pageRect.left, g_pageRect.top, g_pageRect.right, g_pageRect.bottom, TRUE);
    ShowWindow(g_pageWindow, SW_SHOW);
    SetFocus(g_tabControl);
}

void FollowMainWindowMove(HWND mainWindow, LPARAM position) {
    if (!g_pageWindow) return;
    unsigned x = LOWORD(position);
    unsigned y = HIWORD(position);
    RECT offset = {1, 12, 0, 0};
    MapDialogRect(g_pageWindow, &offset);
    unsigned left = x + (unsigned)offset.left;
    unsigned top = y + (unsigned)offset.top;
    g_pageRect.left = (LONG)left;
    g_pageRect.top = (LONG)top;
    if (left < (unsigned)g_pageRect.right && top < (unsigned)g_pageRect.bottom)
        MoveWindow(g_pageWindow, g_pageRect.left, g_pageRect.top, g_pageRect.right, g_pageRect.bottom, TRUE);
    else
        MoveWindow(mainWindow, g_mainRect.left, g_mainRect.top, g_mainRect.right, g_mainRect.bottom, TRUE);
}

void DestroyCurrentPage(void) {
    g_shuttingDown = 1;
    if (g_pageWindow) DestroyWindow(g_pageWindow);
    g_pageWindow = NULL;
}

void DeleteStartupObjects(void) {
    if (g_labelFont) DeleteObject(g_labelFont);
    if (g_ledOff) DeleteObject(g_ledOff);
    if (g_ledGreen) DeleteObject(g_ledGreen);
    if (g_ledRed) DeleteObject(g_ledRed);
    g_labelFont = NULL;
    g_ledOff = g_ledGreen = g_ledRed = NULL;
}

void DestroyMainWindow(HWND mainWindow) {
    DeleteStartupObjects();
    DestroyWindow(mainWindow);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_mainWindow = window;
            if (InitMainWindow(window) && EnumerateBoards(window)) {
                CheckBoardIds(window);
                if (OpenSelectedBoard(window)) CreatePages(window);
            }
            return 0;
        case WM_NOTIFY: SwitchPage(window, (const NMHDR*)lParam); return 0;
        case WM_MOVE: FollowMainWindowMove(window, lParam); return 0;
        case WM_CLOSE:
            // An error report is under way (or done): it closes the board and ends the program
            // itself, once the user has answered it.
            if (g_shuttingDown) return 0;
            DestroyCurrentPage();
            CloseBoard(window);
            DestroyMainWindow(window);
            return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
    if (!previous) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = MainWndProc;
        windowClass.cbClsExtra = 0;
        windowClass.cbWndExtra = DLGWINDOWEXTRA;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(NULL, IDI_APPLICATION);
        windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
        windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        windowClass.lpszMenuName = NULL;
        windowClass.lpszClassName = kClassName;
        windowClass.hIconSm = LoadIconA(NULL, IDI_WINLOGO);
        if (!RegisterClassExA(&windowClass)) return 0;
    }
    g_instance = instance;

    // The tab control's class must be registered before the main dialog is made from its
    // template.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    HWND mainWindow = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_DIALOG0), NULL, (DLGPROC)MainWndProc, 0);
    if (!mainWindow) return 0;
    InitCommonControls();
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (IsDialogMessageA(mainWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
