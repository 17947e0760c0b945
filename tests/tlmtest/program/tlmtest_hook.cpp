// A test DLL that a CBT hook on tlmtest6.exe's thread loads into the program (the test
// installs the hook before the program runs). It changes what the system gives the program,
// as set in the program's environment:
//   TLMTEST_REFUSE_PAGE=n   the n-th creation of a tab page (a popup dialog without caption,
//                           counted from 1) is refused
//   TLMTEST_FAIL_FONT=1     CreateFontA fails
//   TLMTEST_SCREEN_DX=dx    the screen is reported dx pixels wider and dy pixels higher than
//   TLMTEST_SCREEN_DY=dy    the program's main window
// The program's imports are redirected when the DLL arrives, before the main dialog's
// WM_INITDIALOG. In any other process the DLL changes nothing.
#include <windows.h>

#include <cstdlib>
#include <cstring>

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
    const char exe[] = "tlmtest6.exe";
    return n >= sizeof exe - 1 && lstrcmpiA(path + n - (sizeof exe - 1), exe) == 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH && InTheProgram()) {
        HMODULE program = GetModuleHandleA(nullptr);
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
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (IsDialogClass(cs->lpszClass) && (cs->style & WS_POPUP) && (cs->style & WS_CAPTION) != WS_CAPTION &&
            ++g_pagesSeen == EnvNumber("TLMTEST_REFUSE_PAGE", 0))
            return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
