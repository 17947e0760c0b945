// tlmtest6.exe driven as a user would drive it, on the simulated driver tlmsim.sys: start-up
// on different boards, the error box, page switching, the page following the main window,
// and the end of the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>

#include "page_test.h"
#include "simctl.h"
#include "ui.h"

using pagetest::CloseAndExit;
using pagetest::Join;
using pagetest::kTimeout;
using simctl::AxisMover;
using simctl::Call;

namespace {

// Texts of the program's string table, as the user reads them.
const wchar_t kDuplicateIds[] = L"２つ以上のボードIDが重複しているため、ボードIDでのオープンは使用できません。";
const wchar_t kCannotSwitch[] = L"動作中のため、画面切替できません。";
const wchar_t kNoVwAxes[] = L"V～B軸が存在しません。";
const wchar_t kErrDeviceCount[] = L"デバイス個数取得Error：";
const wchar_t kErrDeviceInfo[] = L"デバイス情報取得Error：";
const wchar_t kErrDeviceOpen[] = L"デバイスオープンError：";
const wchar_t kErrCommandWrite[] = L"コマンドバッファ書込Error：";
const wchar_t kErrControlMode[] = L"制御モードバッファ書込Error：";
const wchar_t kErrRegisterWrite[] = L"レジスタ書込Error：";
const wchar_t kErrRegisterRead[] = L"レジスタ読込Error：";
const wchar_t kErrEls[] = L"ELS極性ポート書込/読込Error：";
const wchar_t kErrCmp[] = L"CMP出力切替ポート書込/読込Error：";

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%lx", (unsigned long)value);
    return text;
}

std::vector<TlmSimBoardConfig> Boards(int count, uint8_t axes = 6) {
    std::vector<TlmSimBoardConfig> boards;
    for (int i = 0; i < count; ++i) boards.push_back(TestBoard(i, -1, axes));
    return boards;
}

class Tlmtest6 : public pagetest::ProgramTest {
protected:
    std::vector<Call> ProgramCalls() {
        std::vector<TlmSimTraceEntry> entries = Trace();
        return simctl::Calls(entries, simctl::ProgramFile(entries));
    }

    // Starts the program and waits for its first page.
    void StartToFirstPage(ui::Program* program) {
        ASSERT_NO_FATAL_FAILURE(Start(program));
        ASSERT_TRUE(program->WaitForPage(0, kTimeout))
            << "page 0 was not shown; message boxes: " << pagetest::BoxesSeen(*program) << "; " << program->State();
    }

    // Expects one plain message box (empty caption, OK only, no icon, owned by the main
    // window) with `text`, and answers it.
    void ExpectNotice(ui::Program* program, const std::wstring& text, bool lampsLive = false) {
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program->WaitForMessageBox(kTimeout, &box)) << "no message box";
        EXPECT_EQ(ui::Narrow(box.text), ui::Narrow(text));
        EXPECT_EQ(ui::Narrow(box.caption), "");
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << ui::Narrow(ui::Describe(box));
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(box.owner, program->MainWindow());
        if (lampsLive) {
            // The lamp poll of the operation page goes on under the notice (register 14 reads;
            // since the trace was reset the program's requests come first).
            auto lampReads = [&] {
                std::vector<TlmSimTraceEntry> entries = Trace();
                int n = 0;
                if (!entries.empty())
                    for (const Call& c : simctl::Calls(entries, entries.front().file))
                        n += c.kind == Call::RegisterRead && c.code == 0x8E;
                return n;
            };
            // Four more reads, however slowly a loaded machine runs the program's timer.
            int before = lampReads(), seen = 0;
            for (DWORD start = GetTickCount(); seen < 4 && GetTickCount() - start < kTimeout; Sleep(50))
                seen = lampReads() - before;
            EXPECT_GE(seen, 4) << "the lamps stood still under the notice";
        }
        ui::Program::Press(box.window, IDOK);
    }

    // The axes that received the close sequence, in order, from the calls after `from`: the
    // decelerating stop 0x0A (which the library sends after reading registers 1 and 12 of the
    // axis, and as 0x09 when the axis runs at its FL speed), then 0x48 and 0x49. A stop alone
    // (an error report's, before its box) goes to *stopped.
    static std::vector<uint32_t> ClosedAxes(const std::vector<Call>& calls, size_t from, std::string* problem,
                                            std::vector<uint32_t>* stopped = nullptr) {
        std::vector<uint32_t> axes;
        auto is = [&](size_t i, Call::Kind kind, uint32_t code, uint32_t axis) {
            return i < calls.size() && calls[i].kind == kind && calls[i].code == code && calls[i].axis == axis;
        };
        for (size_t i = from; i < calls.size(); ++i) {
            const Call& c = calls[i];
            if (c.kind != Call::RegisterRead || c.code != 0x81) continue;
            uint32_t axis = c.axis;
            bool stop = is(i + 1, Call::RegisterRead, 0x8C, axis) &&
                        (is(i + 2, Call::Command, 0x0A, axis) || is(i + 2, Call::Command, 0x09, axis));
            if (stop && stopped && !is(i + 3, Call::Command, 0x48, axis)) {
                stopped->push_back(axis);
                i += 2;
                continue;
            }
            if (!stop || !is(i + 3, Call::Command, 0x48, axis) || !is(i + 4, Call::Command, 0x49, axis)) {
                *problem += "incomplete close sequence on axis " + std::to_string(axis) + "; ";
                continue;
            }
            axes.push_back(axis);
            i += 4;
        }
        return axes;
    }

    static size_t IndexAfterStartup(const std::vector<Call>& calls) {
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].kind == Call::ByteRead && calls[i].code == 0x88) return i + 1;
        return calls.size();
    }
};

// ---- Start-up on different boards ----

struct StartupCase {
    const char* name;
    std::vector<TlmSimBoardConfig> boards;
    std::vector<uint32_t> initialisedAxes;  // axes that went through the initial commands
    std::vector<uint32_t> presentAxes;      // axes stopped and closed at the end
    int openedManagement;                   // the board selected by the open
    bool duplicateMessage;
};

TEST_F(Tlmtest6, StartsOnEachBoardSetAndCountsTheAxes) {
    std::vector<TlmSimBoardConfig> duplicates = {TestBoard(0, 1), TestBoard(1, 2), TestBoard(2, 1)};
    std::vector<TlmSimBoardConfig> duplicatesLater = {TestBoard(3, 5), TestBoard(4, 2), TestBoard(5, 2)};
    const StartupCase cases[] = {
        {"one six-axis board", Boards(1, 6), {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}, 0, false},
        {"one four-axis board", Boards(1, 4), {0, 1, 2, 3, 4}, {0, 1, 2, 3}, 0, false},
        {"sixteen boards", Boards(16, 6), {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}, 0, false},
        {"board IDs 1, 2, 1", duplicates, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}, 0, true},
        {"board IDs 5, 2, 2", duplicatesLater, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}, 3, true},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(UseBoards(c.boards));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(Start(&program));
        if (c.duplicateMessage) ASSERT_NO_FATAL_FAILURE(ExpectNotice(&program, kDuplicateIds));
        ASSERT_TRUE(program.WaitForPage(0, kTimeout))
            << "page 0 not shown; boxes: " << pagetest::BoxesSeen(program) << "; " << program.State();
        EXPECT_EQ(program.SelectedTab(), 0);
        // No second notice follows the first.
        Sleep(300);
        EXPECT_EQ(pagetest::BoxesSeen(program), "none");
        ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));

        std::vector<Call> calls = ProgramCalls();
        std::vector<uint32_t> initialised;
        int selected = -2;
        int selectedBoardId = 0;
        for (const Call& call : calls) {
            if (call.kind == Call::Command && call.code == 0x60) initialised.push_back(call.axis);
            if (call.kind == Call::Select) selected = (int)call.value, selectedBoardId = (int)call.code;
        }
        EXPECT_EQ(initialised, c.initialisedAxes) << Join(calls);
        EXPECT_EQ(selected, c.openedManagement) << "management number given to the open";
        EXPECT_EQ(selectedBoardId, -1) << "the start-up open goes by device, without a board ID";
        std::string problem;
        EXPECT_EQ(ClosedAxes(calls, IndexAfterStartup(calls), &problem), c.presentAxes) << Join(calls);
        EXPECT_EQ(problem, "");
    }
}

// The requests of a start-up on one six-axis board, call by call.
TEST_F(Tlmtest6, ShowsTheCentredMainWindowWithFourTabs) {
    ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 6)));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
    HWND main = program.MainWindow();
    wchar_t title[128] = {};
    GetWindowTextW(main, title, 128);
    EXPECT_EQ(ui::Narrow(title), "[KVN] Tellam-6X 動かしてみる");
    std::vector<std::string> tabs;
    for (const std::wstring& text : program.TabTexts()) tabs.push_back(ui::Narrow(text));
    EXPECT_EQ(tabs, (std::vector<std::string>{"X～U軸動作", "V～W軸動作", "X～U軸設定", "V～W軸設定"}));
    EXPECT_EQ(program.SelectedTab(), 0);

    // Centred, 15 pixels above the middle.
    RECT r;
    GetWindowRect(main, &r);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(r.left, (screenWidth - (r.right - r.left)) / 2);
    EXPECT_EQ(r.top, (screenHeight - (r.bottom - r.top)) / 2 - 15);

    // The page lies on the tab control, below the tabs, inside the main window.
    RECT page;
    GetWindowRect(program.VisiblePage(), &page);
    POINT client = {0, 0};
    ClientToScreen(main, &client);
    EXPECT_GT(page.left, client.x);
    EXPECT_GT(page.top, client.y);
    EXPECT_LE(page.right, r.right);
    EXPECT_LE(page.bottom, r.bottom);
    EXPECT_EQ(GetWindow(program.VisiblePage(), GW_OWNER), main);
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

TEST_F(Tlmtest6, InitialisesEveryAxisWithTheDefaults) {
    ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 6)));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
    ULONGLONG shownMs = GetTickCount64() - program.startTick();
    std::vector<TlmSimTraceEntry> entries = Trace();
    std::vector<Call> calls = simctl::Calls(entries, simctl::ProgramFile(entries));
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    std::printf("[ figures ] first page shown %llu ms after process start; %zu driver requests, %zu library calls "
                "during start-up\n",
                shownMs, entries.size(), calls.size());
    RecordProperty("first_page_ms", std::to_string(shownMs));
    RecordProperty("startup_requests", std::to_string(entries.size()));

    std::vector<std::string> expected = {"count", "info", "select(boardId -1, management 0)"};
    const std::pair<uint32_t, uint32_t> registers[] = {{0, 1500}, {1, 500},        {2, 5000},    {3, 545},    {4, 299},
                                                       {5, 0},    {6, 0x13000004}, {7, 0xF0C40}, {8, 0x4000}, {9, 0},
                                                       {10, 0},   {11, 0},         {17, 0},      {18, 0},     {19, 0},
                                                       {23, 0},   {24, 0},         {25, 0},      {26, 0},     {27, 0}};
    for (uint32_t axis = 0; axis < 6; ++axis) {
        for (uint32_t command : {0x60u, 0x61u, 0x62u})
            expected.push_back(Call{Call::Command, axis, command, 0, false}.ToString());
        expected.push_back(Call{Call::ControlMode, axis, 0x14, 0, false}.ToString());
        for (auto r : registers)
            expected.push_back(Call{Call::Command, axis, 0xC0 + r.first, r.second, true}.ToString());
        expected.push_back(Call{Call::Command, axis, 0x48, 0, false}.ToString());
        expected.push_back(Call{Call::Command, axis, 0x49, 0, false}.ToString());
        if (axis == 0) {
            expected.push_back(Call{Call::ByteWrite, 0, 0x80, 0, false}.ToString());
            expected.push_back(Call{Call::ByteWrite, 0, 0x88, 0, false}.ToString());
        }
        expected.push_back(Call{Call::RegisterRead, axis, 0x86, 0x13000004, false}.ToString());
    }
    expected.push_back(Call{Call::ByteRead, 0, 0x80, 0, false}.ToString());
    expected.push_back(Call{Call::ByteRead, 0, 0x88, 0, false}.ToString());
    std::vector<std::string> got;
    for (const Call& c : calls) got.push_back(c.ToString());
    EXPECT_EQ(got, expected);
}

// ---- Failures at start-up: the error box, one close, exit code 0 ----

struct FailureCase {
    const char* name;
    std::vector<TlmSimBoardConfig> boards;
    // The request to fail, found in a clean start-up on the same boards: the n-th request
    // (from 1) with this code and port. code 0: no fault.
    uint32_t code;
    uint32_t port;
    int occurrence;
    int32_t status;
    const wchar_t* message;
    bool exactCode;                     // the box shows the error the driver's status gives
    DWORD libraryCode;                  // or, when not 0, this library code
    std::vector<uint32_t> closedAxes;   // axes stopped by the close after the box
    bool forceCmp = false;              // the comparator status reads 1 on the board
    uint32_t kind = TLMSIM_FAULT_FAIL;  // or TLMSIM_FAULT_REPLY: the read answers `value`
    uint32_t value = 0;
};

TEST_F(Tlmtest6, ReportsAFailedStartUpOnceClosesTheBoardAndExitsWithZero) {
    const int32_t io = simctl::STATUS_IO_DEVICE_ERROR_CODE;
    const std::vector<uint32_t> all = {0, 1, 2, 3, 4, 5}, none;
    const FailureCase cases[] = {
        {"no board", Boards(0), 0, 0, 0, 0, kErrDeviceCount, false, 0, {}},
        {"seventeen boards", Boards(17), 0, 0, 0, 0, kErrDeviceCount, false, 0, {}},
        {"device information refused", Boards(1), GET_DEVICE_INFO, ~0u, 1, io, kErrDeviceInfo, true, 0, {}},
        {"device information without a record", Boards(1), GET_DEVICE_INFO, ~0u, 1, 0, kErrDeviceCount, false, 0, none,
         false, TLMSIM_FAULT_BYTE_COUNT, 2},
        {"board selection refused", Boards(1), SELECT_BOARD, ~0u, 1, io, kErrDeviceOpen, true, 0x20000001, {}},
        {"first initial command fails", Boards(1), WRITE_BYTE, 0x00, 1, io, kErrCommandWrite, true, 0, all},
        {"control mode fails", Boards(1), WRITE_BYTE, 0x02, 1, io, kErrControlMode, true, 0, all},
        {"register write fails", Boards(1), WRITE_WORD, 0x14, 3, io, kErrRegisterWrite, true, 0, all},
        {"axis 0 register 6 read fails", Boards(1), READ_WORD, 0x04, 1, io, kErrRegisterRead, true, 0, all},
        {"axis 2 register 6 read fails", Boards(1), READ_WORD, 0x26, 1, io, kErrRegisterRead, true, 0, all},
        {"ELS polarity write fails", Boards(1), WRITE_BYTE, 0x80, 1, io, kErrEls, true, 0, all},
        {"ELS polarity read fails", Boards(1), READ_BYTE, 0x80, 1, io, kErrEls, true, 0, all},
        {"CMP write fails", Boards(1), WRITE_BYTE, 0x88, 1, io, kErrCmp, true, 0, all},
        {"CMP read fails", Boards(1), READ_BYTE, 0x88, 1, io, kErrCmp, true, 0, all},
        {"CMP read fails on a four-axis board", Boards(1, 4), READ_BYTE, 0x88, 1, io, kErrCmp, true, 0, {0, 1, 2, 3}},
        {"CMP status set after initialisation", Boards(1), 0, 0, 0, 0, kErrCmp, false, 0, all, true},
        {"axis 0 reads back another register 6", Boards(1), READ_WORD, 0x04, 1, 0, kErrRegisterRead, false, 0, all,
         false, TLMSIM_FAULT_REPLY, 0x1234},
        {"ELS polarity reads back axis X as A contact", Boards(1), READ_BYTE, 0x80, 1, 0, kErrEls, false, 0, all, false,
         TLMSIM_FAULT_REPLY, 0x01},
        {"ELS polarity reads back axis U on a four-axis board",
         Boards(1, 4),
         READ_BYTE,
         0x80,
         1,
         0,
         kErrEls,
         false,
         0,
         {0, 1, 2, 3},
         false,
         TLMSIM_FAULT_REPLY,
         0x08},
    };
    // A clean start-up from the reset driver tells the number of the request to fail; every
    // such start-up on the same boards sends the same requests, so one is taken per board set.
    std::vector<TlmSimBoardConfig> probedBoards;
    std::vector<TlmSimTraceEntry> cleanStartUp;
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool probed = probedBoards.size() == c.boards.size() &&
                            memcmp(probedBoards.data(), c.boards.data(), c.boards.size() * sizeof c.boards[0]) == 0;
        if (c.code && !probed) {
            ASSERT_NO_FATAL_FAILURE(SetUp());
            ASSERT_NO_FATAL_FAILURE(UseBoards(c.boards));
            ui::Program probe;
            ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&probe));
            cleanStartUp = Trace();
            probedBoards = c.boards;
            ASSERT_NO_FATAL_FAILURE(CloseAndExit(&probe));
        }
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards(c.boards));
        if (c.forceCmp) {
            std::string error;
            ASSERT_TRUE(simctl::ForceCmp(0, true, &error)) << error;
        }
        if (c.code) {
            uint32_t failAt = 0;
            int seen = 0;
            for (const TlmSimTraceEntry& e : cleanStartUp)
                if (e.code == c.code && (c.port == ~0u || e.port == c.port) && ++seen == c.occurrence) {
                    failAt = e.seq;
                    break;
                }
            ASSERT_NE(failAt, 0u) << "the clean start-up sent no such request";
            TlmSimFault fault = {c.kind, failAt, 0, c.status, c.value};
            std::string error;
            ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
        }

        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(Start(&program));
        ui::MessageBoxSeen box;
        ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &box)) << "no error box";
        EXPECT_EQ(ui::Narrow(box.caption), ui::kErrorCaption);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK}) << ui::Narrow(ui::Describe(box));
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(box.owner, program.MainWindow());
        std::wstring message = c.message;
        if (c.exactCode) {
            DWORD code = c.libraryCode ? c.libraryCode : simctl::ERROR_IO_DEVICE_CODE;
            EXPECT_EQ(ui::Narrow(box.text), ui::Narrow(message + L"(" + Hex(code) + L")"));
        } else {
            // The last error the library left: "(0x<hex>)".
            std::wstring prefix = message + L"(0x";
            EXPECT_EQ(ui::Narrow(box.text.substr(0, prefix.size())), ui::Narrow(prefix));
            EXPECT_EQ(box.text.back(), L')') << ui::Narrow(box.text);
        }
        EXPECT_EQ(program.VisiblePage(), nullptr) << "a page is shown behind the error box";
        std::string problem;
        std::vector<uint32_t> stopped;
        EXPECT_EQ(ClosedAxes(ProgramCalls(), 0, &problem, &stopped), std::vector<uint32_t>{});
        EXPECT_EQ(stopped, c.closedAxes) << "the axes stopped before the box";
        ui::Program::Press(box.window, IDOK);
        DWORD exitCode = 1234;
        ASSERT_TRUE(program.WaitForExit(kTimeout, &exitCode))
            << "still running; boxes: " << pagetest::BoxesSeen(program);
        EXPECT_EQ(exitCode, 0u);

        std::vector<TlmSimTraceEntry> entries = Trace();
        std::vector<Call> calls = simctl::Calls(entries, simctl::ProgramFile(entries));
        // Only the stops and the close follow the failure, once.
        stopped.clear();
        std::vector<uint32_t> closed = ClosedAxes(calls, 0, &problem, &stopped);
        EXPECT_EQ(closed, c.closedAxes) << Join(calls);
        EXPECT_EQ(stopped, c.closedAxes);
        EXPECT_EQ(problem, "");
        TlmSimState state;
        std::string error;
        ASSERT_TRUE(simctl::GetState(&state, &error)) << error;
        EXPECT_EQ(state.openBoard, 0u) << "device handles left open";
    }
}

// The ELS polarity check looks only at the axes found at open.
TEST_F(Tlmtest6, IgnoresElsPolarityBitsOfAxesTheBoardLacks) {
    ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 4)));
    // The ELS polarity read of a clean start-up, to answer it with the bits of V and W set.
    uint32_t elsRead = 0;
    {
        ui::Program probe;
        ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&probe));
        for (const TlmSimTraceEntry& e : Trace())
            if (e.code == READ_BYTE && e.port == 0x80) elsRead = e.seq;
        ASSERT_NO_FATAL_FAILURE(CloseAndExit(&probe));
    }
    ASSERT_NE(elsRead, 0u);
    std::string error;
    TlmSimFault fault = {TLMSIM_FAULT_REPLY, elsRead, 0, 0, 0x30};
    ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
    EXPECT_EQ(pagetest::BoxesSeen(program), "none");
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// ---- Page switching ----

struct SwitchCase {
    const char* name;
    uint8_t boardAxes;
    std::vector<int> route;  // tabs clicked before the step, all allowed
    int movingAxis;          // -1: none
    int target;
    bool refused;
    const wchar_t* message;            // when refused
    std::vector<uint32_t> statusAxes;  // status 1 reads of the step, by axis
};

TEST_F(Tlmtest6, SwitchesPagesByTheRules) {
    const SwitchCase cases[] = {
        {"0 to 1, nothing moves", 6, {}, -1, 1, false, nullptr, {0, 1, 2, 3}},
        {"1 to 2, nothing moves", 6, {1}, -1, 2, false, nullptr, {4, 5}},
        {"2 to 3", 6, {2}, -1, 3, false, nullptr, {}},
        {"3 to 0", 6, {3}, -1, 0, false, nullptr, {}},
        {"X moves, leaving page 0", 6, {}, 0, 2, true, kCannotSwitch, {0}},
        {"U moves, leaving page 0", 6, {}, 3, 1, true, kCannotSwitch, {0, 1, 2, 3}},
        {"V moves, leaving page 0", 6, {}, 4, 1, false, nullptr, {0, 1, 2, 3}},
        {"W moves, leaving page 0", 6, {}, 5, 3, false, nullptr, {0, 1, 2, 3}},
        {"V moves, leaving page 1", 6, {1}, 4, 0, true, kCannotSwitch, {4}},
        {"W moves, leaving page 1", 6, {1}, 5, 2, true, kCannotSwitch, {4, 5}},
        {"X moves, leaving page 1", 6, {1}, 0, 2, false, nullptr, {4, 5}},
        {"X moves, leaving page 2", 6, {2}, 0, 0, false, nullptr, {}},
        {"V moves, leaving page 3", 6, {3}, 4, 1, false, nullptr, {}},
        {"four axes, tab 1", 4, {}, -1, 1, true, kNoVwAxes, {}},
        {"four axes, tab 3", 4, {}, -1, 3, true, kNoVwAxes, {}},
        {"four axes, tab 3 from page 2", 4, {2}, -1, 3, true, kNoVwAxes, {}},
        {"four axes, tab 2", 4, {}, -1, 2, false, nullptr, {0, 1, 2, 3}},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, c.boardAxes)));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
        RECT firstPage;
        GetWindowRect(program.VisiblePage(), &firstPage);
        std::string error;
        for (int tab : c.route) {
            ASSERT_TRUE(program.ClickTab(tab, &error)) << error;
            ASSERT_TRUE(program.WaitForPage(tab, kTimeout))
                << "route to tab " << tab << "; boxes: " << pagetest::BoxesSeen(program);
        }
        int from = program.PageIndex(program.VisiblePage());
        AxisMover mover;
        if (c.movingAxis >= 0) ASSERT_TRUE(mover.Start(c.movingAxis)) << "axis did not start";
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;

        ASSERT_TRUE(program.ClickTab(c.target, &error)) << error;
        if (c.refused) {
            ASSERT_NO_FATAL_FAILURE(ExpectNotice(&program, c.message, from <= 1));
            ASSERT_TRUE(program.WaitForPage(from, kTimeout)) << "the page left is not shown again";
            EXPECT_EQ(program.SelectedTab(), from);
        } else {
            ASSERT_TRUE(program.WaitForPage(c.target, kTimeout)) << "boxes: " << pagetest::BoxesSeen(program);
            EXPECT_EQ(program.SelectedTab(), c.target);
            // Shown where the first page was, with the keyboard focus on the tabs.
            RECT shown;
            GetWindowRect(program.VisiblePage(), &shown);
            EXPECT_TRUE(EqualRect(&shown, &firstPage))
                << shown.left << "," << shown.top << "-" << shown.right << "," << shown.bottom << " vs "
                << firstPage.left << "," << firstPage.top << "-" << firstPage.right << "," << firstPage.bottom;
            EXPECT_EQ(program.FocusWindow(), GetDlgItem(program.MainWindow(), 1001));
        }
        std::vector<TlmSimTraceEntry> entries = Trace();
        // The switch's own status 1 reads, told from those of the operation page's monitor: the
        // lamp poll follows each with status 2 of the axis, the motion poll reads register 9 first.
        // When the last entry is a status 1 read under an operation page (a settings page polls
        // nothing), what follows it tells: the trace is read again once it has grown.
        auto isStatus1 = [](const TlmSimTraceEntry& e) {
            return e.code == READ_BYTE && e.port < 0x80 && (e.port & 0x0F) == 0;
        };
        const bool polled = program.PageIndex(program.VisiblePage()) <= 1;
        std::vector<TlmSimTraceEntry> later = entries;
        for (DWORD start = GetTickCount(); polled && !entries.empty() && isStatus1(entries.back()) &&
                                           later.size() <= entries.size() && GetTickCount() - start < 2000;
             later = Trace())
            Sleep(20);
        std::vector<uint32_t> statusAxes;
        for (size_t i = 0; i < entries.size(); ++i) {
            const TlmSimTraceEntry& e = entries[i];
            if (!isStatus1(e)) continue;
            bool lampPoll = i + 1 < later.size() && later[i + 1].code == READ_BYTE && later[i + 1].port == e.port + 1;
            bool motionPoll = i > 0 && entries[i - 1].code == READ_WORD && entries[i - 1].port == e.port + 6;
            if (!lampPoll && !motionPoll) statusAxes.push_back(e.port / 16);
        }
        EXPECT_EQ(statusAxes, c.statusAxes) << "status 1 reads of the switch";

        if (c.movingAxis >= 0) ASSERT_TRUE(mover.Stop(c.movingAxis));
        ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    }
}

// A failed status read while leaving an operation page: the error box, one close, exit 0.
TEST_F(Tlmtest6, ReportsAFailedStatusReadWhileSwitching) {
    struct Case {
        const char* name;
        int from;
        int target;
        std::vector<uint32_t> closed;
    };
    const Case cases[] = {
        {"leaving page 0", 0, 2, {0, 1, 2, 3, 4, 5}},
        {"leaving page 1", 1, 3, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 6)));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
        std::string error;
        if (c.from != 0) {
            ASSERT_TRUE(program.ClickTab(c.from, &error)) << error;
            ASSERT_TRUE(program.WaitForPage(c.from, kTimeout));
        }
        uint32_t file = simctl::ProgramFile(Trace());
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        TlmSimFault fault = {TLMSIM_FAULT_FAIL, 0, READ_BYTE, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0};
        ASSERT_TRUE(simctl::AddFault(fault, &error)) << error;
        ASSERT_TRUE(program.ClickTab(c.target, &error)) << error;

        ui::MessageBoxSeen box;
        ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &box)) << "no error box";
        EXPECT_EQ(ui::Narrow(box.caption), ui::kErrorCaption);
        EXPECT_EQ(ui::Narrow(box.text), "ステータス１読込Error：(0x45d)");
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
        EXPECT_FALSE(box.icon);
        EXPECT_EQ(box.owner, program.MainWindow());
        ui::Program::Press(box.window, IDOK);
        DWORD exitCode = 1234;
        ASSERT_TRUE(program.WaitForExit(kTimeout, &exitCode))
            << "still running; boxes: " << pagetest::BoxesSeen(program);
        EXPECT_EQ(exitCode, 0u);

        std::vector<Call> calls = simctl::Calls(Trace(), file);
        std::string problem;
        std::vector<uint32_t> stopped;
        EXPECT_EQ(ClosedAxes(calls, 0, &problem, &stopped), c.closed) << Join(calls);
        EXPECT_EQ(stopped, c.closed);
        EXPECT_EQ(problem, "");
        // One status read (the failed one), then the stops, the close and nothing else.
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().kind, Call::ByteRead);
        EXPECT_EQ(calls.size(), 1 + 8 * c.closed.size()) << Join(calls);
    }
}

// ---- Start-up checks of the frame: screen size and font ----

TEST_F(Tlmtest6, RefusesAScreenNotLargerThanTheWindowAndEndsWhenTheFontCannotBeMade) {
    struct Case {
        const char* name;
        const char* dx;  // screen width - window width
        const char* dy;  // screen height - window height
        bool failFont;
        const wchar_t* message;  // nullptr: the program starts
    };
    const Case cases[] = {
        {"as wide as the window", "0", "100", false, L"800x600(小さいフォント)以上の大きさにして下さい。"},
        {"15 pixels higher than the window", "1", "15", false, L"800x600(小さいフォント)以上の大きさにして下さい。"},
        {"one wider, 16 higher", "1", "16", false, nullptr},
        {"no font", "100", "100", true, L"フォントセットエラー"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        SetEnvironmentVariableA("TLMTEST_SCREEN_DX", c.dx);
        SetEnvironmentVariableA("TLMTEST_SCREEN_DY", c.dy);
        SetEnvironmentVariableA("TLMTEST_FAIL_FONT", c.failFont ? "1" : nullptr);
        ui::Program program;
        bool started = program.StartWithHook(L"tlmtest_hook.dll", "TestHook", &error);
        SetEnvironmentVariableA("TLMTEST_SCREEN_DX", nullptr);
        SetEnvironmentVariableA("TLMTEST_SCREEN_DY", nullptr);
        SetEnvironmentVariableA("TLMTEST_FAIL_FONT", nullptr);
        ASSERT_TRUE(started) << error;
        if (c.message) {
            ASSERT_NO_FATAL_FAILURE(ExpectNotice(&program, c.message));
            DWORD exitCode = 1234;
            ASSERT_TRUE(program.WaitForExit(kTimeout, &exitCode))
                << "still running; boxes: " << pagetest::BoxesSeen(program);
            EXPECT_EQ(exitCode, 0u);
            EXPECT_EQ(Trace().size(), 0u) << "requests sent to the driver";
        } else {
            ASSERT_TRUE(program.WaitForPage(0, kTimeout)) << "boxes: " << pagetest::BoxesSeen(program);
            // Centred on the reported screen: x = 1 / 2 = 0, y = 16 / 2 - 15 = -7.
            RECT r;
            GetWindowRect(program.MainWindow(), &r);
            EXPECT_EQ(r.left, 0);
            EXPECT_EQ(r.top, -7);
            ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
        }
    }
}

// ---- A page that cannot be created ----

TEST_F(Tlmtest6, APageThatCannotBeMadeEndsTheProgramWithTheBoardClosed) {
    struct Case {
        const char* name;
        const char* refuse;  // which page creation fails
        int clickTab;        // -1: none, the first page fails at start-up
    };
    const Case cases[] = {
        {"first page at start-up", "1", -1},
        {"settings page on switching", "2", 2},
        {"V～W page on switching", "2", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 6)));
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        SetEnvironmentVariableA("TLMTEST_REFUSE_PAGE", c.refuse);
        ui::Program program;
        bool started = program.StartWithHook(L"tlmtest_hook.dll", "TestHook", &error);
        SetEnvironmentVariableA("TLMTEST_REFUSE_PAGE", nullptr);
        ASSERT_TRUE(started) << error;
        if (c.clickTab >= 0) {
            ASSERT_TRUE(program.WaitForPage(0, kTimeout));
            ASSERT_TRUE(program.ClickTab(c.clickTab, &error)) << error;
        }
        ASSERT_NO_FATAL_FAILURE(ExpectNotice(&program, L"ダイアログボックス作成に失敗しました。"));
        DWORD exitCode = 1234;
        ASSERT_TRUE(program.WaitForExit(kTimeout, &exitCode))
            << "still running; boxes: " << pagetest::BoxesSeen(program);
        EXPECT_EQ(exitCode, 0u);
        std::vector<Call> calls = ProgramCalls();
        std::string problem;
        EXPECT_EQ(ClosedAxes(calls, IndexAfterStartup(calls), &problem), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}))
            << Join(calls);
        EXPECT_EQ(problem, "");
    }
}

// ---- Choosing another board on the X～U settings page ----

std::vector<std::string> Narrowed(const std::vector<std::wstring>& texts) {
    std::vector<std::string> out;
    for (const std::wstring& t : texts) out.push_back(ui::Narrow(t));
    return out;
}

TEST_F(Tlmtest6, OpensTheBoardChosenByDeviceNumberOrBoardId) {
    // Board A: six axes, board ID 3; board B: four axes, board ID 7.
    TlmSimBoardConfig a = TestBoard(0, 3, 6);
    TlmSimBoardConfig b = TestBoard(1, 7, 4);
    ASSERT_NO_FATAL_FAILURE(UseBoards({a, b}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
    std::string error;
    ASSERT_TRUE(program.ClickTab(2, &error)) << error;
    ASSERT_TRUE(program.WaitForPage(2, kTimeout));
    HWND page = program.VisiblePage();
    HWND byDevice = GetDlgItem(page, 1307);
    HWND byId = GetDlgItem(page, 1308);
    EXPECT_TRUE(IsWindowEnabled(byDevice));
    EXPECT_TRUE(IsWindowEnabled(byId));
    EXPECT_EQ(Narrowed(program.ComboTexts(byDevice)), (std::vector<std::string>{"8", "9"}));
    EXPECT_EQ(SendMessageW(byDevice, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageW(byId, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(ui::Narrow(ui::Program::ControlText(GetDlgItem(page, 1309))),
              "バス番号：1\nI/Oアドレス：D000h\n管理番号：0");
    EXPECT_EQ(ui::Narrow(ui::Program::ControlText(GetDlgItem(page, 1310))),
              "デバイス番号：8\nIRQ番号：11\nボードID：3");

    struct Step {
        const char* name;
        bool byBoardId;
        int entry;
        bool reopens;
        int selectBoardId;     // in the open request: -1 for an open by device
        int selectManagement;  // management number of the board opened
        std::vector<uint32_t> closedAxes;
        std::vector<uint32_t> initialisedAxes;
        const char* info1;
        const char* info2;
    };
    const Step steps[] = {
        {"device number 9",
         false,
         1,
         true,
         -1,
         1,
         {0, 1, 2, 3, 4, 5},
         {0, 1, 2, 3, 4},
         "バス番号：1\nI/Oアドレス：D100h\n管理番号：1",
         "デバイス番号：9\nIRQ番号：11\nボードID：7"},
        {"device number 9 again",
         false,
         1,
         false,
         0,
         0,
         {},
         {},
         "バス番号：1\nI/Oアドレス：D100h\n管理番号：1",
         "デバイス番号：9\nIRQ番号：11\nボードID：7"},
        {"board ID 7, the same board",
         true,
         1,
         true,
         7,
         1,
         {0, 1, 2, 3},
         {0, 1, 2, 3, 4},
         "バス番号：1\nI/Oアドレス：D100h\n管理番号：1",
         "デバイス番号：9\nIRQ番号：11\nボードID：7"},
        {"board ID 3",
         true,
         0,
         true,
         3,
         0,
         {0, 1, 2, 3},
         {0, 1, 2, 3, 4, 5},
         "バス番号：1\nI/Oアドレス：D000h\n管理番号：0",
         "デバイス番号：8\nIRQ番号：11\nボードID：3"},
        {"board ID 3 again",
         true,
         0,
         false,
         0,
         0,
         {},
         {},
         "バス番号：1\nI/Oアドレス：D000h\n管理番号：0",
         "デバイス番号：8\nIRQ番号：11\nボードID：3"},
    };
    uint32_t file = simctl::ProgramFile(Trace());
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        HWND combo = s.byBoardId ? byId : byDevice;
        HWND other = s.byBoardId ? byDevice : byId;
        ui::Program::ChooseComboEntry(combo, s.entry);
        std::vector<TlmSimTraceEntry> entries = Trace();
        if (!s.reopens) {
            EXPECT_EQ(entries.size(), 0u) << "requests sent for the board already open";
        } else {
            std::string problem;
            std::vector<Call> closing = simctl::Calls(entries, file);
            EXPECT_EQ(ClosedAxes(closing, 0, &problem), s.closedAxes) << Join(closing);
            EXPECT_EQ(problem, "");
            uint32_t newFile = simctl::ProgramFile(entries);
            std::vector<Call> opening = simctl::Calls(entries, newFile);
            int selectBoardId = -2, selectManagement = -2;
            std::vector<uint32_t> initialised;
            for (const Call& call : opening) {
                if (call.kind == Call::Select) selectBoardId = (int)call.code, selectManagement = (int)call.value;
                if (call.kind == Call::Command && call.code == 0x60) initialised.push_back(call.axis);
            }
            EXPECT_EQ(selectBoardId, s.selectBoardId);
            EXPECT_EQ(selectManagement, s.selectManagement);
            EXPECT_EQ(initialised, s.initialisedAxes) << Join(opening);
            file = newFile;
        }
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), s.entry);
        EXPECT_EQ(SendMessageW(other, CB_GETCURSEL, 0, 0), CB_ERR) << "only the list of the open mode has a selection";
        EXPECT_EQ(Narrowed(program.ComboTexts(byDevice)), (std::vector<std::string>{"8", "9"}));
        EXPECT_EQ(Narrowed(program.ComboTexts(byId)), (std::vector<std::string>{"3", "7"}));
        EXPECT_EQ(ui::Narrow(ui::Program::ControlText(GetDlgItem(page, 1309))), s.info1);
        EXPECT_EQ(ui::Narrow(ui::Program::ControlText(GetDlgItem(page, 1310))), s.info2);
        EXPECT_EQ(program.FocusWindow(), GetDlgItem(program.MainWindow(), 1001));
        EXPECT_EQ(pagetest::BoxesSeen(program), "none");
    }
    // The board open now (A, six axes) is the one closed at the end.
    ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    std::string problem;
    std::vector<Call> calls = simctl::Calls(Trace(), file);
    EXPECT_EQ(ClosedAxes(calls, 0, &problem), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5})) << Join(calls);
}

TEST_F(Tlmtest6, OffersNoOpenByBoardIdWhenIdsRepeat) {
    ASSERT_NO_FATAL_FAILURE(UseBoards({TestBoard(0, 1), TestBoard(1, 2), TestBoard(2, 1)}));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(Start(&program));
    ASSERT_NO_FATAL_FAILURE(ExpectNotice(&program, kDuplicateIds));
    ASSERT_TRUE(program.WaitForPage(0, kTimeout));
    std::string error;
    ASSERT_TRUE(program.ClickTab(2, &error)) << error;
    ASSERT_TRUE(program.WaitForPage(2, kTimeout));
    HWND page = program.VisiblePage();
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 1307)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1308)));
    EXPECT_EQ(Narrowed(program.ComboTexts(GetDlgItem(page, 1307))), (std::vector<std::string>{"8", "9", "10"}));
    EXPECT_EQ(pagetest::BoxesSeen(program), "none") << "the notice is shown once";
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// ---- The page follows the main window ----

struct Placement {
    RECT main;
    POINT client;  // client origin of the main window, screen coordinates
    RECT page;
};

Placement PlacementOf(const ui::Program& program) {
    Placement p = {};
    HWND main = program.MainWindow();
    GetWindowRect(main, &p.main);
    ClientToScreen(main, &p.client);
    GetWindowRect(program.VisiblePage(), &p.page);
    return p;
}

std::string Show(const Placement& p) {
    char text[160];
    std::snprintf(text, sizeof text, "main (%ld,%ld) client (%ld,%ld) page (%ld,%ld)-(%ld,%ld)", p.main.left,
                  p.main.top, p.client.x, p.client.y, p.page.left, p.page.top, p.page.right, p.page.bottom);
    return text;
}

TEST_F(Tlmtest6, PageFollowsTheMainWindowAndFarMovesGoBackToTheCentre) {
    ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, 6)));
    ui::Program program;
    ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
    const Placement start = PlacementOf(program);
    const LONG offsetX = start.page.left - start.client.x;
    const LONG offsetY = start.page.top - start.client.y;
    const LONG pageWidth = start.page.right - start.page.left;
    const LONG pageHeight = start.page.bottom - start.page.top;
    const LONG clientDx = start.client.x - start.main.left;
    const LONG clientDy = start.client.y - start.main.top;
    ASSERT_GT(offsetX, 0);
    ASSERT_GT(offsetY, 0);

    struct MoveCase {
        const char* name;
        int tab;  // page shown during the move
        LONG x, y;
        bool follows;
    };
    const MoveCase cases[] = {
        {"small move", 0, 20, 30, true},
        {"to the origin", 0, 0, 0, true},
        {"left of the screen", 0, -60, 50, false},
        {"above the screen", 0, 30, -60, false},
        {"page left exactly at page width", 0, pageWidth - offsetX - clientDx, 10, false},
        {"page left one short of page width", 0, pageWidth - offsetX - clientDx - 1, 10, true},
        {"page top beyond page height", 0, 10, pageHeight - offsetY - clientDy + 5, false},
        {"on the settings page", 2, 40, 20, true},
        {"settings page, far right", 2, pageWidth + 10, 20, false},
    };
    std::string error;
    for (const MoveCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (program.PageIndex(program.VisiblePage()) != c.tab) {
            ASSERT_TRUE(program.ClickTab(c.tab, &error)) << error;
            ASSERT_TRUE(program.WaitForPage(c.tab, kTimeout));
        }
        HWND main = program.MainWindow();
        // Start each case from the centred position.
        SetWindowPos(main, nullptr, start.main.left, start.main.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(main, nullptr, c.x, c.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        LONG expectMainX = c.follows ? c.x : start.main.left;
        LONG expectMainY = c.follows ? c.y : start.main.top;
        Placement now = {};
        ULONGLONG end = GetTickCount64() + 5000;
        do {
            Sleep(20);
            now = PlacementOf(program);
        } while (GetTickCount64() < end &&
                 !(now.main.left == expectMainX && now.main.top == expectMainY &&
                   now.page.left == now.client.x + offsetX && now.page.top == now.client.y + offsetY));
        EXPECT_EQ(now.main.left, expectMainX) << Show(now);
        EXPECT_EQ(now.main.top, expectMainY) << Show(now);
        EXPECT_EQ(now.page.left, now.client.x + offsetX) << Show(now);
        EXPECT_EQ(now.page.top, now.client.y + offsetY) << Show(now);
        EXPECT_EQ(now.page.right - now.page.left, pageWidth);
        EXPECT_EQ(now.page.bottom - now.page.top, pageHeight);
    }
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

// ---- The end ----

TEST_F(Tlmtest6, ClosingStopsEveryAxisSwitchesTheServosOffAndClosesTheBoard) {
    struct CloseCase {
        const char* name;
        uint8_t axes;
        int tab;
        std::vector<uint32_t> closed;
        bool xStopFails = false;  // X and Y run at FL (started by another client); X's stop fails
    };
    const CloseCase cases[] = {
        {"six axes, page 0", 6, 0, {0, 1, 2, 3, 4, 5}},
        {"six axes, settings page 3", 6, 3, {0, 1, 2, 3, 4, 5}},
        {"four axes, settings page 2", 4, 2, {0, 1, 2, 3}},
        {"X and Y moving, X's stop fails", 6, 2, {0, 1, 2, 3, 4, 5}, true},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetUp());
        ASSERT_NO_FATAL_FAILURE(UseBoards(Boards(1, c.axes)));
        ui::Program program;
        ASSERT_NO_FATAL_FAILURE(StartToFirstPage(&program));
        std::string error;
        if (c.tab != 0) {
            ASSERT_TRUE(program.ClickTab(c.tab, &error)) << error;
            ASSERT_TRUE(program.WaitForPage(c.tab, kTimeout));
        }
        std::vector<TlmSimTraceEntry> before = Trace();
        uint32_t file = simctl::ProgramFile(before);
        {
            AxisMover mover;
            ASSERT_TRUE(!c.xStopFails || (mover.Start(0) && mover.Start(1))) << "X and Y did not start";
            ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        }
        if (c.xStopFails) {
            // X's stop command is the 7th request of the close: the library reads registers 1
            // and 12 first (a command byte and two word reads each).
            ASSERT_TRUE(simctl::AddFault({TLMSIM_FAULT_FAIL, 7, 0, simctl::STATUS_IO_DEVICE_ERROR_CODE, 0}, &error));
            program.Close();
            ui::MessageBoxSeen box;
            ASSERT_TRUE(program.WaitForMessageBox(kTimeout, &box)) << "no error box";
            EXPECT_EQ(ui::Narrow(box.text), ui::Narrow(std::wstring(kErrCommandWrite) + L"(0x45d)"));
            uint8_t status = 0xFF;
            EXPECT_TRUE(simctl::BoardClient(0).ReadByte(16, &status) && !(status & 0x04)) << "Y still runs";
            ui::Program::Press(box.window, IDOK);
        }
        ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
        std::vector<Call> calls = simctl::Calls(Trace(), file);
        std::vector<std::string> got, expected;
        for (const Call& call : calls) got.push_back(call.ToString());
        for (uint32_t axis : c.closed) {
            const bool atFl = c.xStopFails && axis < 2;  // stopped with 0x09
            expected.push_back(Call{Call::RegisterRead, axis, 0x81, 500, false}.ToString());
            expected.push_back(Call{Call::RegisterRead, axis, 0x8C, atFl ? 500u : 0u, false}.ToString());
            // X: the failed request (it carries no byte), then the immediate stop.
            if (c.xStopFails && axis == 0) expected.push_back(Call{Call::Command, 0, 0x00, 0, false}.ToString());
            expected.push_back(Call{Call::Command, axis, atFl ? 0x09u : 0x0Au, 0, false}.ToString());
            expected.push_back(Call{Call::Command, axis, 0x48, 0, false}.ToString());
            expected.push_back(Call{Call::Command, axis, 0x49, 0, false}.ToString());
        }
        // The failed close is reported after every axis was stopped once more.
        for (uint32_t axis = 0; c.xStopFails && axis < 6; ++axis)
            for (const Call& stop :
                 {Call{Call::RegisterRead, axis, 0x81, 500, false}, Call{Call::RegisterRead, axis, 0x8C, 0, false},
                  Call{Call::Command, axis, 0x0A, 0, false}})
                expected.push_back(stop.ToString());
        EXPECT_EQ(got, expected);
        TlmSimState state;
        ASSERT_TRUE(simctl::GetState(&state, &error)) << error;
        EXPECT_EQ(state.openBoard, 0u) << "device handles left open";
        EXPECT_EQ(state.openFiles, state.openControl) << "handles other than the test's own";
    }
}

}  // namespace
