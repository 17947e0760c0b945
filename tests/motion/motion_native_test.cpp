// The motion library over the native simulated library, with the driver trace as the oracle:
// stops racing every call on the same axis (also under the sanitizers), what a wait reports
// and leaves, and a session with each of its requests failing in turn.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "fixture.h"  // the request codes and a failed request
#include "tellam_controller.h"
#include "tellamio_motion.h"
#include "tellamio_sim.h"

namespace {

constexpr WORD X = 0, Y = 1;
constexpr LONG kFl = 10000, kFh = 30000;
constexpr double kRamp = 0.01;

bool IsStop(DWORD command) { return command == TLM_CMD_IMMEDIATE_STOP || command == TLM_CMD_DECEL_STOP; }
bool IsStart(DWORD command) { return command == TLM_CMD_START_FL || command == TLM_CMD_START_RAMPED; }

class MotionNative : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(0u, tlmsim_Reset());
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        board = tlmio_OpenDevice(&d);
        ASSERT_NE(board, TLMIO_INVALID_HANDLE);
        OpenMotion();
        tlmsim_ResetTrace();
    }
    void TearDown() override {
        if (motion != NULL) tlmmotion_Close(motion);
        tlmio_CloseDevice(board);
        tlmsim_ClearFaults();
    }
    void OpenMotion() {
        ASSERT_TRUE(tlmmotion_Open(board, &motion)) << GetLastError();
        ASSERT_TRUE(tlmmotion_Init(motion, X)) << GetLastError();
        ASSERT_TRUE(tlmmotion_SetSpeeds(motion, X, kFl, kFh, kRamp)) << GetLastError();
    }
    std::vector<TlmSimBoardTraceEntry> Trace() {
        std::vector<TlmSimBoardTraceEntry> trace(4096);
        DWORD count = 0;
        EXPECT_EQ(0u, tlmsim_ReadTrace(1, trace.data(), (DWORD)trace.size(), &count));
        trace.resize(count);
        return trace;
    }
    // The command bytes that reached an axis' command port, in order.
    std::vector<DWORD> Commands(const std::vector<TlmSimBoardTraceEntry>& trace, WORD axis) {
        std::vector<DWORD> out;
        for (const TlmSimBoardTraceEntry& t : trace)
            if (t.entry.code == WRITE_BYTE && t.entry.port == axis * 16u && t.entry.status == 0)
                out.push_back(t.entry.value);
        return out;
    }
    bool Moving(WORD axis, TLMIO_HANDLE on = TLMIO_INVALID_HANDLE) {
        BYTE status1 = 0;
        EXPECT_TRUE(tlmio_status1Read(on == TLMIO_INVALID_HANDLE ? board : on, axis, &status1));
        return (status1 & TLM_ST1_OPERATING) != 0;
    }
    DWORD Register(WORD axis, BYTE reg) {
        DWORD value = 0;
        EXPECT_TRUE(tlmio_regRead(board, axis, (BYTE)TLM_CMD_READ(reg), &value));
        return value;
    }
    TLMIO_HANDLE board = TLMIO_INVALID_HANDLE;
    TLMMOTION motion = NULL;
};

void Spin(unsigned n) {
    for (volatile unsigned i = 0; i < n; ++i) {
    }
}

// Both threads of a race leave this together, so that thread start-up does not order them.
void StartTogether(std::atomic<int>* ready) {
    ready->fetch_add(1);
    while (ready->load() < 2) {
    }
}

// Two calls on axis X at once, each after a random spin, many times: `call` against a stop.
template <typename Check>
void Race(MotionNative* test, int rounds, const std::function<BOOL()>& call, BYTE stop, Check check) {
    std::mt19937 random(7);
    for (int round = 0; round < rounds && !::testing::Test::HasFatalFailure(); ++round) {
        unsigned spinCall = random() % 20000, spinStop = random() % 20000;
        BOOL callOk = FALSE, stopOk = FALSE;
        DWORD callError = 0;
        std::atomic<int> ready{0};
        tlmsim_ResetTrace();
        std::thread caller([&] {
            StartTogether(&ready);
            Spin(spinCall);
            callOk = call();
            callError = GetLastError();
        });
        std::thread stopper([&] {
            StartTogether(&ready);
            Spin(spinStop);
            stopOk = tlmmotion_Stop(test->motion, X, stop == TLM_CMD_IMMEDIATE_STOP);
        });
        caller.join();
        stopper.join();
        check(round, callOk, callError, stopOk);
    }
}

constexpr int kRounds = 150;

// No start goes out after a stop that found the start call sending, unless a stop follows it,
// and a start call the stop cancelled sends no start.
TEST_F(MotionNative, AStopWinsOverEveryStartUnderWay) {
    ASSERT_EQ(0u, tlmsim_SetCarriage(0, X, 100000));  // origin returns have their way to go
    struct Case {
        const char* what;
        std::function<BOOL(TLMMOTION)> start;
    } cases[] = {
        {"move by", [](TLMMOTION m) { return tlmmotion_MoveBy(m, X, 1000000, FALSE); }},
        {"move to", [](TLMMOTION m) { return tlmmotion_MoveTo(m, X, -1000000, TRUE); }},
        {"jog", [](TLMMOTION m) { return tlmmotion_Jog(m, X, 1, FALSE); }},
        {"home", [](TLMMOTION m) { return tlmmotion_Home(m, X, FALSE); }},
    };
    int cancelled = 0, startsFirst = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Race(
            this, kRounds, [&] { return c.start(motion); }, TLM_CMD_IMMEDIATE_STOP,
            [&](int round, BOOL ok, DWORD error, BOOL stopOk) {
                ASSERT_TRUE(stopOk) << "round " << round;
                std::vector<TlmSimBoardTraceEntry> trace = Trace();
                std::vector<DWORD> commands = Commands(trace, X);
                size_t start = commands.size(), lastStop = commands.size();
                for (size_t i = 0; i < commands.size(); ++i) {
                    if (IsStart(commands[i])) start = i;
                    if (IsStop(commands[i])) lastStop = i;
                }
                if (!ok) {
                    EXPECT_EQ(error, (DWORD)MOTERR_CANCELLED) << "round " << round;
                    EXPECT_EQ(start, commands.size()) << "round " << round << ": a cancelled call sent its start";
                    ++cancelled;
                } else if (start < lastStop) {
                    ++startsFirst;
                    LONG position = 0, reason = 0;
                    ASSERT_TRUE(tlmmotion_Wait(motion, X, 5000, &position, &reason));
                    EXPECT_EQ(reason, TLMMOTION_STOPPED) << "round " << round;
                } else {
                    // The start went out after the stop: only a call the stop had not yet
                    // found under way may do that, and none of its requests came first.
                    EXPECT_TRUE(trace[0].entry.code == WRITE_BYTE && trace[0].entry.value == TLM_CMD_IMMEDIATE_STOP)
                        << "round " << round << ": the start call had sent request " << trace[0].entry.code;
                    tlmmotion_Stop(motion, X, TRUE);
                }
                EXPECT_FALSE(Moving(X)) << "round " << round;
                LONG position, reason;
                tlmmotion_Wait(motion, X, 5000, &position, &reason);
            });
    }
    RecordProperty("cancelled", cancelled);
    RecordProperty("stopped_after_start", startsFirst);
}

// A decelerating stop reads FL and the current speed through the axis' one data word: no
// call on the same axis may lose a write or read another call's value.
TEST_F(MotionNative, ADeceleratingStopCorruptsNoRegister) {
    ASSERT_TRUE(tlmmotion_MoveTo(motion, X, 0, FALSE));
    std::atomic<LONG> fh{600};
    Race(
        this, kRounds, [&] { return tlmmotion_SetSpeeds(motion, X, 500, ++fh, 0.5); }, TLM_CMD_DECEL_STOP,
        [&](int round, BOOL ok, DWORD, BOOL stopOk) {
            ASSERT_TRUE(ok && stopOk) << "round " << round;
            EXPECT_EQ(Register(X, TLM_REG_FL), 500u) << "round " << round;
            EXPECT_EQ(Register(X, TLM_REG_FH), (DWORD)fh.load()) << "round " << round;
        });
    TLMMOTION_STATUS status;
    Race(
        this, kRounds, [&] { return tlmmotion_GetStatus(motion, X, &status); }, TLM_CMD_DECEL_STOP,
        [&](int round, BOOL ok, DWORD, BOOL) {
            ASSERT_TRUE(ok) << "round " << round;
            EXPECT_EQ(status.position, 0) << "round " << round << ": the axis stands at 0";
        });
}

// A wait that a stop ends reports it with the axis standing where the counter says.
TEST_F(MotionNative, AWaitEndsWithTheStopAndTheAxisStanding) {
    LONG position = 0, reason = 0;
    ASSERT_TRUE(tlmmotion_Jog(motion, X, 1, FALSE));
    Race(
        this, kRounds / 3, [&] { return tlmmotion_Wait(motion, X, 5000, &position, &reason); }, TLM_CMD_IMMEDIATE_STOP,
        [&](int round, BOOL ok, DWORD, BOOL) {
            ASSERT_TRUE(ok) << "round " << round;
            EXPECT_EQ(reason, TLMMOTION_STOPPED) << "round " << round;
            EXPECT_FALSE(Moving(X));
            EXPECT_EQ((DWORD)position, Register(X, TLM_REG_POSITION)) << "round " << round;
            ASSERT_TRUE(tlmmotion_Jog(motion, X, round % 2 ? 1 : -1, FALSE));
        });
}

// A close that succeeds leaves nothing moving, also against a start going out, and the closed
// handle is refused even when the next open takes its place.
TEST_F(MotionNative, ACloseThatSucceedsLeavesNothingMoving) {
    std::mt19937 random(11);
    for (int round = 0; round < kRounds / 3 && !HasFatalFailure(); ++round) {
        unsigned spinJog = random() % 20000, spinClose = random() % 20000;
        TLMMOTION closing = motion;
        BOOL closed = FALSE;
        std::atomic<int> ready{0};
        std::thread jogger([&] { StartTogether(&ready), Spin(spinJog), tlmmotion_Jog(closing, X, -1, FALSE); });
        std::thread closer([&] { StartTogether(&ready), Spin(spinClose), closed = tlmmotion_Close(closing); });
        jogger.join();
        closer.join();
        ASSERT_TRUE(closed) << "round " << round << ": " << GetLastError();
        EXPECT_FALSE(Moving(X)) << "round " << round;
        OpenMotion();
        LONG count = 0;
        EXPECT_FALSE(tlmmotion_AxisCount(closing, &count)) << "round " << round << ": a closed handle answered";
        EXPECT_EQ(GetLastError(), (DWORD)LIBERR_HANDLE);
    }
}

TEST_F(MotionNative, EveryExitOfAWaitLeavesTheAxisStanding) {
    struct Case {
        const char* what;
        std::function<void()> act;  // while the axis jogs
        DWORD timeoutMs;
        BOOL ok;
        LONG reason;  // or the error when the wait fails
    } cases[] = {
        {"a status read fails",
         [] { tlmsim_AddFault(TLMSIM_FAULT_FAIL, 0, READ_BYTE, (LONG)STATUS_IO_DEVICE_ERROR, 0); }, 5000, FALSE,
         ERROR_IO_DEVICE},
        {"the timeout", [] {}, 50, TRUE, TLMMOTION_TIMEOUT},
        {"another handle stops it",
         [this] {
             TLMMOTION other;
             tlmmotion_Open(board, &other), tlmmotion_StopAll(other), tlmmotion_Close(other);
         },
         5000, TRUE, TLMMOTION_STOPPED},
    };
    // The waits go by the simulated clock: 30 s of virtual time pass at once, and a frozen
    // clock, where a stop cannot decelerate, still lets the timeout and the stop end the wait.
    const struct {
        const char* name;
        DWORD (*set)();
        DWORD timeoutMs;  // of the timeout case
    } clocks[] = {
        {"real", tlmsim_ClockRun, 50}, {"virtual", tlmsim_ClockVirtual, 30000}, {"frozen", tlmsim_ClockFreeze, 50}};
    for (const auto& clock : clocks)
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", clock " + clock.name);
            bool timeoutCase = c.reason == TLMMOTION_TIMEOUT;
            if (clock.set == tlmsim_ClockFreeze && !timeoutCase) continue;  // a frozen axis never decelerates
            ASSERT_TRUE(tlmmotion_SetSpeeds(motion, X, 500, 5000, 0.3));
            ASSERT_TRUE(tlmmotion_MoveBy(motion, X, 1000000, TRUE));
            ASSERT_EQ(0u, clock.set());
            c.act();
            LONG position = 0, reason = 0;
            DWORD before = 0, after = 0;
            tlmsim_TickCount(&before);
            BOOL ok = tlmmotion_Wait(motion, X, timeoutCase ? clock.timeoutMs : c.timeoutMs, &position, &reason);
            DWORD error = GetLastError();
            tlmsim_TickCount(&after);
            tlmsim_ClearFaults();
            ASSERT_EQ(0u, tlmsim_ClockRun());
            EXPECT_EQ(ok, c.ok);
            EXPECT_EQ(c.ok ? reason : (LONG)error, c.reason);
            if (timeoutCase && clock.set == tlmsim_ClockVirtual)
                EXPECT_GE(after - before, clock.timeoutMs) << "the timeout is simulated time";
            if (c.ok) {
                EXPECT_FALSE(Moving(X)) << "the axis stands when the wait returns";
            } else {
                std::vector<DWORD> commands = Commands(Trace(), X);
                EXPECT_TRUE(IsStop(commands.back())) << "the failed wait stopped the axis";
                tlmmotion_Wait(motion, X, 5000, &position, &reason);
            }
            EXPECT_TRUE(tlmmotion_MoveBy(motion, X, 100, FALSE)) << "the next start is taken: " << GetLastError();
            tlmmotion_Wait(motion, X, 5000, &position, &reason);
            tlmsim_ResetTrace();
        }
}

// Init of one axis and the contact settings of another keep each other's ELS polarity bit;
// the contacts read back as set.
TEST_F(MotionNative, ContactsAreSetPerAxis) {
    ASSERT_TRUE(tlmmotion_Init(motion, Y));
    const LONG a = TLMMOTION_IN_PLUS_LIMIT | TLMMOTION_IN_MINUS_LIMIT | TLMMOTION_IN_ORIGIN;
    ASSERT_TRUE(tlmmotion_SetContacts(motion, X, a)) << GetLastError();
    ASSERT_TRUE(tlmmotion_Init(motion, Y));
    LONG contacts = 0;
    ASSERT_TRUE(tlmmotion_GetContacts(motion, X, &contacts));
    EXPECT_EQ(contacts, a);
    BYTE els = 0;
    ASSERT_TRUE(tlmio_ElstRead(board, &els));
    EXPECT_EQ(els & 0x3F, 0x01);
    EXPECT_EQ(Register(X, TLM_REG_SIGNAL), (DWORD)(TLM_SIG_DEFAULT | TLM_SIG_OLS_A));
    tlmsim_ResetTrace();
    for (LONG bad : {(LONG)TLMMOTION_IN_PLUS_LIMIT, (LONG)TLMMOTION_IN_Z_PHASE, (LONG)0x80}) {
        EXPECT_FALSE(tlmmotion_SetContacts(motion, X, bad)) << bad;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(Trace().empty());
}

// A scripted session runs once for each of its requests, with that request failing: the call
// that sent it fails (unless the stop it was part of went out another way), no call succeeds
// falsely, and no axis moves afterwards.
TEST_F(MotionNative, EveryFailingRequestOfASessionLeavesTheBoardSafe) {
    struct Step {
        const char* what;
        std::function<BOOL(TLMMOTION, LONG*, LONG*)> call;
        LONG reason, position;  // what a wait that succeeds must say; 0: not a wait
    };
    const Step steps[] = {
        {"init", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Init(m, X); }, 0, 0},
        {"speeds", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_SetSpeeds(m, X, kFl, kFh, kRamp); }, 0, 0},
        {"move", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_MoveBy(m, X, 1000, TRUE); }, 0, 0},
        {"wait move", [](TLMMOTION m, LONG* p, LONG* r) { return tlmmotion_Wait(m, X, 5000, p, r); }, TLMMOTION_ARRIVED,
         1000},
        {"jog", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Jog(m, X, 1, TRUE); }, 0, 0},
        {"stop", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Stop(m, X, FALSE); }, 0, 0},
        {"wait stop", [](TLMMOTION m, LONG* p, LONG* r) { return tlmmotion_Wait(m, X, 5000, p, r); }, TLMMOTION_STOPPED,
         -1},
        {"home", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Home(m, X, FALSE); }, 0, 0},
        {"wait home", [](TLMMOTION m, LONG* p, LONG* r) { return tlmmotion_Wait(m, X, 5000, p, r); }, TLMMOTION_ARRIVED,
         0},
        {"limits", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_SetSoftLimits(m, X, -100000, 500); }, 0, 0},
        {"jog to limit", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Jog(m, X, 1, TRUE); }, 0, 0},
        {"wait jog", [](TLMMOTION m, LONG* p, LONG* r) { return tlmmotion_Wait(m, X, 5000, p, r); },
         TLMMOTION_SOFT_LIMIT, 500},
        {"together",
         [](TLMMOTION m, LONG*, LONG*) {
             const WORD axes[] = {X, Y};
             const LONG targets[] = {0, 300};
             return tlmmotion_MoveAxesTo(m, 2, axes, targets, TRUE);
         },
         0, 0},
        {"wait both",
         [](TLMMOTION m, LONG* p, LONG* r) {
             const WORD axes[] = {X, Y};
             LONG positions[2], reasons[2];
             BOOL ok = tlmmotion_WaitAxes(m, 2, axes, 5000, positions, reasons);
             *p = positions[0] == 0 ? positions[1] : -1;
             *r = reasons[0] == reasons[1] ? reasons[0] : -1;
             return ok;
         },
         TLMMOTION_ARRIVED, 300},
        {"jog", [](TLMMOTION m, LONG*, LONG*) { return tlmmotion_Jog(m, X, -1, TRUE); }, 0, 0},
    };
    tlmmotion_Close(motion);
    motion = NULL;
    tlmio_CloseDevice(board);  // each session opens the board itself
    board = TLMIO_INVALID_HANDLE;
    // In virtual time: the moves take no real time, and the stops' margins still run out.
    auto session = [&](DWORD failing, std::string* problem) {
        tlmsim_Reset();
        tlmsim_ClockVirtual();
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        TLMIO_HANDLE h = tlmio_OpenDevice(&d);
        TLMMOTION m = NULL;
        tlmsim_ResetTrace();
        if (failing != 0) tlmsim_AddFault(TLMSIM_FAULT_FAIL, failing, 0, (LONG)STATUS_IO_DEVICE_ERROR, 0);
        bool ok = tlmmotion_Open(h, &m) != 0;
        for (const Step& step : steps) {
            if (!ok) break;
            DWORD before = Trace().size();
            LONG position = 0, reason = 0;
            ok = step.call(m, &position, &reason) != 0;
            std::vector<TlmSimBoardTraceEntry> trace = Trace();
            bool sentFailing = failing > before && failing <= trace.size();
            bool stoppedAfter = false;
            for (size_t i = failing; sentFailing && i < trace.size(); ++i)
                stoppedAfter |= trace[i].entry.code == WRITE_BYTE && trace[i].entry.port == 0 &&
                                trace[i].entry.status == 0 && IsStop(trace[i].entry.value);
            if (ok && sentFailing && !stoppedAfter) *problem += std::string(step.what) + " succeeded; ";
            if (ok && step.reason != 0 && (reason != step.reason || (step.position >= 0 && position != step.position)))
                *problem += std::string(step.what) + " said " + std::to_string(reason) + " at " +
                            std::to_string(position) + "; ";
        }
        if (m != NULL && !tlmmotion_Close(m) && failing == 0) *problem += "close failed; ";
        DWORD requests = (DWORD)Trace().size();
        tlmsim_ClearFaults();
        // A stop that went out may still be decelerating: a moment for it, no more.
        for (WORD axis = 0; axis < TLMMOTION_MAX_AXES; ++axis) {
            for (int poll = 0; poll < 100 && Moving(axis, h); ++poll) tlmsim_Sleep(10);
            if (Moving(axis, h)) *problem += "axis " + std::to_string(axis) + " moves; ";
        }
        tlmio_CloseDevice(h);
        tlmsim_ClockRun();
        return requests;
    };
    std::string problem;
    DWORD requests = session(0, &problem);
    ASSERT_EQ(problem, "") << "the session without a fault";
    int safe = 0;
    for (DWORD k = 1; k <= requests; ++k) {
        problem.clear();
        session(k, &problem);
        EXPECT_EQ(problem, "") << "request " << k << " failing";
        safe += problem.empty();
    }
    RecordProperty("safe_sessions", safe);
    RecordProperty("sessions", (int)requests);
    printf("fault sweep: %d of %lu sessions left the board safe\n", safe, (unsigned long)requests);
}

// Moves whose target lies outside the soft limits send nothing but reads; a jog becomes a feed
// that the board ends at the limit; an origin return goes past them.
TEST_F(MotionNative, SoftLimitsBoundEveryMoveButTheOriginReturn) {
    ASSERT_EQ(0u, tlmsim_ClockVirtual());
    ASSERT_TRUE(tlmmotion_SetSoftLimits(motion, X, -500, 2000));
    EXPECT_FALSE(tlmmotion_SetSoftLimits(motion, X, 1, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    const struct {
        const char* what;
        std::function<BOOL()> call;
        LONG reason;  // of its wait, or 0 when the call is refused
        LONG position;
    } cases[] = {
        {"move to beyond max", [&] { return tlmmotion_MoveTo(motion, X, 2001, TRUE); }, 0, 0},
        {"move by below min", [&] { return tlmmotion_MoveBy(motion, X, -501, TRUE); }, 0, 0},
        {"move to max", [&] { return tlmmotion_MoveTo(motion, X, 2000, TRUE); }, TLMMOTION_ARRIVED, 2000},
        {"jog at max", [&] { return tlmmotion_Jog(motion, X, 1, TRUE); }, 0, 2000},
        {"jog down", [&] { return tlmmotion_Jog(motion, X, -1, FALSE); }, TLMMOTION_SOFT_LIMIT, -500},
        {"home", [&] { return tlmmotion_Home(motion, X, FALSE); }, TLMMOTION_ARRIVED, 0},
    };
    ASSERT_EQ(0u, tlmsim_SetCarriage(0, X, 5000));  // the origin return runs from beyond min
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tlmsim_ResetTrace();
        BOOL ok = c.call();
        std::vector<DWORD> commands = Commands(Trace(), X);
        if (c.reason == 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(GetLastError(), (DWORD)MOTERR_SOFT_LIMIT);
            for (DWORD command : commands)
                EXPECT_EQ(command & 0xC0, (DWORD)TLM_CMD_READ_REG) << "sent command 0x" << std::hex << command;
            continue;
        }
        ASSERT_TRUE(ok) << GetLastError();
        LONG position = 0, reason = 0;
        ASSERT_TRUE(tlmmotion_Wait(motion, X, 600000, &position, &reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(position, c.position);
        if (c.reason == TLMMOTION_SOFT_LIMIT) ASSERT_EQ(0u, tlmsim_SetCarriage(0, X, 20000));
    }
    ASSERT_TRUE(tlmmotion_ClearSoftLimits(motion, X));
    EXPECT_TRUE(tlmmotion_MoveTo(motion, X, 3000, FALSE)) << "cleared, the limits hold no more";
}

// A coordinated move: the shorter axis runs on speeds scaled by its distance and arrives with
// the longer one; afterwards its own speeds are back; a stop of one, or a limit, stops both.
TEST_F(MotionNative, AxesMovedTogetherArriveAndStopTogether) {
    ASSERT_EQ(0u, tlmsim_ClockVirtual());
    ASSERT_TRUE(tlmmotion_Init(motion, Y));
    ASSERT_TRUE(tlmmotion_SetSpeeds(motion, X, 500, 5000, 0.2));
    const WORD axes[] = {X, Y};
    const LONG targets[] = {10000, -4000};
    tlmsim_ResetTrace();
    ASSERT_TRUE(tlmmotion_MoveAxesTo(motion, 2, axes, targets, TRUE)) << GetLastError();
    std::vector<TlmSimBoardTraceEntry> trace = Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_TRUE(IsStart(trace[trace.size() - 2].entry.value) && IsStart(trace.back().entry.value))
        << "the two starts are the last requests, back to back";
    EXPECT_EQ(Register(Y, TLM_REG_FL), 200u);
    EXPECT_EQ(Register(Y, TLM_REG_FH), 2000u);
    LONG ended[2] = {-1, -1};
    for (LONG ms = 0; ms < 10000 && (ended[0] < 0 || ended[1] < 0); ms += 1) {
        ASSERT_EQ(0u, tlmsim_Sleep(1));
        for (int i = 0; i < 2; ++i)
            if (ended[i] < 0 && !Moving(axes[i])) ended[i] = ms;
    }
    EXPECT_LE(abs(ended[0] - ended[1]), 5) << "X stood at " << ended[0] << " ms, Y at " << ended[1] << " ms";
    LONG positions[2] = {}, reasons[2] = {};
    ASSERT_TRUE(tlmmotion_WaitAxes(motion, 2, axes, 1000, positions, reasons));
    EXPECT_EQ(positions[0], 10000);
    EXPECT_EQ(positions[1], -4000);
    EXPECT_EQ(reasons[0], TLMMOTION_ARRIVED);
    EXPECT_EQ(reasons[1], TLMMOTION_ARRIVED);
    ASSERT_TRUE(tlmmotion_MoveBy(motion, Y, 100, TRUE));
    EXPECT_EQ(Register(Y, TLM_REG_FL), (DWORD)TLM_INIT_FL_SPEED) << "Y's own speeds again";
    ASSERT_TRUE(tlmmotion_Wait(motion, Y, 1000, positions, reasons));
    const struct {
        const char* what;
        std::function<void()> act;
        LONG reasons[2];
    } ends[] = {
        {"a stop of Y", [&] { tlmmotion_Stop(motion, Y, FALSE); }, {TLMMOTION_STOPPED, TLMMOTION_STOPPED}},
        {"-ELS of Y",
         [&] { tlmsim_SetInput(0, Y, TLMSIM_INPUT_MINUS_ELS, TLMSIM_FORCE_ASSERTED); },
         {TLMMOTION_STOPPED, TLMMOTION_MINUS_LIMIT}},
    };
    const LONG back[] = {0, -8000};
    for (const auto& e : ends) {
        SCOPED_TRACE(e.what);
        ASSERT_TRUE(tlmmotion_MoveAxesTo(motion, 2, axes, back, TRUE)) << GetLastError();
        ASSERT_EQ(0u, tlmsim_Sleep(300));
        e.act();
        ASSERT_TRUE(tlmmotion_WaitAxes(motion, 2, axes, 60000, positions, reasons));
        EXPECT_EQ(reasons[0], e.reasons[0]);
        EXPECT_EQ(reasons[1], e.reasons[1]);
        EXPECT_FALSE(Moving(X) || Moving(Y));
        tlmsim_SetInput(0, Y, TLMSIM_INPUT_MINUS_ELS, TLMSIM_FORCE_FOLLOW);
    }
    // Refused before anything is written.
    const WORD twice[] = {X, X}, sixth[] = {5};
    const LONG outside[] = {0, 500};
    ASSERT_TRUE(tlmmotion_SetSoftLimits(motion, Y, -100, 100));
    tlmsim_ResetTrace();
    EXPECT_FALSE(tlmmotion_MoveAxesTo(motion, 2, twice, outside, TRUE));
    EXPECT_FALSE(tlmmotion_MoveAxesTo(motion, 0, axes, outside, TRUE));
    EXPECT_FALSE(tlmmotion_MoveAxesTo(motion, 2, axes, outside, TRUE));
    EXPECT_EQ(GetLastError(), (DWORD)MOTERR_SOFT_LIMIT);
    EXPECT_TRUE(tlmmotion_MoveAxesTo(motion, 1, sixth, outside, TRUE)) << "W of the six-axis board stands at 0";
    for (DWORD command : Commands(Trace(), X)) EXPECT_EQ(command & 0xC0, (DWORD)TLM_CMD_READ_REG);
}

// Why an origin return ended, from the status bits: OLS seen without the Z mark after it.
TEST_F(MotionNative, AnOriginReturnSaysWhichPhaseFailed) {
    ASSERT_EQ(0u, tlmsim_ClockVirtual());
    const struct {
        const char* what;
        BOOL zPhase;
        DWORD ols, z;
        LONG reason;
    } cases[] = {
        {"no Z mark", TRUE, TLMSIM_FORCE_ASSERTED, TLMSIM_FORCE_RELEASED, TLMMOTION_NO_Z_MARK},
        {"no OLS", TRUE, TLMSIM_FORCE_RELEASED, TLMSIM_FORCE_RELEASED, TLMMOTION_TIMEOUT},
        {"OLS only", FALSE, TLMSIM_FORCE_RELEASED, TLMSIM_FORCE_FOLLOW, TLMMOTION_TIMEOUT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tlmsim_SetInput(0, X, TLMSIM_INPUT_OLS, c.ols);
        tlmsim_SetInput(0, X, TLMSIM_INPUT_Z, c.z);
        ASSERT_TRUE(tlmmotion_Home(motion, X, c.zPhase)) << GetLastError();
        LONG position = 0, reason = 0;
        ASSERT_TRUE(tlmmotion_Wait(motion, X, 500, &position, &reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_FALSE(Moving(X));
    }
}

// The watchdog stops what moves once the program falls silent, refuses calls until it is set
// again, and lets a program that keeps calling move on. It measures in the simulator's clock,
// here frozen and moved on by hand, so that no pause of a loaded machine counts as silence.
TEST_F(MotionNative, TheWatchdogStopsTheBoardOfASilentProgram) {
    const unsigned long long ms = 1000000;  // ns
    ASSERT_EQ(0u, tlmsim_ClockFreeze());
    ASSERT_TRUE(tlmmotion_SetSpeeds(motion, X, 500, 500, 0.01));
    ASSERT_TRUE(tlmmotion_SetWatchdog(motion, 200));
    ASSERT_TRUE(tlmmotion_Jog(motion, X, 1, FALSE));
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(0u, tlmsim_ClockAdvance(150 * ms));
        Sleep(20);  // the watchdog looks every 5 ms
        ASSERT_TRUE(tlmmotion_Feed(motion)) << "fed every 150 ms, refused after " << i;
    }
    ASSERT_EQ(0u, tlmsim_ClockAdvance(199 * ms));
    Sleep(20);
    EXPECT_TRUE(Moving(X)) << "stopped 199 ms after the last call";
    ASSERT_EQ(0u, tlmsim_ClockAdvance(1 * ms));
    DWORD start = GetTickCount();
    while (Moving(X) && GetTickCount() - start < 5000) ASSERT_EQ(0u, tlmsim_ClockAdvance(1 * ms));  // the stop's ramp
    EXPECT_FALSE(Moving(X)) << "still moving 200 ms after the last call";
    LONG position = 0;
    EXPECT_FALSE(tlmmotion_MoveBy(motion, X, 100, FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)MOTERR_WATCHDOG);
    EXPECT_TRUE(tlmmotion_Stop(motion, X, FALSE)) << "a stop is always taken";
    ASSERT_TRUE(tlmmotion_SetWatchdog(motion, 0));
    EXPECT_TRUE(tlmmotion_Wait(motion, X, 1000, &position, NULL)) << GetLastError();
}

}  // namespace

// Virtual and scaled time are exact: a ramped move passes through the same positions at the
// same simulated times as when the clock is stepped by hand, and a sleep of the simulated
// library waits the simulated time it was asked for.
TEST_F(MotionNative, AMoveInVirtualOrScaledTimeIsTheMoveInRealTime) {
    ASSERT_TRUE(tlmmotion_SetSpeeds(motion, X, 500, 5000, 0.2));
    auto sample = [&](DWORD (*wait)(DWORD)) {
        std::vector<LONG> positions;
        LONG reason = 0;
        TLMMOTION_STATUS s;
        EXPECT_TRUE(tlmmotion_GetStatus(motion, X, &s));
        LONG start = s.position;
        EXPECT_TRUE(tlmmotion_MoveBy(motion, X, 2000, TRUE)) << GetLastError();
        for (int step = 0; step < 120; ++step) {
            EXPECT_EQ(0u, wait(7));
            EXPECT_TRUE(tlmmotion_GetStatus(motion, X, &s));
            positions.push_back(s.position - start);
        }
        EXPECT_EQ(0u, tlmsim_ClockAdvance(10000000000ull));  // to the end of the move
        EXPECT_TRUE(tlmmotion_Wait(motion, X, 1000, &start, &reason));
        return positions;
    };
    ASSERT_EQ(0u, tlmsim_ClockFreeze());
    std::vector<LONG> stepped = sample([](DWORD ms) { return tlmsim_ClockAdvance(ms * 1000000ull); });
    ASSERT_EQ(0u, tlmsim_ClockVirtual());
    DWORD before = 0, after = 0;
    ASSERT_EQ(0u, tlmsim_TickCount(&before));
    std::vector<LONG> virtualTime = sample(tlmsim_Sleep);
    EXPECT_EQ(stepped, virtualTime) << "positions at every 7 ms of the move";
    ASSERT_EQ(0u, tlmsim_ClockVirtual());
    ASSERT_EQ(0u, tlmsim_TickCount(&before));
    ASSERT_EQ(0u, tlmsim_Sleep(1234));
    ASSERT_EQ(0u, tlmsim_TickCount(&after));
    EXPECT_EQ(1234u, after - before) << "a virtual sleep moves the clock by what it waited";
    ASSERT_EQ(0u, tlmsim_ClockScale(100.0));
    ASSERT_EQ(0u, tlmsim_TickCount(&before));
    ASSERT_EQ(0u, tlmsim_Sleep(2000));  // 20 ms of real time
    ASSERT_EQ(0u, tlmsim_TickCount(&after));
    EXPECT_GE(after - before, 2000u) << "a scaled sleep waits at least its simulated time";
    EXPECT_EQ(87u, tlmsim_ClockScale(0.005));
    ASSERT_EQ(0u, tlmsim_ClockFreeze());
    EXPECT_EQ(87u, tlmsim_Sleep(1)) << "a sleep on a frozen clock would never end";
    ASSERT_EQ(0u, tlmsim_ClockRun());
}
