// Finds the main window of a running test program ("MainDlg") from outside.
//
//   tlmwindow wait [seconds]   waits until the main window and a page are shown; prints the
//                              main window's rectangle as "x y width height"
//   tlmwindow close [seconds]  asks the main window to close (as its close box does) and
//                              waits until it is gone
//   tlmwindow click ID         presses the button with control id ID on the page shown
// Exit code 0 on success, 1 on timeout, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Search {
    DWORD pid;
    HWND page;
};

BOOL CALLBACK FindPage(HWND window, LPARAM param) {
    Search* s = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    char name[16] = {};
    GetWindowThreadProcessId(window, &pid);
    GetClassNameA(window, name, sizeof name);
    if (pid == s->pid && strcmp(name, "#32770") == 0 && IsWindowVisible(window) &&
        (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION) {
        s->page = window;
        return FALSE;
    }
    return TRUE;
}

bool PageShown(HWND main) {
    Search s = {0, nullptr};
    GetWindowThreadProcessId(main, &s.pid);
    EnumWindows(FindPage, reinterpret_cast<LPARAM>(&s));
    return s.page != nullptr;
}

// Presses a button of the page shown, as a click on it would.
int Click(int id) {
    HWND main = FindWindowA("MainDlg", nullptr);
    Search s = {0, nullptr};
    if (main) GetWindowThreadProcessId(main, &s.pid);
    if (main) EnumWindows(FindPage, reinterpret_cast<LPARAM>(&s));
    HWND button = s.page ? GetDlgItem(s.page, id) : nullptr;
    if (!button) {
        std::fprintf(stderr, "tlmwindow: no control %d on the page shown\n", id);
        return 1;
    }
    SendMessageA(button, BM_CLICK, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "click") == 0) return Click(std::atoi(argv[2]));
    if (argc < 2 || (strcmp(argv[1], "wait") != 0 && strcmp(argv[1], "close") != 0)) {
        std::fprintf(stderr, "usage: tlmwindow wait|close [seconds], tlmwindow click ID\n");
        return 2;
    }
    bool close = strcmp(argv[1], "close") == 0;
    ULONGLONG end = GetTickCount64() + 1000ULL * (argc > 2 ? std::atoi(argv[2]) : 30);
    do {
        HWND main = FindWindowA("MainDlg", nullptr);
        if (!close && main && IsWindowVisible(main) && PageShown(main)) {
            RECT r;
            GetWindowRect(main, &r);
            std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
            return 0;
        }
        if (close) {
            if (!main) return 0;
            PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
            for (int i = 0; i < 100 && IsWindow(main); ++i) Sleep(50);
            if (!IsWindow(main)) return 0;
        }
        Sleep(50);
    } while (GetTickCount64() < end);
    std::fprintf(stderr, "tlmwindow: %s\n", close ? "the main window did not close" : "no main window with a page");
    return 1;
}
