// A window hook for tests: loaded into tlmtest6.exe by a CBT hook on its thread, it refuses
// the creation of one tab page (a popup dialog without caption), so the program meets a page
// it cannot create. TLMTEST_REFUSE_PAGE=n in the program's environment names the n-th page
// creation (from 1) to refuse.
#include <windows.h>

#include <cstdlib>

namespace {

int g_pagesSeen = 0;

bool IsDialogClass(LPCWSTR cls) {
    if (IS_INTRESOURCE(cls)) return LOWORD((ULONG_PTR)cls) == 0x8002;
    return lstrcmpW(cls, L"#32770") == 0;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK RefusePageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* cs = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (IsDialogClass(cs->lpszClass) && (cs->style & WS_POPUP) && (cs->style & WS_CAPTION) != WS_CAPTION) {
            ++g_pagesSeen;
            char value[16] = {};
            if (GetEnvironmentVariableA("TLMTEST_REFUSE_PAGE", value, sizeof value) && std::atoi(value) == g_pagesSeen)
                return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
