// Drives tlmtest6.exe as a user would: starts it, looks at its windows from outside (main
// window, tab control, the page shown, message boxes), answers message boxes, clicks tabs,
// moves and closes the main window, and waits for the program to end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ui {

// The caption of the test program's error box, in the program's own spelling.
constexpr char kErrorCaption[] = "ErrorMessgae";

// A message box as the user sees it.
struct MessageBoxSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // ids of the visible buttons, in z order
    bool icon = false;         // an icon is shown
};

class Program {
public:
    explicit Program(const std::wstring& exeName = L"tlmtest6.exe");
    ~Program();  // ends a program still running

    bool Start(std::string* error);
    // Starts the program with a CBT hook procedure of a DLL on its thread, installed before
    // the program runs (the system loads the DLL into the program).
    bool StartWithHook(const std::wstring& dllName, const char* procedure, std::string* error);
    DWORD pid() const { return process_.dwProcessId; }
    ULONGLONG startTick() const { return startTick_; }  // GetTickCount64 at CreateProcess

    // The main window ("MainDlg") of the program, once it exists.
    HWND MainWindow() const;
    // The top-level page window shown (a visible popup dialog without caption), or null.
    HWND VisiblePage() const;
    // Which page a page window is: 0..3 by its axis-name control, -1 if unknown.
    static int PageIndex(HWND page);
    // The tab control's selection, -1 without a main window.
    int SelectedTab() const;
    // The labels of the tabs, read from the tab control.
    std::vector<std::wstring> TabTexts() const;
    // The window that has the keyboard focus in the program, or null.
    HWND FocusWindow() const;
    // The entries of a combo box of the program.
    std::vector<std::wstring> ComboTexts(HWND combo) const;
    // Chooses entry `index` of a combo box as the user would (selection, then the
    // selection-change notification to its dialog). Returns when the dialog has handled it.
    static void ChooseComboEntry(HWND combo, int index);
    // The text of a control (any process).
    static std::wstring ControlText(HWND control);

    // Waits until the program shows a message box; false on timeout or exit.
    bool WaitForMessageBox(DWORD timeoutMs, MessageBoxSeen* box);
    // Waits until page `index` is shown (and no message box); false on timeout.
    bool WaitForPage(int index, DWORD timeoutMs);
    // Presses a button of a message box.
    static void Press(HWND box, int buttonId);
    // Clicks tab `index` with the mouse (posted button-down and button-up on the tab item).
    bool ClickTab(int index, std::string* error);
    // Asks the main window to close, as its close box would.
    void Close();
    // Waits for the end of the program; false on timeout. *exitCode gets its exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode);
    bool Running() const;
    // What a test that lost the program reports: "running", or how it ended.
    std::string State() const;
    // Message boxes of the program now on screen.
    std::vector<MessageBoxSeen> MessageBoxes() const;
    // The windows of the program's message boxes, shown or still being made.
    std::vector<HWND> MessageBoxWindows() const;

private:
    std::wstring exeName_;
    PROCESS_INFORMATION process_ = {};
    ULONGLONG startTick_ = 0;
    HHOOK hook_ = nullptr;
    HMODULE hookModule_ = nullptr;
};

std::wstring Describe(const MessageBoxSeen& box);
// UTF-16 to UTF-8, for failure messages.
std::string Narrow(const std::wstring& text);

}  // namespace ui
