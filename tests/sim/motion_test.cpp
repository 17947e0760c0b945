// Moves: preset and continuous feeds, ramps, stops, origin returns and the cycle interrupt.
#include <gtest/gtest.h>

#include <cmath>

#include "rig.h"

using namespace tlmsim;
using namespace tlmsim_test;

namespace {

// Duration on paper of a preset feed of n pulses that starts at fl, ramps by one pps per
// (rate + 1) / 2457600 s up to fh (or to the peak of a triangle) and back down to fl.
double PaperDuration(double n, double fl, double fh, double rate) {
    double a = 2457600.0 / (rate + 1.0);  // pps per second
    double ta = (fh - fl) / a;
    double rampPulses = (fl + fh) / 2.0 * ta;
    if (2.0 * rampPulses <= n) return 2.0 * ta + (n - 2.0 * rampPulses) / fh;
    double peak = std::sqrt(fl * fl + a * n);
    return 2.0 * (peak - fl) / a;
}

struct FeedCase {
    uint8_t mode;
    uint8_t command;
    uint32_t preset, fl, fh, rate;
};

TEST(PresetFeed, EndsOnTheExactTarget) {
    const FeedCase cases[] = {
        {kModePlusPreset, kCmdStartFl, 1500, 500, 5000, 545},
        {kModeMinusPreset, kCmdStartFl, 1500, 500, 5000, 545},
        {kModePlusPreset, kCmdStartHigh, 1500, 500, 5000, 545},    // triangle
        {kModeMinusPreset, kCmdStartHigh, 20000, 500, 5000, 545},  // trapezoid
        {kModePlusPreset, kCmdStartHigh, 1, 500, 5000, 545},
        {kModePlusPreset, kCmdStartHigh, 2, 1, 32766, 0},
        {kModeMinusPreset, kCmdStartHigh, 99999, 100, 32766, 10},
        {kModePlusPreset, kCmdStartHigh, 12345, 300, 300, 545},  // FH = FL: no ramp
        {kModePlusPreset, kCmdStartHigh, 7777, 1000, 900, 545},  // FH below FL: runs at FL
        {kModeMinusPreset, kCmdStartHigh, 150000, 1, 32766, 0},
        {kModePlusPreset, 0x11, 5000, 500, 5000, 545},  // FH without ramps
    };
    for (const FeedCase& c : cases) {
        Rig rig;
        rig.InitAxis(1);
        rig.WriteRegister(1, 9, 1000);
        rig.Parameters(1, c.preset, c.fl, c.fh, c.rate);
        rig.Start(1, c.mode, c.command);
        rig.Wait(kMilli / 10);
        EXPECT_TRUE(rig.Operating(1) || c.preset < 3) << "operating right after the start";
        rig.RunToEnd(1);
        int32_t expected = 1000 + ((c.mode & 0x10) ? -1 : 1) * static_cast<int32_t>(c.preset);
        SCOPED_TRACE(testing::Message() << "mode " << std::hex << int(c.mode) << " command " << int(c.command)
                                        << std::dec << " preset " << c.preset << " FL " << c.fl << " FH " << c.fh
                                        << " rate " << c.rate);
        EXPECT_EQ(rig.Position(1), expected) << "position counter";
        EXPECT_EQ(rig.Machine(1), expected - 1000) << "machine position";
        EXPECT_EQ(rig.Speed(1), 0u) << "speed after the end";
        EXPECT_EQ(rig.ReadRegister(1, 13) & 0x00FF, 0x0010u) << "end cause: target reached";
        rig.Wait(10 * kSecond);
        EXPECT_EQ(rig.Position(1), expected) << "position stays";
    }
}

TEST(PresetFeed, HighSpeedDurationMatchesTheTrapezoid) {
    const FeedCase cases[] = {
        {kModePlusPreset, kCmdStartHigh, 20000, 500, 5000, 545},
        {kModeMinusPreset, kCmdStartHigh, 3276700, 500, 5000, 545},
        {kModePlusPreset, kCmdStartHigh, 100000, 1000, 20000, 100},
        {kModePlusPreset, kCmdStartHigh, 50000, 100, 32766, 10},
        {kModePlusPreset, kCmdStartHigh, 1500, 500, 5000, 545},  // triangle
        {kModePlusPreset, kCmdStartHigh, 300, 500, 5000, 545},   // small triangle
        {kModePlusPreset, kCmdStartHigh, 10000, 100, 1100, 245},
        {kModePlusPreset, kCmdStartHigh, 10000, 500, 1500, 1228},
    };
    for (const FeedCase& c : cases) {
        Rig rig;
        rig.InitAxis(0);
        AxisSensors open = DefaultAxisSensors();  // a travel without limits or slow-down dogs
        open.plusEls = open.minusEls = open.dls[0] = open.dls[1] = {1, 0};
        ASSERT_TRUE(BoardSetSensors(&rig.board, 0, &open, rig.now));
        rig.Parameters(0, c.preset, c.fl, c.fh, c.rate);
        rig.Start(0, c.mode, c.command);
        double measured = static_cast<double>(rig.RunToEnd(0)) / kSecond;
        double paper = PaperDuration(c.preset, c.fl, c.fh, c.rate);
        EXPECT_NEAR(measured, paper, paper * 0.01)
            << "preset " << c.preset << " FL " << c.fl << " FH " << c.fh << " rate " << c.rate;
    }
}

TEST(PresetFeed, ConstantSpeedTakesPresetOverFl) {
    struct Case {
        uint32_t preset, fl;
    };
    const Case cases[] = {{1500, 500}, {1, 1}, {32766, 32766}, {100000, 777}};
    for (const Case& c : cases) {
        Rig rig;
        rig.InitAxis(0);
        rig.Parameters(0, c.preset, c.fl, 5000, 545);
        rig.Start(0, kModePlusPreset, kCmdStartFl);
        double measured = static_cast<double>(rig.RunToEnd(0)) / kSecond;
        double paper = static_cast<double>(c.preset) / c.fl;
        // One tick of the reference clock is the resolution.
        EXPECT_NEAR(measured, paper, 1.0 / 2457600 + 1e-9) << "preset " << c.preset << " FL " << c.fl;
    }
}

TEST(Acceleration, RateThreePlusOneTicksPerPps) {
    Rig rig;
    rig.InitAxis(0);
    rig.Parameters(0, 0, 500, 5000, 545);
    rig.Start(0, kModePlusContinuous, kCmdStartHigh);
    // 4500 steps of 546 ticks: 0.99975 s to FH.
    struct Probe {
        uint64_t at;
        uint32_t speed;
        uint8_t status1Ramp;
    };
    const Probe probes[] = {
        {0, 500, 0x01},
        {546 * 1000 * kSecond / 2457600 + 1, 1500, 0x01},
        {546 * 4499 * kSecond / 2457600 + 1, 4999, 0x01},
        {546 * 4500 * kSecond / 2457600 + 1, 5000, 0x00},
        {30 * kSecond, 5000, 0x00},
    };
    uint64_t start = rig.now;
    for (const Probe& p : probes) {
        rig.now = start + p.at;
        EXPECT_EQ(rig.Speed(0), p.speed) << "speed at " << p.at << " ns";
        EXPECT_EQ(rig.Status1(0) & 0x07, 0x04 | p.status1Ramp) << "status 1 at " << p.at << " ns";
    }
}

TEST(ContinuousFeed, RunsAtFlInBothDirectionsUntilStopped) {
    struct Case {
        uint8_t mode;
        int32_t sign;
    };
    for (const Case& c : {Case{kModePlusContinuous, 1}, Case{kModeMinusContinuous, -1}}) {
        Rig rig;
        rig.InitAxis(3);
        rig.Parameters(3, 1500, 1000, 5000, 545);
        rig.Start(3, c.mode, kCmdStartFl);
        rig.Wait(10 * kSecond);
        EXPECT_TRUE(rig.Operating(3)) << "still running after 10 s";
        EXPECT_EQ(rig.Position(3), c.sign * 10000) << "10 s at 1000 pps";
        EXPECT_EQ(rig.Speed(3), 1000u) << "speed equals FL";
        EXPECT_EQ(rig.ReadRegister(3, 1), rig.Speed(3)) << "FL register equals current speed (stop check)";
        EXPECT_EQ(rig.Status2(3) & 0x10, c.sign < 0 ? 0x10 : 0x00) << "direction bit";
        rig.Command(3, kCmdStop);
        EXPECT_FALSE(rig.Operating(3)) << "stopped at once";
        rig.Wait(kSecond);
        EXPECT_EQ(rig.Position(3), c.sign * 10000) << "no pulse after the stop";
        EXPECT_EQ(rig.ReadRegister(3, 13) & 0xFF, 0x20u) << "end cause: stop command";
    }
}

TEST(ContinuousFeed, LongTimeJumpIsExact) {
    Rig rig;
    rig.InitAxis(0);
    AxisSensors far = DefaultAxisSensors();
    far.plusEls = {2000000000, INT32_MAX};
    ASSERT_TRUE(BoardSetSensors(&rig.board, 0, &far, rig.now));
    rig.Parameters(0, 0, 4321, 5000, 545);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(100000 * kSecond);  // more than a day of virtual time in one step
    EXPECT_EQ(rig.Machine(0), 432100000) << "machine position after 100000 s at 4321 pps";
    EXPECT_EQ(rig.Position(0), 432100000) << "position counter";
}

TEST(Stops, DeceleratingStopSlowsToFlThenStops) {
    Rig rig;
    rig.InitAxis(0);
    rig.Parameters(0, 0, 500, 5000, 545);
    rig.Start(0, kModePlusContinuous, kCmdStartHigh);
    rig.Wait(2 * kSecond);
    ASSERT_EQ(rig.Speed(0), 5000u) << "at FH before the stop";
    rig.Command(0, kCmdDecelStop);
    rig.Wait(500 * kMilli);
    EXPECT_EQ(rig.Status1(0) & 0x06, 0x06) << "operating and decelerating half-way";
    uint32_t half = rig.Speed(0);
    EXPECT_GT(half, 2500u) << "speed half-way down";
    EXPECT_LT(half, 3000u) << "speed half-way down";
    double took = static_cast<double>(rig.RunToEnd(0)) / kSecond + 0.5;
    EXPECT_NEAR(took, 4500.0 * 546 / 2457600, 0.001) << "time from FH down to FL";
    EXPECT_EQ(rig.ReadRegister(0, 13) & 0xFF, 0x20u) << "end cause: stop command";
}

TEST(Stops, DeceleratingStopAtFlIsImmediate) {
    Rig rig;
    rig.InitAxis(0);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(kSecond);
    rig.Command(0, kCmdDecelStop);
    EXPECT_FALSE(rig.Operating(0)) << "operating after 0x0A at FL";
    EXPECT_EQ(rig.Position(0), 500) << "position after one second at FL";
}

TEST(Stops, ImmediateStopDuringAPresetFeed) {
    Rig rig;
    rig.InitAxis(0);
    rig.Parameters(0, 100000, 500, 5000, 545);
    rig.Start(0, kModeMinusPreset, kCmdStartHigh);
    rig.Wait(3 * kSecond);
    int32_t at = rig.Position(0);
    rig.Command(0, kCmdStop);
    rig.Wait(kSecond);
    EXPECT_FALSE(rig.Operating(0));
    EXPECT_EQ(rig.Position(0), at) << "position after the stop";
    EXPECT_LT(at, -5000) << "moved minus before the stop";
}

TEST(Stops, StartWhileOperatingIsIgnored) {
    Rig rig;
    rig.InitAxis(0);
    rig.Parameters(0, 1000, 500, 5000, 545);
    rig.Start(0, kModePlusPreset, kCmdStartFl);
    rig.Wait(kSecond);
    rig.Start(0, kModeMinusPreset, kCmdStartFl);
    rig.RunToEnd(0);
    EXPECT_EQ(rig.Position(0), 1000) << "the first feed ran to its end";
}

TEST(Limits, FeedStopsOnTheLimitInItsDirection) {
    struct Case {
        uint8_t mode;
        uint8_t command;
        int64_t from;
        int64_t stopsAt;
        uint8_t status1Limit;
        uint32_t endCause;
    };
    const Case cases[] = {
        {kModePlusContinuous, kCmdStartFl, 199000, 200000, 0x08, 0x40},
        {kModeMinusContinuous, kCmdStartFl, -199000, -200000, 0x10, 0x80},
        {kModePlusContinuous, kCmdStartHigh, 150000, 200000, 0x08, 0x40},
        {kModeMinusPreset, kCmdStartHigh, -195000, -200000, 0x10, 0x80},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.InitAxis(0);
        rig.Parameters(0, 100000, 500, 5000, 545);
        rig.PlaceCarriage(0, c.from);
        rig.Start(0, c.mode, c.command);
        rig.RunToEnd(0);
        SCOPED_TRACE(testing::Message() << "from " << c.from << " mode " << std::hex << int(c.mode));
        EXPECT_EQ(rig.Machine(0), c.stopsAt) << "machine position";
        EXPECT_EQ(rig.Position(0), c.stopsAt - c.from) << "position counter";
        EXPECT_EQ(rig.Status1(0) & 0x18, c.status1Limit) << "limit bits of status 1";
        EXPECT_EQ(rig.Status2(0) & 0x04, 0x04) << "ended on a limit";
        EXPECT_EQ(rig.ReadRegister(0, 13) & 0xFF, c.endCause) << "end cause";
        // Further on is refused, away is free.
        rig.Start(0, c.mode, kCmdStartFl);
        EXPECT_FALSE(rig.Operating(0)) << "start into the limit";
        rig.Start(0, static_cast<uint8_t>(c.mode ^ 0x10), kCmdStartFl);
        rig.Wait(kSecond);
        EXPECT_TRUE(rig.Operating(0)) << "start away from the limit";
        EXPECT_EQ(rig.Status1(0) & 0x18, 0) << "limit left behind";
    }
}

TEST(Limits, ForcedLimitStopsAMove) {
    Rig rig;
    rig.InitAxis(0);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(2 * kSecond);
    rig.Force(0, kInputMinusEls, kInputAsserted);
    EXPECT_TRUE(rig.Operating(0)) << "the limit behind does not stop a + move";
    rig.Force(0, kInputPlusEls, kInputAsserted);
    EXPECT_FALSE(rig.Operating(0)) << "the limit ahead stops it";
    EXPECT_EQ(rig.Position(0), 1000) << "stopped where the limit came";
}

TEST(Limits, DlsSlowsToFl) {
    Rig rig;
    rig.InitAxis(0);
    rig.PlaceCarriage(0, 170000);
    rig.Parameters(0, 0, 500, 5000, 545);
    rig.Start(0, kModePlusContinuous, kCmdStartHigh);
    rig.Wait(2 * kSecond);  // at FH, before the DLS dog at 190000
    EXPECT_EQ(rig.Speed(0), 5000u) << "speed before DLS";
    EXPECT_EQ(rig.Status1(0) & 0x60, 0) << "no DLS yet";
    uint64_t toDls = (190000 - rig.Machine(0)) * kSecond / 5000;
    rig.Wait(toDls + 10 * kMilli);
    EXPECT_EQ(rig.Status1(0) & 0x62, 0x62) << "DLS active, slowing down, decelerating";
    rig.Wait(2 * kSecond);
    EXPECT_EQ(rig.Speed(0), 500u) << "speed after DLS";
    EXPECT_EQ(rig.Status1(0) & 0x67, 0x64) << "held at FL by DLS";
    EXPECT_TRUE(rig.Operating(0)) << "still running at FL";
    rig.RunToEnd(0);
    EXPECT_EQ(rig.Machine(0), 200000) << "stops on +ELS";
}

TEST(Limits, DlsHoldsTheMoveAtFlAfterItIsLeft) {
    Rig rig;
    rig.InitAxis(0);
    rig.PlaceCarriage(0, 195000);
    rig.Parameters(0, 0, 500, 5000, 545);
    rig.Start(0, kModeMinusContinuous, kCmdStartHigh);
    rig.Wait(kSecond);
    EXPECT_EQ(rig.Status1(0) & 0x67, 0x64) << "starting on the DLS dog: held at FL, no ramp";
    EXPECT_EQ(rig.Speed(0), 500u) << "speed on the dog";
    rig.Wait(20 * kSecond);
    EXPECT_EQ(rig.Status1(0) & 0x67, 0x04) << "dog left behind";
    EXPECT_EQ(rig.Speed(0), 500u) << "speed after leaving the dog";
    EXPECT_EQ(rig.Machine(0), 195000 - 10500) << "21 s at FL";
}

TEST(OriginReturn, StopsWhereOlsComesAndClearsTheCounter) {
    struct Case {
        uint32_t reg7;
        uint8_t command;
        int64_t from;
        int64_t endsAt;  // machine position
    };
    const Case cases[] = {
        {0xF0C40, kCmdStartFl, 5000, 500},      {0xF0C40, kCmdStartFl, 600, 500},
        {0xF0C40, kCmdStartFl, 0, 0},                                             // OLS already active: done at once
        {0xF0C40, kCmdStartHigh, 40000, 500},   {0xF0C60, kCmdStartFl, 5000, 0},  // OLS, then the next Z mark
        {0xF0C60, kCmdStartFl, 250, 0},         {0xF0C60, kCmdStartFl, -1500, -2000},
        {0xF0C60, kCmdStartHigh, 40000, -3000},  // slows to FL after OLS, then Z
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.InitAxis(2);
        rig.WriteRegister(2, 9, 777);
        rig.PlaceCarriage(2, c.from);
        rig.WriteRegister(2, 7, c.reg7);
        rig.Start(2, kModeOrigin, c.command);
        rig.RunToEnd(2);
        SCOPED_TRACE(testing::Message() << "register 7 " << std::hex << c.reg7 << " command " << int(c.command)
                                        << std::dec << " from " << c.from);
        EXPECT_EQ(rig.Machine(2), c.endsAt) << "machine position";
        EXPECT_EQ(rig.Position(2), 0) << "position counter";
        EXPECT_EQ(rig.Status1(2) & 0x80, 0x80) << "OLS active at the end";
        EXPECT_EQ(rig.ReadRegister(2, 13) & 0x1FF, 0x100u) << "end cause: origin return complete";
        if (c.reg7 & 0x20) {
            EXPECT_EQ(rig.ReadRegister(2, 14) & 0x80, 0x80u) << "on the Z mark";
        }
    }
}

TEST(OriginReturn, BelowTheOriginItRunsIntoTheLimit) {
    Rig rig;
    rig.InitAxis(0);
    rig.WriteRegister(0, 9, 12345);
    rig.PlaceCarriage(0, -150000);
    rig.Parameters(0, 1500, 5000, 5000, 545);
    rig.Start(0, kModeOrigin, kCmdStartFl);
    rig.RunToEnd(0);
    EXPECT_EQ(rig.Machine(0), -200000) << "machine position";
    EXPECT_EQ(rig.Position(0), 12345 - 50000) << "counter not cleared";
    EXPECT_EQ(rig.ReadRegister(0, 13) & 0x1FF, 0x80u) << "end cause: -ELS";
}

TEST(OriginReturn, ForcedOlsEndsIt) {
    Rig rig;
    rig.InitAxis(0);
    rig.PlaceCarriage(0, 100000);
    rig.Start(0, kModeOrigin, kCmdStartFl);
    rig.Wait(kSecond);
    EXPECT_TRUE(rig.Operating(0));
    rig.Force(0, kInputOls, kInputAsserted);
    EXPECT_FALSE(rig.Operating(0)) << "operating after OLS was forced";
    EXPECT_EQ(rig.Machine(0), 99500) << "machine position";
    EXPECT_EQ(rig.Position(0), 0) << "position counter";
}

TEST(CycleRun, EachFinishedPresetFeedLatchesInterruptStatus) {
    Rig rig;
    rig.InitAxis(1);
    rig.Parameters(1, 1500, 500, 5000, 545);
    rig.Start(1, kModePlusPreset, kCmdStartFl);
    rig.Command(1, 0x66);
    for (int feed = 0; feed < 4; ++feed) {
        SCOPED_TRACE(testing::Message() << "feed " << feed);
        rig.Wait(kSecond);
        EXPECT_EQ(rig.InterruptStatus(1), 0) << "interrupt status while the feed runs";
        EXPECT_EQ(rig.ReadRegister(1, 13) & 0x1000, 0u) << "register 13 bit 0x1000 while running";
        rig.RunToEnd(1);
        EXPECT_EQ(rig.ReadByte(0xBC), 0x02) << "interrupt request of axis 1";
        EXPECT_EQ(rig.ReadRegister(1, 13) & 0x1000, 0x1000u) << "register 13 bit 0x1000 while latched";
        EXPECT_EQ(rig.InterruptStatus(1), 0x14) << "interrupt status after the feed";
        EXPECT_EQ(rig.InterruptStatus(1), 0) << "second read";
        EXPECT_EQ(rig.ReadRegister(1, 13) & 0x1000, 0u) << "register 13 bit 0x1000 after the read";
        rig.Start(1, (feed & 1) ? kModePlusPreset : kModeMinusPreset, kCmdStartFl);
    }
    rig.RunToEnd(1);
    EXPECT_EQ(rig.Position(1), 1500) << "back and forth";
    rig.Command(1, 0x67);
    rig.InterruptStatus(1);
    rig.Start(1, kModePlusPreset, kCmdStartFl);
    rig.RunToEnd(1);
    EXPECT_EQ(rig.InterruptStatus(1), 0) << "after 0x67 nothing latches";
}

TEST(CycleRun, OnlyFeedsThatReachTheirTargetLatch) {
    Rig rig;
    rig.InitAxis(0);
    rig.Command(0, 0x66);
    rig.Start(0, kModePlusPreset, kCmdStartFl);
    rig.Wait(kSecond);
    rig.Command(0, kCmdStop);
    EXPECT_EQ(rig.InterruptStatus(0), 0) << "after a stop";
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(kSecond);
    rig.Command(0, kCmdStop);
    EXPECT_EQ(rig.InterruptStatus(0), 0) << "after a continuous feed";
    rig.Start(0, kModeMinusPreset, kCmdStartFl);
    rig.RunToEnd(0);
    rig.WriteByte(0xBE, 0xFF);
    EXPECT_EQ(rig.InterruptStatus(0), 0) << "after the interrupt reset port";
}

TEST(CycleRun, NoLatchOutsideCycleMode) {
    Rig rig;
    rig.InitAxis(0);
    rig.Start(0, kModePlusPreset, kCmdStartFl);
    rig.RunToEnd(0);
    EXPECT_EQ(rig.InterruptStatus(0), 0);
    EXPECT_EQ(rig.ReadByte(0xBC), 0);
}

}  // namespace

namespace {

// How often the caller looks must not change the motion: a board polled every 0.7 ms and one
// looked at only at the sample times show the same position, speed and status there.
TEST(Determinism, PollingDoesNotChangeTheMotion) {
    struct Case {
        const char* name;
        uint8_t mode;
        uint8_t command;
        uint32_t preset, fl, fh, rate, reg7;
        int64_t from;
    };
    const Case cases[] = {
        {"trapezoid", kModePlusPreset, kCmdStartHigh, 20000, 500, 5000, 545, 0xF0C40, 0},
        {"triangle", kModeMinusPreset, kCmdStartHigh, 1500, 500, 5000, 545, 0xF0C40, 0},
        {"fast ramp", kModePlusPreset, kCmdStartHigh, 30000, 100, 32766, 0, 0xF0C40, 0},
        {"origin OLS+Z", kModeOrigin, kCmdStartHigh, 0, 500, 5000, 545, 0xF0C60, 9000},
        {"DLS", kModePlusContinuous, kCmdStartHigh, 0, 500, 8000, 200, 0xF0C40, 180000},
    };
    const uint64_t samples[] = {300 * kMilli, 770 * kMilli, 1500 * kMilli, 2200 * kMilli, 3900 * kMilli, 6 * kSecond};
    for (const Case& c : cases) {
        Rig polled, sampled;
        for (Rig* rig : {&polled, &sampled}) {
            rig->InitAxis(0);
            rig->Parameters(0, c.preset, c.fl, c.fh, c.rate);
            rig->WriteRegister(0, 7, c.reg7);
            rig->PlaceCarriage(0, c.from);
            rig->Start(0, c.mode, c.command);
        }
        uint64_t start = polled.now;
        for (uint64_t at : samples) {
            while (polled.now + 700000 < start + at) {
                polled.Wait(700000);
                polled.Status1(0);
            }
            polled.now = sampled.now = start + at;
            SCOPED_TRACE(testing::Message() << c.name << " at " << at / kMilli << " ms");
            EXPECT_EQ(polled.Position(0), sampled.Position(0)) << "position";
            EXPECT_EQ(polled.Speed(0), sampled.Speed(0)) << "speed";
            EXPECT_EQ(polled.Status1(0), sampled.Status1(0)) << "status 1";
            EXPECT_EQ(polled.Machine(0), sampled.Machine(0)) << "machine position";
        }
    }
}

}  // namespace
