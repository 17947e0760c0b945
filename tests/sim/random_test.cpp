// Many generated cases (fixed seeds, so every run checks the same ones).
#include <gtest/gtest.h>

#include <cmath>

#include "rig.h"

using namespace tlmsim;
using namespace tlmsim_test;

namespace {

struct Lcg {
    uint64_t s;
    uint32_t Next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Next() % (hi - lo + 1); }
};

double PaperDuration(double n, double fl, double fh, double rate) {
    double a = 2457600.0 / (rate + 1.0);
    double ta = (fh - fl) / a;
    double rampPulses = (fl + fh) / 2.0 * ta;
    if (2.0 * rampPulses <= n) return 2.0 * ta + (n - 2.0 * rampPulses) / fh;
    double peak = std::sqrt(fl * fl + a * n);
    return 2.0 * (peak - fl) / a;
}

TEST(GeneratedFeeds, EndOnTargetWithinOnePercentOfThePaperTime) {
    Lcg rng{12345};
    for (int i = 0; i < 300; ++i) {
        uint32_t fl = rng.Range(1, 5000);
        uint32_t fh = rng.Range(fl, 32766);
        uint32_t rate = rng.Range(0, 3000);
        uint32_t preset = rng.Range(100, 400000);
        bool minus = rng.Next() & 1;
        bool high = rng.Next() & 1;
        Rig rig;
        rig.InitAxis(5);
        AxisSensors open = DefaultAxisSensors();
        open.plusEls = open.minusEls = open.dls[0] = open.dls[1] = {1, 0};
        ASSERT_TRUE(BoardSetSensors(&rig.board, 5, &open, rig.now));
        rig.Parameters(5, preset, fl, fh, rate);
        rig.Start(5, minus ? kModeMinusPreset : kModePlusPreset, high ? kCmdStartHigh : kCmdStartFl);
        double measured = static_cast<double>(rig.RunToEnd(5, 1000000 * kSecond)) / kSecond;
        double paper = high ? PaperDuration(preset, fl, fh, rate) : static_cast<double>(preset) / fl;
        SCOPED_TRACE(testing::Message() << "case " << i << ": preset " << preset << " FL " << fl << " FH " << fh
                                        << " rate " << rate << (minus ? " minus" : " plus")
                                        << (high ? " 0x13" : " 0x10"));
        EXPECT_EQ(rig.Position(5), minus ? -static_cast<int32_t>(preset) : static_cast<int32_t>(preset)) << "position";
        EXPECT_NEAR(measured, paper, paper * 0.01) << "duration in seconds";
    }
}

// Arbitrary bytes at arbitrary ports and times: the model neither hangs nor leaves its
// bounds, and the board-wide ports keep their meaning.
TEST(GeneratedAccess, AnyPortAnyValueAnyTime) {
    Lcg rng{777};
    Rig rig;
    for (uint32_t axis = 0; axis < 6; ++axis) rig.InitAxis(axis);
    for (int i = 0; i < 200000; ++i) {
        uint32_t what = rng.Range(0, 9);
        uint32_t port = rng.Range(0, 0x7F);
        uint8_t value = static_cast<uint8_t>(rng.Next());
        if (what < 3) {
            rig.WriteByte(port, value);
        } else if (what < 4) {
            // Commands that matter most: starts, stops, servo, cycle, register writes.
            static const uint8_t kCommands[] = {0x09, 0x0A, 0x10, 0x11, 0x13, 0x48, 0x58, 0x49, 0x59, 0x60,
                                                0x66, 0x67, 0xC0, 0xC1, 0xC2, 0xC3, 0xC6, 0xC7, 0xC9};
            rig.WriteByte(port & 0x70, kCommands[rng.Next() % (sizeof kCommands)]);
        } else if (what < 5) {
            BoardWriteWord(&rig.board, port, static_cast<uint16_t>(rng.Next()), rig.now);
        } else if (what < 6) {
            BoardForceInput(&rig.board, port >> 4, rng.Range(0, 6), static_cast<uint8_t>(rng.Range(0, 2)), rig.now);
        } else {
            rig.ReadByte(port);
        }
        uint32_t jump = rng.Range(0, 99);
        rig.Wait(jump < 90 ? rng.Range(0, 1000000) : jump < 99 ? rng.Range(0, 1000000000) : 86400 * kSecond);
    }
    for (uint32_t axis = 0; axis < 6; ++axis) {
        int64_t machine = rig.Machine(axis);
        EXPECT_LT(machine, int64_t(1) << 53) << "axis " << axis;
        EXPECT_GT(machine, -(int64_t(1) << 53)) << "axis " << axis;
    }
    rig.WriteByte(0x80, 0x2A);
    EXPECT_EQ(rig.ReadByte(0x80), 0x2A) << "ELS polarity after the storm";
    EXPECT_EQ(rig.ReadByte(0x9C), 0xA0) << "board ID after the storm";
}

}  // namespace
