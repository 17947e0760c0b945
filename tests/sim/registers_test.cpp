// Registers, the data word, board-wide ports, the four-axis board and the servo outputs.
#include <gtest/gtest.h>

#include "rig.h"

using namespace tlmsim;
using namespace tlmsim_test;

namespace {

TEST(Registers, WrittenValuesReadBackOnEveryAxis) {
    struct Case {
        uint32_t r;
        uint32_t value;
    };
    const Case cases[] = {
        {0, 1500},       {1, 500},         {2, 5000},    {3, 545},         {4, 299},
        {5, 0xFFFFFFFF}, {6, 0x13000004},  {7, 0xF0C60}, {8, 0x4000},      {9, 0x80000000},
        {10, 1},         {11, 0x12345678}, {15, 7},      {16, 0xA5A5A5A5}, {17, 17},
        {18, 18},        {19, 19},         {20, 20},     {21, 21},         {22, 22},
        {23, 23},        {24, 24},         {25, 25},     {26, 26},         {27, 0xDEADBEEF},
    };
    Rig rig;
    for (uint32_t axis = 0; axis < 6; ++axis) {
        for (const Case& c : cases) rig.WriteRegister(axis, c.r, c.value + axis);
        for (const Case& c : cases)
            EXPECT_EQ(rig.ReadRegister(axis, c.r), c.value + axis) << "axis " << axis << " register " << c.r;
    }
}

TEST(Registers, ReadOnlyRegistersIgnoreWrites) {
    Rig rig;
    rig.InitAxis(0);
    for (uint32_t r : {12u, 13u, 14u}) {
        uint32_t before = rig.ReadRegister(0, r);
        rig.WriteRegister(0, r, 0x5555AAAA);
        EXPECT_EQ(rig.ReadRegister(0, r), before) << "register " << r;
    }
    EXPECT_EQ(rig.ReadRegister(0, 12), 0u) << "speed of an idle axis";
}

TEST(Registers, RegisterReadCommandReplacesTheDataWord) {
    Rig rig;
    rig.InitAxis(1);
    BoardWriteWord(&rig.board, 0x14, 0x5678, rig.now);
    BoardWriteWord(&rig.board, 0x16, 0x1234, rig.now);
    EXPECT_EQ(BoardReadWord(&rig.board, 0x14, rig.now), 0x5678) << "data word low before a command";
    EXPECT_EQ(BoardReadWord(&rig.board, 0x16, rig.now), 0x1234) << "data word high before a command";
    rig.Command(1, 0x81);  // read FL
    EXPECT_EQ(BoardReadWord(&rig.board, 0x14, rig.now), 500) << "low word after 0x81";
    EXPECT_EQ(BoardReadWord(&rig.board, 0x16, rig.now), 0) << "high word after 0x81";
    rig.Command(1, 0xC2);  // write FH from the data word as it is now
    EXPECT_EQ(rig.ReadRegister(1, 2), 500u) << "FH written from the data word the read left";
}

TEST(Registers, AxesKeepTheirOwnRegisters) {
    Rig rig;
    for (uint32_t axis = 0; axis < 6; ++axis) rig.WriteRegister(axis, 0, 100 * (axis + 1));
    for (uint32_t axis = 0; axis < 6; ++axis) EXPECT_EQ(rig.ReadRegister(axis, 0), 100 * (axis + 1)) << "axis " << axis;
}

TEST(Registers, AxisResetCommandClearsRegistersAndPosition) {
    Rig rig;
    rig.InitAxis(0);
    rig.WriteRegister(0, 9, 1234);
    rig.Command(0, 0x60);
    EXPECT_EQ(rig.ReadRegister(0, 6), 0u) << "register 6 after 0x60";
    EXPECT_EQ(rig.Position(0), 0) << "position after 0x60";
}

TEST(BoardPorts, ElsPolarityAndCmpReadBack) {
    struct Case {
        uint8_t written;
        uint8_t els;
        uint8_t cmp;
    };
    const Case cases[] = {{0x00, 0x00, 0x00}, {0x3F, 0x3F, 0x3E}, {0xA5, 0xA5, 0xA4}, {0xFF, 0xFF, 0xFE}};
    Rig rig;
    for (const Case& c : cases) {
        rig.WriteByte(0x80, c.written);
        rig.WriteByte(0x88, c.written);
        EXPECT_EQ(rig.ReadByte(0x80), c.els) << "ELS polarity after writing " << int(c.written);
        EXPECT_EQ(rig.ReadByte(0x88), c.cmp) << "CMP after writing " << int(c.written);
    }
    BoardForceCmpStatus(&rig.board, true, rig.now);
    rig.WriteByte(0x88, 0x00);
    EXPECT_EQ(rig.ReadByte(0x88), 0x01) << "CMP with the comparator status forced";
    BoardForceCmpStatus(&rig.board, false, rig.now);
    EXPECT_EQ(rig.ReadByte(0x88), 0x00) << "CMP after the force is lifted";
}

TEST(BoardPorts, BoardIdAndIdNumber) {
    struct Case {
        int32_t boardId;
        uint8_t high;
        uint8_t expected;
    };
    const Case cases[] = {{7, 0xA0, 0xA7}, {0, 0x50, 0x50}, {15, 0xF0, 0xFF}, {3, 0x00, 0x03}};
    for (const Case& c : cases) {
        BoardConfig config = DefaultBoardConfig(2);
        config.info.BoardId = c.boardId;
        config.boardIdHigh = c.high;
        for (int i = 0; i < 8; ++i) config.idNumber[i] = static_cast<uint8_t>(0x41 + i * 3);
        Rig rig(config);
        EXPECT_EQ(rig.ReadByte(0x9C), c.expected) << "board ID " << c.boardId;
        for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(rig.ReadByte(0xC0 + 2 * i), 0x41 + i * 3) << "ID number byte " << i;
    }
}

TEST(FourAxisBoard, OnlyAxesZeroToThreeAnswer) {
    struct Case {
        uint8_t axes;
        uint32_t axis;
        bool answers;
    };
    const Case cases[] = {
        {4, 0, true}, {4, 3, true}, {4, 4, false}, {4, 5, false},
        {6, 4, true}, {6, 5, true}, {6, 6, false}, {6, 7, false},
    };
    for (const Case& c : cases) {
        Rig rig(c.axes);
        rig.InitAxis(c.axis);
        uint32_t r6 = rig.ReadRegister(c.axis, 6);
        if (c.answers) {
            EXPECT_EQ(r6, 0x13000004u) << c.axes << "-axis board, axis " << c.axis << ": register 6";
        } else {
            EXPECT_EQ(r6, 0xFFFFFFFFu) << c.axes << "-axis board, axis " << c.axis << ": register 6 from an empty bus";
            for (uint32_t k = 0; k < 16; ++k)
                EXPECT_EQ(rig.ReadByte(c.axis * 16 + k), 0xFF) << "axis " << c.axis << " offset " << k;
        }
    }
}

TEST(FourAxisBoard, AxisDetectionLikeTheProgram) {
    for (uint8_t axes : {uint8_t(4), uint8_t(6)}) {
        Rig rig(axes);
        uint32_t found = 0;
        for (uint32_t axis = 0; axis < 6; ++axis) {
            rig.InitAxis(axis);
            if (rig.ReadRegister(axis, 6) != 0x13000004u) break;
            ++found;
        }
        EXPECT_EQ(found, axes) << "axes found on a " << int(axes) << "-axis board";
    }
}

TEST(Servo, OutputsAndInposFollowCommands) {
    Rig rig;
    rig.InitAxis(2);
    struct Step {
        uint8_t command;
        uint8_t status2Mask;
        uint8_t expected;
    };
    const Step steps[] = {
        {0x58, 0x68, 0x28},  // servo on: SVON bit and INPOS (standing still)
        {0x59, 0x68, 0x68},  // servo reset on
        {0x49, 0x68, 0x28},  // servo reset off
        {0x48, 0x68, 0x00},  // servo off: no INPOS
    };
    EXPECT_EQ(rig.Status2(2) & 0x68, 0x00) << "after bring-up";
    for (const Step& s : steps) {
        rig.Command(2, s.command);
        EXPECT_EQ(rig.Status2(2) & s.status2Mask, s.expected)
            << "status 2 after command " << std::hex << int(s.command);
    }
}

TEST(Servo, InposOnlyWhileTheAxisStandsStill) {
    Rig rig;
    rig.InitAxis(0);
    rig.Command(0, 0x58);
    rig.Start(0, kModePlusPreset, kCmdStartFl);
    rig.Wait(100 * kMilli);
    EXPECT_EQ(rig.Status2(0) & 0x08, 0x00) << "INPOS while moving";
    EXPECT_EQ(rig.Status2(0) & 0x20, 0x20) << "SVON while moving";
    rig.RunToEnd(0);
    EXPECT_EQ(rig.Status2(0) & 0x08, 0x08) << "INPOS after the feed";
}

TEST(Servo, SvalmOnlyWhenForced) {
    Rig rig;
    rig.InitAxis(0);
    rig.Command(0, 0x58);
    rig.Command(0, 0x59);
    EXPECT_EQ(rig.Status2(0) & 0x02, 0x00) << "SVALM by itself";
    rig.Force(0, kInputSvalm, kInputAsserted);
    EXPECT_EQ(rig.Status2(0) & 0x02, 0x02) << "SVALM forced";
    EXPECT_EQ(rig.ReadRegister(0, 14) & 0x20, 0x20u) << "register 14 SVALM bit";
    rig.Force(0, kInputSvalm, kInputFollow);
    EXPECT_EQ(rig.Status2(0) & 0x02, 0x00) << "SVALM released";
}

}  // namespace
