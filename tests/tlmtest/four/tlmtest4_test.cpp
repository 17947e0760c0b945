// tlmtest4.exe, the four-axis build of the test program, driven as a user would on tlmsim.sys:
// its start-up (title, two tabs, the axes it looks for), the counter-source button of each
// axis ("指令"/"ENC": register 6 bit 27 and a cleared position counter), the page switch
// between its one operation page and its one settings page, and a six-axis board driven
// through its first four axes only.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "page_test.h"

using pagetest::Cmd;
using pagetest::CmdData;
using pagetest::Id;
using pagetest::Join;
using pagetest::Joined;
using pagetest::kMs;
using pagetest::kTimeout;
using pagetest::Mode;
using simctl::AxisMover;
using simctl::Call;

namespace {

// ui::Program::PageIndex tells pages by the template of the six-axis program: the four-axis
// settings page (tab 1) carries the axis-X settings controls and so reads as index 2.
constexpr int kOperationPage = 0;
constexpr int kSettingsPage = 2;

constexpr uint32_t kSignalDefault = 0x13000004;
constexpr uint32_t kEncoder = 0x08000000;

const char kCannotSwitch[] = "動作中のため、設定画面に変えられません。";

// The calls of the program that address an axis of the board (board-wide bytes excluded).
bool AddressesAxis(const Call& c) {
    switch (c.kind) {
        case Call::Command:
        case Call::OperationMode:
        case Call::ControlMode:
        case Call::RegisterRead: return true;
        case Call::ByteRead:
        case Call::ByteWrite: return c.code < 0x80;
        default: return false;
    }
}

class Tlmtest4 : public pagetest::PageTest {
protected:
    Tlmtest4() : PageTest(L"tlmtest4.exe") {}

    // A fresh driver with one board of `axes` axes, the program started on it and its
    // operation page shown. `frozen`: the simulated clock stands until the test moves it.
    void StartOn(uint8_t axes, bool frozen) { PageTest::StartOn(axes, frozen, kOperationPage); }

    void CloseAndExit() { pagetest::CloseAndExit(&program_); }

    // Expects one plain message box with `text` owned by `owner`, and answers it.
    void ExpectNotice(const std::string& text, HWND owner) {
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program_.WaitForMessageBox(kTimeout, &box)) << "no message box";
        EXPECT_EQ(ui::Narrow(box.text), text);
        EXPECT_EQ(ui::Narrow(box.caption), "");
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << ui::Narrow(ui::Describe(box));
        EXPECT_EQ(box.owner, owner);
        ui::Program::Press(box.window, IDOK);
    }

    // What the program asked of an axis' registers and commands (status and lamp reads and
    // the position and speed polls left out).
    std::vector<std::string> Requests(int axis) {
        std::vector<std::string> out;
        for (const Call& c : Calls()) {
            if ((int)c.axis != axis) continue;
            if (c.kind == Call::Command || c.kind == Call::OperationMode ||
                (c.kind == Call::RegisterRead && c.code == 0x86))
                out.push_back(c.ToString());
        }
        return out;
    }

    // Register 9 reads of the axis over `ms` milliseconds.
    int PositionReads(int axis, DWORD ms) {
        ResetTrace();
        Sleep(ms);
        int n = 0;
        for (const Call& c : Calls()) n += c.kind == Call::RegisterRead && c.code == 0x89 && (int)c.axis == axis;
        return n;
    }

    static std::string ReadBack(int axis, unsigned value) {
        char t[64];
        std::snprintf(t, sizeof t, "axis %d read 0x86 -> 0x%X", axis, value);
        return t;
    }
};

// ---- Start-up ----

TEST_F(Tlmtest4, StartsWithItsTitleTwoTabsAndACounterSourceButtonPerAxis) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, false));
    HWND main = program_.MainWindow();
    wchar_t title[128] = {};
    GetWindowTextW(main, title, 128);
    EXPECT_EQ(ui::Narrow(title), "[KVN] Tellam-4X 動かしてみる");
    std::vector<std::string> tabs;
    for (const std::wstring& text : program_.TabTexts()) tabs.push_back(ui::Narrow(text));
    EXPECT_EQ(tabs, (std::vector<std::string>{"動作確認", "　設定　"}));
    EXPECT_EQ(program_.SelectedTab(), 0);

    // Each axis: "指令" (register 6 as opened, bit 27 clear), usable like the other buttons.
    for (int axis = 0; axis < 4; ++axis) {
        SCOPED_TRACE("axis " + std::to_string(axis));
        EXPECT_EQ(Text(Id(axis, 17)), "指令");
        EXPECT_TRUE(Enabled(Id(axis, 17)));
        EXPECT_EQ(Text(Id(axis, 19)), "1500") << "preset amount";
    }
    EXPECT_NE(Text(1104), "") << "board information on the operation page";

    ASSERT_NO_FATAL_FAILURE(CloseAndExit());
    // The axis search stops at the fourth axis: no axis 4 is tried on a four-axis board.
    std::vector<uint32_t> initialised, closed;
    std::vector<Call> calls = Calls();
    for (const Call& c : calls) {
        if (c.kind == Call::Command && c.code == 0x60) initialised.push_back(c.axis);
        if (c.kind == Call::Command && c.code == 0x49) closed.push_back(c.axis);
    }
    EXPECT_EQ(initialised, (std::vector<uint32_t>{0, 1, 2, 3})) << Join(calls);
    // 0x49 is sent once at the initialisation and once at the close of each axis.
    EXPECT_EQ(closed, (std::vector<uint32_t>{0, 1, 2, 3, 0, 1, 2, 3})) << Join(calls);
}

// A six-axis board opened by the four-axis program: driven through axes X..U, V and W never
// addressed, not at open, not by the polls, not at the close.
TEST_F(Tlmtest4, DrivesASixAxisBoardThroughItsFirstFourAxes) {
    ASSERT_NO_FATAL_FAILURE(StartOn(6, false));
    std::string error;
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
    ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "boxes: " << Boxes();
    Sleep(300);  // lamp polls
    ASSERT_NO_FATAL_FAILURE(CloseAndExit());

    std::vector<Call> calls = Calls();
    std::vector<int> perAxis(8, 0);
    for (const Call& c : calls)
        if (AddressesAxis(c)) ++perAxis[c.axis < 8 ? c.axis : 7];
    for (int axis = 0; axis < 4; ++axis) EXPECT_GT(perAxis[axis], 0) << "axis " << axis << " never addressed";
    for (int axis = 4; axis < 8; ++axis)
        EXPECT_EQ(perAxis[axis], 0) << "axis " << axis << " addressed:\n" << Join(calls);
}

// ---- The counter-source button ----

TEST_F(Tlmtest4, CounterSourceButtonFlipsBit27ClearsThePositionAndKeepsPolling) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, true));
    for (int a = 0; a < 4; ++a) {
        SCOPED_TRACE("axis " + std::to_string(a));
        // Some pulses first, so that the clear shows.
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, 1)));
        ASSERT_EQ(sim_.Advance(4000 * kMs), 0u);
        ASSERT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(1500) && Enabled(Id(a, 1)); }))
            << "position " << Text(Id(a, 20));

        struct Step {
            const char* label;  // afterwards
            unsigned reg6;      // written and read back
        };
        const Step steps[] = {{"ENC", kSignalDefault | kEncoder}, {"指令", kSignalDefault}};
        for (const Step& s : steps) {
            SCOPED_TRACE(s.label);
            ResetTrace();
            ASSERT_NO_FATAL_FAILURE(Click(Id(a, 17)));
            EXPECT_EQ(Requests(a),
                      (std::vector<std::string>{CmdData(a, 0xC6, s.reg6), ReadBack(a, s.reg6), CmdData(a, 0xC9, 0)}));
            EXPECT_EQ(Text(Id(a, 17)), s.label);
            EXPECT_EQ(program_.FocusWindow(), GetDlgItem(program_.MainWindow(), 1001)) << "focus back on the tabs";
            EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(0); })) << "position " << Text(Id(a, 20));
        }
        // Polling stopped at the first tick after "指令" came back (the axis idle).
        Sleep(250);
        EXPECT_EQ(PositionReads(a, 400), 0);
        EXPECT_EQ(Text(Id(a, 20)), Right11(0));
    }
}

TEST_F(Tlmtest4, AnAxisOnEncoderIsPolledWhileItStandsAndOnlyThatAxis) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, true));
    // Each idle axis is polled once after the page is shown; its speed display shows it.
    for (int axis = 0; axis < 4; ++axis)
        ASSERT_TRUE(WaitUntil([&] { return Text(Id(axis, 21)) == Right11(0); })) << "axis " << axis << " not polled";
    Sleep(150);
    for (int axis = 0; axis < 4; ++axis) EXPECT_EQ(PositionReads(axis, 300), 0) << "idle axis " << axis << " polled";
    ASSERT_NO_FATAL_FAILURE(Click(Id(2, 17)));
    ASSERT_EQ(Text(Id(2, 17)), "ENC");
    std::vector<Call> calls;
    std::vector<int> reads = ReadsOnceEach(0x89, {2}, 3, &calls);
    EXPECT_GE(reads[2], 3) << "axis Z on its encoder: position polled every 100 ms";
    EXPECT_EQ(reads[0] + reads[1] + reads[3], 0) << "other axes polled";

    // Kept across a page switch: the label and the polling come back with the page.
    std::string error;
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
    ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "boxes: " << Boxes();
    page_ = program_.VisiblePage();
    EXPECT_EQ(Text(Id(2, 17)), "ENC");
    EXPECT_EQ(Text(Id(0, 17)), "指令");
    Sleep(300);
    EXPECT_GE(ReadsOnceEach(0x89, {2}, 3, &calls)[2], 3) << "axis Z no longer polled after the switch";
    EXPECT_EQ(PositionReads(1, 300), 0);
}

TEST_F(Tlmtest4, CounterSourceButtonStaysUsableDuringAMoveAndClearsTheCounterThen) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, true));
    const int a = 1;
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 3)));  // + continuous feed
    ASSERT_EQ(sim_.Advance(1000 * kMs), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(500); })) << "position " << Text(Id(a, 20));
    EXPECT_FALSE(Enabled(Id(a, 1))) << "move buttons disabled during the move";
    EXPECT_TRUE(Enabled(Id(a, 17))) << "counter-source button disabled during the move";
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 17)));
    EXPECT_EQ(Requests(a), (std::vector<std::string>{CmdData(a, 0xC6, kSignalDefault | kEncoder),
                                                     ReadBack(a, kSignalDefault | kEncoder), CmdData(a, 0xC9, 0)}));
    EXPECT_EQ(Text(Id(a, 17)), "ENC");
    // Counting again from 0 while the feed goes on.
    ASSERT_EQ(sim_.Advance(400 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(200); })) << "position " << Text(Id(a, 20));
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 8)));
    EXPECT_TRUE(WaitUntil([&] { return Enabled(Id(a, 1)); })) << "move buttons not back after the stop";
}

// A failed register write or read-back ends the program with its error box.
TEST_F(Tlmtest4, AFailedCounterSourceWriteOrReadBackEndsTheProgram) {
    struct Case {
        const char* name;
        TlmSimFault fault;
        const char* message;  // the text begins with it
    };
    const Case cases[] = {
        {"register write fails",
         {TLMSIM_FAULT_FAIL, 0, WRITE_WORD, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0},
         "レジスタ書込Error：(0x45d)"},
        {"read-back differs", {TLMSIM_FAULT_REPLY, 0, READ_WORD, 0, 0x1300}, "レジスタ読込Error：(0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartOn(4, true));
        Sleep(300);  // the first polls are over: the idle axes are read no more
        ResetTrace();
        ASSERT_EQ(sim_.AddFault(c.fault), 0u);
        HWND button = GetDlgItem(page_, Id(3, 17));
        ASSERT_NE(button, nullptr);
        PostMessageW(button, BM_CLICK, 0, 0);
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program_.WaitForMessageBox(kTimeout, &box)) << "no error box";
        EXPECT_EQ(ui::Narrow(box.caption), ui::kErrorCaption);
        EXPECT_EQ(ui::Narrow(box.text).rfind(c.message, 0), 0u) << ui::Narrow(box.text);
        ASSERT_EQ(sim_.ClearFaults(), 0u);
        // The box is the page's; the page and the tabs are unusable under it, and a click that
        // still reaches them starts nothing.
        EXPECT_EQ(box.owner, page_);
        EXPECT_FALSE(IsWindowEnabled(page_)) << "page usable under the error box";
        EXPECT_FALSE(IsWindowEnabled(program_.MainWindow())) << "tabs usable under the error box";
        ASSERT_NO_FATAL_FAILURE(PostClick(Id(0, 3)));
        std::string error;
        ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
        Sleep(300);
        EXPECT_EQ(Starts(0), 0) << "axis X started under the error box";
        EXPECT_TRUE(IsWindowVisible(page_)) << "the page was left under the error box";
        ui::Program::Press(box.window, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(kTimeout, &code)) << "still running; boxes: " << Boxes();
        EXPECT_EQ(code, 0u);
        // No position clear follows the failure (the close writes no register); every axis was
        // stopped before the box, and the board closed once.
        for (const Call& call : Calls())
            EXPECT_FALSE(call.kind == Call::Command && call.code == 0xC9 && call.axis == 3) << call.ToString();
        EXPECT_EQ(StopCommands(), 8);
    }
}

// A cycle run of axis X: the settings tab is refused between two feeds as during them, the
// run and its displays go on under the notice, and "サイクルストップ" between two feeds ends it.
TEST_F(Tlmtest4, ACycleRunKeepsItsPageAndStopsBetweenFeeds) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, true));
    const int a = 0;
    std::string error;
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
    SendMessageW(GetDlgItem(program_.VisiblePage(), Id(a, 205)), WM_SETTEXT, 0, (LPARAM)L"2");
    ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "boxes: " << Boxes();
    page_ = program_.VisiblePage();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));

    // The first + feed ends; the settings tab is chosen before the next feed starts.
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Sync());
    ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ui::MessageBoxSeen box;
    ASSERT_TRUE(program_.WaitForMessageBox(kTimeout, &box)) << "the page was left: " << program_.SelectedTab();
    EXPECT_EQ(ui::Narrow(box.text), kCannotSwitch);
    EXPECT_TRUE(WaitUntil([&] { return Starts(a) == 1; })) << "no - feed under the notice";
    ASSERT_EQ(sim_.Advance(1000 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(1000); })) << "position " << Text(Id(a, 20));
    ui::Program::Press(box.window, IDOK);
    ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "boxes: " << Boxes();
    EXPECT_EQ(program_.SelectedTab(), 0);

    // The - feed ends; "サイクルストップ" comes before the + feed of the second round trip.
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Sync());
    ASSERT_EQ(sim_.Advance(2000 * kMs), 0u);
    EXPECT_EQ(Text(Id(a, 8)), "サイクルストップ");
    ASSERT_NO_FATAL_FAILURE(PostClick(Id(a, 8)));
    EXPECT_TRUE(WaitUntil([&] { return Enabled(Id(a, 1)) && Enabled(Id(a, 7)); })) << "buttons not back";
    EXPECT_EQ(Text(Id(a, 7)), "定速ｻｲｸﾙｽﾀｰﾄ");
    EXPECT_EQ(Text(Id(a, 8)), "即停止");
    ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
    Sleep(300);
    EXPECT_EQ(WritesFromStop(a), (std::vector<std::string>{Cmd(a, 0x09), Cmd(a, 0x67)})) << Joined(Writes(a));
    EXPECT_EQ(Text(Id(a, 20)), Right11(0));
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    EXPECT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
}

// ---- Page switching between the two pages ----

TEST_F(Tlmtest4, RefusesTheSettingsTabWhileAnyAxisOperates) {
    struct Case {
        int movingAxis;  // -1: none
        bool refused;
    };
    const Case cases[] = {{-1, false}, {0, true}, {3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("moving axis " + std::to_string(c.movingAxis));
        ASSERT_NO_FATAL_FAILURE(StartOn(4, false));
        AxisMover mover;
        if (c.movingAxis >= 0) ASSERT_TRUE(mover.Start(c.movingAxis)) << "axis did not start";
        std::string error;
        ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
        if (c.refused) {
            ASSERT_NO_FATAL_FAILURE(ExpectNotice(kCannotSwitch, program_.MainWindow()));
            ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "the operation page is not shown again";
            EXPECT_EQ(program_.SelectedTab(), 0);
            ASSERT_TRUE(mover.Stop(c.movingAxis));
        } else {
            ASSERT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
            EXPECT_EQ(program_.SelectedTab(), 1);
            EXPECT_EQ(program_.FocusWindow(), GetDlgItem(program_.MainWindow(), 1001));
            // The board selection of this page has the ids of tab 1; the board selected shows.
            HWND settings = program_.VisiblePage();
            EXPECT_NE(GetDlgItem(settings, 1207), nullptr) << "device-number combo box 1207";
            EXPECT_NE(ui::Program::ControlText(GetDlgItem(settings, 1209)), L"") << "board information 1209";
        }
        ASSERT_NO_FATAL_FAILURE(CloseAndExit());
    }
}

TEST_F(Tlmtest4, KeepsTheSettingsTabWhileAnEntryIsInvalid) {
    ASSERT_NO_FATAL_FAILURE(StartOn(4, false));
    std::string error;
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kSettingsPage, kTimeout)) << "boxes: " << Boxes();
    HWND settings = program_.VisiblePage();
    SendMessageW(GetDlgItem(settings, Id(2, 201)), WM_SETTEXT, 0, (LPARAM)L"");
    ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
    ASSERT_NO_FATAL_FAILURE(
        ExpectNotice("Z軸：[プリセット量]未入力のため、前回(1500)のデータを使用します。", settings));
    Sleep(200);
    EXPECT_EQ(Boxes(), "none");
    EXPECT_EQ(program_.SelectedTab(), 1);
    EXPECT_EQ(program_.PageIndex(program_.VisiblePage()), kSettingsPage);
    // With the entry put right the operation page comes back.
    SendMessageW(GetDlgItem(settings, Id(2, 201)), WM_SETTEXT, 0, (LPARAM)L"2000");
    ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(kOperationPage, kTimeout)) << "boxes: " << Boxes();
    page_ = program_.VisiblePage();
    EXPECT_EQ(Text(Id(2, 19)), "2000");
}

}  // namespace
