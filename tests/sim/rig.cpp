#include "rig.h"

#include <gtest/gtest.h>

using namespace tlmsim;

namespace tlmsim_test {

Rig::Rig(uint8_t axes) {
    BoardConfig c = DefaultBoardConfig(0);
    c.axes = axes;
    BoardReset(&board, &c, now);
}

Rig::Rig(const BoardConfig& config) { BoardReset(&board, &config, now); }

void Rig::Command(uint32_t axis, uint8_t command) { BoardWriteByte(&board, axis * 16, command, now); }

void Rig::CommandWithData(uint32_t axis, uint8_t command, uint32_t data) {
    BoardWriteWord(&board, axis * 16 + 4, static_cast<uint16_t>(data & 0xFFFF), now);
    BoardWriteWord(&board, axis * 16 + 6, static_cast<uint16_t>(data >> 16), now);
    Command(axis, command);
}

void Rig::Mode(uint32_t axis, uint8_t mode) { BoardWriteByte(&board, axis * 16 + 1, mode, now); }
void Rig::Control(uint32_t axis, uint8_t control) { BoardWriteByte(&board, axis * 16 + 2, control, now); }

uint32_t Rig::ReadRegister(uint32_t axis, uint32_t r) {
    Command(axis, static_cast<uint8_t>(0x80 + r));
    uint32_t lo = BoardReadWord(&board, axis * 16 + 4, now);
    uint32_t hi = BoardReadWord(&board, axis * 16 + 6, now);
    return (hi << 16) | lo;
}

uint8_t Rig::Status1(uint32_t axis) { return BoardReadByte(&board, axis * 16, now); }
uint8_t Rig::Status2(uint32_t axis) { return BoardReadByte(&board, axis * 16 + 1, now); }
uint8_t Rig::InterruptStatus(uint32_t axis) { return BoardReadByte(&board, axis * 16 + 2, now); }
uint8_t Rig::ReadByte(uint32_t port) { return BoardReadByte(&board, port, now); }
void Rig::WriteByte(uint32_t port, uint8_t value) { BoardWriteByte(&board, port, value, now); }

void Rig::InitAxis(uint32_t axis) {
    Command(axis, 0x60);
    Command(axis, 0x61);
    Command(axis, 0x62);
    Control(axis, 0x14);
    static const uint32_t kDefaults[][2] = {
        {0, 1500},    {1, 500},    {2, 5000}, {3, 545}, {4, 299}, {5, 0},  {6, 0x13000004},
        {7, 0xF0C40}, {8, 0x4000}, {9, 0},    {10, 0},  {11, 0},  {17, 0}, {18, 0},
        {19, 0},      {23, 0},     {24, 0},   {25, 0},  {26, 0},  {27, 0},
    };
    for (const auto& d : kDefaults) WriteRegister(axis, d[0], d[1]);
    Command(axis, 0x48);
    Command(axis, 0x49);
}

void Rig::Parameters(uint32_t axis, uint32_t preset, uint32_t fl, uint32_t fh, uint32_t rate) {
    WriteRegister(axis, 0, preset);
    WriteRegister(axis, 1, fl);
    WriteRegister(axis, 2, fh);
    WriteRegister(axis, 3, rate);
}

void Rig::Start(uint32_t axis, uint8_t mode, uint8_t command) {
    Mode(axis, mode);
    Command(axis, command);
}

namespace {
bool OperatingAt(const Board& board, uint32_t axis, uint64_t t) {
    Board copy = board;
    return (BoardReadByte(&copy, axis * 16, t) & 0x04) != 0;
}
}  // namespace

uint64_t Rig::RunToEnd(uint32_t axis, uint64_t limit) {
    uint64_t start = now;
    if (!OperatingAt(board, axis, start)) return 0;
    uint64_t lo = start, step = kMilli, hi = start + step;
    while (OperatingAt(board, axis, hi)) {
        if (hi - start >= limit) {
            ADD_FAILURE() << "axis " << axis << " still operates after " << (hi - start) << " ns";
            now = hi;
            return hi - start;
        }
        lo = hi;
        step *= 2;
        hi = start + step;
    }
    while (hi - lo > 1) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (OperatingAt(board, axis, mid))
            lo = mid;
        else
            hi = mid;
    }
    now = hi;
    return hi - start;
}

void Rig::PlaceCarriage(uint32_t axis, int64_t machine) {
    ASSERT_TRUE(BoardSetMachinePosition(&board, axis, machine, now)) << "axis " << axis << " moves";
}

void Rig::Force(uint32_t axis, uint32_t input, uint8_t force) {
    ASSERT_TRUE(BoardForceInput(&board, axis, input, force, now));
}

}  // namespace tlmsim_test
