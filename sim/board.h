// One simulated Tellam board as its ports see it: six (or four) pulse-motor controller axes,
// their sensors and servo amplifiers, and the board-wide ports.
//
// Freestanding: no exceptions, RTTI, heap or global constructors, because the same code runs
// inside tlmsim.sys. Time is a parameter (nanoseconds on the caller's clock), so tests drive
// it with a virtual clock and the kernel driver with the real one. Every port access first
// brings the axis it touches up to the given time; motion is computed in whole ticks of the
// 2457600 Hz reference clock with integer arithmetic only, so the same sequence of accesses
// at the same times always gives the same pulses, however often the caller looks in between.
// A long jump in time costs a few steps per ramp and per sensor edge passed (whole speed
// steps of a ramp are summed in closed form), never one per pulse or per speed step.
// Times are taken in whole ticks (about 407 ns); a time earlier than one already seen counts
// as that one.
//
// How the controller behaves (choices made where the command set leaves room):
//
// Ports of axis a (a = 0..axes-1), at a*16 + k:
//   k=0  write: command byte; read: status 1
//   k=1  write: operation-mode byte; read: status 2
//   k=2  write: control byte (stored, no effect); read: interrupt status, cleared by the read
//   k=4..7  the 32-bit data word, little-endian, read and written byte- or word-wise. There is
//        one data word: command 0xC0+r copies it into register r, command 0x80+r loads it
//        from register r (so a register read overwrites data written before it).
//   other k: read 0x00, writes ignored.
//   Ports of axes the board does not have (0x40..0x7F on a four-axis board, 0x60..0x7F on a
//   six-axis board) answer like an empty bus: reads give 0xFF, writes vanish.
//
// Board-wide ports:
//   0x80  ELS polarity: reads back the byte written; bit n set = the ELS inputs of axis n are
//         A contact (normally open), clear = B contact (normally closed).
//   0x88  CMP output switching: reads back the byte written, except bit 0x01, which is the
//         comparator status and reads 1 only while forced with BoardForceCmpStatus.
//   0x9C  board ID: (boardIdHigh & 0xF0) | (BoardId & 0x0F).
//   0xBC  interrupt request: bit n set while axis n has interrupt status latched.
//   0xBE  write: clears the latched interrupt status of every axis whose bit is set.
//   0xC0 + 2i (i = 0..7): the ID number bytes. Every other board-wide port reads 0x00.
//
// Commands (unknown codes are ignored):
//   0x09 immediate stop. 0x0A decelerating stop: slows to FL at the rate of register 3, then
//        stops; at FL or below it stops at once.
//   0x10 start at FL (register 1). 0x11 start at FH (register 2) without ramps.
//   0x13 start with ramps: accelerates from FL to FH, one pps per (register 3 + 1) ticks of
//        2457600 Hz, and for a preset feed decelerates so that it ends on its target: the
//        ramp-down starts when the pulses left equal the pulses spent accelerating (a short
//        feed gives a triangle). The feed always ends on the exact target pulse: if the
//        speed reaches FL early the rest is run at FL, if the target comes first it stops.
//        FH at or below FL gives a plain FL run. Speeds are clamped to 1..65535 pps.
//   A start is ignored while the axis operates, and when the operation-mode byte names no
//   operation. A start towards an active limit ends at once without a pulse.
//   0x48/0x58 servo-on output off/on (status 2 bit 0x20); 0x49/0x59 servo-reset output
//        off/on (status 2 bit 0x40).
//   0x60 axis reset: stops the axis, registers to their power-on values (all 0), position
//        counter 0, mode and control bytes 0, servo outputs off, cycle mode off, interrupt
//        status cleared. 0x61 clears the interrupt status. 0x62 clears the end cause
//        (register 13 bits 0x0010..0x0100, status 2 bit 0x04).
//   0x66 cycle mode on, 0x67 cycle mode off: while on, every preset feed that ends on its
//        target latches interrupt status 0x14 (0x10 preset end | 0x04 operation end).
//   0x80+r / 0xC0+r (r = 0..27): register read / write. r above 27 reads 0, writes nothing.
//
// A move takes registers 0 to 3 and 7 at its start; writing them during the move changes
// only the next one.
//
// Operation-mode byte: bits 0-2 = 2 is an origin return, otherwise bit 0x20 set is a feed
// (bit 0x08: preset feed of register 0 pulses, else continuous); bit 0x10 = minus direction.
//
// Registers (32-bit): 0 preset amount (unsigned), 1 FL, 2 FH, 3 rate, 6 signal configuration
// (bits 0x08 INPOS, 0x10 DLS, 0x20 OLS, 0x40 SVALM: set = A contact), 7 origin-return
// configuration (bit 0x20: after OLS go on to the next Z pulse), 9 position counter (signed,
// writable at any time, also during a move). Read-only: 12 current speed in pps (0 when
// idle), 13 operation status, 14 input status. Every other register stores what is written.
//   Register 13: 0x0001 operating, 0x0002 accelerating, 0x0004 decelerating, 0x0008 running
//     at FH; end cause of the last operation (kept until the next start or 0x62):
//     0x0010 preset target reached, 0x0020 stop command, 0x0040 +ELS, 0x0080 -ELS,
//     0x0100 origin return complete; 0x1000 interrupt status latched (not yet read).
//   Register 14 (after contact types): 0x01 +ELS, 0x02 -ELS, 0x04 DLS, 0x08 OLS, 0x10 INPOS,
//     0x20 SVALM, 0x80 Z.
//   Bit 27 of register 6 (counter source command/encoder) changes nothing here: the
//   simulated encoder follows the command pulses exactly.
//
// Status 1: 0x01 accelerating, 0x02 decelerating, 0x04 operating, 0x08 +ELS, 0x10 -ELS,
// 0x20 DLS input, 0x40 DLS input while a move is held at FL by it, 0x80 OLS.
// Status 2: 0x01 Z input, 0x02 SVALM, 0x04 last operation ended on a limit, 0x08 INPOS,
// 0x10 minus direction (of the running or last operation), 0x20 servo-on output,
// 0x40 servo-reset output.
//
// Inputs: each input has a source: a sensor on the axis' travel (a zone of machine
// positions), the servo amplifier (INPOS: asserted while servo-on is on and the axis stands
// still; SVALM: never asserted by itself), or a value forced by a test. Sensors and
// amplifier outputs are wired normally closed unless BoardConfig says normally open: a
// normally closed contact opens while asserted. The controller's contact setting decides
// what the wire means: B contact (the default) = active while the circuit is open,
// A contact = active while closed. So with the defaults an input is active exactly while
// its sensor detects, and switching one input to A contact inverts it. Z has no contact
// setting: it is active while the encoder is on its Z mark.
//   +ELS active stops a move in the plus direction at once, -ELS one in the minus direction.
//   DLS active during a move limits it to FL for the rest of that move (decelerating at the
//   rate of register 3 when faster). SVALM is only reported; it stops nothing.
//   Default sensors: +ELS at machine position >= 200000, -ELS <= -200000, DLS at >= 190000
//   and <= -190000, OLS in -3000..500, Z on every position that is a multiple of 1000.
//
// Origin return (mode 0x12, or 0x02 towards plus): runs like a continuous feed (0x10 at FL,
// 0x13 with ramps) until OLS is active. Without register 7 bit 0x20 it stops there at once.
// With it, the axis slows to FL once OLS has been seen and stops on the first Z mark it
// reaches at FL. On completion the position counter is set to 0; a limit ends the origin
// return without touching the counter. Starting with OLS already active completes at once
// (OLS kind) or goes straight to the Z search.
//
// The machine position (where the carriage is; sensors are placed on it) starts at 0 and
// is moved only by pulses and BoardSetMachinePosition; register 9 is the controller's counter.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../tellamio/tellam_controller.h"
#include "../tellamio/tellam_protocol.h"

namespace tlmsim {

// The board description of the enumeration reply and the selection.
using DeviceInfo = ::TlmDeviceRecord;

constexpr uint32_t kPortCount = TLM_PORT_COUNT;  // offsets 0x00..0xFF belong to the board
constexpr uint32_t kMaxAxes = TLM_AXES_MAX;
constexpr uint32_t kRegisterCount = TLM_REG_COUNT;
constexpr uint64_t kReferenceClockHz = TLM_CLOCK_HZ;

// The inputs of an axis.
enum BoardInput : uint32_t {
    kInputPlusEls = 0,
    kInputMinusEls = 1,
    kInputDls = 2,
    kInputOls = 3,
    kInputZ = 4,
    kInputInpos = 5,
    kInputSvalm = 6,
    kInputCount = 7,
};

// What drives an input's source (the sensor or amplifier signal, before wiring and contact).
enum InputForce : uint8_t {
    kInputFollow = 0,    // the sensor on the travel, or the amplifier
    kInputAsserted = 1,  // forced: the sensor detects / the amplifier asserts
    kInputReleased = 2,  // forced: not detecting / not asserted
};

// A sensor detects while from <= machine position <= to. from > to: never. A bound of
// INT32_MIN or INT32_MAX means the zone goes on for ever on that side.
struct SensorZone {
    int32_t from;
    int32_t to;
};

struct AxisSensors {
    SensorZone plusEls;
    SensorZone minusEls;
    SensorZone dls[2];  // one DLS input, two dogs (one before each limit)
    SensorZone ols;
    int32_t zPeriod;  // Z mark on every machine position p with (p - zOffset) mod zPeriod
    int32_t zOffset;  //   below zWidth; zPeriod <= 0: no Z mark
    int32_t zWidth;
    uint8_t normallyOpen;  // bit (1 << BoardInput) set: that source is wired normally open
};

struct BoardConfig {
    DeviceInfo info;      // what enumeration reports; info.BoardId is also the low nibble at 0x9C
    uint8_t axes;         // 6 (Tellam-6X) or 4 (Tellam-4X); 1..6 accepted
    uint8_t boardIdHigh;  // upper nibble of the byte at 0x9C (other bits the board sets)
    uint8_t idNumber[8];  // the bytes at 0xC0 + 2*i
    AxisSensors sensors[kMaxAxes];
};

// The default sensors of an axis (see the header comment).
AxisSensors DefaultAxisSensors();

// A six-axis board with the given description and default sensors.
BoardConfig DefaultBoardConfig(int32_t managementNumber);

// Motion state of an axis. Internal to the model; read it through the ports (or the
// inspection functions below).
struct AxisMotion {
    uint8_t active;       // a move is under way
    uint8_t kind;         // preset feed, continuous feed, origin return (OLS), (OLS+Z)
    uint8_t phase;        // accelerating, constant, decelerating
    uint8_t minus;        // direction
    uint8_t ramped;       // started with 0x13: ramps up, and a preset feed ramps down
    uint8_t dlsLatched;   // slowed down by DLS in this move
    uint8_t olsSeen;      // origin return: OLS has been active
    uint8_t stopAtFl;     // decelerating stop: stop when FL is reached
    uint32_t speed;       // pps
    uint32_t fl, fh;      // speeds of this move (registers 1 and 2 at its start)
    uint64_t stepTicks;   // ticks per 1 pps of speed change
    uint64_t stepStart;   // tick the current speed step began
    uint64_t acc;         // pulse phase, in pps*ticks, below kReferenceClockHz
    uint64_t remaining;   // preset feed: pulses left
    uint64_t rampPulses;  // pulses spent accelerating
};

struct Axis {
    uint32_t reg[kRegisterCount];
    uint32_t data;  // the data word
    uint8_t mode;
    uint8_t control;
    uint8_t intStatus;
    uint8_t cycleMode;
    uint8_t servoOn;
    uint8_t servoReset;
    uint8_t lastMinus;  // direction of the running or last operation
    uint16_t endCause;  // register 13 end-cause bits of the last operation
    uint8_t force[kInputCount];
    int64_t machine;  // machine position in pulses
    uint64_t tick;    // reference-clock ticks since reset this axis is up to
    AxisMotion m;
};

struct Board {
    BoardConfig config;
    uint64_t baseNs;  // the caller's time of BoardReset
    uint64_t lastNs;  // latest time seen (time never runs backwards)
    uint8_t elsPolarity;
    uint8_t cmp;
    uint8_t cmpForced;
    Axis axis[kMaxAxes];
};

// Puts the board in its power-on state at time nowNs.
void BoardReset(Board* board, const BoardConfig* config, uint64_t nowNs);

// Port access; port is below kPortCount (the driver refuses others; the model answers 0xFF
// and ignores writes beyond). Words are little-endian (port, port + 1).
uint8_t BoardReadByte(Board* board, uint32_t port, uint64_t nowNs);
uint16_t BoardReadWord(Board* board, uint32_t port, uint64_t nowNs);
void BoardWriteByte(Board* board, uint32_t port, uint8_t value, uint64_t nowNs);
void BoardWriteWord(Board* board, uint32_t port, uint16_t value, uint64_t nowNs);

// Brings every axis up to nowNs (ports do this for the axis they touch).
void BoardAdvance(Board* board, uint64_t nowNs);

// Test and driver controls. Each first brings the axis up to nowNs, then applies the change,
// which takes effect at nowNs (a forced limit stops a move at once, and so on). They return
// false for an axis the board does not have or an input out of range.
bool BoardForceInput(Board* board, uint32_t axis, uint32_t input, uint8_t force, uint64_t nowNs);
bool BoardSetSensors(Board* board, uint32_t axis, const AxisSensors* sensors, uint64_t nowNs);
// Moves the carriage by hand (only while the axis stands still; false while it moves).
// The position counter is not changed. Positions beyond +-2^53 are taken as +-2^53.
bool BoardSetMachinePosition(Board* board, uint32_t axis, int64_t position, uint64_t nowNs);
void BoardForceCmpStatus(Board* board, bool on, uint64_t nowNs);

// Inspection (for traces and diagnostics; tests should look through the ports).
int64_t BoardMachinePosition(Board* board, uint32_t axis, uint64_t nowNs);

}  // namespace tlmsim
