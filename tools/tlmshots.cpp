// tlmshots.exe: steers a running test program for tools/screenshots, one step per call.
//
//   tlmshots wait [seconds]     waits for the main window with a page; prints "x y w h"
//   tlmshots tab INDEX          clicks a tab, waits until its page is shown; prints "x y w h"
//   tlmshots click ID           clicks button ID of the page shown
//   tlmshots box [seconds]      waits for a message box; prints its "x y w h"
//   tlmshots press ID           presses button ID of the message box (1 OK, 2 Cancel)
//   tlmshots close [seconds]    closes the main window and waits until it is gone
// Exit code 0 on success, 1 on failure or timeout, 2 on a usage error.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int kTabControl = 1001;

bool IsClass(HWND window, const char* name) {
    char found[32] = {};
    GetClassNameA(window, found, sizeof found);
    return strcmp(found, name) == 0;
}

bool HasCaption(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION; }

struct Search {
    bool wantCaption;  // a message box (with caption) or a page (without)
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    Search* s = reinterpret_cast<Search*>(param);
    if (IsClass(window, "#32770") && IsWindowVisible(window) && HasCaption(window) == s->wantCaption) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level dialog: a message box, or a page of the test program.
HWND FindTopDialog(bool messageBox) {
    Search s = {messageBox, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND MainWindow() {
    HWND main = FindWindowA("MainDlg", nullptr);
    return main && IsWindowVisible(main) ? main : nullptr;
}

int PrintRect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}

// Polls `ready` every 50 ms until it gives a window or `seconds` have passed.
template <typename F> HWND WaitFor(F ready, int seconds) {
    ULONGLONG end = GetTickCount64() + 1000ULL * seconds;
    do {
        if (HWND w = ready()) return w;
        Sleep(50);
    } while (GetTickCount64() < end);
    return nullptr;
}

int Fail(const char* what) {
    std::fprintf(stderr, "tlmshots: %s\n", what);
    return 1;
}

// Clicks a tab as the mouse would; the tab control writes the item rectangle into memory of
// its own process.
int ClickTab(int index) {
    HWND main = MainWindow();
    HWND tab = main ? GetDlgItem(main, kTabControl) : nullptr;
    if (!tab) return Fail("no tab control");
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    void* remote = process ? VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE) : nullptr;
    RECT item = {};
    SIZE_T read = 0;
    bool ok = remote && SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)remote) &&
              ReadProcessMemory(process, remote, &item, sizeof item, &read) && read == sizeof item;
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (process) CloseHandle(process);
    if (!ok) return Fail("no rectangle for the tab");

    HWND before = FindTopDialog(false);
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    PostMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(tab, WM_LBUTTONUP, 0, at);
    HWND page = WaitFor(
        [&]() -> HWND {
            HWND p = FindTopDialog(false);
            return SendMessageA(tab, TCM_GETCURSEL, 0, 0) == index && p != before ? p : nullptr;
        },
        20);
    if (!page) return Fail("the page did not change");
    Sleep(800);  // the page's first timer ticks fill its displays
    return PrintRect(main);
}

int ClickButton(int id) {
    HWND page = FindTopDialog(false);
    HWND button = page ? GetDlgItem(page, id) : nullptr;
    if (!button) return Fail("no such button on the page shown");
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
    return 0;
}

int Press(int id) {
    HWND box = FindTopDialog(true);
    if (!box) return Fail("no message box");
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(box, id));
    return 0;
}

int Close(int seconds) {
    HWND main = FindWindowA("MainDlg", nullptr);
    if (!main) return 0;
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    bool gone = WaitFor([&]() -> HWND { return IsWindow(main) ? nullptr : GetDesktopWindow(); }, seconds);
    return gone ? 0 : Fail("the main window did not close");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const char* command = argv[1];
    int number = argc > 2 ? std::atoi(argv[2]) : -1;
    int seconds = number > 0 ? number : 30;
    if (strcmp(command, "wait") == 0) {
        HWND main =
            WaitFor([]() -> HWND { return MainWindow() && FindTopDialog(false) ? MainWindow() : nullptr; }, seconds);
        if (!main) return Fail("no main window with a page");
        Sleep(800);
        return PrintRect(main);
    }
    if (strcmp(command, "tab") == 0 && number >= 0) return ClickTab(number);
    if (strcmp(command, "click") == 0 && number > 0) return ClickButton(number);
    if (strcmp(command, "box") == 0) {
        HWND box = WaitFor([]() { return FindTopDialog(true); }, seconds);
        if (!box) return Fail("no message box");
        Sleep(500);
        return PrintRect(box);
    }
    if (strcmp(command, "press") == 0 && number > 0) return Press(number);
    if (strcmp(command, "close") == 0) return Close(seconds);
    std::fprintf(stderr, "usage: tlmshots wait|tab|click|box|press|close ...\n");
    return 2;
}
