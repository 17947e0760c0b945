// A test DLL that a CBT hook on tlmtest6.exe's thread loads into the program (the test
// installs the hook before the program runs). It changes what the system gives the program,
// as set in the program's environment:
//   TLMTEST_REFUSE_PAGE=n   the n-th creation of a tab page (a popup dialog without caption,
//                           counted from 1) is refused
//   TLMTEST_FAIL_FONT=1     CreateFontA fails
//   TLMTEST_SCREEN_DX=dx    the screen is reported dx pixels wider and dy pixels higher than
//   TLMTEST_SCREEN_DY=dy    the program's main window
//   TLMTEST_MANUAL_TIMERS=1 window timers never fire by themselves: the program's SetTimer and
//                           KillTimer keep a table, and a test ticks every live timer once by
//                           posting kTickRound to the hidden window of class "TlmTestTimers"
//                           (see tlmtest_timers.h)
//   TLMTEST_CLOSE_REPORT=f  when the program exits, before any library detaches, the number of
//                           handles open on per-board devices of tlmsim.sys is written to f
// The program's imports are redirected when the DLL arrives, before the main dialog's
// WM_INITDIALOG. In any other process the DLL changes nothing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tlmsim_control.h"
#include "tlmtest_timers.h"

namespace {

int g_pagesSeen = 0;

int EnvNumber(const char* name, int fallback) {
    char value[16] = {};
    if (!GetEnvironmentVariableA(name, value, sizeof value)) return fallback;
    return std::atoi(value);
}

bool IsDialogClass(LPCWSTR cls) {
    if (IS_INTRESOURCE(cls)) return LOWORD((ULONG_PTR)cls) == 0x8002;
    return lstrcmpW(cls, L"#32770") == 0;
}

HFONT WINAPI FailingCreateFontA(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                LPCSTR) {
    return nullptr;
}

BOOL CALLBACK FindMainWindow(HWND window, LPARAM param) {
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (strcmp(cls, "MainDlg") == 0) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

int WINAPI ScreenAroundMainWindow(int index) {
    if (index == SM_CXSCREEN || index == SM_CYSCREEN) {
        HWND main = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), FindMainWindow, reinterpret_cast<LPARAM>(&main));
        RECT r;
        if (main && GetWindowRect(main, &r)) {
            if (index == SM_CXSCREEN) return r.right - r.left + EnvNumber("TLMTEST_SCREEN_DX", 0);
            return r.bottom - r.top + EnvNumber("TLMTEST_SCREEN_DY", 0);
        }
    }
    return GetSystemMetrics(index);
}

// Points the import `name` of `dll` in `module` at `replacement`.
void RedirectImport(HMODULE module, const char* dll, const char* name, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), dll) != 0 || !imp->OriginalFirstThunk) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), name) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
}

bool InTheProgram() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    static const char* const kPrograms[] = {"tlmtest6.exe", "tlmtest4.exe"};
    for (const char* exe : kPrograms) {
        DWORD length = (DWORD)strlen(exe);
        if (n >= length && lstrcmpiA(path + n - length, exe) == 0) return true;
    }
    return false;
}

// Manual timers: the live timers of the program in the order they were first set.
struct ManualTimer {
    HWND window;
    UINT_PTR id;
};
ManualTimer g_timers[64];
int g_timerCount = 0;
HWND g_timerWindow = nullptr;
LONG g_roundsDone = 0;
HINSTANCE g_module = nullptr;

int FindTimer(HWND window, UINT_PTR id) {
    for (int i = 0; i < g_timerCount; ++i)
        if (g_timers[i].window == window && g_timers[i].id == id) return i;
    return -1;
}

void RemoveTimer(int i) {
    for (; i + 1 < g_timerCount; ++i) g_timers[i] = g_timers[i + 1];
    --g_timerCount;
}

LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case tlmtimers::kTickRound:
            // One tick per live timer, each delivered later through the program's own message
            // loop (or the loop of a box it shows), then the end of the round.
            for (int i = 0; i < g_timerCount; ++i)
                PostMessageW(window, tlmtimers::kTickOne, g_timers[i].id, (LPARAM)g_timers[i].window);
            PostMessageW(window, tlmtimers::kMarker, 0, 0);
            return 0;
        case tlmtimers::kTickOne: {
            // A timer killed since the round began does not fire, as with real timers.
            HWND target = (HWND)lParam;
            int i = FindTimer(target, wParam);
            if (i < 0) return 0;
            if (!IsWindow(target)) {
                RemoveTimer(i);
                return 0;
            }
            SendMessageW(target, WM_TIMER, wParam, 0);
            return 0;
        }
        case tlmtimers::kMarker: ++g_roundsDone; return 0;
        case tlmtimers::kRoundsDone: return g_roundsDone;
        case tlmtimers::kLiveTimers: return g_timerCount;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MakeTimerWindow() {
    if (g_timerWindow) return;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TimerWindowProc;
    windowClass.hInstance = g_module;
    windowClass.lpszClassName = tlmtimers::kWindowClass;
    RegisterClassW(&windowClass);
    g_timerWindow =
        CreateWindowExW(0, tlmtimers::kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, g_module, nullptr);
}

UINT_PTR WINAPI ManualSetTimer(HWND window, UINT_PTR id, UINT, TIMERPROC) {
    MakeTimerWindow();
    if (FindTimer(window, id) < 0 && g_timerCount < (int)(sizeof g_timers / sizeof g_timers[0]))
        g_timers[g_timerCount++] = {window, id};
    return id;
}

BOOL WINAPI ManualKillTimer(HWND window, UINT_PTR id) {
    int i = FindTimer(window, id);
    if (i < 0) return FALSE;
    RemoveTimer(i);
    return TRUE;
}

// Per-board handles the driver counts now (this query's own handle is a control handle).
void WriteCloseReport() {
    char path[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("TLMTEST_CLOSE_REPORT", path, sizeof path)) return;
    TlmSimState state = {};
    DWORD got = 0;
    HANDLE control = CreateFileA("\\\\.\\TLMDRV", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BOOL ok = control != INVALID_HANDLE_VALUE &&
              DeviceIoControl(control, TLMSIM_IOCTL_GET_STATE, nullptr, 0, &state, sizeof state, &got, nullptr);
    if (control != INVALID_HANDLE_VALUE) CloseHandle(control);
    FILE* f = fopen(path, "w");
    if (!f) return;
    if (ok)
        fprintf(f, "%u\n", state.openBoard);
    else
        fprintf(f, "no answer\n");
    fclose(f);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    // At process exit (reserved set) this DLL, loaded last, detaches before the library does.
    if (reason == DLL_PROCESS_DETACH && reserved && InTheProgram()) WriteCloseReport();
    if (reason == DLL_PROCESS_ATTACH && InTheProgram()) {
        g_module = module;
        HMODULE program = GetModuleHandleA(nullptr);
        if (EnvNumber("TLMTEST_MANUAL_TIMERS", 0)) {
            RedirectImport(program, "user32.dll", "SetTimer", reinterpret_cast<void*>(ManualSetTimer));
            RedirectImport(program, "user32.dll", "KillTimer", reinterpret_cast<void*>(ManualKillTimer));
        }
        if (EnvNumber("TLMTEST_FAIL_FONT", 0))
            RedirectImport(program, "gdi32.dll", "CreateFontA", reinterpret_cast<void*>(FailingCreateFontA));
        char unused[4];
        if (GetEnvironmentVariableA("TLMTEST_SCREEN_DX", unused, sizeof unused) ||
            GetEnvironmentVariableA("TLMTEST_SCREEN_DY", unused, sizeof unused))
            RedirectImport(program, "user32.dll", "GetSystemMetrics", reinterpret_cast<void*>(ScreenAroundMainWindow));
    }
    return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK TestHook(int code, WPARAM wParam, LPARAM lParam) {
    static bool making = false;
    if (code == HCBT_CREATEWND && EnvNumber("TLMTEST_MANUAL_TIMERS", 0) && !g_timerWindow && !making) {
        // The window a test ticks through exists from the program's first window on.
        making = true;
        MakeTimerWindow();
        making = false;
    }
    if (code == HCBT_CREATEWND && !making) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (IsDialogClass(cs->lpszClass) && (cs->style & WS_POPUP) && (cs->style & WS_CAPTION) != WS_CAPTION &&
            ++g_pagesSeen == EnvNumber("TLMTEST_REFUSE_PAGE", 0))
            return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
