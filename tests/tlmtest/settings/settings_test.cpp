// The axis parameter settings pages of tlmtest6.exe, driven as a user would drive them on the
// simulated driver: entries typed into the edit boxes and checked with "設定チェック", the
// messages of rejected entries, the speed-mode and pulse-output buttons, the registers written
// when a page is left, and the change of board.
#include <gtest/gtest.h>

#include <cstdio>

#include "page_test.h"
#include "simctl.h"
#include "ui.h"

using pagetest::CloseAndExit;
using pagetest::Join;
using pagetest::kTimeout;
using simctl::Call;

namespace {

// Controls of the pages.
constexpr int kTabControl = 1001;
constexpr int kCheckPage1 = 1311;
constexpr int kCheckPage2 = 1411;
constexpr int kDeviceCombo = 1307;
int AxisId(int axis, int k) { return 1000 * (axis + 2) + k; }
enum { kPreset = 201, kFl, kFh, kAccel, kCycle, kSpeedMode, kPulseCommand, kPulseLogic, kPulseDefault, kSpeedText };

// Texts of the string table, as the user reads them.
const wchar_t kNowConstant[] = L"現在 定速動作";
const wchar_t kNowHigh[] = L"現在 高速動作";
const wchar_t kIndividual[] = L"個別パルス指令";
const wchar_t kCommon[] = L"共通パルス指令";
const wchar_t kPositive[] = L"正論理";
const wchar_t kNegative[] = L"負論理";
const wchar_t kCycleImpossible[] =
    L"軸：[サイクル回数]FH速度(あるいはFL速度)がプリセット量より大きいため、サイクル動作できません。";

std::string N(const std::wstring& text) { return ui::Narrow(text); }

class Settings : public pagetest::ProgramTest {
protected:
    // Starts the program and goes to settings tab `tab` (2 or 3).
    void StartOnTab(ui::Program* program, int tab) {
        ASSERT_NO_FATAL_FAILURE(Start(program));
        ASSERT_TRUE(program->WaitForPage(0, kTimeout)) << "page 0 not shown; boxes: " << pagetest::BoxesSeen(*program);
        ASSERT_NO_FATAL_FAILURE(GoToTab(program, tab));
    }

    void GoToTab(ui::Program* program, int tab) {
        std::string error;
        ASSERT_TRUE(program->ClickTab(tab, &error)) << error;
        ASSERT_TRUE(program->WaitForPage(tab, kTimeout))
            << "tab " << tab << "; boxes: " << pagetest::BoxesSeen(*program);
    }

    std::vector<Call> ProgramCalls() {
        std::vector<TlmSimTraceEntry> entries = Trace();
        // After a trace reset without an open, the program is the only client that sends
        // board requests.
        uint32_t file = simctl::ProgramFile(entries);
        if (file == ~0u && !entries.empty()) file = entries.front().file;
        return simctl::Calls(entries, file);
    }

    // The register writes 0xC0 + r (registers 0 to 3) among the program's calls.
    std::vector<std::string> MotionRegisterWrites() {
        std::vector<std::string> writes;
        for (const Call& c : ProgramCalls())
            if (c.kind == Call::Command && c.hasData && c.code >= 0xC0 && c.code <= 0xC3)
                writes.push_back(c.ToString());
        return writes;
    }

    static std::string Write(uint32_t axis, uint32_t reg, uint32_t value) {
        return Call{Call::Command, axis, 0xC0 + reg, value, true}.ToString();
    }

    // Answers the message boxes the program shows from now on, in order, until it is idle
    // again (a message sent to `page` comes back while no box exists). Each box is expected
    // to be a page notice: empty caption, OK only, no icon, owned by `owner`.
    static std::vector<std::wstring> AnswerBoxes(const ui::Program& program, HWND owner) {
        std::vector<std::wstring> texts;
        for (int guard = 0; guard < 20; ++guard) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(owner, WM_NULL, 0, 0, SMTO_NORMAL, kTimeout, &result);
            if (program.MessageBoxWindows().empty()) break;
            ui::MessageBoxSeen box;
            if (!const_cast<ui::Program&>(program).WaitForMessageBox(kTimeout, &box)) {
                ADD_FAILURE() << "a message box was made but not shown";
                break;
            }
            texts.push_back(box.text);
            EXPECT_EQ(N(box.caption), "") << N(ui::Describe(box));
            EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << N(ui::Describe(box));
            EXPECT_FALSE(box.icon) << N(ui::Describe(box));
            EXPECT_EQ(box.owner, owner) << "owner of " << N(box.text);
            ui::Program::Press(box.window, IDOK);
            for (int i = 0; i < 500 && IsWindow(box.window); ++i) Sleep(5);
        }
        return texts;
    }

    // Clicks a button of the page and answers the boxes it shows.
    static std::vector<std::wstring> Click(const ui::Program& program, HWND page, int id) {
        HWND button = GetDlgItem(page, id);
        EXPECT_NE(button, nullptr) << "no control " << id;
        EXPECT_TRUE(IsWindowEnabled(button)) << "control " << id << " is disabled";
        DWORD_PTR result = 0;
        // Returns at once when the click ends without a box; else the boxes are answered.
        SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 200, &result);
        return AnswerBoxes(program, page);
    }

    static void Type(HWND page, int id, const wchar_t* text) {
        SendMessageW(GetDlgItem(page, id), WM_SETTEXT, 0, (LPARAM)text);
    }

    static std::string Text(HWND page, int id) { return N(ui::Program::ControlText(GetDlgItem(page, id))); }
};

// The five entries of an axis; nullptr leaves a box as it is.
struct Entries {
    const wchar_t* preset;
    const wchar_t* fl;
    const wchar_t* fh;
    const wchar_t* accel;
    const wchar_t* cycle;
};

void TypeEntries(HWND page, int axis, const Entries& e) {
    const wchar_t* texts[5] = {e.preset, e.fl, e.fh, e.accel, e.cycle};
    for (int i = 0; i < 5; ++i)
        if (texts[i]) SendMessageW(GetDlgItem(page, AxisId(axis, kPreset + i)), WM_SETTEXT, 0, (LPARAM)texts[i]);
}

const Entries kBringUp = {L"1500", L"500", L"5000", L"1000", L"0"};

struct CheckCase {
    const char* name;
    int axis;
    bool highSpeed;  // the axis runs in high-speed mode for the check
    Entries typed;
    std::vector<std::wstring> messages;  // in order
    std::vector<std::string> shown;      // the five boxes after the check
    bool recheck = false;                // a second check keeps what the first one showed
    Entries before = {};                 // entered and accepted before the case, if any
};

std::wstring Used(const wchar_t* axis, const wchar_t* item, const wchar_t* reason, const wchar_t* kept) {
    return std::wstring(axis) + L"軸：" + item + reason + kept + L")のデータを使用します。";
}

TEST_F(Settings, ChecksEveryEntryAndShowsTheValueKept) {
    const wchar_t* empty = L"未入力のため、前回(";
    const wchar_t* above = L"を超えるため、前回(";
    const wchar_t* below = L"未満のため、前回(";
    const std::vector<std::string> bringUp = {"1500", "500", "5000", "1000", "0"};
    const CheckCase cases[] = {
        {"bring-up values", 0, false, kBringUp, {}, bringUp},
        {"preset empty",
         0,
         false,
         {L"", L"500", L"5000", L"1000", L"0"},
         {Used(L"X", L"[プリセット量]", empty, L"1500")},
         bringUp},
        {"preset 3276700",
         0,
         false,
         {L"3276700", nullptr, nullptr, nullptr, nullptr},
         {},
         {"3276700", "500", "5000", "1000", "0"}},
        {"preset 3276701",
         0,
         false,
         {L"3276701", nullptr, nullptr, nullptr, nullptr},
         {Used(L"X", L"[プリセット量] 3276700", above, L"1500")},
         bringUp},
        {"preset pasted negative",
         0,
         false,
         {L"-1", nullptr, nullptr, nullptr, nullptr},
         {Used(L"X", L"[プリセット量] 3276700", above, L"1500")},
         bringUp},
        {"preset with a letter: digits up to it",
         0,
         false,
         {L" 12x4", nullptr, nullptr, nullptr, nullptr},
         {},
         {"12", "500", "5000", "1000", "0"}},
        {"preset of eight digits: seven read",
         0,
         false,
         {L"12345678", nullptr, nullptr, nullptr, nullptr},
         {},
         {"1234567", "500", "5000", "1000", "0"}},
        {"FL and FH 32766",
         0,
         false,
         {nullptr, L"32766", L"32766", nullptr, nullptr},
         {},
         {"1500", "32766", "32766", "1000", "0"}},
        {"FL 32767",
         0,
         false,
         {nullptr, L"32767", nullptr, nullptr, nullptr},
         {Used(L"X", L"[ＦＬ速度] 32766", above, L"500")},
         bringUp},
        {"FH 32767",
         0,
         false,
         {nullptr, nullptr, L"32767", nullptr, nullptr},
         {Used(L"X", L"[ＦＨ速度] 32766", above, L"5000")},
         bringUp},
        {"FL empty",
         0,
         false,
         {nullptr, L"", nullptr, nullptr, nullptr},
         {Used(L"X", L"[ＦＬ速度]", empty, L"500")},
         bringUp},
        {"FH empty",
         0,
         false,
         {nullptr, nullptr, L"", nullptr, nullptr},
         {Used(L"X", L"[ＦＨ速度]", empty, L"5000")},
         bringUp},
        {"FH below FL",
         0,
         false,
         {nullptr, L"3000", L"2000", nullptr, nullptr},
         {Used(L"X", L"[ＦＨ速度]", L"FL速度より小さいため、前回(", L"500,5000")},
         bringUp},
        {"FL too large and FH below the previous FL",
         0,
         false,
         {nullptr, L"40000", L"400", nullptr, nullptr},
         {Used(L"X", L"[ＦＬ速度] 32766", above, L"500"),
          Used(L"X", L"[ＦＨ速度]", L"FL速度より小さいため、前回(", L"500,5000")},
         bringUp},
        {"FH equal to FL",
         0,
         false,
         {nullptr, L"700", L"700", nullptr, nullptr},
         {},
         {"1500", "700", "700", "1000", "0"}},
        {"acceleration 9 ms",
         0,
         false,
         {nullptr, nullptr, nullptr, L"9", nullptr},
         {Used(L"X", L"[加減速時間] 10msec", below, L"1000")},
         bringUp},
        {"acceleration 10 ms",
         0,
         false,
         {nullptr, nullptr, nullptr, L"10", nullptr},
         {},
         {"1500", "500", "5000", "10", "0"}},
        {"acceleration empty",
         0,
         false,
         {nullptr, nullptr, nullptr, L"", nullptr},
         {Used(L"X", L"[加減速時間]", empty, L"1000")},
         bringUp},
        {"acceleration pasted negative",
         0,
         false,
         {nullptr, nullptr, nullptr, L"-5", nullptr},
         {Used(L"X", L"[加減速時間] 10msec", below, L"1000")},
         bringUp},
        {"acceleration 4007 ms reads back as entered",
         0,
         false,
         {nullptr, nullptr, nullptr, L"4007", nullptr},
         {},
         {"1500", "500", "5000", "4007", "0"},
         true},
        {"acceleration 9999999 ms",
         0,
         false,
         {nullptr, nullptr, nullptr, L"9999999", nullptr},
         {},
         {"1500", "500", "5000", "9999999", "0"},
         true},
        {"cycle count 5, constant speed",
         0,
         false,
         {nullptr, nullptr, nullptr, nullptr, L"5"},
         {},
         {"1500", "500", "5000", "1000", "5"}},
        {"cycle count 9999",
         0,
         false,
         {nullptr, nullptr, nullptr, nullptr, L"9999"},
         {},
         {"1500", "500", "5000", "1000", "9999"}},
        {"cycle count 5, high speed",
         0,
         true,
         {nullptr, nullptr, nullptr, nullptr, L"5"},
         {std::wstring(L"X") + kCycleImpossible},
         bringUp},
        {"cycle count 5, high speed, FH within the preset",
         0,
         true,
         {L"6000", nullptr, nullptr, nullptr, L"5"},
         {},
         {"6000", "500", "5000", "1000", "5"}},
        {"cycle count empty", 0, false, {nullptr, nullptr, nullptr, nullptr, L""}, {}, bringUp},
        {"cycle count pasted negative: rejected, the count stays",
         0,
         false,
         {nullptr, nullptr, nullptr, nullptr, L"-1"},
         {Used(L"X", L"[サイクル回数] 9999", above, L"3")},
         {"1500", "500", "5000", "1000", "3"},
         false,
         {nullptr, nullptr, nullptr, nullptr, L"3"}},
        {"cycle count pasted beyond four digits: rejected",
         0,
         false,
         {nullptr, nullptr, nullptr, nullptr, L"12345"},
         {Used(L"X", L"[サイクル回数] 9999", above, L"0")},
         bringUp},
        {"cycle count pasted negative, high speed: the count kept is checked too",
         0,
         true,
         {L"1500", nullptr, nullptr, nullptr, L"-3"},
         {Used(L"X", L"[サイクル回数] 9999", above, L"3"), std::wstring(L"X") + kCycleImpossible},
         bringUp,
         false,
         {L"6000", nullptr, nullptr, nullptr, L"3"}},
        {"cycle count 5 after FL above the preset",
         0,
         false,
         {L"400", nullptr, nullptr, nullptr, L"5"},
         {std::wstring(L"X") + kCycleImpossible},
         {"400", "500", "5000", "1000", "0"},
         false,
         {nullptr, nullptr, nullptr, nullptr, L"3"}},
        {"axis U, preset empty",
         3,
         false,
         {L"", nullptr, nullptr, nullptr, nullptr},
         {Used(L"U", L"[プリセット量]", empty, L"1500")},
         bringUp},
        {"axis Y, all wrong at once",
         1,
         false,
         {L"", L"0", L"99999", L"3", L"7"},
         {Used(L"Y", L"[プリセット量]", empty, L"1500"), Used(L"Y", L"[ＦＬ速度]", empty, L"500"),
          Used(L"Y", L"[ＦＨ速度] 32766", above, L"5000"), Used(L"Y", L"[加減速時間] 10msec", below, L"1000")},
         {"1500", "500", "5000", "1000", "7"}},
    };
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
    std::string error;
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    HWND page = program.VisiblePage();
    bool high[4] = {};
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Every axis back to the bring-up values first.
        for (int axis = 0; axis < 4; ++axis) TypeEntries(page, axis, kBringUp);
        ASSERT_TRUE(Click(program, page, kCheckPage1).empty()) << "the bring-up values were refused";
        if (high[c.axis] != c.highSpeed) {
            EXPECT_TRUE(Click(program, page, AxisId(c.axis, kSpeedMode)).empty());
            high[c.axis] = c.highSpeed;
        }

        if (c.before.preset || c.before.fl || c.before.fh || c.before.accel || c.before.cycle) {
            TypeEntries(page, c.axis, c.before);
            ASSERT_TRUE(Click(program, page, kCheckPage1).empty()) << "the entries before the case were refused";
        }
        TypeEntries(page, c.axis, c.typed);
        std::vector<std::wstring> seen = Click(program, page, kCheckPage1);
        std::vector<std::string> got, expected;
        for (const std::wstring& t : seen) got.push_back(N(t));
        for (const std::wstring& t : c.messages) expected.push_back(N(t));
        EXPECT_EQ(got, expected);
        std::vector<std::string> shown;
        for (int i = 0; i < 5; ++i) shown.push_back(Text(page, AxisId(c.axis, kPreset + i)));
        EXPECT_EQ(shown, c.shown);
        if (c.recheck) {
            EXPECT_TRUE(Click(program, page, kCheckPage1).empty());
            shown.clear();
            for (int i = 0; i < 5; ++i) shown.push_back(Text(page, AxisId(c.axis, kPreset + i)));
            EXPECT_EQ(shown, c.shown) << "after a second check";
        }
        // The other axes kept the bring-up values without a message.
        for (int axis = 0; axis < 4; ++axis)
            if (axis != c.axis) EXPECT_EQ(Text(page, AxisId(axis, kPreset)), "1500") << "axis " << axis;
        EXPECT_EQ(program.FocusWindow(), GetDlgItem(program.MainWindow(), kTabControl));
    }
    // Checks and speed-mode changes send nothing to the board, and neither does the end of
    // the program.
    std::vector<std::string> sent;
    for (const Call& c : ProgramCalls()) sent.push_back(c.ToString());
    EXPECT_EQ(sent, std::vector<std::string>{});
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    EXPECT_EQ(MotionRegisterWrites(), std::vector<std::string>{}) << "written while the program ended";
}

// The speed-mode and pulse-output buttons: their texts, and register 6 written and read back.
TEST_F(Settings, ButtonsShowTheModeAndWriteRegisterSix) {
    struct Step {
        int k;
        const wchar_t* speedText;
        const wchar_t* commandText;
        const wchar_t* logicText;
        int64_t register6;  // written and read back; -1: nothing sent to the board
    };
    const Step steps[] = {
        {kSpeedMode, kNowHigh, kIndividual, kPositive, -1},
        {kSpeedMode, kNowConstant, kIndividual, kPositive, -1},
        {kSpeedMode, kNowHigh, kIndividual, kPositive, -1},
        {kPulseCommand, kNowHigh, kCommon, kPositive, 0x13000000},
        {kPulseLogic, kNowHigh, kCommon, kNegative, 0x13000002},
        {kPulseCommand, kNowHigh, kIndividual, kNegative, 0x13000007},
        {kPulseLogic, kNowHigh, kIndividual, kPositive, 0x13000004},
        {kPulseLogic, kNowHigh, kIndividual, kNegative, 0x13000007},
        {kPulseCommand, kNowHigh, kCommon, kNegative, 0x13000002},
        {kPulseDefault, kNowHigh, kIndividual, kPositive, 0x13000004},
        {kPulseCommand, kNowHigh, kCommon, kPositive, 0x13000000},
        {kPulseDefault, kNowHigh, kIndividual, kPositive, 0x13000004},
    };
    struct PageCase {
        int tab;
        int axis;
    };
    const PageCase pages[] = {{2, 1}, {3, 5}};
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
    for (const PageCase& p : pages) {
        SCOPED_TRACE("tab " + std::to_string(p.tab) + ", axis " + std::to_string(p.axis));
        if (p.tab != 2) ASSERT_NO_FATAL_FAILURE(GoToTab(&program, p.tab));
        HWND page = program.VisiblePage();
        EXPECT_EQ(Text(page, AxisId(p.axis, kSpeedText)), N(kNowConstant));
        EXPECT_EQ(Text(page, AxisId(p.axis, kPulseCommand)), N(kIndividual));
        EXPECT_EQ(Text(page, AxisId(p.axis, kPulseLogic)), N(kPositive));
        int n = 0;
        for (const Step& s : steps) {
            SCOPED_TRACE("step " + std::to_string(++n));
            std::string error;
            ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
            EXPECT_TRUE(Click(program, page, AxisId(p.axis, s.k)).empty());
            EXPECT_EQ(Text(page, AxisId(p.axis, kSpeedText)), N(s.speedText));
            EXPECT_EQ(Text(page, AxisId(p.axis, kPulseCommand)), N(s.commandText));
            EXPECT_EQ(Text(page, AxisId(p.axis, kPulseLogic)), N(s.logicText));
            EXPECT_EQ(program.FocusWindow(), GetDlgItem(program.MainWindow(), kTabControl));
            std::vector<std::string> got, expected;
            for (const Call& c : ProgramCalls()) got.push_back(c.ToString());
            if (s.register6 >= 0) {
                expected.push_back(Call{Call::Command, (uint32_t)p.axis, 0xC6, (uint32_t)s.register6, true}.ToString());
                expected.push_back(
                    Call{Call::RegisterRead, (uint32_t)p.axis, 0x86, (uint32_t)s.register6, false}.ToString());
            }
            EXPECT_EQ(got, expected);
        }
    }
    // The modes live on across page changes: high speed and the default pulse output.
    ASSERT_NO_FATAL_FAILURE(GoToTab(&program, 2));
    HWND page = program.VisiblePage();
    EXPECT_EQ(Text(page, AxisId(1, kSpeedText)), N(kNowHigh));
    EXPECT_EQ(Text(page, AxisId(0, kSpeedText)), N(kNowConstant));
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// Leaving a settings page writes registers 0 to 3 of its axes, with the rate from the
// acceleration time; the program ending writes nothing.
TEST_F(Settings, LeavingThePageWritesTheMotionRegisters) {
    struct AxisCase {
        int axis;
        Entries typed;
        uint32_t preset, fl, fh, rate;
    };
    // Rates: 1000 ms from 500 to 5000 pps gives 545, 100 ms from 100 to 1100 gives 245, 500 ms
    // from 500 to 1500 gives 1228; 10 ms from 100 to 32766 and FL equal to FH give 0; a ramp too
    // slow for 32 bits gives the slowest the register holds.
    const AxisCase page1[] = {
        {0, {L"1500", L"500", L"5000", L"1000", L"0"}, 1500, 500, 5000, 545},
        {1, {L"3276700", L"100", L"1100", L"100", L"0"}, 3276700, 100, 1100, 245},
        {2, {L"20", L"500", L"1500", L"500", L"0"}, 20, 500, 1500, 1228},
        {3, {L"1", L"100", L"32766", L"10", L"0"}, 1, 100, 32766, 0},
    };
    const AxisCase page2[] = {
        {4, {L"7", L"700", L"700", L"2000", L"0"}, 7, 700, 700, 0},
        {5, {L"99", L"1", L"2", L"9999999", L"0"}, 99, 1, 2, 0xFFFFFFFFu},
    };
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
    std::string error;

    struct Leave {
        int tab;
        const AxisCase* axes;
        size_t count;
        int checkId;
    };
    const Leave leaves[] = {{2, page1, 4, kCheckPage1}, {3, page2, 2, kCheckPage2}};
    for (const Leave& l : leaves) {
        SCOPED_TRACE("tab " + std::to_string(l.tab));
        if (l.tab != 2) ASSERT_NO_FATAL_FAILURE(GoToTab(&program, l.tab));
        HWND page = program.VisiblePage();
        for (size_t i = 0; i < l.count; ++i) TypeEntries(page, l.axes[i].axis, l.axes[i].typed);

        // An invalid entry keeps the page; nothing is written.
        Type(page, AxisId(l.axes[0].axis, kPreset), L"");
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        ASSERT_TRUE(program.ClickTab(0, &error)) << error;
        ui::MessageBoxSeen first;
        ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &first)) << "no message for the empty preset";
        std::vector<std::wstring> seen = AnswerBoxes(program, page);
        const wchar_t* letter = l.tab == 2 ? L"X" : L"V";
        EXPECT_EQ(N(first.text), N(Used(letter, L"[プリセット量]", L"未入力のため、前回(", L"1500")));
        EXPECT_EQ(seen.size(), 1u);
        ASSERT_TRUE(program.WaitForPage(l.tab, kTimeout)) << "the page was left";
        EXPECT_EQ(program.SelectedTab(), l.tab);
        EXPECT_EQ(MotionRegisterWrites(), std::vector<std::string>{});
        Type(page, AxisId(l.axes[0].axis, kPreset), l.axes[0].typed.preset);

        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        ASSERT_NO_FATAL_FAILURE(GoToTab(&program, 0));
        std::vector<std::string> expected;
        for (size_t i = 0; i < l.count; ++i) {
            const AxisCase& a = l.axes[i];
            expected.push_back(Write(a.axis, 0, a.preset));
            expected.push_back(Write(a.axis, 1, a.fl));
            expected.push_back(Write(a.axis, 2, a.fh));
            expected.push_back(Write(a.axis, 3, a.rate));
        }
        EXPECT_EQ(MotionRegisterWrites(), expected);
        if (l.tab == 2) ASSERT_NO_FATAL_FAILURE(GoToTab(&program, 2));
    }

    // Entries checked on the page but not left: the end of the program writes nothing.
    ASSERT_NO_FATAL_FAILURE(GoToTab(&program, 2));
    HWND page = program.VisiblePage();
    TypeEntries(page, 0, {L"2222", L"222", L"2222", L"222", L"0"});
    EXPECT_TRUE(Click(program, page, kCheckPage1).empty());
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    EXPECT_EQ(MotionRegisterWrites(), std::vector<std::string>{});
}

// A register write that fails while the page is left: the error box, the board closed, exit 0.
TEST_F(Settings, AFailedRegisterWriteEndsTheProgram) {
    struct Case {
        const char* name;
        uint32_t request;  // request number after the trace reset (three per register write)
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {"register 0 of X", 1, {}},
        {"register 3 of Z", 3 * 4 * 2 + 3 * 3 + 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        TlmSimFault fault = {TLMSIM_FAULT_FAIL, c.request, 0, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0};
        ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
        ASSERT_TRUE(program.ClickTab(0, &error)) << error;
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &box)) << "no error box";
        EXPECT_EQ(N(box.caption), ui::kErrorCaption);
        EXPECT_EQ(N(box.text), "レジスタ書込Error：(0x45d)");
        ui::Program::Press(box.window, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(program.WaitForExit(kTimeout, &code)) << "still running; boxes: " << pagetest::BoxesSeen(program);
        EXPECT_EQ(code, 0u);
        // The writes up to the failed one, and none after it.
        std::vector<std::string> writes = MotionRegisterWrites();
        size_t expectedCount = (c.request - 1) / 3;
        EXPECT_EQ(writes.size(), expectedCount) << "register writes sent";
        TlmSimState state;
        ASSERT_TRUE(simctl::GetState(&state, &error)) << error;
        EXPECT_EQ(state.openBoard, 0u) << "device handles left open";
    }
}

// Choosing another board refills the page with the bring-up values of the board opened.
TEST_F(Settings, AnotherBoardRefillsThePage) {
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0, 3, 6), TestBoard(1, 7, 4)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
    HWND page = program.VisiblePage();
    for (int axis = 0; axis < 4; ++axis) TypeEntries(page, axis, {L"4000", L"300", L"3000", L"2500", L"2"});
    EXPECT_TRUE(Click(program, page, kCheckPage1).empty());
    EXPECT_TRUE(Click(program, page, AxisId(0, kSpeedMode)).empty());
    EXPECT_TRUE(Click(program, page, AxisId(0, kPulseLogic)).empty());

    struct Step {
        const char* name;
        int entry;
        int axes;
    };
    const Step steps[] = {{"four-axis board", 1, 4}, {"six-axis board again", 0, 6}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ui::Program::ChooseComboEntry(GetDlgItem(page, kDeviceCombo), s.entry);
        EXPECT_EQ(pagetest::BoxesSeen(program), "none");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, kCheckPage1)));
        for (int axis = 0; axis < 4; ++axis) {
            SCOPED_TRACE("axis " + std::to_string(axis));
            bool present = axis < s.axes;
            std::vector<std::string> shown;
            for (int i = 0; i < 5; ++i) {
                shown.push_back(Text(page, AxisId(axis, kPreset + i)));
                EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, AxisId(axis, kPreset + i))) != 0, present);
            }
            for (int k = kSpeedMode; k <= kPulseDefault; ++k)
                EXPECT_EQ(IsWindowEnabled(GetDlgItem(page, AxisId(axis, k))) != 0, present) << "control " << k;
            if (present) {
                EXPECT_EQ(shown, (std::vector<std::string>{"1500", "500", "5000", "1000", "0"}));
                EXPECT_EQ(Text(page, AxisId(axis, kSpeedText)), N(kNowConstant));
                EXPECT_EQ(Text(page, AxisId(axis, kPulseCommand)), N(kIndividual));
                EXPECT_EQ(Text(page, AxisId(axis, kPulseLogic)), N(kPositive));
            } else {
                EXPECT_EQ(shown, (std::vector<std::string>{"", "", "", "", ""}));
                EXPECT_EQ(Text(page, AxisId(axis, kSpeedText)), "");
            }
        }
    }
    // The values of the board opened go to its registers when the page is left.
    std::string error;
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(GoToTab(&program, 0));
    const uint32_t kBringUpRegisters[4] = {1500, 500, 5000, 545};
    std::vector<std::string> expected;
    for (uint32_t axis = 0; axis < 4; ++axis)
        for (uint32_t reg = 0; reg < 4; ++reg) expected.push_back(Write(axis, reg, kBringUpRegisters[reg]));
    EXPECT_EQ(MotionRegisterWrites(), expected);
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// Typed entries: digits only, as many as the box takes.
TEST_F(Settings, EditBoxesTakeDigitsUpToTheirLimits) {
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 3));
    HWND page = program.VisiblePage();
    const char* expected[5] = {"9876543", "98765", "98765", "9876543", "9876"};
    for (int axis : {4, 5}) {
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE("axis " + std::to_string(axis) + ", box " + std::to_string(kPreset + i));
            HWND edit = GetDlgItem(page, AxisId(axis, kPreset + i));
            SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)L"");
            for (const wchar_t* key = L"9a8-7.6 5x4321"; *key; ++key) SendMessageW(edit, WM_CHAR, *key, 1);
            EXPECT_EQ(Text(page, AxisId(axis, kPreset + i)), expected[i]);
        }
    }
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// A pulse-output button whose register 6 write or read-back fails: the error box while the
// button keeps its text, then the end of the program with the board closed.
TEST_F(Settings, AFailedPulseOutputChangeEndsTheProgram) {
    struct Case {
        const char* name;
        int k;
        TlmSimFault fault;    // request numbers after the trace reset: 1-3 the write, 4-6 the read
        const char* message;  // the text up to the error code
    };
    const Case cases[] = {
        {"pulse command, write fails",
         kPulseCommand,
         {TLMSIM_FAULT_FAIL, 1, 0, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0},
         "レジスタ書込Error：(0x45d)"},
        {"pulse logic, read-back differs",
         kPulseLogic,
         {TLMSIM_FAULT_REPLY, 5, 0, 0, 0x1234},
         "レジスタ読込Error：(0x"},
        {"default, read fails",
         kPulseDefault,
         {TLMSIM_FAULT_FAIL, 6, 0, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0},
         "レジスタ読込Error：(0x45d)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0)}));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(StartOnTab(&program, 2));
        HWND page = program.VisiblePage();
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        ASSERT_TRUE(simctl::AddFault(c.fault, &error)) << error;
        PostMessageW(GetDlgItem(page, AxisId(2, c.k)), BM_CLICK, 0, 0);
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &box)) << "no error box";
        EXPECT_EQ(N(box.caption), ui::kErrorCaption);
        std::string text = N(box.text);
        EXPECT_EQ(text.substr(0, std::string(c.message).size()), c.message) << text;
        EXPECT_EQ(Text(page, AxisId(2, kPulseCommand)), N(kIndividual));
        EXPECT_EQ(Text(page, AxisId(2, kPulseLogic)), N(kPositive));
        ui::Program::Press(box.window, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(program.WaitForExit(kTimeout, &code)) << "still running; boxes: " << pagetest::BoxesSeen(program);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(MotionRegisterWrites(), std::vector<std::string>{}) << "the end of the program writes nothing";
        TlmSimState state;
        ASSERT_TRUE(simctl::GetState(&state, &error)) << error;
        EXPECT_EQ(state.openBoard, 0u) << "device handles left open";
    }
}

}  // namespace
