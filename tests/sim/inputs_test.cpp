// Inputs: sensors on the travel, forced inputs, wiring and contact types.
#include <gtest/gtest.h>

#include "rig.h"

using namespace tlmsim;
using namespace tlmsim_test;

namespace {

struct InputView {
    const char* name;
    uint32_t input;
    bool status2;      // the status byte that shows it (else status 1)
    uint8_t bit;       // its bit there
    uint32_t contact;  // register 6 bit; 0: the ELS polarity port
    uint32_t reg14;
};

const InputView kInputs[] = {
    {"+ELS", kInputPlusEls, false, 0x08, 0, 0x01},  {"-ELS", kInputMinusEls, false, 0x10, 0, 0x02},
    {"DLS", kInputDls, false, 0x20, 0x10, 0x04},    {"OLS", kInputOls, false, 0x80, 0x20, 0x08},
    {"INPOS", kInputInpos, true, 0x08, 0x08, 0x10}, {"SVALM", kInputSvalm, true, 0x02, 0x40, 0x20},
};

TEST(ContactTypes, StatusBitsReportInputsAfterTheContactType) {
    struct Case {
        uint8_t force;
        bool aContact;
        bool normallyOpen;
        bool active;
    };
    const Case cases[] = {
        // Normally closed sensors (default): B contact reports detection, A contact the opposite.
        {kInputAsserted, false, false, true},
        {kInputReleased, false, false, false},
        {kInputAsserted, true, false, false},
        {kInputReleased, true, false, true},
        // Normally open sensors: A contact reports detection.
        {kInputAsserted, true, true, true},
        {kInputReleased, true, true, false},
        {kInputAsserted, false, true, false},
        {kInputReleased, false, true, true},
    };
    const uint32_t axis = 2;
    for (const InputView& in : kInputs) {
        for (const Case& c : cases) {
            BoardConfig config = DefaultBoardConfig(0);
            if (c.normallyOpen) config.sensors[axis].normallyOpen = static_cast<uint8_t>(1u << in.input);
            Rig rig(config);
            rig.InitAxis(axis);
            if (in.contact == 0)
                rig.WriteByte(0x80, c.aContact ? static_cast<uint8_t>(1u << axis) : 0);
            else
                rig.WriteRegister(axis, 6, 0x13000004u | (c.aContact ? in.contact : 0));
            rig.Force(axis, in.input, c.force);
            uint8_t status = in.status2 ? rig.Status2(axis) : rig.Status1(axis);
            uint32_t reg14 = rig.ReadRegister(axis, 14);
            SCOPED_TRACE(testing::Message() << in.name << (c.force == kInputAsserted ? " asserted" : " released")
                                            << (c.aContact ? ", A contact" : ", B contact")
                                            << (c.normallyOpen ? ", normally open" : ", normally closed"));
            EXPECT_EQ((status & in.bit) != 0, c.active) << "status bit " << std::hex << int(in.bit);
            EXPECT_EQ((reg14 & in.reg14) != 0, c.active) << "register 14 bit " << std::hex << in.reg14;
        }
    }
}

TEST(ContactTypes, ElsPolarityBitBelongsToItsAxis) {
    Rig rig;
    for (uint32_t axis = 0; axis < 6; ++axis) rig.InitAxis(axis);
    rig.WriteByte(0x80, 0x05);  // axes 0 and 2 A contact
    for (uint32_t axis = 0; axis < 6; ++axis) {
        bool a = axis == 0 || axis == 2;
        // Normally closed limits, not reached: A contact shows both limits active.
        EXPECT_EQ(rig.Status1(axis) & 0x18, a ? 0x18 : 0x00) << "axis " << axis;
    }
}

TEST(ContactTypes, AContactLimitBlocksMoves) {
    Rig rig;
    rig.InitAxis(0);
    rig.WriteByte(0x80, 0x01);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    EXPECT_FALSE(rig.Operating(0)) << "+ feed with +ELS active through the contact type";
    rig.WriteByte(0x80, 0x00);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(kSecond);
    EXPECT_TRUE(rig.Operating(0)) << "+ feed with B contact";
    rig.WriteByte(0x80, 0x01);
    EXPECT_FALSE(rig.Operating(0)) << "switching the contact type makes the limit active and stops the feed";
}

TEST(Sensors, DefaultPlacesOnTheTravel) {
    struct Case {
        int64_t machine;
        uint8_t status1;  // ELS, DLS and OLS bits
        bool z;
    };
    const Case cases[] = {
        {0, 0x80, true},        {500, 0x80, false},    {501, 0x00, false},    {1000, 0x00, true},
        {-3000, 0x80, true},    {-3001, 0x00, false},  {189999, 0x00, false}, {190000, 0x20, true},
        {200000, 0x28, true},   {250123, 0x28, false}, {-190000, 0x20, true}, {-200000, 0x30, true},
        {-199999, 0x20, false}, {7000, 0x00, true},    {-7001, 0x00, false},
    };
    Rig rig;
    rig.InitAxis(4);
    for (const Case& c : cases) {
        rig.PlaceCarriage(4, c.machine);
        EXPECT_EQ(rig.Status1(4) & 0xB8, c.status1) << "status 1 at machine position " << c.machine;
        EXPECT_EQ((rig.ReadRegister(4, 14) & 0x80) != 0, c.z) << "Z at machine position " << c.machine;
        EXPECT_EQ((rig.Status2(4) & 0x01) != 0, c.z) << "status 2 Z at machine position " << c.machine;
    }
}

TEST(Sensors, ZFollowsTheMotion) {
    Rig rig;
    rig.InitAxis(0);
    rig.Parameters(0, 0, 1000, 5000, 545);
    rig.PlaceCarriage(0, 10000);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    struct Probe {
        uint64_t afterNs;  // from the start; one pulse per ms
        bool z;
    };
    const Probe probes[] = {
        {500000, true}, {1500000, false}, {999500000, false}, {1000500000, true}, {1001500000, false}};
    uint64_t start = rig.now;
    for (const Probe& p : probes) {
        rig.now = start + p.afterNs;
        EXPECT_EQ((rig.ReadRegister(0, 14) & 0x80) != 0, p.z) << "Z after " << p.afterNs << " ns";
    }
}

TEST(Sensors, MovedSensorsAndTheCounterSourceBit) {
    Rig rig;
    rig.InitAxis(0);
    AxisSensors s = DefaultAxisSensors();
    s.plusEls = {3000, 3100};
    ASSERT_TRUE(BoardSetSensors(&rig.board, 0, &s, rig.now));
    rig.WriteRegister(0, 6, 0x13000004u | 0x08000000u);
    EXPECT_EQ(rig.ReadRegister(0, 6), 0x1B000004u) << "register 6 with the counter-source bit";
    rig.Parameters(0, 0, 5000, 5000, 545);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(300 * kMilli);
    rig.WriteRegister(0, 9, 0);  // cleared during the move
    rig.RunToEnd(0);
    EXPECT_EQ(rig.Machine(0), 3000) << "stopped on the moved limit";
    EXPECT_EQ(rig.Position(0), 1500) << "counted from the clear";
}

TEST(Sensors, ControlsRefuseMissingAxesAndInputs) {
    Rig rig(4);
    AxisSensors s = DefaultAxisSensors();
    EXPECT_FALSE(BoardForceInput(&rig.board, 4, kInputOls, kInputAsserted, rig.now)) << "axis 4 of a four-axis board";
    EXPECT_FALSE(BoardForceInput(&rig.board, 0, kInputCount, kInputAsserted, rig.now)) << "input out of range";
    EXPECT_FALSE(BoardForceInput(&rig.board, 0, kInputOls, 3, rig.now)) << "force out of range";
    EXPECT_FALSE(BoardSetSensors(&rig.board, 5, &s, rig.now)) << "sensors of axis 5";
    EXPECT_FALSE(BoardSetMachinePosition(&rig.board, 4, 0, rig.now)) << "carriage of axis 4";
    rig.InitAxis(0);
    rig.PlaceCarriage(0, INT64_MIN);
    EXPECT_EQ(rig.Machine(0), -(int64_t(1) << 53)) << "carriage placed beyond the far end";
    rig.Start(0, kModeMinusContinuous, kCmdStartFl);
    EXPECT_FALSE(rig.Operating(0)) << "a minus feed there meets -ELS at once";
    rig.PlaceCarriage(0, 0);
    rig.Start(0, kModePlusContinuous, kCmdStartFl);
    rig.Wait(kSecond);
    EXPECT_FALSE(BoardSetMachinePosition(&rig.board, 0, 0, rig.now)) << "carriage of a moving axis";
}

}  // namespace
