// The tab pages. Each page is a popup dialog made from its template by the frame, which
// shows, moves and destroys it; the procedures here keep the frame's record of the page shown.
#include "tlmtest.h"

// What every page does on its own creation and destruction.
static INT_PTR PageProc(HWND page, UINT message) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_DESTROY:
        g_pageShown = 0;
        if (g_pageWindow == page) g_pageWindow = NULL;
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK OperationPage1Proc(HWND page, UINT message, WPARAM, LPARAM) { return PageProc(page, message); }

INT_PTR CALLBACK OperationPage2Proc(HWND page, UINT message, WPARAM, LPARAM) { return PageProc(page, message); }
