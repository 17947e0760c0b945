// The operation pages of tlmtest6.exe driven as a user would, on tlmsim.sys with its clock
// frozen: the buttons of each axis (what the board receives, which buttons stay usable), the
// position and speed displays after the simulated axis moved, the lamps following the inputs,
// and cycle runs through their round trips.
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
using simctl::Call;

namespace {

enum Lamp { kOff, kGreen, kRed };

class OperationPage : public pagetest::PageTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartOn(6, true, 0)); }

    // The image a lamp of the program refers to (0: none). The three lamp bitmaps are shared
    // by every lamp, so a lamp's state shows as which of three handle values it holds.
    uintptr_t LampImage(int axis, int k) const {
        return (uintptr_t)SendMessageW(GetDlgItem(page_, Id(axis, k)), STM_GETIMAGE, IMAGE_BITMAP, 0);
    }

    // The images of the nine lamps of axes 0..3, once they all show the same one: the image of
    // an inactive lamp.
    uintptr_t OffImage() {
        uintptr_t off = 0;
        bool same = WaitUntil([&] {
            off = LampImage(0, 24);
            for (int axis = 0; axis < 4; ++axis)
                for (int k = 22; k <= 30; ++k)
                    if (LampImage(axis, k) != off) return false;
            return off != 0;
        });
        EXPECT_TRUE(same) << "the lamps of axes X..U do not all show one image";
        return off;
    }

    int64_t Machine(int axis) {
        int64_t position = 0;
        sim_.MachinePosition(0, axis, &position);
        return position;
    }

    // Which of x001..x016 of an axis are enabled, as a string of 0 and 1.
    std::string ButtonStates(int axis) const {
        std::string s;
        for (int k = 1; k <= 16; ++k) s += Enabled(Id(axis, k)) ? '1' : '0';
        return s;
    }

    // Visits the X-U settings page, does `change` there and comes back to page 0.
    void OnSettingsPage(const std::function<void(HWND)>& change) {
        std::string error;
        ASSERT_TRUE(program_.ClickTab(2, &error)) << error;
        ASSERT_TRUE(program_.WaitForPage(2, kTimeout)) << "settings page not shown; boxes: " << Boxes();
        change(program_.VisiblePage());
        ASSERT_TRUE(program_.ClickTab(0, &error)) << error;
        ASSERT_TRUE(program_.WaitForPage(0, kTimeout)) << "page 0 not shown again; boxes: " << Boxes();
        page_ = program_.VisiblePage();
    }

    // Sets the cycle count of an axis on the settings page.
    void SetCycleCount(int axis, int count) {
        OnSettingsPage([&](HWND settings) {
            HWND edit = GetDlgItem(settings, Id(axis, 205));
            ASSERT_NE(edit, nullptr);
            SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)std::to_wstring(count).c_str());
        });
    }

    // Neither the motion poll (position register) nor the cycle step (interrupt status) runs
    // for the axis any more; the lamp poll goes on.
    void ExpectNotPolled(int axis) {
        ResetTrace();
        Sleep(400);
        for (const Call& c : Calls()) {
            if ((int)c.axis != axis) continue;
            if ((c.kind == Call::RegisterRead && c.code == 0x89) ||
                (c.kind == Call::ByteRead && c.code == (uint32_t)(axis * 16 + 2)))
                ADD_FAILURE() << "still polled: " << c.ToString();
        }
    }
};

// ---- The page as first shown ----

TEST_F(OperationPage, ShowsEachIdleAxisOnceThenStopsPollingIt) {
    const char* const kNames[] = {"Ｘ軸", "Ｙ軸", "Ｚ軸", "Ｕ軸"};
    for (int axis = 0; axis < 4; ++axis) {
        SCOPED_TRACE(kNames[axis]);
        ASSERT_TRUE(WaitUntil([&] { return Text(Id(axis, 21)) == Right11(0); })) << "speed: " << Text(Id(axis, 21));
        EXPECT_EQ(Text(Id(axis, 20)), Right11(0)) << "position";
        EXPECT_EQ(Text(Id(axis, 19)), "1500") << "preset amount";
        // Every button but the cycle start (no cycle count yet) is usable.
        EXPECT_EQ(ButtonStates(axis), "1111110111111111");
        const std::pair<int, const char*> kLabels[] = {{1, "＋定速ﾌﾟﾘｾｯﾄ送り"},
                                                       {2, "－定速ﾌﾟﾘｾｯﾄ送り"},
                                                       {3, "＋定速連続送り"},
                                                       {4, "－定速連続送り"},
                                                       {5, "原点復帰[OLS]"},
                                                       {6, "原点復帰[OLS+Z]"},
                                                       {7, "定速ｻｲｸﾙｽﾀｰﾄ"},
                                                       {8, "即停止"},
                                                       {12, "B接"},
                                                       {13, "B接"},
                                                       {14, "B接"},
                                                       {15, "B接"},
                                                       {16, "B接"}};
        for (const auto& label : kLabels) EXPECT_EQ(Text(Id(axis, label.first)), label.second) << "x0" << label.first;
    }
    // One idle tick later no axis is polled any more; the lamp poll reads all six axes.
    Sleep(300);
    std::vector<Call> calls;
    std::vector<int> lampAxes = ReadsOnceEach(0x8E, {0, 1, 2, 3, 4, 5}, 3, &calls);
    int positionReads = 0;
    for (const Call& c : calls) positionReads += c.kind == Call::RegisterRead && c.code == 0x89;
    EXPECT_EQ(positionReads, 0) << Join(calls);
    for (int axis = 0; axis < 6; ++axis) EXPECT_GE(lampAxes[axis], 3) << "register 14 reads of axis " << axis;
}

// ---- Moves ----

TEST_F(OperationPage, EachMoveButtonSendsModeAndStartAndCanBeStopped) {
    // axis Y; the origin returns write register 7 first; OLS+Z always starts with ramps (0x13).
    struct Case {
        int k;
        std::vector<std::string> expected;
    };
    const int a = 1;
    const Case cases[] = {
        {1, {Mode(a, 0x28), Cmd(a, 0x10)}},
        {2, {Mode(a, 0x38), Cmd(a, 0x10)}},
        {3, {Mode(a, 0x20), Cmd(a, 0x10)}},
        {4, {Mode(a, 0x30), Cmd(a, 0x10)}},
        {5, {CmdData(a, 0xC7, 0xF0C40), Mode(a, 0x12), Cmd(a, 0x10)}},
        {6, {CmdData(a, 0xC7, 0xF0C60), Mode(a, 0x12), Cmd(a, 0x13)}},
    };
    // Keep the carriage away from the origin sensor, so that the origin returns run.
    ASSERT_EQ(sim_.SetMachinePosition(0, a, 50000), 0u);
    for (const Case& c : cases) {
        SCOPED_TRACE("button x00" + std::to_string(c.k));
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, c.k)));
        EXPECT_EQ(Writes(a), c.expected);
        EXPECT_EQ(program_.FocusWindow(), GetDlgItem(program_.MainWindow(), 1001)) << "the focus goes back to the tabs";
        // While it runs: x001..x007 disabled, stop, clear, servo and contact buttons usable.
        EXPECT_EQ(ButtonStates(a), "0000000111111111");
        ASSERT_EQ(sim_.Advance(100 * kMs), 0u);
        EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 21)) != Right11(0) && !Text(Id(a, 21)).empty(); }))
            << "speed: " << Text(Id(a, 21));
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, 8)));
        EXPECT_EQ(Writes(a), std::vector<std::string>{Cmd(a, 0x09)}) << "immediate stop at constant speed";
        EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111110111111111"; })) << ButtonStates(a);
        EXPECT_EQ(Text(Id(a, 21)), Right11(0));
        ASSERT_EQ(sim_.SetMachinePosition(0, a, 50000), 0u);
    }
}

TEST_F(OperationPage, PresetFeedShowsPositionAndSpeedAndEnds) {
    // FL 500 pps, preset 1500 pulses: 500 pulses a second of the frozen clock.
    ASSERT_NO_FATAL_FAILURE(Click(Id(0, 1)));
    ASSERT_EQ(sim_.Advance(1000 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(0, 20)) == Right11(500); })) << "position: " << Text(Id(0, 20));
    EXPECT_EQ(Text(Id(0, 21)), Right11(500)) << "speed";
    EXPECT_EQ(ButtonStates(0), "0000000111111111");
    ASSERT_EQ(sim_.Advance(2500 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(0, 20)) == Right11(1500) && Text(Id(0, 21)) == Right11(0); }))
        << "position " << Text(Id(0, 20)) << ", speed " << Text(Id(0, 21)) << ", machine " << Machine(0)
        << "; writes:\n"
        << Joined(Writes(0));
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(0) == "1111110111111111"; })) << ButtonStates(0);

    // The - continuous feed goes below zero: the sign shows, right-aligned in 11 characters.
    ASSERT_NO_FATAL_FAILURE(Click(Id(0, 4)));
    ASSERT_EQ(sim_.Advance(3200 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(0, 20)) == "       -100"; })) << "position: " << Text(Id(0, 20));
    ASSERT_NO_FATAL_FAILURE(Click(Id(0, 8)));
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(0) == "1111110111111111"; })) << ButtonStates(0);

    // "初期化" clears the counter and shows "0"; the display stays until the next poll.
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(0, 9)));
    EXPECT_EQ(Writes(0), std::vector<std::string>{CmdData(0, 0xC9, 0)});
    EXPECT_EQ(Text(Id(0, 20)), "0");
    Sleep(300);
    EXPECT_EQ(Text(Id(0, 20)), "0");
}

// ---- Servo outputs, contacts and lamps ----

TEST_F(OperationPage, ServoButtonsToggleTheOutputsAndTheirLamps) {
    const int a = 2;
    const uintptr_t off = OffImage();
    struct Step {
        int k;
        int command;
        bool svon;   // lamp x022 lit afterwards
        bool svrst;  // lamp x023 lit afterwards
    };
    const Step steps[] = {
        {10, 0x58, true, false}, {11, 0x59, true, true}, {10, 0x48, false, true}, {11, 0x49, false, false}};
    uintptr_t lit = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE("button x0" + std::to_string(s.k));
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, s.k)));
        EXPECT_EQ(Writes(a), std::vector<std::string>{Cmd(a, s.command)});
        EXPECT_TRUE(WaitUntil([&] {
            return (LampImage(a, 22) != off) == s.svon && (LampImage(a, 23) != off) == s.svrst;
        })) << "x022 "
            << (LampImage(a, 22) != off ? "lit" : "off") << ", x023 " << (LampImage(a, 23) != off ? "lit" : "off");
        // Both servo lamps light with one image (green), the same as INPOS does below.
        for (int k : {22, 23})
            if (LampImage(a, k) != off) {
                if (!lit) lit = LampImage(a, k);
                EXPECT_EQ(LampImage(a, k), lit) << "x0" << k;
            }
    }
    // INPOS follows the servo amplifier: servo on and standing still.
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 10)));
    EXPECT_TRUE(WaitUntil([&] { return LampImage(a, 29) == lit && LampImage(a, 22) == lit; }));
}

TEST_F(OperationPage, ContactButtonsSwitchAndRelabel) {
    const int a = 3;
    struct Case {
        int k;
        std::string write;
    };
    // Register 6 starts at 0x13000004; the ELS polarity byte at 0.
    const Case cases[] = {
        {12, "write byte 0x80 := 0x08"},    {13, CmdData(a, 0xC6, 0x13000014)}, {14, CmdData(a, 0xC6, 0x13000034)},
        {15, CmdData(a, 0xC6, 0x1300003C)}, {16, CmdData(a, 0xC6, 0x1300007C)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("button x0" + std::to_string(c.k));
        EXPECT_EQ(Text(Id(a, c.k)), "B接");
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, c.k)));
        std::vector<Call> calls = Calls();
        bool seen = false;
        for (const Call& call : calls) seen = seen || call.ToString() == c.write;
        EXPECT_TRUE(seen) << "expected " << c.write << " in\n" << Join(calls);
        EXPECT_EQ(Text(Id(a, c.k)), "A接");
        EXPECT_EQ(program_.FocusWindow(), GetDlgItem(program_.MainWindow(), 1001)) << "the focus goes back to the tabs";
    }
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 13)));
    EXPECT_EQ(Text(Id(a, 13)), "B接") << "a second press goes back";
}

TEST_F(OperationPage, LampsFollowTheInputs) {
    struct Case {
        int axis;
        int input;
        int k;
        int colour;
    };
    // Limits and the servo alarm light red, the others green.
    const Case cases[] = {
        {0, TLMSIM_INPUT_PLUS_ELS, 24, kRed}, {1, TLMSIM_INPUT_MINUS_ELS, 25, kRed}, {2, TLMSIM_INPUT_DLS, 26, kGreen},
        {3, TLMSIM_INPUT_OLS, 27, kGreen},    {0, TLMSIM_INPUT_INPOS, 29, kGreen},   {1, TLMSIM_INPUT_SVALM, 30, kRed},
        {2, TLMSIM_INPUT_Z, 28, kGreen},
    };
    const uintptr_t off = OffImage();
    uintptr_t image[3] = {off, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE("lamp x0" + std::to_string(c.k) + " of axis " + std::to_string(c.axis));
        ASSERT_EQ(sim_.ForceInput(0, c.axis, c.input, TLMSIM_FORCE_ASSERTED), 0u);
        EXPECT_TRUE(WaitUntil([&] { return LampImage(c.axis, c.k) != off; })) << "the lamp did not light";
        uintptr_t shown = LampImage(c.axis, c.k);
        if (!image[c.colour]) image[c.colour] = shown;
        EXPECT_EQ(shown, image[c.colour]) << (c.colour == kRed ? "not the red image" : "not the green image");
        // Nothing else lights: the same lamp of the other axes, the other lamps of this one.
        for (int axis = 0; axis < 4; ++axis)
            for (int k = 22; k <= 30; ++k)
                if (!(axis == c.axis && k == c.k)) EXPECT_EQ(LampImage(axis, k), off) << "lamp " << Id(axis, k);
        ASSERT_EQ(sim_.ForceInput(0, c.axis, c.input, TLMSIM_FORCE_RELEASED), 0u);
        EXPECT_TRUE(WaitUntil([&] { return LampImage(c.axis, c.k) == off; })) << "the lamp stayed lit";
    }
    EXPECT_NE(image[kRed], image[kGreen]);
    EXPECT_NE(image[kRed], 0u);
    EXPECT_NE(image[kGreen], 0u);

    // DLS also lights while a move runs held at FL by it (status 1 bits 0x20 and 0x40).
    ASSERT_EQ(sim_.ForceInput(0, 3, TLMSIM_INPUT_DLS, TLMSIM_FORCE_ASSERTED), 0u);
    ASSERT_NO_FATAL_FAILURE(Click(Id(3, 3)));
    ASSERT_EQ(sim_.Advance(100 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return LampImage(3, 26) == image[kGreen]; }));
    ASSERT_NO_FATAL_FAILURE(Click(Id(3, 8)));
}

// ---- Cycle runs ----

// Each feed of a run takes 3 s of the frozen clock (1500 pulses at FL 500 pps).
TEST_F(OperationPage, CycleRunMakesItsRoundTripsAndEnds) {
    const int a = 0;
    ASSERT_NO_FATAL_FAILURE(SetCycleCount(a, 3));
    EXPECT_TRUE(Enabled(Id(a, 7))) << "cycle start enabled once a cycle count is set";
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
    EXPECT_EQ(Text(Id(a, 8)), "サイクルストップ");
    EXPECT_EQ(ButtonStates(a), "0000000111111111");
    std::vector<std::string> labels;
    for (int feed = 1; feed <= 6; ++feed) {
        SCOPED_TRACE("feed " + std::to_string(feed));
        // Half way: the label of the round trip under way.
        ASSERT_EQ(sim_.Advance(1500 * kMs), 0u);
        Sleep(300);
        labels.push_back(Text(Id(a, 7)));
        EXPECT_EQ(ButtonStates(a), "0000000111111111");
        // The end of the feed: the program starts the next one, or ends the run after the sixth.
        ASSERT_EQ(sim_.Advance(1500 * kMs), 0u);
        if (feed < 6) ASSERT_TRUE(WaitUntil([&] { return Starts(a) == feed + 1; })) << "starts: " << Starts(a);
    }
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
    EXPECT_EQ(Text(Id(a, 7)), "定速ｻｲｸﾙｽﾀｰﾄ");
    EXPECT_EQ(Text(Id(a, 8)), "即停止");
    EXPECT_EQ(Text(Id(a, 20)), Right11(0)) << "back where it started";
    const std::vector<std::string> expectedLabels = {"ｻｲｸﾙ1回目", "ｻｲｸﾙ1回目", "ｻｲｸﾙ2回目",
                                                     "ｻｲｸﾙ2回目", "ｻｲｸﾙ3回目", "ｻｲｸﾙ3回目"};
    EXPECT_EQ(labels, expectedLabels);
    std::vector<std::string> expected;
    for (int trip = 0; trip < 3; ++trip) {
        expected.push_back(Mode(a, 0x28));
        expected.push_back(Cmd(a, 0x10));
        if (trip == 0) expected.push_back(Cmd(a, 0x66));
        expected.push_back(Mode(a, 0x38));
        expected.push_back(Cmd(a, 0x10));
    }
    expected.push_back(Cmd(a, 0x67));
    EXPECT_EQ(Writes(a), expected);

    // The run is over: nothing polls the axis or its interrupt status any more.
    ResetTrace();
    Sleep(400);
    ExpectNotPolled(a);
}

// "サイクルストップ" during a feed, and in the gap between two feeds (the axis stands, the end
// of the feed latched): no further feed starts, the run ends with 0x67, labels and buttons back.
// A run started again after that reacts only to its own feeds.
TEST_F(OperationPage, CycleStopEndsTheRunAtAnyMoment) {
    struct Case {
        const char* name;
        int axis;
        bool betweenFeeds;
    };
    const Case cases[] = {{"during the - feed", 1, false}, {"between the + and the - feed", 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int a = c.axis;
        ASSERT_NO_FATAL_FAILURE(SetCycleCount(a, 5));
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
        if (c.betweenFeeds) {
            ResetTrace();
            ASSERT_NO_FATAL_FAILURE(Sync());
            ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);  // the first + feed reaches its target
            ASSERT_NO_FATAL_FAILURE(PostClick(Id(a, 8)));
            ASSERT_NO_FATAL_FAILURE(Sync());
        } else {
            ASSERT_EQ(sim_.Advance(3100 * kMs), 0u);  // the first + feed ends; the - feed starts
            ASSERT_TRUE(WaitUntil([&] { return Starts(a) == 2; })) << "the - feed did not start: " << Starts(a);
            ASSERT_EQ(sim_.Advance(1000 * kMs), 0u);
            EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(1000); })) << Text(Id(a, 20));
            ResetTrace();
            ASSERT_NO_FATAL_FAILURE(Click(Id(a, 8)));
        }
        EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
        EXPECT_EQ(Text(Id(a, 7)), "定速ｻｲｸﾙｽﾀｰﾄ");
        EXPECT_EQ(Text(Id(a, 8)), "即停止");
        ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
        Sleep(300);
        EXPECT_EQ(WritesFromStop(a), (std::vector<std::string>{Cmd(a, 0x09), Cmd(a, 0x67)})) << Joined(Writes(a));
        // The cycle step has stopped with the run: no interrupt status reads of the axis.
        ExpectNotPolled(a);
        if (!c.betweenFeeds) continue;
        // The end of the + feed is still latched. A new run whose first feed ends at once, on
        // +ELS, has no feed of its own that ended: it ends, and the axis stands at 1500.
        ASSERT_EQ(sim_.ForceInput(0, a, TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_ASSERTED), 0u);
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
        ASSERT_EQ(sim_.Advance(1000 * kMs), 0u);
        EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
        EXPECT_EQ(Writes(a), (std::vector<std::string>{Mode(a, 0x28), Cmd(a, 0x10), Cmd(a, 0x66), Cmd(a, 0x67)}));
        EXPECT_EQ(Text(Id(a, 20)), Right11(1500));
    }
}

// A page with a cycle run cannot be left, between two feeds either; under the notice the run
// goes on and the displays stay live. Once the run is over the page can be left.
TEST_F(OperationPage, ACycleRunKeepsItsPageAndRunsOnUnderTheNotice) {
    const int a = 0;
    ASSERT_NO_FATAL_FAILURE(SetCycleCount(a, 1));
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Sync());
    ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);  // the + feed ends: the axis stands until the next tick
    std::string error;
    ASSERT_TRUE(program_.ClickTab(2, &error)) << error;
    ui::MessageBoxSeen box;
    ASSERT_TRUE(program_.WaitForMessageBox(kTimeout, &box)) << "the page was left: " << program_.SelectedTab();
    EXPECT_EQ(ui::Narrow(box.text), "動作中のため、画面切替できません。");
    EXPECT_EQ(box.owner, program_.MainWindow());

    // Under the notice: the - feed starts, its position shows, the run ends with 0x67.
    EXPECT_TRUE(WaitUntil([&] { return Starts(a) == 1; })) << Joined(Writes(a));
    ASSERT_EQ(sim_.Advance(1500 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(a, 20)) == Right11(750) && Text(Id(a, 21)) == Right11(500); }))
        << "position " << Text(Id(a, 20)) << ", speed " << Text(Id(a, 21));
    ASSERT_EQ(sim_.Advance(1500 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
    EXPECT_EQ(Text(Id(a, 7)), "定速ｻｲｸﾙｽﾀｰﾄ");
    EXPECT_EQ(Text(Id(a, 20)), Right11(0));
    EXPECT_EQ(Writes(a), (std::vector<std::string>{Mode(a, 0x38), Cmd(a, 0x10), Cmd(a, 0x67)}));
    EXPECT_EQ(program_.MessageBoxes().size(), 1u) << "the notice closed by itself: " << Boxes();

    ui::Program::Press(box.window, IDOK);
    ASSERT_TRUE(program_.WaitForPage(0, kTimeout)) << "boxes: " << Boxes();
    EXPECT_EQ(program_.SelectedTab(), 0);
    ASSERT_TRUE(program_.ClickTab(2, &error)) << error;
    EXPECT_TRUE(program_.WaitForPage(2, kTimeout)) << "the page could not be left after the run; boxes: " << Boxes();
}

TEST_F(OperationPage, ShowsRegisterValuesAsTheyCome) {
    // Every word read answers 0x8123 (the board is not asked): position 0x81238123 is shown as
    // a negative number, the speed register with bit 15 set as its low 15 bits.
    ASSERT_NO_FATAL_FAILURE(Click(Id(1, 3)));
    TlmSimFault fault = {TLMSIM_FAULT_REPLY, 0, READ_WORD, 0, 0x8123};
    ASSERT_EQ(sim_.AddFault(fault), 0u);
    const std::string position = Right11((int32_t)0x81238123u);
    EXPECT_EQ(position.size(), 11u);
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(1, 20)) == position && Text(Id(1, 21)) == Right11(0x0123); }))
        << "position " << Text(Id(1, 20)) << ", speed " << Text(Id(1, 21));
    ASSERT_EQ(sim_.ClearFaults(), 0u);
    ASSERT_NO_FATAL_FAILURE(Click(Id(1, 8)));
    EXPECT_TRUE(WaitUntil([&] { return Text(Id(1, 20)) == Right11(0) && ButtonStates(1) == "1111110111111111"; }))
        << Text(Id(1, 20)) << " " << ButtonStates(1);
}

// The end of the last feed of a run is latched in the interrupt status; the next run must not
// take it for the end of its own first feed.
TEST_F(OperationPage, ASecondRunMakesItsRoundTripsToo) {
    const int a = 3;
    ASSERT_NO_FATAL_FAILURE(SetCycleCount(a, 1));
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
        ASSERT_TRUE(WaitUntil([&] { return Starts(a) == 1; }));
        Sleep(300);  // a few ticks of the cycle step while the + feed stands at its start
        EXPECT_EQ(Starts(a), 1) << Joined(Writes(a));
        ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
        ASSERT_TRUE(WaitUntil([&] { return Starts(a) == 2; })) << Joined(Writes(a));
        ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
        EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
        EXPECT_EQ(Writes(a), (std::vector<std::string>{Mode(a, 0x28), Cmd(a, 0x10), Cmd(a, 0x66), Mode(a, 0x38),
                                                       Cmd(a, 0x10), Cmd(a, 0x67)}));
        EXPECT_EQ(Text(Id(a, 20)), Right11(0));
    }
}

// A feed of a run that ends without reaching its target (here on the - limit) ends the run.
TEST_F(OperationPage, ARunEndedByALimitEndsCleanly) {
    const int a = 2;
    ASSERT_NO_FATAL_FAILURE(SetCycleCount(a, 3));
    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 7)));
    ASSERT_EQ(sim_.ForceInput(0, a, TLMSIM_INPUT_MINUS_ELS, TLMSIM_FORCE_ASSERTED), 0u);
    ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111111111111111"; })) << ButtonStates(a);
    EXPECT_EQ(Text(Id(a, 7)), "定速ｻｲｸﾙｽﾀｰﾄ");
    EXPECT_EQ(Text(Id(a, 8)), "即停止");
    EXPECT_EQ(Text(Id(a, 20)), Right11(1500));
    EXPECT_EQ(Writes(a), (std::vector<std::string>{Mode(a, 0x28), Cmd(a, 0x10), Cmd(a, 0x66), Mode(a, 0x38),
                                                   Cmd(a, 0x10), Cmd(a, 0x67)}));
    ExpectNotPolled(a);
}

// ---- Speed mode, the second page, failures ----

TEST_F(OperationPage, HighSpeedModeRelabelsTheButtonsAndStopsWithDeceleration) {
    const int a = 2;
    ASSERT_NO_FATAL_FAILURE(OnSettingsPage([&](HWND settings) {
        DWORD_PTR result = 0;
        ASSERT_TRUE(
            SendMessageTimeoutW(GetDlgItem(settings, Id(a, 206)), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &result));
    }));
    const std::pair<int, const char*> kLabels[] = {
        {1, "＋高速ﾌﾟﾘｾｯﾄ送り"}, {2, "－高速ﾌﾟﾘｾｯﾄ送り"}, {3, "＋高速連続送り"}, {4, "－高速連続送り"},
        {5, "原点復帰[OLS]"},    {6, "原点復帰[OLS+Z]"},  {7, "高速ｻｲｸﾙｽﾀｰﾄ"},   {8, "減速停止"}};
    for (const auto& label : kLabels) EXPECT_EQ(Text(Id(a, label.first)), label.second) << "x00" << label.first;
    EXPECT_EQ(Text(Id(1, 1)), "＋定速ﾌﾟﾘｾｯﾄ送り") << "the other axes keep constant speed";

    ResetTrace();
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 3)));
    ASSERT_EQ(sim_.Advance(200 * kMs), 0u);
    ASSERT_NO_FATAL_FAILURE(Click(Id(a, 8)));
    EXPECT_EQ(Writes(a), (std::vector<std::string>{Mode(a, 0x20), Cmd(a, 0x13), Cmd(a, 0x0A)}));
    ASSERT_EQ(sim_.Advance(2000 * kMs), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ButtonStates(a) == "1111110111111111"; })) << ButtonStates(a);
}

TEST_F(OperationPage, SecondPageDrivesVAndW) {
    std::string error;
    ASSERT_TRUE(program_.ClickTab(1, &error)) << error;
    ASSERT_TRUE(program_.WaitForPage(1, kTimeout)) << "boxes: " << Boxes();
    page_ = program_.VisiblePage();
    for (int axis = 4; axis < 6; ++axis) {
        SCOPED_TRACE("axis " + std::to_string(axis));
        EXPECT_TRUE(WaitUntil([&] { return Text(Id(axis, 21)) == Right11(0); })) << Text(Id(axis, 21));
        EXPECT_EQ(ButtonStates(axis), "1111110111111111");
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(Click(Id(axis, 2)));
        EXPECT_EQ(Writes(axis), (std::vector<std::string>{Mode(axis, 0x38), Cmd(axis, 0x10)}));
        EXPECT_EQ(ButtonStates(axis), "0000000111111111");
        ASSERT_EQ(sim_.Advance(3000 * kMs), 0u);
        EXPECT_TRUE(WaitUntil([&] {
            return Text(Id(axis, 20)) == Right11(-1500) && ButtonStates(axis) == "1111110111111111";
        })) << Text(Id(axis, 20))
            << " " << ButtonStates(axis);
    }
    // The lamp poll of this page reads every axis of the board.
    std::vector<Call> calls;
    std::vector<int> reads = ReadsOnceEach(0x8E, {0, 1, 2, 3, 4, 5}, 2, &calls);
    for (int axis = 0; axis < 6; ++axis) EXPECT_GE(reads[axis], 2) << "register 14 reads of axis " << axis;
}

// A failed read of the polls, on the page and under the notice of a refused switch (the polls
// run on under it): one error box, the page and the tabs unusable under it, one close.
TEST_F(OperationPage, AFailedReadOfThePollsEndsTheProgramAfterOneBox) {
    struct Case {
        const char* name;
        bool underNotice;
    };
    const Case cases[] = {{"on the page", false}, {"under the notice of a refused switch", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.underNotice) ASSERT_NO_FATAL_FAILURE(StartOn(6, true, 0));
        ASSERT_NO_FATAL_FAILURE(Click(Id(0, 3)));  // X moves: its motion poll runs too
        ASSERT_EQ(sim_.Advance(200 * kMs), 0u);
        std::string error;
        ui::MessageBoxSeen box;
        if (c.underNotice) {
            ASSERT_TRUE(program_.ClickTab(2, &error)) << error;
            ASSERT_TRUE(program_.WaitForMessageBox(kTimeout, &box)) << "no notice";
            ASSERT_EQ(ui::Narrow(box.text), "動作中のため、画面切替できません。");
        }
        ResetTrace();
        TlmSimFault fault = {TLMSIM_FAULT_FAIL, 0, READ_BYTE, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0};
        ASSERT_EQ(sim_.AddFault(fault), 0u);
        auto errorBoxes = [&] {
            std::vector<ui::MessageBoxSeen> found;
            for (const ui::MessageBoxSeen& b : program_.MessageBoxes())
                if (ui::Narrow(b.caption) == ui::kErrorCaption) found.push_back(b);
            return found;
        };
        ASSERT_TRUE(WaitUntil([&] { return !errorBoxes().empty(); }, kTimeout)) << "no error box: " << Boxes();
        Sleep(50);
        box = errorBoxes().front();
        EXPECT_EQ(ui::Narrow(box.text), "ステータス１読込Error：(0x45d)");
        EXPECT_EQ(box.owner, program_.MainWindow());
        // Every axis was stopped before the box came up, and nothing else was written; X, at
        // its FL speed, got the immediate stop. It stands while the box waits.
        std::vector<std::string> writes;
        for (const Call& w : Calls())
            if (w.kind == Call::Command || w.kind == Call::OperationMode) writes.push_back(w.ToString());
        EXPECT_EQ(writes, (std::vector<std::string>{Cmd(0, 0x09), Cmd(1, 0x0A), Cmd(2, 0x0A), Cmd(3, 0x0A),
                                                    Cmd(4, 0x0A), Cmd(5, 0x0A)}));
        const int64_t x = Machine(0);
        ASSERT_EQ(sim_.Advance(800 * kMs), 0u);
        EXPECT_EQ(Machine(0), x) << "X moved under the error box";
        // While the box is open the page and the tabs are unusable, and a click that still
        // reaches them starts nothing; the polls wait: no second box.
        EXPECT_FALSE(IsWindowEnabled(page_)) << "page usable under the error box";
        EXPECT_FALSE(IsWindowEnabled(program_.MainWindow())) << "tabs usable under the error box";
        ResetTrace();
        ASSERT_NO_FATAL_FAILURE(PostClick(Id(1, 1)));
        ASSERT_TRUE(program_.ClickTab(2, &error)) << error;
        // A request to close the main window waits for the answer too.
        program_.Close();
        Sleep(500);
        EXPECT_EQ(errorBoxes().size(), 1u) << Boxes();
        EXPECT_EQ(StopCommands(), 0) << "the board was closed before the box was answered";
        EXPECT_EQ(program_.PageIndex(page_), 0);
        EXPECT_TRUE(IsWindowVisible(page_)) << "the page was left under the error box";
        EXPECT_EQ(Writes(1), std::vector<std::string>{}) << "axis Y started under the error box";
        ui::Program::Press(box.window, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(program_.WaitForExit(kTimeout, &code)) << "still running; boxes: " << Boxes();
        EXPECT_EQ(code, 0u);
        // The board was closed once on the way out: every axis stopped once.
        EXPECT_EQ(StopCommands(), 6) << Join(Calls());
    }
}

}  // namespace
