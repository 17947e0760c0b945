#include "ui.h"

#include "process_start.h"

#include <commctrl.h>

#include <cstdio>

namespace ui {
namespace {

std::wstring ExeDirectory() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    size_t slash = p.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : p.substr(0, slash);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &result)) return L"";
    return text;
}

struct Collect {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    Collect* c = reinterpret_cast<Collect*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == c->pid) c->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    Collect c = {pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&c));
    return c.windows;
}

bool IsDialog(HWND window) { return ClassOf(window) == L"#32770"; }
bool HasCaption(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION; }

struct Buttons {
    std::vector<int> ids;
    bool icon = false;
};

BOOL CALLBACK CollectChildren(HWND child, LPARAM param) {
    Buttons* b = reinterpret_cast<Buttons*>(param);
    if (!IsWindowVisible(child)) return TRUE;
    std::wstring cls = ClassOf(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (_wcsicmp(cls.c_str(), L"Button") == 0) b->ids.push_back(GetDlgCtrlID(child));
    if (_wcsicmp(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0)
        b->icon = true;
    return TRUE;
}

MessageBoxSeen Inspect(HWND box) {
    MessageBoxSeen seen;
    seen.window = box;
    seen.owner = GetWindow(box, GW_OWNER);
    seen.caption = TextOf(box);
    HWND text = GetDlgItem(box, 0xFFFF);
    seen.text = text ? TextOf(text) : L"";
    Buttons b;
    EnumChildWindows(box, CollectChildren, reinterpret_cast<LPARAM>(&b));
    seen.buttons = b.ids;
    seen.icon = b.icon;
    return seen;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Describe(const MessageBoxSeen& box) {
    std::wstring s = L"caption \"" + box.caption + L"\", text \"" + box.text + L"\", buttons {";
    for (size_t i = 0; i < box.buttons.size(); ++i) s += (i ? L"," : L"") + std::to_wstring(box.buttons[i]);
    s += box.icon ? L"}, icon" : L"}, no icon";
    return s;
}

Program::Program(const std::wstring& exeName) : exeName_(exeName) {}

Program::~Program() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (hookModule_) FreeLibrary(hookModule_);
    if (process_.hProcess) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
}

bool Program::Start(std::string* error) {
    std::wstring dir = ExeDirectory();
    std::wstring path = dir + L"\\" + exeName_;
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    startTick_ = GetTickCount64();
    if (!StartProcessRetrying([&] {
            return CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                                  &process_);
        })) {
        if (error) *error = "cannot start " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
        process_ = {};
        return false;
    }
    return true;
}

bool Program::StartWithHook(const std::wstring& dllName, const char* procedure, std::string* error) {
    std::wstring dir = ExeDirectory();
    hookModule_ = LoadLibraryW((dir + L"\\" + dllName).c_str());
    HOOKPROC proc = hookModule_ ? (HOOKPROC)GetProcAddress(hookModule_, procedure) : nullptr;
    if (!proc) {
        if (error) *error = "no hook procedure " + std::string(procedure) + " in " + Narrow(dllName);
        return false;
    }
    std::wstring path = dir + L"\\" + exeName_;
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    startTick_ = GetTickCount64();
    if (!StartProcessRetrying([&] {
            return CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                  dir.c_str(), &si, &process_);
        })) {
        if (error) *error = "cannot start " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")";
        process_ = {};
        return false;
    }
    hook_ = SetWindowsHookExW(WH_CBT, proc, hookModule_, process_.dwThreadId);
    if (!hook_) {
        if (error) *error = "SetWindowsHookEx failed (error " + std::to_string(GetLastError()) + ")";
        TerminateProcess(process_.hProcess, 99);
        return false;
    }
    ResumeThread(process_.hThread);
    return true;
}

bool Program::Running() const { return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

std::string Program::State() const {
    DWORD code = 0;
    if (Running() || !process_.hProcess || !GetExitCodeProcess(process_.hProcess, &code)) return "running";
    char text[48];
    snprintf(text, sizeof text, "ended with exit code %#lx", (unsigned long)code);
    return text;
}

HWND Program::MainWindow() const {
    for (HWND w : TopLevelWindows(pid()))
        if (ClassOf(w) == L"MainDlg") return w;
    return nullptr;
}

std::vector<HWND> Program::MessageBoxWindows() const {
    std::vector<HWND> boxes;
    for (HWND w : TopLevelWindows(pid()))
        if (IsDialog(w) && HasCaption(w)) boxes.push_back(w);
    return boxes;
}

std::vector<MessageBoxSeen> Program::MessageBoxes() const {
    std::vector<MessageBoxSeen> boxes;
    for (HWND w : MessageBoxWindows())
        if (IsWindowVisible(w)) boxes.push_back(Inspect(w));
    return boxes;
}

HWND Program::VisiblePage() const {
    for (HWND w : TopLevelWindows(pid()))
        if (IsDialog(w) && !HasCaption(w) && IsWindowVisible(w)) return w;
    return nullptr;
}

int Program::PageIndex(HWND page) {
    if (!page) return -1;
    // The axis-name label of the first axis of each page.
    static const int kAxisName[4] = {2100, 6100, 2300, 6300};
    for (int i = 0; i < 4; ++i)
        if (GetDlgItem(page, kAxisName[i])) return i;
    return -1;
}

int Program::SelectedTab() const {
    HWND main = MainWindow();
    if (!main) return -1;
    return (int)SendMessageW(GetDlgItem(main, 1001), TCM_GETCURSEL, 0, 0);
}

std::vector<std::wstring> Program::TabTexts() const {
    std::vector<std::wstring> texts;
    HWND main = MainWindow();
    HWND tab = main ? GetDlgItem(main, 1001) : nullptr;
    if (!tab) return texts;
    // The item and its text buffer live in the program's memory, where the control writes.
    const int room = 256;
    SIZE_T size = sizeof(TCITEMW) + room * sizeof(wchar_t);
    BYTE* remote = (BYTE*)VirtualAllocEx(process_.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote) return texts;
    int count = (int)SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = (LPWSTR)(remote + sizeof(TCITEMW));
        item.cchTextMax = room;
        wchar_t text[room] = {};
        SIZE_T moved = 0;
        WriteProcessMemory(process_.hProcess, remote, &item, sizeof item, &moved);
        WriteProcessMemory(process_.hProcess, remote + sizeof(TCITEMW), text, sizeof text, &moved);
        if (SendMessageW(tab, TCM_GETITEMW, i, (LPARAM)remote) &&
            ReadProcessMemory(process_.hProcess, remote, &item, sizeof item, &moved) &&
            ReadProcessMemory(process_.hProcess, item.pszText, text, sizeof text, &moved)) {
            text[room - 1] = 0;
            texts.push_back(text);
        } else {
            texts.push_back(L"?");
        }
    }
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    return texts;
}

std::vector<std::wstring> Program::ComboTexts(HWND combo) const {
    // The system carries the text of a list entry across processes itself.
    std::vector<std::wstring> texts;
    int count = (int)SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        if ((int)SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 256 &&
            SendMessageW(combo, CB_GETLBTEXT, i, (LPARAM)text) >= 0)
            texts.push_back(text);
        else
            texts.push_back(L"?");
    }
    return texts;
}

void Program::ChooseComboEntry(HWND combo, int index) {
    SendMessageW(combo, CB_SETCURSEL, index, 0);
    SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE), (LPARAM)combo);
}

std::wstring Program::ControlText(HWND control) { return TextOf(control); }

HWND Program::FocusWindow() const {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(process_.dwThreadId, &info)) return nullptr;
    return info.hwndFocus;
}

bool Program::WaitForMessageBox(DWORD timeoutMs, MessageBoxSeen* box) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        std::vector<MessageBoxSeen> boxes = MessageBoxes();
        // A box is shown once its creation is over, with its text and buttons in place.
        if (!boxes.empty() && !boxes.front().buttons.empty()) {
            *box = boxes.front();
            return true;
        }
        if (!Running()) return false;
        Sleep(5);
    } while (GetTickCount64() < end);
    return false;
}

bool Program::WaitForPage(int index, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    do {
        if (PageIndex(VisiblePage()) == index && MessageBoxes().empty()) return true;
        if (!Running()) return false;
        Sleep(5);
    } while (GetTickCount64() < end);
    return false;
}

void Program::Press(HWND box, int buttonId) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), (LPARAM)GetDlgItem(box, buttonId));
}

bool Program::ClickTab(int index, std::string* error) {
    HWND main = MainWindow();
    HWND tab = main ? GetDlgItem(main, 1001) : nullptr;
    if (!tab) {
        if (error) *error = "no tab control";
        return false;
    }
    // The item rectangle is written by the tab control into memory of its own process.
    void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
    if (!remote) {
        if (error) *error = "VirtualAllocEx failed";
        return false;
    }
    RECT item = {};
    SIZE_T read = 0;
    bool ok = SendMessageW(tab, TCM_GETITEMRECT, index, (LPARAM)remote) &&
              ReadProcessMemory(process_.hProcess, remote, &item, sizeof item, &read) && read == sizeof item;
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    if (!ok) {
        if (error) *error = "no rectangle for tab " + std::to_string(index);
        return false;
    }
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    PostMessageW(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(tab, WM_LBUTTONUP, 0, at);
    return true;
}

void Program::Close() {
    HWND main = MainWindow();
    if (main) PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Program::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
}

}  // namespace ui
