// A simulated board on a virtual clock, driven through its ports the way the library and
// the test program drive a real one: command bytes, mode bytes, data words, status reads.
#pragma once

#include <cstdint>

#include "board.h"

namespace tlmsim_test {

constexpr uint64_t kSecond = 1000000000ull;
constexpr uint64_t kMilli = 1000000ull;

// Operation-mode bytes and commands of the test program.
enum : uint8_t {
    kModePlusPreset = 0x28,
    kModeMinusPreset = 0x38,
    kModePlusContinuous = 0x20,
    kModeMinusContinuous = 0x30,
    kModeOrigin = 0x12,
    kCmdStop = 0x09,
    kCmdDecelStop = 0x0A,
    kCmdStartFl = 0x10,
    kCmdStartHigh = 0x13,
};

class Rig {
public:
    explicit Rig(uint8_t axes = 6);
    explicit Rig(const tlmsim::BoardConfig& config);

    uint64_t now = 5 * kSecond;  // the caller's clock need not start at 0
    tlmsim::Board board;

    void Wait(uint64_t ns) { now += ns; }

    void Command(uint32_t axis, uint8_t command);
    void CommandWithData(uint32_t axis, uint8_t command, uint32_t data);
    void Mode(uint32_t axis, uint8_t mode);
    void Control(uint32_t axis, uint8_t control);
    void WriteRegister(uint32_t axis, uint32_t r, uint32_t value) {
        CommandWithData(axis, static_cast<uint8_t>(0xC0 + r), value);
    }
    uint32_t ReadRegister(uint32_t axis, uint32_t r);
    int32_t Position(uint32_t axis) { return static_cast<int32_t>(ReadRegister(axis, 9)); }
    uint32_t Speed(uint32_t axis) { return ReadRegister(axis, 12) & 0x7FFF; }
    uint8_t Status1(uint32_t axis);
    uint8_t Status2(uint32_t axis);
    uint8_t InterruptStatus(uint32_t axis);
    uint8_t ReadByte(uint32_t port);
    void WriteByte(uint32_t port, uint8_t value);
    bool Operating(uint32_t axis) { return (Status1(axis) & 0x04) != 0; }

    // The bring-up of the test program: initial commands, control byte, register defaults,
    // servo outputs off.
    void InitAxis(uint32_t axis);
    // Motion parameters: preset amount, FL, FH, rate (registers 0 to 3).
    void Parameters(uint32_t axis, uint32_t preset, uint32_t fl, uint32_t fh, uint32_t rate);
    // Mode byte, then the start command.
    void Start(uint32_t axis, uint8_t mode, uint8_t command);

    // Finds, to the nanosecond, the first time the axis no longer operates (probing copies
    // of the board), and moves the clock there. Returns the time from the current clock.
    // Fails the test when the axis still operates after `limit` ns.
    uint64_t RunToEnd(uint32_t axis, uint64_t limit = 3600 * kSecond);

    // The carriage by hand (machine position, sensors are placed on it).
    void PlaceCarriage(uint32_t axis, int64_t machine);
    int64_t Machine(uint32_t axis) { return tlmsim::BoardMachinePosition(&board, axis, now); }
    void Force(uint32_t axis, uint32_t input, uint8_t force);
};

}  // namespace tlmsim_test
