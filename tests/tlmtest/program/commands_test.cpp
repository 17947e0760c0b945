// The controller command layer of tlmtest6, called as the pages call it, through the real
// tellamio.dll on tlmsim.sys: the requests each operation sends, and the error box that ends
// the program after a failed request. The program's sources and string table are linked in;
// message boxes are read and answered by a hook on this thread.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "simctl.h"
#include "tlmtest.h"
#include "ui.h"

using simctl::Call;

namespace {

struct SeenBox {
    std::string caption;
    std::string text;
};
std::vector<SeenBox> g_boxes;
HHOOK g_hook;

std::string Utf8(const wchar_t* text) { return ui::Narrow(text); }

// Answers every message box of this thread with OK, after noting its caption and text.
LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        wchar_t cls[32] = {};
        GetClassNameW(box, cls, 32);
        if (wcscmp(cls, L"#32770") == 0) {
            wchar_t caption[256] = {}, text[512] = {};
            GetWindowTextW(box, caption, 256);
            GetDlgItemTextW(box, 0xFFFF, text, 512);
            g_boxes.push_back({Utf8(caption), Utf8(text)});
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

// True when a quit message waits in this thread's queue (and takes it out).
bool QuitPosted() {
    MSG msg;
    bool quit = false;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) quit = true;
    return quit;
}

std::vector<std::string> Strings(const std::vector<Call>& calls) {
    std::vector<std::string> s;
    for (const Call& c : calls) s.push_back(c.ToString());
    return s;
}

std::string Cmd(uint32_t axis, uint32_t code) { return Call{Call::Command, axis, code, 0, false}.ToString(); }
std::string CmdData(uint32_t axis, uint32_t code, uint32_t data) {
    return Call{Call::Command, axis, code, data, true}.ToString();
}
std::string Mode(uint32_t axis, uint32_t mode) { return Call{Call::OperationMode, axis, mode, 0, false}.ToString(); }
std::string ReadReg(uint32_t axis, uint32_t code, uint32_t value) {
    return Call{Call::RegisterRead, axis, code, value, false}.ToString();
}
std::string ByteRead(uint32_t port, uint32_t value) { return Call{Call::ByteRead, 0, port, value, false}.ToString(); }
std::string ByteWrite(uint32_t port, uint32_t value) { return Call{Call::ByteWrite, 0, port, value, false}.ToString(); }

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(simctl::Reset(&error)) << error;
        g_instance = GetModuleHandleW(nullptr);
        g_shuttingDown = 0;
        g_boardHandle = TLMIO_INVALID_HANDLE;
        g_openMode = OPEN_BY_DEVICE_NUMBER;
        g_selectedIndex = 0;
        g_idOpenDisabled = 0;
        g_boxes.clear();
        g_hook = SetWindowsHookExW(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
        ASSERT_NE(g_hook, nullptr);
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_TRUE(EnumerateBoards(window_));
        CheckBoardIds(window_);
        ASSERT_EQ(OpenSelectedBoard(window_), 1) << "boxes: " << g_boxes.size();
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        QuitPosted();
    }

    void TearDown() override {
        g_shuttingDown = 1;  // no error box may end a later test
        simctl::ClearFaults(nullptr);
        if (g_boardHandle != TLMIO_INVALID_HANDLE && !CloseBoard(window_)) tlmio_CloseDevice(g_boardHandle);
        g_boardHandle = TLMIO_INVALID_HANDLE;
        for (int axis = 0; axis < AXIS_COUNT; ++axis) KillTimer(window_, IDT_CYCLE + axis);
        DestroyWindow(window_);
        UnhookWindowsHookEx(g_hook);
    }

    std::vector<std::string> Sent() {
        std::vector<TlmSimTraceEntry> entries;
        std::string error;
        EXPECT_TRUE(simctl::ReadTrace(&entries, &error)) << error;
        return Strings(simctl::Calls(entries, entries.empty() ? 0 : entries.front().file));
    }

    void ResetTrace() {
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    }

    HWND window_ = nullptr;
};

// ---- Starts and stops ----

struct StartCase {
    const char* name;
    WORD (*operation)(HWND, WORD);
    BYTE startCommand;  // g_startCommand of the axis
    WORD axis;
    std::vector<std::string> expected;
};

TEST_F(Commands, StartsWriteTheOperationModeThenTheStartCommand) {
    const StartCase cases[] = {
        {"+ preset, constant speed", StartPlusPresetFeed, 0x10, 1, {Mode(1, 0x28), Cmd(1, 0x10)}},
        {"- preset, constant speed", StartMinusPresetFeed, 0x10, 0, {Mode(0, 0x38), Cmd(0, 0x10)}},
        {"+ continuous, high speed", StartPlusContinuousFeed, 0x13, 5, {Mode(5, 0x20), Cmd(5, 0x13)}},
        {"- continuous, high speed", StartMinusContinuousFeed, 0x13, 3, {Mode(3, 0x30), Cmd(3, 0x13)}},
        {"origin OLS, high speed",
         StartOriginReturnOls,
         0x13,
         2,
         {CmdData(2, 0xC7, 0xF0C40), Mode(2, 0x12), Cmd(2, 0x10)}},
        {"origin OLS+Z, constant speed",
         StartOriginReturnOlsZ,
         0x10,
         4,
         {CmdData(4, 0xC7, 0xF0C60), Mode(4, 0x12), Cmd(4, 0x13)}},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(ResetTrace());
        g_startCommand[c.axis] = c.startCommand;
        EXPECT_EQ(c.operation(window_, c.axis), 1);
        EXPECT_EQ(Sent(), c.expected);
        StopAxis(window_, c.axis);  // leave the axis standing
        EXPECT_TRUE(g_boxes.empty());
    }
}

TEST_F(Commands, StopChoosesByTheStartCommandAtTheTimeOfTheStop) {
    struct Case {
        const char* name;
        BYTE startedWith;  // g_startCommand when started (0: not started)
        WORD (*start)(HWND, WORD);
        BYTE stopWith;  // g_startCommand when stopped
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"standing, constant speed", 0, nullptr, 0x10, {Cmd(0, 0x09)}},
        {"standing, high speed: the library checks the speed first",
         0,
         nullptr,
         0x13,
         {ReadReg(0, 0x81, 500), ReadReg(0, 0x8C, 0), Cmd(0, 0x0A)}},
        {"OLS+Z origin return, axis in constant speed", 0x10, StartOriginReturnOlsZ, 0x10, {Cmd(0, 0x09)}},
        {"high-speed feed, switched to constant speed before the stop",
         0x13,
         StartPlusContinuousFeed,
         0x10,
         {Cmd(0, 0x09)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.start) {
            g_startCommand[0] = c.startedWith;
            ASSERT_EQ(c.start(window_, 0), 1);
        }
        ASSERT_NO_FATAL_FAILURE(ResetTrace());
        g_startCommand[0] = c.stopWith;
        StopAxis(window_, 0);
        EXPECT_EQ(Sent(), c.expected);
        StopAxis(window_, 0);
    }
}

TEST_F(Commands, CycleRunStartsAPlusFeedMarksTheCycleAndStartsItsTimer) {
    ASSERT_EQ(StartCycleRun(window_, 2), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{ByteRead(0x22, 0), Mode(2, 0x28), Cmd(2, 0x10), Cmd(2, 0x66)}));
    // The cycle timer of axis Z fires on the window within a few periods of 100 ms.
    MSG msg;
    bool fired = false;
    ULONGLONG end = GetTickCount64() + 2000;
    while (!fired && GetTickCount64() < end) {
        if (PeekMessageW(&msg, window_, WM_TIMER, WM_TIMER, PM_REMOVE))
            fired = msg.wParam == (WPARAM)(IDT_CYCLE + 2);
        else
            Sleep(10);
    }
    EXPECT_TRUE(fired) << "no WM_TIMER " << IDT_CYCLE + 2;
    EXPECT_EQ(IDT_CYCLE + 2, 11011);
    StopAxis(window_, 2);
}

// ---- Servo outputs, position, contacts, pulse output ----

TEST_F(Commands, ServoTogglesDecideByStatus2) {
    struct Case {
        const char* name;
        void (*toggle)(HWND, WORD);
        std::vector<std::string> expected;
    };
    // The servo outputs start off (InitAxis wrote 0x48 and 0x49): the first toggle switches
    // on, the second off again.
    const Case cases[] = {
        {"servo on: on", ToggleServoOn, {ByteRead(0x01 + 0x10, 0x00), Cmd(1, 0x58)}},
        {"servo on: off", ToggleServoOn, {ByteRead(0x11, 0x20), Cmd(1, 0x48)}},
        {"servo reset: on", ToggleServoReset, {ByteRead(0x11, 0x00), Cmd(1, 0x59)}},
        {"servo reset: off", ToggleServoReset, {ByteRead(0x11, 0x40), Cmd(1, 0x49)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(ResetTrace());
        c.toggle(window_, 1);
        std::vector<std::string> sent = Sent();
        // INPOS (status 2 bit 0x08) follows servo-on on the simulated amplifier; the program
        // looks only at bits 0x20 and 0x40.
        ASSERT_EQ(sent.size(), 2u);
        EXPECT_EQ(sent[1], c.expected[1]);
        EXPECT_EQ(sent[0].substr(0, 18), c.expected[0].substr(0, 18));
    }
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(Commands, ClearPositionWritesRegister9) {
    EXPECT_EQ(ClearPosition(window_, 3), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{CmdData(3, 0xC9, 0)}));
}

TEST_F(Commands, SignalConfigurationTogglesWriteAndReadBackRegister6) {
    struct Case {
        const char* name;
        DWORD before;
        WORD (*toggle)(HWND, WORD);
        DWORD after;
    };
    const Case cases[] = {
        {"command form 4 -> 0", 0x13000004, TogglePulseCommandMode, 0x13000000},
        {"command form 0 -> 4", 0x13000000, TogglePulseCommandMode, 0x13000004},
        {"command form 7 -> 2", 0x13000007, TogglePulseCommandMode, 0x13000002},
        {"command form 2 -> 7", 0x13000002, TogglePulseCommandMode, 0x13000007},
        {"logic 4 -> 7", 0x13000004, TogglePulseLogic, 0x13000007},
        {"logic 7 -> 4", 0x13000007, TogglePulseLogic, 0x13000004},
        {"logic 0 -> 2", 0x13000000, TogglePulseLogic, 0x13000002},
        {"logic 2 -> 0", 0x13000002, TogglePulseLogic, 0x13000000},
        {"default keeps contacts 3-6", 0x13000078 | 2, SetDefaultPulseOutput, 0x13000078 | 4},
        {"DLS contact", 0x13000004, ToggleDlsContact, 0x13000014},
        {"OLS contact", 0x13000014, ToggleOlsContact, 0x13000034},
        {"INPOS contact", 0x13000034, ToggleInposContact, 0x1300003C},
        {"SVALM contact", 0x1300003C, ToggleSvalmContact, 0x1300007C},
        {"DLS contact back", 0x13000014, ToggleDlsContact, 0x13000004},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Put the register where the case starts.
        g_signalConfig[4] = c.before;
        ASSERT_TRUE(WriteAxisRegister(4, 6, c.before));
        ASSERT_NO_FATAL_FAILURE(ResetTrace());
        EXPECT_EQ(c.toggle(window_, 4), 1);
        EXPECT_EQ(g_signalConfig[4], c.after);
        EXPECT_EQ(Sent(), (std::vector<std::string>{CmdData(4, 0xC6, c.after), ReadReg(4, 0x86, c.after)}));
    }
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(Commands, ElsContactFlipsTheAxisBitAndVerifiesIt) {
    struct Case {
        WORD axis;
        BYTE after;
    };
    const Case cases[] = {{0, 0x01}, {5, 0x21}, {0, 0x20}, {5, 0x00}};
    for (const Case& c : cases) {
        SCOPED_TRACE("axis " + std::to_string(c.axis));
        ASSERT_NO_FATAL_FAILURE(ResetTrace());
        EXPECT_EQ(ToggleElsContact(window_, c.axis), 1);
        EXPECT_EQ(g_elsPolarity, c.after);
        EXPECT_EQ(Sent(), (std::vector<std::string>{ByteWrite(0x80, c.after), ByteRead(0x80, c.after)}));
    }
}

// Read-backs that differ from what was written.
TEST_F(Commands, ReadBacksAreComparedOnlyWhereTheyMatter) {
    struct Case {
        const char* name;
        std::function<WORD(HWND)> operation;
        uint32_t code;  // the read answered with `value`
        uint32_t value;
        WORD result;
        const char* box;  // nullptr: none
    };
    const Case cases[] = {
        {"register 6 low word differs", [](HWND w) { return ToggleInposContact(w, 1); }, READ_WORD, 0x0004, 0,
         "レジスタ読込Error："},
        {"ELS bits of axes the board lacks", [](HWND w) { return ToggleElsContact(w, 0); }, READ_BYTE, 0xC1, 1,
         nullptr},
        {"ELS bit of another present axis", [](HWND w) { return ToggleElsContact(w, 0); }, READ_BYTE, 0x03, 0,
         "ELS極性ポート書込/読込Error："},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(TearDown());
        std::string error;
        ASSERT_TRUE(simctl::Reset(&error)) << error;
        // A six-axis board lacks axes 6 and 7 of the ELS polarity byte.
        ASSERT_NO_FATAL_FAILURE(SetUp());
        TlmSimFault fault = {TLMSIM_FAULT_REPLY, 0, c.code, 0, c.value};
        ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
        EXPECT_EQ(c.operation(window_), c.result);
        if (c.box) {
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].caption, ui::kErrorCaption);
            EXPECT_EQ(g_boxes[0].text.substr(0, strlen(c.box)), c.box);
            EXPECT_TRUE(QuitPosted());
        } else {
            EXPECT_TRUE(g_boxes.empty());
            EXPECT_FALSE(QuitPosted());
        }
    }
}

// ---- The error box ----

struct ErrorCase {
    const char* name;
    std::function<void(HWND)> operation;
    uint32_t code;  // the request that fails (every one with this code)
    const char* text;
};

TEST_F(Commands, AFailedRequestIsReportedOnceAndEndsTheProgram) {
    const ErrorCase cases[] = {
        {"start, mode byte", [](HWND w) { StartPlusPresetFeed(w, 0); }, WRITE_BYTE,
         "動作モードバッファ書込Error：(0x45d)"},
        {"origin return, register 7", [](HWND w) { StartOriginReturnOls(w, 0); }, WRITE_WORD,
         "レジスタ書込Error：(0x45d)"},
        {"servo, status 2", [](HWND w) { ToggleServoOn(w, 0); }, READ_BYTE, "ステータス２読込Error：(0x45d)"},
        {"contact, register 6 read", [](HWND w) { ToggleDlsContact(w, 0); }, READ_WORD, "レジスタ読込Error：(0x45d)"},
        {"ELS polarity", [](HWND w) { ToggleElsContact(w, 0); }, WRITE_BYTE, "ELS極性ポート書込/読込Error：(0x45d)"},
        {"stop", [](HWND w) { StopAxis(w, 0); }, WRITE_BYTE, "コマンドバッファ書込Error：(0x45d)"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(TearDown());
        ASSERT_NO_FATAL_FAILURE(SetUp());
        std::string error;
        TlmSimFault fault = {TLMSIM_FAULT_FAIL, 0, c.code, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0};
        ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
        c.operation(window_);
        // One box; the close that follows fails too (same fault), which shows its own box but
        // closes nothing more.
        ASSERT_GE(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0].caption, ui::kErrorCaption);
        EXPECT_EQ(g_boxes[0].text, c.text);
        EXPECT_EQ(g_shuttingDown, 1);
        EXPECT_TRUE(QuitPosted()) << "no quit message with exit code 0";
    }
}

TEST_F(Commands, TheErrorBoxClosesTheBoardAndPostsTheQuitMessage) {
    std::string error;
    TlmSimFault fault = {TLMSIM_FAULT_FAIL, 0, READ_WORD, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0};
    ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
    EXPECT_EQ(ToggleOlsContact(window_, 0), 0);
    ASSERT_EQ(g_boxes.size(), 1u) << "the close after the box reads words only through the stop check";
    EXPECT_EQ(g_boxes[0].text, "レジスタ読込Error：(0x45d)");
    EXPECT_EQ(g_boardHandle, TLMIO_INVALID_HANDLE) << "the board is closed";
    MSG msg;
    bool quit = false;
    WPARAM exitCode = 99;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) quit = true, exitCode = msg.wParam;
    EXPECT_TRUE(quit);
    EXPECT_EQ(exitCode, 0u);

    // A second failure while ending shows its box and does nothing else.
    g_boxes.clear();
    ASSERT_NO_FATAL_FAILURE(ResetTrace());
    EXPECT_EQ(ToggleOlsContact(window_, 0), 0);
    EXPECT_EQ(g_boxes.size(), 1u);
    EXPECT_FALSE(QuitPosted());
}

}  // namespace
