// tellamio_motion.dll over the real tellamio.dll and tlmsim.sys under Wine: moves reach their
// targets, limits and alarms end them with their reason, bad arguments send nothing, and
// every exit path leaves no axis moving.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "sim_client.h"
#include "tellamio_motion.h"

using tlmwin::SimDriver;

namespace {

const WORD X = 0, Y = 1;

class MotionWine : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_EQ(0u, sim.Open()) << "is tlmsim.sys running?";
        ASSERT_EQ(0u, sim.Reset());
        ASSERT_EQ(0u, sim.SetBoards({TestBoard(0, 1), TestBoard(1, 2, 4)}));
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        board = tlmio_OpenDevice(&d);
        ASSERT_NE(board, TLMIO_INVALID_HANDLE);
        ASSERT_TRUE(tlmmotion_Open(board, &motion)) << GetLastError();
        for (WORD axis : {X, Y}) {
            ASSERT_TRUE(tlmmotion_Init(motion, axis)) << GetLastError();
            ASSERT_TRUE(tlmmotion_SetSpeeds(motion, axis, 500, 8000, 0.05)) << GetLastError();
        }
        sim.ResetTrace();
    }
    void TearDown() override {
        if (motion != NULL) tlmmotion_Close(motion);
        tlmio_CloseDevice(board);
    }
    bool Moving(WORD axis) {
        TLMMOTION_STATUS s = {};
        EXPECT_TRUE(tlmmotion_GetStatus(motion, axis, &s));
        return s.moving != 0;
    }
    // The commands written to an axis since the last ResetTrace.
    std::vector<uint32_t> CommandsTo(WORD axis) {
        std::vector<TlmSimTraceEntry> trace;
        EXPECT_EQ(0u, sim.Trace(&trace));
        std::vector<uint32_t> commands;
        for (const TlmSimTraceEntry& e : trace)
            if (e.code == WRITE_BYTE && e.port == axis * 16u) commands.push_back(e.value);
        return commands;
    }
    SimDriver sim;
    TLMIO_HANDLE board = TLMIO_INVALID_HANDLE;
    TLMMOTION motion = NULL;
};

TEST_F(MotionWine, MovesReachTheirTargets) {
    LONG position = 0, reason = 0;
    ASSERT_TRUE(tlmmotion_MoveBy(motion, X, 3000, TRUE));
    ASSERT_TRUE(tlmmotion_Wait(motion, X, 10000, &position, &reason));
    EXPECT_EQ(position, 3000);
    EXPECT_EQ(reason, TLMMOTION_ARRIVED);
    ASSERT_TRUE(tlmmotion_MoveTo(motion, X, 1000, FALSE));
    ASSERT_TRUE(tlmmotion_Wait(motion, X, 10000, &position, &reason));
    EXPECT_EQ(position, 1000);
    EXPECT_EQ(reason, TLMMOTION_ARRIVED);
    int64_t machine = 0;
    EXPECT_EQ(0u, sim.MachinePosition(0, X, &machine));
    EXPECT_EQ(machine, 1000) << "the carriage went where the counter says";
    ASSERT_TRUE(tlmmotion_Wait(motion, X, 10000, &position, &reason));
    EXPECT_EQ(reason, TLMMOTION_IDLE) << "nothing started since the last wait";
}

TEST_F(MotionWine, EndsAreReportedWithTheirReason) {
    struct Case {
        const char* what;
        LONG direction;
        int input;      // forced on while the axis jogs, -1: none
        DWORD timeout;  // of the wait
        bool stopFromThread;
        LONG reason;
    } cases[] = {
        {"+ELS", 1, TLMSIM_INPUT_PLUS_ELS, 10000, false, TLMMOTION_PLUS_LIMIT},
        {"-ELS", -1, TLMSIM_INPUT_MINUS_ELS, 10000, false, TLMMOTION_MINUS_LIMIT},
        {"servo alarm", 1, TLMSIM_INPUT_SVALM, 10000, false, TLMMOTION_SERVO_ALARM},
        {"timeout", 1, -1, 200, false, TLMMOTION_TIMEOUT},
        {"stop from another thread", -1, -1, 10000, true, TLMMOTION_STOPPED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(tlmmotion_Jog(motion, X, c.direction, FALSE));
        // Another thread acts while this one waits (the mingw runtime here has no std::thread).
        struct Act {
            const Case* c;
            MotionWine* test;
            static DWORD WINAPI Run(LPVOID p) {
                const Act* a = static_cast<const Act*>(p);
                Sleep(100);
                if (a->c->input >= 0) a->test->sim.ForceInput(0, X, a->c->input, TLMSIM_FORCE_ASSERTED);
                if (a->c->stopFromThread) tlmmotion_Stop(a->test->motion, X, TRUE);
                return 0;
            }
        } act = {&c, this};
        HANDLE other = CreateThread(NULL, 0, Act::Run, &act, 0, NULL);
        LONG position = 0, reason = 0;
        EXPECT_TRUE(tlmmotion_Wait(motion, X, c.timeout, &position, &reason)) << GetLastError();
        WaitForSingleObject(other, INFINITE);
        CloseHandle(other);
        EXPECT_EQ(reason, c.reason);
        EXPECT_FALSE(Moving(X)) << "the axis stands when the wait returns";
        TLMMOTION_STATUS status = {};
        ASSERT_TRUE(tlmmotion_GetStatus(motion, X, &status));
        if (c.input == TLMSIM_INPUT_PLUS_ELS) EXPECT_NE(status.inputs & TLMMOTION_IN_PLUS_LIMIT, 0);
        if (c.input >= 0) sim.ForceInput(0, X, c.input, TLMSIM_FORCE_FOLLOW);
    }
}

// Nothing reaches the board for a call whose arguments are wrong.
TEST_F(MotionWine, BadArgumentsSendNothing) {
    TLMMOTION four = NULL;
    DeviceInfo d = {-1, -1, -1, -1, 1, -1};
    TLMIO_HANDLE board4 = tlmio_OpenDevice(&d);
    ASSERT_TRUE(tlmmotion_Open(board4, &four));
    LONG count = 0;
    ASSERT_TRUE(tlmmotion_AxisCount(four, &count));
    EXPECT_EQ(count, 4);
    sim.ResetTrace();
    TLMMOTION_STATUS status;
    struct Case {
        const char* what;
        std::function<BOOL()> call;
        DWORD error;
    } cases[] = {
        {"axis 6", [&] { return tlmmotion_MoveBy(motion, 6, 100, TRUE); }, ERROR_INVALID_PARAMETER},
        {"axis V of a four-axis board", [&] { return tlmmotion_Jog(four, 4, 1, TRUE); }, MOTERR_NO_AXIS},
        {"FL 0", [&] { return tlmmotion_SetSpeeds(motion, X, 0, 100, 0.1); }, ERROR_INVALID_PARAMETER},
        {"FH below FL", [&] { return tlmmotion_SetSpeeds(motion, X, 600, 500, 0.1); }, ERROR_INVALID_PARAMETER},
        {"FH 32767", [&] { return tlmmotion_SetSpeeds(motion, X, 500, 32767, 0.1); }, ERROR_INVALID_PARAMETER},
        {"ramp 5 ms", [&] { return tlmmotion_SetSpeeds(motion, X, 500, 600, 0.005); }, ERROR_INVALID_PARAMETER},
        {"move by 0", [&] { return tlmmotion_MoveBy(motion, X, 0, TRUE); }, ERROR_INVALID_PARAMETER},
        {"jog direction 2", [&] { return tlmmotion_Jog(motion, X, 2, TRUE); }, ERROR_INVALID_PARAMETER},
        {"wait without position", [&] { return tlmmotion_Wait(motion, X, 10, NULL, NULL); }, ERROR_INVALID_PARAMETER},
        {"status without room", [&] { return tlmmotion_GetStatus(motion, X, NULL); }, ERROR_INVALID_PARAMETER},
        {"unknown handle", [&] { return tlmmotion_GetStatus((TLMMOTION)&status, X, &status); }, LIBERR_HANDLE},
        {"null handle", [&] { return tlmmotion_Stop(NULL, X, TRUE); }, LIBERR_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    std::vector<TlmSimTraceEntry> trace;
    ASSERT_EQ(0u, sim.Trace(&trace));
    EXPECT_TRUE(trace.empty()) << tlmwin::Describe(trace);
    tlmmotion_Close(four);
    tlmio_CloseDevice(board4);
}

// A start is refused while the axis moves or its servo alarm is on.
TEST_F(MotionWine, StartsNeedAStandingAxisWithoutAlarm) {
    ASSERT_TRUE(tlmmotion_Jog(motion, X, 1, FALSE));
    EXPECT_FALSE(tlmmotion_MoveBy(motion, X, 100, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(MOTERR_NOT_STOPPED));
    ASSERT_TRUE(tlmmotion_Stop(motion, X, TRUE));
    ASSERT_EQ(0u, sim.ForceInput(0, X, TLMSIM_INPUT_SVALM, TLMSIM_FORCE_ASSERTED));
    EXPECT_FALSE(tlmmotion_Jog(motion, X, 1, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(MOTERR_SERVO_ALARM));
    EXPECT_FALSE(Moving(X));
}

// Closing the motion handle stops the axes it moved, and only those.
TEST_F(MotionWine, CloseStopsEveryAxisItMoved) {
    ASSERT_TRUE(tlmmotion_Jog(motion, X, 1, TRUE));
    ASSERT_TRUE(tlmmotion_Jog(motion, Y, -1, FALSE));
    Sleep(100);
    sim.ResetTrace();
    ASSERT_TRUE(tlmmotion_Close(motion));
    motion = NULL;
    for (WORD axis : {X, Y}) {
        std::vector<uint32_t> commands = CommandsTo(axis);
        ASSERT_FALSE(commands.empty()) << "axis " << axis;
        EXPECT_TRUE(commands.back() == 0x0A || commands.back() == 0x09) << "axis " << axis;
    }
    EXPECT_TRUE(CommandsTo(2).empty()) << "Z was never moved";
    Sleep(300);
    for (WORD axis : {X, Y}) {
        BYTE status1 = 0;
        ASSERT_TRUE(tlmio_status1Read(board, axis, &status1));
        EXPECT_EQ(status1 & 0x04, 0) << "axis " << axis << " still moves";
    }
}

}  // namespace
