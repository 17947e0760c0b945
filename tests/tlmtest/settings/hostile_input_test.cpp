// Random text in every edit box of the settings pages of tlmtest6.exe and tlmtest4.exe (signs,
// letters, full-width digits, over-long texts set directly or pasted from the clipboard), then
// the setting check and a page switch: what the page keeps and what reaches the registers must
// stay within the limits of each entry. The text comes from a fixed seed, so every run is the
// same.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "page_test.h"

using pagetest::kTimeout;
using simctl::Call;

namespace {

constexpr int kOperationTab = 0;

struct PageCase {
    const char* name;
    const wchar_t* program;
    int tab;        // the settings tab
    int pageIndex;  // as ui::Program::PageIndex reads the page
    int checkId;    // "設定チェック"
    uint8_t boardAxes;
    int firstAxis, endAxis;
    uint32_t seed;
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

// A small generator of its own, so the texts do not depend on the standard library's.
struct Random {
    uint32_t state;
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

// Pieces the texts are made of.
const wchar_t* const kPieces[] = {
    L"-",  L"+",  L" ",    L"\t",    L"a",          L"Z",          L"e",           L"０",      L"１２３", L"９",
    L"軸", L"ｱ",  L"0x1F", L"1e9",   L"2147483648", L"4294967295", L"-2147483648", L"3276700", L"32766",  L"32767",
    L"9",  L"10", L"0",    L"00000", L"9999",       L"10000",      L"-0",          L"+-",
};

std::wstring RandomText(Random& random) {
    std::wstring text;
    uint32_t pieces = 1 + random.Below(4);
    for (uint32_t i = 0; i < pieces; ++i) {
        switch (random.Below(4)) {
            case 0:  // a run of digits, sometimes far longer than the box takes
                for (uint32_t n = random.Below(8) == 0 ? 300 : 1 + random.Below(9); n > 0; --n)
                    text += wchar_t(L'0' + random.Below(10));
                break;
            default: text += kPieces[random.Below(sizeof kPieces / sizeof kPieces[0])];
        }
    }
    return text;
}

// The rate value of register 3 for the acceleration time shown in milliseconds.
uint32_t RateValue(uint32_t ms, uint32_t fl, uint32_t fh) {
    int32_t d = std::abs((int32_t)fh - (int32_t)fl);
    if (d == 0) return 0;
    volatile double x = (double)ms * 0.001 / (double)d;
    x = x * 2457600.0;
    x = x - 1.0;
    double value = x;
    if (value - std::trunc(value) > 0.5) value += 1.0;
    if (value < 0.0) return 0;
    if (value >= 4294967296.0) return 0xFFFFFFFFu;
    return (uint32_t)value;
}

enum { kPreset = 201, kCycle = 205, kSpeedMode = 206, kSpeedText = 210 };
const size_t kTextLimits[5] = {7, 5, 5, 7, 4};

// The five values an axis shows, read as numbers; -1 for a text that is not a plain number.
struct Shown {
    long long v[5];
};

class HostileInput : public pagetest::PageTest, public ::testing::WithParamInterface<PageCase> {
protected:
    HostileInput() : PageTest(GetParam().program) {}

    HWND Main() const { return program_.MainWindow(); }

    // Answers the boxes the program shows until it is idle without one; returns their texts.
    // Each must be a notice of the page, never an error report.
    std::vector<std::string> AnswerBoxes() {
        std::vector<std::string> texts;
        for (int guard = 0; guard < 100; ++guard) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(Main(), WM_NULL, 0, 0, SMTO_NORMAL, kTimeout, &result);
            if (!BoxWindowExists()) break;
            ui::MessageBoxSeen box;
            if (!program_.WaitForMessageBox(kTimeout, &box)) {
                ADD_FAILURE() << "a message box was made but not shown";
                break;
            }
            texts.push_back(ui::Narrow(box.text));
            EXPECT_EQ(ui::Narrow(box.caption), "") << ui::Narrow(ui::Describe(box));
            ui::Program::Press(box.window, IDOK);
            for (int i = 0; i < 500 && IsWindow(box.window); ++i) Sleep(5);
        }
        return texts;
    }

    bool BoxWindowExists() const {
        struct Search {
            DWORD pid;
            bool found;
        } search = {program_.pid(), false};
        EnumWindows(
            [](HWND window, LPARAM param) WINAPI -> BOOL {
                Search* s = reinterpret_cast<Search*>(param);
                DWORD pid = 0;
                wchar_t cls[32] = {};
                GetWindowThreadProcessId(window, &pid);
                GetClassNameW(window, cls, 32);
                if (pid == s->pid && wcscmp(cls, L"#32770") == 0 &&
                    (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION)
                    s->found = true;
                return !s->found;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Sends a message that may open boxes, not waiting for a handler a box holds up; then answers
    // them (their WM_NULL is handled after the handler, or by the loop of the box it opened).
    std::vector<std::string> SendAndAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        SendNotifyMessageW(window, message, wParam, lParam);
        return AnswerBoxes();
    }

    // Chooses a tab with the mouse, answering the notices of a refused change.
    std::vector<std::string> ChooseTab(int tab) {
        HWND tabs = GetDlgItem(Main(), 1001);
        RECT item = {};
        // The rectangle is the same in every process; only its memory lies in the program's.
        TabRect(tab, &item);
        LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
        std::vector<std::string> texts = SendAndAnswer(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendAndAnswer(tabs, WM_LBUTTONUP, 0, at);
        page_ = program_.VisiblePage();
        return texts;
    }

    void TabRect(int tab, RECT* rect) {
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ, FALSE, program_.pid());
        void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
        SendMessageW(GetDlgItem(Main(), 1001), TCM_GETITEMRECT, tab, (LPARAM)remote);
        ReadProcessMemory(process, remote, rect, sizeof *rect, nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        CloseHandle(process);
    }

    // Random text in every edit box of the page, set directly or pasted.
    void FillWithRandomText(Random& random) {
        const PageCase& c = GetParam();
        for (int axis = c.firstAxis; axis < c.endAxis; ++axis)
            for (int k = kPreset; k <= kCycle; ++k) {
                HWND edit = GetDlgItem(page_, pagetest::Id(axis, k));
                std::wstring text = RandomText(random);
                if (random.Below(2)) {
                    SendMessageW(edit, WM_SETTEXT, 0, (LPARAM)text.c_str());
                    continue;
                }
                // Wine's clipboard manager may hold the clipboard for a moment.
                bool open = false;
                for (int i = 0; i < 100 && !(open = OpenClipboard(nullptr) != FALSE); ++i) Sleep(10);
                ASSERT_TRUE(open) << "the clipboard stays taken";
                EmptyClipboard();
                HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
                memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
                GlobalUnlock(memory);
                SetClipboardData(CF_UNICODETEXT, memory);
                CloseClipboard();
                SendMessageW(edit, EM_SETSEL, 0, -1);
                SendMessageW(edit, WM_PASTE, 0, 0);
                // A paste is cut at the box's text limit, whatever the characters.
                EXPECT_EQ(ui::Narrow(ui::Program::ControlText(edit)),
                          ui::Narrow(text.substr(0, kTextLimits[k - kPreset])))
                    << "pasted into " << pagetest::Id(axis, k);
            }
    }

    Shown ShownValues(int axis) const {
        Shown s;
        for (int i = 0; i < 5; ++i) {
            std::string text = Text(pagetest::Id(axis, kPreset + i));
            bool plain = !text.empty() && text.size() <= 7 && text.find_first_not_of("0123456789") == std::string::npos;
            s.v[i] = plain ? std::stoll(text) : -1;
        }
        return s;
    }

    // What an axis shows after a check: every value within the limits of its entry.
    void ExpectWithinLimits(int axis) {
        Shown s = ShownValues(axis);
        long long preset = s.v[0], fl = s.v[1], fh = s.v[2], accel = s.v[3], cycles = s.v[4];
        SCOPED_TRACE("axis " + std::to_string(axis) + " shows " + std::to_string(preset) + ", " + std::to_string(fl) +
                     ", " + std::to_string(fh) + ", " + std::to_string(accel) + ", " + std::to_string(cycles));
        EXPECT_TRUE(preset >= 1 && preset <= 3276700) << "preset amount";
        EXPECT_TRUE(fl >= 1 && fl <= 32766) << "FL";
        EXPECT_TRUE(fh >= fl && fh <= 32766) << "FH";
        EXPECT_TRUE(accel >= 10 && accel <= 9999999) << "acceleration time";
        EXPECT_TRUE(cycles >= 0 && cycles <= 9999) << "cycle count";
        bool high = Text(pagetest::Id(axis, kSpeedText)) == "現在 高速動作";
        if (cycles > 0) EXPECT_LE(high ? fh : fl, preset) << "a cycle count kept although no cycle run is possible";
    }
};

TEST_P(HostileInput, KeepsEveryValueAndRegisterWithinItsLimits) {
    const PageCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartOn(c.boardAxes, false, 0));
    ChooseTab(c.tab);
    ASSERT_EQ(ui::Program::PageIndex(page_), c.pageIndex) << "settings page not shown; boxes: " << Boxes();
    Random random = {c.seed};
    const int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (random.Below(2)) SendAndAnswer(GetDlgItem(page_, pagetest::Id(c.firstAxis, kSpeedMode)), BM_CLICK, 0, 0);

        ASSERT_NO_FATAL_FAILURE(FillWithRandomText(random));
        SendAndAnswer(GetDlgItem(page_, c.checkId), BM_CLICK, 0, 0);
        for (int axis = c.firstAxis; axis < c.endAxis; ++axis) ExpectWithinLimits(axis);

        // Leaving with fresh random text: a refused change keeps the page showing what it
        // kept, and the second try leaves it.
        ASSERT_NO_FATAL_FAILURE(FillWithRandomText(random));
        ResetTrace();
        for (int attempt = 0; attempt < 2 && ui::Program::PageIndex(page_) != 0; ++attempt) ChooseTab(kOperationTab);
        ASSERT_EQ(ui::Program::PageIndex(page_), 0) << "the settings page could not be left; boxes: " << Boxes();
        std::vector<uint32_t> registers[6];
        for (const Call& call : Calls())
            if (call.kind == Call::Command && call.hasData && call.code >= 0xC0 && call.code <= 0xC3)
                registers[call.axis].push_back(call.value);

        ChooseTab(c.tab);
        ASSERT_EQ(ui::Program::PageIndex(page_), c.pageIndex) << "settings page not shown again; boxes: " << Boxes();
        for (int axis = c.firstAxis; axis < c.endAxis; ++axis) {
            SCOPED_TRACE("axis " + std::to_string(axis));
            ExpectWithinLimits(axis);
            Shown s = ShownValues(axis);
            std::vector<uint32_t> expected = {(uint32_t)s.v[0], (uint32_t)s.v[1], (uint32_t)s.v[2],
                                              RateValue((uint32_t)s.v[3], (uint32_t)s.v[1], (uint32_t)s.v[2])};
            EXPECT_EQ(registers[axis], expected) << "registers 0 to 3 written, against the values the page keeps";
        }
    }
    EXPECT_TRUE(program_.Running()) << "the program ended; boxes: " << Boxes();
}

INSTANTIATE_TEST_SUITE_P(
    Pages, HostileInput,
    ::testing::Values(PageCase{"tlmtest6_x_to_u", L"tlmtest6.exe", 2, 2, 1311, 6, 0, 4, 0x7E310C51u},
                      PageCase{"tlmtest6_v_and_w", L"tlmtest6.exe", 3, 3, 1411, 6, 4, 6, 0x0C517E31u},
                      PageCase{"tlmtest4", L"tlmtest4.exe", 1, 2, 1211, 4, 0, 4, 0x2457600u}),
    [](const ::testing::TestParamInfo<PageCase>& info) { return std::string(info.param.name); });

}  // namespace
