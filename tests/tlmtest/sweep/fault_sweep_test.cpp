// Every request failure, by sweep: one scripted session of tlmtest6.exe and of tlmtest4.exe
// (start-up, settings entries with write-back, every operation button kind, a cycle run of 2,
// page switches, a board change through the combo box, close) is run once to count its driver
// requests N, then again with request k failed by the driver (STATUS_IO_DEVICE_ERROR). Every
// run must end with the error box of the failed step, exit code 0, every axis of both boards
// standing, and the board's device closed by the program before it exits (unless the failed
// request belongs to the close itself); a run that hangs or crashes fails.
//
// The program's window timers are ticked by the test (tlmtest_hook.dll, manual timers) and the
// simulated clock stands still between explicit advances, so every run sends the same requests
// up to the failed one. TLM_FAULT_SWEEP=full runs k = 1..N, TLM_FAULT_SWEEP=k1,k2,a-b,... the
// requests named; otherwise a sample: the first request of every distinct (request code, port)
// pair and of every step of the script.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim_client.h"
#include "simctl.h"
#include "tlmtest_timers.h"
#include "ui.h"

namespace {

constexpr DWORD kTimeout = 15000;
constexpr uint64_t kMs = 1000000;          // nanoseconds
constexpr uint32_t kPresetAmount = 20000;  // a preset feed at FL 500 pps takes 40 s
constexpr uint64_t kFeedTime = 41000 * kMs;

int Id(int axis, int k) { return 1000 * (axis + 2) + k; }

// The error box a failed request of the session must end in: the message (string id) of the
// program's step and the last-error value, by the request and its neighbours in the trace.
struct Expected {
    UINT message;  // 0: the failure is absorbed and the session ends without a box
    DWORD error;
};

// Marks the requests of the library's decelerating stop (command 0x0A): it reads registers 1
// and 12 (0x81, 0x8C) to choose between 0x0A and 0x09; a failed word read there counts as the
// command and the stop goes on.
std::set<size_t> StopChecks(const std::vector<TlmSimTraceEntry>& trace) {
    std::set<size_t> marked;
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].code != WRITE_BYTE || (trace[i].port & 0x0F) != 0 || trace[i].value != 0x81) continue;
        size_t j = i;
        for (int n = 0; n < 7 && j < trace.size(); ++j)
            if (trace[j].file == trace[i].file) marked.insert(j), ++n;
    }
    return marked;
}

Expected ExpectedBox(const std::vector<TlmSimTraceEntry>& trace, const std::set<size_t>& stopChecks, size_t i) {
    const DWORD io = simctl::ERROR_IO_DEVICE_CODE;
    const TlmSimTraceEntry& e = trace[i];
    uint32_t k = e.port & 0x0F;
    switch (e.code) {
        case GET_DEVICE_COUNT: return {1001, io};
        case GET_DEVICE_INFO: return {1002, io};
        case SELECT_BOARD: return {1003, 0x20000001};  // the library's LIBERR_OPEN
    }
    if (e.port == 0x80) return {1013, io};  // ELS polarity
    if (e.port == 0x88) return {1014, io};  // CMP output
    if (stopChecks.count(i)) return {e.code == READ_WORD ? 0u : 1005u, io};
    if (e.code == READ_BYTE) return {k == 0 ? 1010u : k == 1 ? 1011u : 1012u, io};
    if (e.code == READ_WORD) return {1009, io};
    if (e.code == WRITE_BYTE && k == 1) return {1006, io};
    if (e.code == WRITE_BYTE && k == 2) return {1007, io};
    uint32_t command = e.value;
    if (e.code == WRITE_WORD) {
        for (size_t j = i + 1; j < trace.size(); ++j)
            if (trace[j].file == e.file && trace[j].code == WRITE_BYTE && trace[j].port == (e.port & ~0x0Fu)) {
                command = trace[j].value;
                break;
            }
    }
    if (command >= 0xC0) return {1008, io};  // register write
    if (command >= 0x80) return {1009, io};  // register read
    return {1005, io};
}

// One run of the program under the test's hand.
class Session {
public:
    Session(const wchar_t* exe, tlmwin::SimDriver* sim) : program_(exe), sim_(sim) {}

    // Why the script stopped: a message box, the end of the program, or a problem.
    bool boxUp = false;
    std::string problem;

    bool Start() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        report_ = std::wstring(temp) + L"tlm-fault-sweep-close.txt";
        DeleteFileW(report_.c_str());
        SetEnvironmentVariableW(L"TLMTEST_MANUAL_TIMERS", L"1");
        SetEnvironmentVariableW(L"TLMTEST_CLOSE_REPORT", report_.c_str());
        std::string error;
        if (!program_.StartWithHook(L"tlmtest_hook.dll", "TestHook", &error)) return Fail(error);
        ULONGLONG end = GetTickCount64() + kTimeout;
        while (!(timers_ = TimerWindow())) {
            if (!program_.Running()) return Fail("the program ended before its first window");
            if (GetTickCount64() > end) return Fail("no timer window in the program");
            Sleep(2);
        }
        return Sync();
    }

    // Waits until everything posted to the program so far has been handled.
    bool Sync() { return Post(tlmtimers::kMarker); }
    // Every live timer of the program ticks once.
    bool Tick(int rounds = 1) {
        for (int i = 0; i < rounds; ++i)
            if (!Post(tlmtimers::kTickRound)) return false;
        return true;
    }
    bool Advance(uint64_t ns) { return sim_->Advance(ns) == 0 || Fail("clock advance refused"); }

    bool Click(int id) {
        HWND control = GetDlgItem(program_.VisiblePage(), id);
        if (!control) return Fail("no control " + std::to_string(id) + " on the page shown");
        PostMessageW(control, BM_CLICK, 0, 0);
        return Sync();
    }
    bool Type(int id, const wchar_t* text) {
        HWND control = GetDlgItem(program_.VisiblePage(), id);
        DWORD_PTR result = 0;
        if (!control) return Fail("no control " + std::to_string(id) + " on the page shown");
        if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, kTimeout, &result))
            return Fail("typing not handled");
        return Sync();
    }
    bool Tab(int index, int pageIndex) {
        std::string error;
        if (!program_.ClickTab(index, &error)) return Fail(error);
        if (!Sync()) return false;
        if (ui::Program::PageIndex(program_.VisiblePage()) != pageIndex)
            return Fail("tab " + std::to_string(index) + " did not show its page");
        return true;
    }
    bool Combo(int id, int index) {
        HWND combo = GetDlgItem(program_.VisiblePage(), id);
        if (!combo) return Fail("no combo box " + std::to_string(id));
        PostMessageW(combo, CB_SETCURSEL, index, 0);
        PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)combo);
        return Sync();
    }
    bool Close() {
        program_.Close();
        ULONGLONG end = GetTickCount64() + kTimeout;
        while (program_.Running()) {
            if (BoxWindow()) return Box();
            if (GetTickCount64() > end) return Fail("the program did not end after its close");
            Sleep(2);
        }
        return true;
    }

    // After the script: answers the box (and any further one), waits for the end.
    struct Outcome {
        std::vector<std::wstring> boxes;  // caption and text of each box, in order
        bool exited = false;
        DWORD exitCode = 0;
        std::string openBoardAtExit;  // handles on per-board devices as the program ended
    };
    Outcome Finish() {
        Outcome out;
        ULONGLONG end = GetTickCount64() + kTimeout;
        while (program_.Running() && GetTickCount64() < end) {
            if (BoxWindow()) {
                ui::MessageBoxSeen box;
                if (program_.WaitForMessageBox(kTimeout, &box)) {
                    out.boxes.push_back(box.caption + L"|" + box.text);
                    ui::Program::Press(box.window, IDOK);
                    // Until that box is gone.
                    while (IsWindow(box.window) && GetTickCount64() < end) Sleep(2);
                }
            }
            Sleep(2);
        }
        out.exited = program_.WaitForExit(0, &out.exitCode);
        char line[32] = {};
        FILE* f = _wfopen(report_.c_str(), L"r");
        if (f) {
            if (fgets(line, sizeof line, f)) out.openBoardAtExit = line;
            fclose(f);
        }
        while (!out.openBoardAtExit.empty() &&
               (out.openBoardAtExit.back() == '\n' || out.openBoardAtExit.back() == '\r'))
            out.openBoardAtExit.pop_back();
        return out;
    }

private:
    bool Fail(const std::string& why) {
        if (problem.empty()) problem = why;
        return false;
    }
    bool Box() {
        boxUp = true;
        return false;
    }

    // A message box of the program, shown or about to be.
    HWND BoxWindow() const {
        std::vector<HWND> boxes = program_.MessageBoxWindows();
        return boxes.empty() ? nullptr : boxes.front();
    }

    HWND TimerWindow() const {
        HWND w = nullptr;
        while ((w = FindWindowExW(nullptr, w, tlmtimers::kWindowClass, nullptr))) {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == program_.pid()) return w;
        }
        return nullptr;
    }

    // Posts a message to the timer window and waits until the program has handled it.
    bool Post(UINT message) {
        DWORD_PTR before = 0, now = 0;
        if (!SendMessageTimeoutW(timers_, tlmtimers::kRoundsDone, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &before))
            return program_.Running() ? Fail("the program does not answer") : Fail("the program ended");
        PostMessageW(timers_, message, 0, 0);
        ULONGLONG end = GetTickCount64() + kTimeout;
        do {
            if (!SendMessageTimeoutW(timers_, tlmtimers::kRoundsDone, 0, 0, SMTO_ABORTIFHUNG, kTimeout, &now))
                return program_.Running() ? Fail("the program hangs") : Fail("the program ended");
            if (now > before) return BoxWindow() ? Box() : true;
            if (GetTickCount64() > end) return Fail("the program hangs");
            Sleep(1);
        } while (true);
    }

    ui::Program program_;
    tlmwin::SimDriver* sim_;
    HWND timers_ = nullptr;
    std::wstring report_;
};

struct Step {
    const char* name;
    std::function<bool(Session&)> act;
};

// A preset feed of axis X: started, polled, run to its end, polled until idle.
bool PresetFeed(Session& r, int k) { return r.Click(Id(0, k)) && r.Tick() && r.Advance(kFeedTime) && r.Tick(2); }
// A move of axis X that only the stop button ends.
bool StoppedMove(Session& r, int k) {
    return r.Click(Id(0, k)) && r.Tick() && r.Advance(100 * kMs) && r.Tick() && r.Click(Id(0, 8)) && r.Tick(2);
}

// The session, for the program with `axes` axes (6: tlmtest6, 4: tlmtest4).
std::vector<Step> Script(bool six) {
    const int settingsTab = six ? 2 : 1;
    const int settingsPage = 2;  // ui::Program::PageIndex of the X～U settings page in both builds
    const int check = six ? 1311 : 1211;
    const int deviceCombo = six ? 1307 : 1207;
    std::vector<Step> steps = {
        {"start-up", [](Session& r) { return r.Start() && r.Tick(2); }},
        {"to the settings page", [=](Session& r) { return r.Tab(settingsTab, settingsPage); }},
        {"settings entries and check",
         [=](Session& r) {
             return r.Type(Id(0, 201), std::to_wstring(kPresetAmount).c_str()) && r.Type(Id(0, 205), L"2") &&
                    r.Click(check);
         }},
        {"pulse output buttons",
         [](Session& r) { return r.Click(Id(0, 207)) && r.Click(Id(0, 208)) && r.Click(Id(0, 209)); }},
        {"write-back, to the operation page", [](Session& r) { return r.Tab(0, 0) && r.Tick(); }},
        {"+ preset feed", [](Session& r) { return PresetFeed(r, 1); }},
        {"- preset feed", [](Session& r) { return PresetFeed(r, 2); }},
        {"+ continuous feed, stop", [](Session& r) { return StoppedMove(r, 3); }},
        {"- continuous feed, stop", [](Session& r) { return StoppedMove(r, 4); }},
        {"origin return OLS, stop", [](Session& r) { return StoppedMove(r, 5); }},
        {"origin return OLS+Z, stop", [](Session& r) { return StoppedMove(r, 6); }},
        {"clear position", [](Session& r) { return r.Click(Id(0, 9)); }},
        {"servo outputs", [](Session& r) { return r.Click(Id(1, 10)) && r.Click(Id(1, 11)); }},
        {"contact buttons",
         [](Session& r) {
             for (int k = 12; k <= 16; ++k)
                 if (!r.Click(Id(1, k))) return false;
             return true;
         }},
    };
    if (!six)
        steps.push_back({"counter source",
                         [](Session& r) { return r.Click(Id(2, 17)) && r.Tick() && r.Click(Id(2, 17)) && r.Tick(2); }});
    steps.push_back({"cycle run of 2", [](Session& r) {
                         if (!r.Click(Id(0, 7)) || !r.Tick()) return false;
                         for (int feed = 0; feed < 5; ++feed)
                             if (!r.Advance(kFeedTime) || !r.Tick()) return false;
                         return r.Tick(2);
                     }});
    if (six) {
        steps.push_back({"to the V～W operation page", [](Session& r) { return r.Tab(1, 1) && r.Tick(); }});
        steps.push_back({"to the V～W settings page", [](Session& r) { return r.Tab(3, 3); }});
        steps.push_back({"write-back, to the X～U settings page", [](Session& r) { return r.Tab(2, 2); }});
    } else {
        steps.push_back({"to the settings page again", [=](Session& r) { return r.Tab(settingsTab, settingsPage); }});
    }
    steps.push_back({"board change", [=](Session& r) { return r.Combo(deviceCombo, 1); }});
    steps.push_back({"to the operation page, + continuous feed",
                     [](Session& r) { return r.Tab(0, 0) && r.Tick() && r.Click(Id(0, 3)) && r.Tick(); }});
    steps.push_back({"close while moving", [](Session& r) { return r.Close(); }});
    return steps;
}

class FaultSweep : public ::testing::Test {
protected:
    struct Result {
        bool passed;
        std::string detail;
    };

    // Two boards of `axes` axes, carriages clear of every sensor, clock frozen; request k fails.
    void Prepare(uint8_t axes, uint32_t k) {
        ASSERT_EQ(sim_.Reset(), 0u);
        ASSERT_EQ(sim_.SetBoards({TestBoard(0, 1, axes), TestBoard(1, 2, axes)}), 0u);
        for (int board = 0; board < 2; ++board)
            for (int axis = 0; axis < axes; ++axis) ASSERT_EQ(sim_.SetMachinePosition(board, axis, 50500), 0u);
        ASSERT_EQ(sim_.FreezeClock(), 0u);
        ASSERT_EQ(sim_.ResetTrace(), 0u);
        if (k) ASSERT_EQ(sim_.FailRequest(k, simctl::STATUS_IO_DEVICE_ERROR_CODE), 0u);
    }

    // Axes still operating on either board, after time enough for any decelerating stop.
    std::string MovingAxes(uint8_t axes) {
        std::string moving;
        sim_.Advance(3000 * kMs);
        for (int board = 0; board < 2; ++board) {
            simctl::BoardClient client(board);
            for (int axis = 0; axis < axes; ++axis) {
                uint8_t status = 0;
                if (!client.ReadByte(axis * 16, &status) || (status & 0x04))
                    moving += " board " + std::to_string(board) + " axis " + std::to_string(axis);
            }
        }
        return moving;
    }

    // Runs the script with request k failed (0: none); *stepStarts gets the request count
    // before each step and at the end of the session (baseline only).
    Result RunOnce(const wchar_t* exe, bool six, uint32_t k, std::vector<uint32_t>* stepStarts,
                   std::wstring expectedBox, bool closeExempt) {
        const uint8_t axes = six ? 6 : 4;
        Prepare(axes, k);
        if (HasFatalFailure()) return {false, "driver setup failed"};
        Session run(exe, &sim_);
        std::string stoppedIn;
        for (const Step& step : Script(six)) {
            if (stepStarts) {
                TlmSimState state = {};
                sim_.State(&state);
                stepStarts->push_back(state.requestCount);
            }
            if (!step.act(run)) {
                stoppedIn = step.name;
                break;
            }
        }
        Session::Outcome out = run.Finish();
        if (stepStarts) {
            TlmSimState state = {};
            sim_.State(&state);
            stepStarts->push_back(state.requestCount);
        }
        std::string moving = MovingAxes(axes);
        std::string why;
        auto expect = [&](bool ok, const std::string& what) {
            if (!ok) why += "; " + what;
        };
        expect(run.problem.empty(), "script: " + run.problem + " (in " + stoppedIn + ")");
        std::vector<std::wstring> want;
        if (!expectedBox.empty()) want.push_back(expectedBox);
        std::string seen;
        for (const std::wstring& b : out.boxes) seen += " [" + ui::Narrow(b) + "]";
        expect(out.boxes == want,
               "boxes: expected [" + ui::Narrow(expectedBox) + "], got" + (seen.empty() ? " none" : seen));
        expect(out.exited, "the program did not end");
        expect(!out.exited || out.exitCode == 0, "exit code " + std::to_string(out.exitCode) + ", expected 0");
        expect(closeExempt || out.openBoardAtExit == "0",
               "per-board handles open as the program ended: expected 0, got '" + out.openBoardAtExit + "'");
        expect(moving.empty(), "axes left moving:" + moving);
        return {why.empty(), why.empty() ? "" : why.substr(2)};
    }

    void Sweep(const wchar_t* exe, bool six) {
        const std::string mode = std::getenv("TLM_FAULT_SWEEP") ? std::getenv("TLM_FAULT_SWEEP") : "";
        const bool full = mode == "full";
        ASSERT_EQ(sim_.Open(), 0u) << "tlmsim.sys not loaded";
        std::vector<Step> steps = Script(six);
        std::vector<uint32_t> starts;
        Result baseline = RunOnce(exe, six, 0, &starts, L"", false);
        ASSERT_TRUE(baseline.passed) << "the session without a failure: " << baseline.detail;
        std::vector<TlmSimTraceEntry> trace;
        ASSERT_EQ(sim_.Trace(&trace), 0u);
        TlmSimState state = {};
        ASSERT_EQ(sim_.State(&state), 0u);
        // The requests of the session itself, not the test's look at the axes after it.
        // The last entry is the end of the session; the test's look at the axes comes after it.
        ASSERT_EQ(starts.size(), steps.size() + 1);
        const uint32_t sessionEnd = starts.back();
        starts.pop_back();
        ASSERT_GT(sessionEnd, 0u);
        // The session does what it stands for: the moves of axis X and a whole cycle run of 2.
        std::map<std::pair<uint32_t, uint32_t>, int> writes;  // byte writes by (port, value)
        for (uint32_t k = 1; k <= sessionEnd; ++k)
            if (trace[k - 1].code == WRITE_BYTE) ++writes[{trace[k - 1].port, trace[k - 1].value}];
        const struct {
            uint32_t port, value;
            int times;
            const char* what;
        } kWrites[] = {
            {1, 0x28, 3, "+ preset feeds, two of them in the cycle run"},
            {1, 0x38, 3, "- preset feeds, two of them in the cycle run"},
            {1, 0x20, 2, "+ continuous feeds, the second on the other board"},
            {1, 0x30, 1, "- continuous feeds"},
            {1, 0x12, 2, "origin returns"},
            {0, 0x66, 1, "cycle run begins"},
            {0, 0x67, 1, "cycle run ends"},
            {0x20, 0xC6, six ? 2 : 4, "register 6 writes of axis Z: bring-up of two boards, counter source twice"},
        };
        for (const auto& w : kWrites) {
            int times = writes[{w.port, w.value}];
            EXPECT_EQ(times, w.times) << w.what << " (byte 0x" << std::hex << w.value << " at port 0x" << w.port << ")";
        }
        auto stepOf = [&](uint32_t k) {
            size_t s = 0;
            while (s + 1 < starts.size() && starts[s + 1] < k) ++s;
            return s;
        };

        std::vector<uint32_t> ks;
        if (!mode.empty() && mode.find_first_not_of("0123456789,-") == std::string::npos) {
            // Chosen requests, to look at cases again: TLM_FAULT_SWEEP=k1,k2,a-b,...
            for (const char* at = mode.c_str(); *at;) {
                char* end = nullptr;
                uint32_t from = (uint32_t)std::strtoul(at, &end, 10), to = from;
                if (*end == '-') to = (uint32_t)std::strtoul(end + 1, &end, 10);
                for (uint32_t k = from < 1 ? 1 : from; k <= to && k <= sessionEnd; ++k) ks.push_back(k);
                at = *end ? end + 1 : end;
            }
        } else if (full) {
            for (uint32_t k = 1; k <= sessionEnd; ++k) ks.push_back(k);
        } else {
            std::set<std::pair<uint32_t, uint32_t>> pairs;
            std::set<size_t> stepsSeen;
            for (uint32_t k = 1; k <= sessionEnd; ++k) {
                const TlmSimTraceEntry& e = trace[k - 1];
                bool newPair = pairs.insert({e.code, e.port}).second;
                bool newStep = stepsSeen.insert(stepOf(k)).second;
                if (newPair || newStep) ks.push_back(k);
            }
        }

        const std::set<size_t> stopChecks = StopChecks(trace);
        HMODULE strings = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(strings, nullptr);
        int passed = 0, reported = 0, done = 0;
        ULONGLONG began = GetTickCount64();
        for (uint32_t k : ks) {
            size_t i = k - 1;
            Expected expected = ExpectedBox(trace, stopChecks, i);
            wchar_t text[256] = {};
            wchar_t box[320] = {};
            if (expected.message) {
                LoadStringW(strings, expected.message, text, 256);
                std::wstring caption(ui::kErrorCaption, ui::kErrorCaption + sizeof ui::kErrorCaption - 1);
                swprintf(box, 320, L"%ls|%ls(%#lx)", caption.c_str(), text, (unsigned long)expected.error);
            }
            size_t step = stepOf(k);
            bool closeExempt = step + 1 == steps.size();
            Result r = RunOnce(exe, six, k, nullptr, box, closeExempt);
            if (r.passed) {
                ++passed;
            } else if (++reported <= 25) {
                ADD_FAILURE() << ui::Narrow(exe) << ": request " << k << " (" << tlmwin::Describe(trace[i])
                              << ", step '" << steps[step].name << "') failed: " << r.detail;
            }
            if (++done % 100 == 0) {
                std::printf("%s: %d of %d so far (request %u of %u, %.0f s)\n", ui::Narrow(exe).c_str(), passed, done,
                            k, sessionEnd, (GetTickCount64() - began) / 1000.0);
                std::fflush(stdout);
            }
        }
        FreeLibrary(strings);
        std::printf("%s: %d of %d (%s, N = %u requests, %.1f s)\n", ui::Narrow(exe).c_str(), passed, (int)ks.size(),
                    full ? "full sweep" : "sample", sessionEnd, (GetTickCount64() - began) / 1000.0);
        std::fflush(stdout);
        EXPECT_EQ(passed, (int)ks.size());
    }

    tlmwin::SimDriver sim_;
};

TEST_F(FaultSweep, Tlmtest6) { Sweep(L"tlmtest6.exe", true); }
TEST_F(FaultSweep, Tlmtest4) { Sweep(L"tlmtest4.exe", false); }

}  // namespace
