// The fixture the page suites share: a test program running on one simulated board, one of
// its pages driven by clicks, and what the program sent read back from the driver's trace.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "sim_client.h"
#include "simctl.h"
#include "ui.h"

namespace pagetest {

constexpr DWORD kTimeout = 15000;
constexpr uint64_t kMs = 1000000;  // nanoseconds

// Control k of an axis on an operation page.
inline int Id(int axis, int k) { return 1000 * (axis + 2) + k; }

inline std::string Join(const std::vector<simctl::Call>& calls) {
    std::string s;
    for (const simctl::Call& c : calls) s += "  " + c.ToString() + "\n";
    return s;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& line : lines) s += "  " + line + "\n";
    return s;
}

// Calls as simctl::Call::ToString writes them, for expected lists.
inline std::string Cmd(int axis, int code) {
    char t[64];
    std::snprintf(t, sizeof t, "axis %d command 0x%02X", axis, code);
    return t;
}
inline std::string CmdData(int axis, int code, unsigned data) {
    char t[64];
    std::snprintf(t, sizeof t, "axis %d command 0x%02X data 0x%X", axis, code, data);
    return t;
}
inline std::string Mode(int axis, int mode) {
    char t[64];
    std::snprintf(t, sizeof t, "axis %d operation mode 0x%02X", axis, mode);
    return t;
}

// The message boxes the program has shown, for failure messages.
inline std::string BoxesSeen(const ui::Program& program) {
    std::string s;
    for (const ui::MessageBoxSeen& b : program.MessageBoxes()) s += ui::Narrow(ui::Describe(b)) + "; ";
    return s.empty() ? "none" : s;
}

// Closes the program's main window and expects it to end with exit code 0.
inline void CloseAndExit(ui::Program* program) {
    program->Close();
    DWORD code = 1234;
    ASSERT_TRUE(program->WaitForExit(kTimeout, &code)) << "still running; boxes: " << BoxesSeen(*program);
    EXPECT_EQ(code, 0u);
}

// The fixture of the suites that start the program themselves: a fresh driver, the boards a
// test asks for, and the program started on an empty trace.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(simctl::Reset(&error)) << error;
    }

    void UseBoards(const std::vector<TlmSimBoardConfig>& boards) {
        std::string error;
        ASSERT_TRUE(simctl::SetBoards(boards, &error)) << error;
    }

    void Start(ui::Program* program) {
        std::string error;
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        ASSERT_TRUE(program->Start(&error)) << error;
    }

    std::vector<TlmSimTraceEntry> Trace() {
        std::vector<TlmSimTraceEntry> entries;
        std::string error;
        EXPECT_TRUE(simctl::ReadTrace(&entries, &error)) << error;
        return entries;
    }
};

class PageTest : public ::testing::Test {
protected:
    explicit PageTest(const wchar_t* exeName = L"tlmtest6.exe") : program_(exeName) {}

    // A fresh driver with one board of `axes` axes, the program started on it and page
    // `pageIndex` shown. `frozen`: the simulated clock stands until the test moves it. The
    // carriages are moved off the origin sensor and the Z mark, so every input is inactive.
    void StartOn(uint8_t axes, bool frozen, int pageIndex) {
        std::string error;
        ASSERT_EQ(sim_.Open(), 0u);
        ASSERT_TRUE(simctl::Reset(&error)) << error;
        ASSERT_TRUE(simctl::SetBoards({TestBoard(0, -1, axes)}, &error)) << error;
        if (frozen) ASSERT_EQ(sim_.FreezeClock(), 0u);
        ASSERT_TRUE(simctl::ResetTrace(&error)) << error;
        ASSERT_TRUE(program_.Start(&error)) << error;
        ASSERT_TRUE(program_.WaitForPage(pageIndex, kTimeout)) << "page not shown; boxes: " << Boxes();
        std::vector<TlmSimTraceEntry> entries;
        ASSERT_EQ(sim_.Trace(&entries), 0u);
        file_ = simctl::ProgramFile(entries);
        ASSERT_NE(file_, ~0u);
        page_ = program_.VisiblePage();
        for (int axis = 0; axis < axes; ++axis) ASSERT_EQ(sim_.SetMachinePosition(0, axis, 50500), 0u);
    }

    // A program still running is closed and must end with exit code 0.
    void TearDown() override {
        sim_.RunClock();
        if (!program_.Running()) return;
        program_.Close();
        DWORD code = 1234;
        EXPECT_TRUE(program_.WaitForExit(kTimeout, &code)) << "still running; boxes: " << Boxes();
        EXPECT_EQ(code, 0u);
    }

    std::string Boxes() const { return BoxesSeen(program_); }

    std::string Text(int id) const { return ui::Narrow(ui::Program::ControlText(GetDlgItem(page_, id))); }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(page_, id)) != FALSE; }

    // Clicks a button of the page as the user would; returns when the program handled it.
    void Click(int id) {
        HWND button = GetDlgItem(page_, id);
        ASSERT_NE(button, nullptr) << "no control " << id;
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &result))
            << "click on " << id << " not handled; boxes: " << Boxes();
    }

    // Waits until `done` holds (the page's timers tick every 100 ms).
    bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000) {
        ULONGLONG end = GetTickCount64() + timeoutMs;
        do {
            if (done()) return true;
            Sleep(20);
        } while (GetTickCount64() < end);
        return done();
    }

    void ResetTrace() { ASSERT_EQ(sim_.ResetTrace(), 0u); }

    // Reads of register `code` per axis (0 to 5) from a fresh trace on, once every axis of
    // `axes` has at least `least` of them, however slowly a loaded machine runs the program's
    // timers (gives up after kTimeout). The calls counted go to *seen.
    std::vector<int> ReadsOnceEach(BYTE code, const std::vector<int>& axes, int least,
                                   std::vector<simctl::Call>* seen) {
        std::vector<int> reads;
        EXPECT_EQ(sim_.ResetTrace(), 0u);
        WaitUntil(
            [&] {
                reads.assign(6, 0);
                *seen = Calls();
                for (const simctl::Call& c : *seen)
                    if (c.kind == simctl::Call::RegisterRead && c.code == code && c.axis < 6) ++reads[c.axis];
                for (int axis : axes)
                    if (reads[axis] < least) return false;
                return true;
            },
            kTimeout);
        return reads;
    }

    // Returns once the program has handled everything sent or posted to it before.
    void Sync() {
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(page_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &result)) << "no answer";
    }

    // Clicks a button by a posted message. The program takes posted messages before its next
    // timer tick, so after Sync and a move of the frozen clock the click comes first.
    void PostClick(int id) { ASSERT_TRUE(PostMessageW(GetDlgItem(page_, id), BM_CLICK, 0, 0)) << "no control " << id; }

    static std::string Right11(long value) {
        char t[16];
        std::snprintf(t, sizeof t, "%11ld", value);
        return t;
    }

    // What the program sent since the last ResetTrace.
    std::vector<simctl::Call> Calls() {
        std::vector<TlmSimTraceEntry> entries;
        EXPECT_EQ(sim_.Trace(&entries), 0u);
        return simctl::Calls(entries, file_);
    }

    // The calls of an axis that change something (commands and mode bytes), in order.
    std::vector<std::string> Writes(int axis) {
        std::vector<std::string> out;
        for (const simctl::Call& c : Calls())
            if ((c.kind == simctl::Call::Command && (c.code < 0x80 || c.code >= 0xC0)) ||
                c.kind == simctl::Call::OperationMode)
                if ((int)c.axis == axis) out.push_back(c.ToString());
        return out;
    }

    // Start commands sent to the axis since the trace was reset.
    int Starts(int axis) {
        int n = 0;
        for (const std::string& w : Writes(axis)) n += w == Cmd(axis, 0x10) || w == Cmd(axis, 0x13);
        return n;
    }

    // What was written to the axis from its first stop command (0x09 or 0x0A) on.
    std::vector<std::string> WritesFromStop(int axis) {
        std::vector<std::string> w = Writes(axis);
        size_t i = 0;
        while (i < w.size() && w[i] != Cmd(axis, 0x09) && w[i] != Cmd(axis, 0x0A)) ++i;
        return std::vector<std::string>(w.begin() + i, w.end());
    }

    // Stop commands (0x09, 0x0A) sent since the trace was reset, to any axis.
    int StopCommands() {
        int n = 0;
        for (const simctl::Call& c : Calls())
            n += c.kind == simctl::Call::Command && !c.hasData && (c.code == 0x09 || c.code == 0x0A);
        return n;
    }

    tlmwin::SimDriver sim_;
    ui::Program program_;
    uint32_t file_ = ~0u;
    HWND page_ = nullptr;
};

}  // namespace pagetest
