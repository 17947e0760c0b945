// The controller model. See board.h for what it does; this file is how.
//
// Motion runs on the ticks of the 2457600 Hz reference clock. Within a speed step the
// speed v (pps) is constant and the pulse phase grows by v every tick; a pulse is output
// each time it reaches 2457600. So the tick of the n-th pulse from now is found by one
// division, and an axis moves from event to event: the end of a speed step of a ramp, or
// the next pulse at which something can happen (a sensor edge on the travel, the target,
// the ramp-down point). Nothing is done per pulse or per tick.
#include "board.h"

namespace tlmsim {
namespace {

constexpr uint64_t kC = kReferenceClockHz;  // pulse phase per pulse
constexpr uint64_t kNever = ~static_cast<uint64_t>(0);
constexpr uint64_t kMaxChunk = static_cast<uint64_t>(1) << 40;  // ticks per step of a long idle run
constexpr uint32_t kMaxSpeed = 65535;

enum : uint8_t { kKindPreset = 1, kKindContinuous = 2, kKindOriginOls = 3, kKindOriginOlsZ = 4 };
enum : uint8_t { kPhaseConst = 0, kPhaseAccel = 1, kPhaseDecel = 2 };

enum : uint16_t {
    kEndPreset = 0x0010,
    kEndStopCommand = 0x0020,
    kEndPlusEls = 0x0040,
    kEndMinusEls = 0x0080,
    kEndOrigin = 0x0100,
};

constexpr uint8_t kIntPresetEnd = 0x14;

// Contact-setting bit of register 6 for an input (ELS uses the polarity port, Z has none).
uint32_t ContactBit(uint32_t input) {
    switch (input) {
        case kInputInpos: return 0x08;
        case kInputDls: return 0x10;
        case kInputOls: return 0x20;
        case kInputSvalm: return 0x40;
        default: return 0;
    }
}

uint64_t NsToTicks(uint64_t ns) {
    // 2457600 / 1e9 = 192 / 78125, exactly.
    return (ns / 78125) * 192 + (ns % 78125) * 192 / 78125;
}

uint32_t ClampSpeed(uint32_t v) {
    if (v < 1) return 1;
    if (v > kMaxSpeed) return kMaxSpeed;
    return v;
}

// Zone bounds as machine positions; INT32_MIN and INT32_MAX stand for no bound on that side.
int64_t ZoneFrom(const SensorZone& z) { return z.from == INT32_MIN ? INT64_MIN : z.from; }
int64_t ZoneTo(const SensorZone& z) { return z.to == INT32_MAX ? INT64_MAX : z.to; }

bool InZone(const SensorZone& z, int64_t p) { return z.from <= z.to && p >= ZoneFrom(z) && p <= ZoneTo(z); }

int64_t FloorMod(int64_t a, int64_t m) {
    int64_t r = a % m;
    return r < 0 ? r + m : r;
}

bool OnZMark(const AxisSensors& s, int64_t p) {
    if (s.zPeriod <= 0 || s.zWidth <= 0) return false;
    return FloorMod(p - s.zOffset, s.zPeriod) < s.zWidth;
}

// Pulses from p until p leaves or enters the zone, moving in the given direction.
uint64_t ZoneEdge(const SensorZone& z, int64_t p, bool minus) {
    if (z.from > z.to) return kNever;
    int64_t from = ZoneFrom(z), to = ZoneTo(z);
    if (!minus) {
        if (p < from) return static_cast<uint64_t>(from - p);
        if (p <= to) return to == INT64_MAX ? kNever : static_cast<uint64_t>(to - p + 1);
        return kNever;
    }
    if (p > to) return static_cast<uint64_t>(p - to);
    if (p >= from) return from == INT64_MIN ? kNever : static_cast<uint64_t>(p - from + 1);
    return kNever;
}

uint64_t ZMarkEdge(const AxisSensors& s, int64_t p, bool minus) {
    if (s.zPeriod <= 0 || s.zWidth <= 0 || s.zWidth >= s.zPeriod) return kNever;
    int64_t r = FloorMod(p - s.zOffset, s.zPeriod);
    if (!minus) return static_cast<uint64_t>(r < s.zWidth ? s.zWidth - r : s.zPeriod - r);
    return static_cast<uint64_t>(r < s.zWidth ? r + 1 : r - (s.zWidth - 1));
}

uint64_t Min(uint64_t a, uint64_t b) { return a < b ? a : b; }

bool HasAxis(const Board* board, uint32_t axis) { return axis < board->config.axes && axis < kMaxAxes; }

uint64_t NowTicks(Board* board, uint64_t nowNs) {
    if (nowNs > board->lastNs) board->lastNs = nowNs;
    return NsToTicks(board->lastNs - board->baseNs);
}

// Whether the source of an input is asserted (sensor detects, amplifier signals).
bool Asserted(const Board* board, uint32_t a, uint32_t input) {
    const Axis& ax = board->axis[a];
    if (ax.force[input] == kInputAsserted) return true;
    if (ax.force[input] == kInputReleased) return false;
    const AxisSensors& s = board->config.sensors[a];
    switch (input) {
        case kInputPlusEls: return InZone(s.plusEls, ax.machine);
        case kInputMinusEls: return InZone(s.minusEls, ax.machine);
        case kInputDls: return InZone(s.dls[0], ax.machine) || InZone(s.dls[1], ax.machine);
        case kInputOls: return InZone(s.ols, ax.machine);
        case kInputZ: return OnZMark(s, ax.machine);
        case kInputInpos: return ax.servoOn && !ax.m.active;
        default: return false;  // SVALM: only when forced
    }
}

// Whether the controller sees the input as active, after wiring and contact setting.
bool Active(const Board* board, uint32_t a, uint32_t input) {
    bool asserted = Asserted(board, a, input);
    if (input == kInputZ) return asserted;
    bool normallyOpen = (board->config.sensors[a].normallyOpen >> input) & 1;
    bool closed = normallyOpen ? asserted : !asserted;
    bool aContact;
    if (input == kInputPlusEls || input == kInputMinusEls)
        aContact = (board->elsPolarity >> a) & 1;
    else
        aContact = (board->axis[a].reg[6] & ContactBit(input)) != 0;
    return aContact ? closed : !closed;
}

void EndMove(Board* board, uint32_t a, uint16_t cause) {
    Axis& ax = board->axis[a];
    ax.m.active = 0;
    ax.m.speed = 0;
    ax.m.phase = kPhaseConst;
    ax.endCause = cause;
    if (cause == kEndOrigin) ax.reg[9] = 0;
    if (cause == kEndPreset && ax.cycleMode) ax.intStatus |= kIntPresetEnd;
}

// Slow down to FL for the rest of the move (or stop there when stopAtFl is set).
void SlowToFl(Axis& ax, uint64_t tick) {
    if (ax.m.speed > ax.m.fl) {
        if (ax.m.phase != kPhaseDecel) {
            ax.m.phase = kPhaseDecel;
            ax.m.stepStart = tick;
        }
    } else {
        ax.m.phase = kPhaseConst;
    }
}

// Looks at the axis' inputs and counters at its current tick and acts: limits, DLS, origin
// sensors, target and ramp-down point. Called at the start of a move, at every event pulse
// and after every outside change (contact types, forced inputs, sensors).
void Evaluate(Board* board, uint32_t a) {
    Axis& ax = board->axis[a];
    AxisMotion& m = ax.m;
    if (!m.active) return;
    if (Active(board, a, m.minus ? kInputMinusEls : kInputPlusEls)) {
        EndMove(board, a, m.minus ? kEndMinusEls : kEndPlusEls);
        return;
    }
    if (!m.dlsLatched && Active(board, a, kInputDls)) {
        m.dlsLatched = 1;
        SlowToFl(ax, ax.tick);
    }
    if (m.kind == kKindOriginOls || m.kind == kKindOriginOlsZ) {
        if (!m.olsSeen && Active(board, a, kInputOls)) {
            m.olsSeen = 1;
            if (m.kind == kKindOriginOls) {
                EndMove(board, a, kEndOrigin);
                return;
            }
            SlowToFl(ax, ax.tick);
        }
        if (m.olsSeen && m.kind == kKindOriginOlsZ && m.phase == kPhaseConst && m.speed <= m.fl &&
            Active(board, a, kInputZ)) {
            EndMove(board, a, kEndOrigin);
            return;
        }
    }
    if (m.kind == kKindPreset) {
        if (m.remaining == 0) {
            EndMove(board, a, kEndPreset);
            return;
        }
        if (m.ramped && m.phase != kPhaseDecel && m.speed > m.fl && m.remaining <= m.rampPulses) SlowToFl(ax, ax.tick);
    }
}

// Pulses from now until the next pulse at which Evaluate may act; at least 1.
uint64_t PulsesToEvent(const Board* board, uint32_t a) {
    const Axis& ax = board->axis[a];
    const AxisMotion& m = ax.m;
    const AxisSensors& s = board->config.sensors[a];
    bool minus = m.minus != 0;
    uint64_t n = kNever;
    uint32_t limit = minus ? kInputMinusEls : kInputPlusEls;
    if (ax.force[limit] == kInputFollow) n = Min(n, ZoneEdge(minus ? s.minusEls : s.plusEls, ax.machine, minus));
    if (!m.dlsLatched && ax.force[kInputDls] == kInputFollow) {
        n = Min(n, ZoneEdge(s.dls[0], ax.machine, minus));
        n = Min(n, ZoneEdge(s.dls[1], ax.machine, minus));
    }
    if ((m.kind == kKindOriginOls || m.kind == kKindOriginOlsZ) && !m.olsSeen && ax.force[kInputOls] == kInputFollow)
        n = Min(n, ZoneEdge(s.ols, ax.machine, minus));
    if (m.kind == kKindOriginOlsZ && m.olsSeen && ax.force[kInputZ] == kInputFollow)
        n = Min(n, ZMarkEdge(s, ax.machine, minus));
    if (m.kind == kKindPreset) {
        n = Min(n, m.remaining);
        if (m.ramped && m.phase != kPhaseDecel && m.remaining > m.rampPulses) {
            uint64_t gap = m.remaining - m.rampPulses;
            n = Min(n, m.phase == kPhaseAccel ? (gap + 1) / 2 : gap);
        }
    }
    return n < 1 ? 1 : n;
}

void MovePulses(Axis& ax, uint64_t n) {
    if (n == 0) return;
    AxisMotion& m = ax.m;
    if (m.minus) {
        ax.machine -= static_cast<int64_t>(n);
        ax.reg[9] -= static_cast<uint32_t>(n);
    } else {
        ax.machine += static_cast<int64_t>(n);
        ax.reg[9] += static_cast<uint32_t>(n);
    }
    if (m.kind == kKindPreset) m.remaining -= n;
    if (m.phase == kPhaseAccel) m.rampPulses += n;
}

// One speed step of a ramp has ended at ax.tick.
void StepSpeed(Board* board, uint32_t a) {
    Axis& ax = board->axis[a];
    AxisMotion& m = ax.m;
    m.stepStart = ax.tick;
    if (m.phase == kPhaseAccel) {
        ++m.speed;
        if (m.speed >= m.fh) {
            m.speed = m.fh;
            m.phase = kPhaseConst;
        }
        if (m.kind == kKindPreset && m.speed > m.fl && m.remaining <= m.rampPulses) SlowToFl(ax, ax.tick);
    } else if (m.phase == kPhaseDecel) {
        --m.speed;
        if (m.speed <= m.fl) {
            m.speed = m.fl;
            m.phase = kPhaseConst;
            if (m.stopAtFl) EndMove(board, a, kEndStopCommand);
        }
    }
}

// Pulse phase after j whole speed steps of a ramp from the start of the current step.
uint64_t PhaseAfterSteps(const AxisMotion& m, uint64_t j) {
    uint64_t v = m.speed;
    uint64_t tri = j * (j - 1) / 2;  // j >= 1
    uint64_t sum = m.phase == kPhaseAccel ? j * v + tri : j * v - tri;
    return m.acc + m.stepTicks * sum;
}

// At the start of a speed step: runs as many whole steps of the ramp as pass before tick t
// with no event pulse among them, in one go (the pulses of j steps of speeds v, v+1, ...
// are a sum in closed form). The last step of the ramp is left to StepSpeed. Returns false
// when there was nothing to skip.
bool SkipRampSteps(Board* board, uint32_t a, uint64_t t) {
    Axis& ax = board->axis[a];
    AxisMotion& m = ax.m;
    uint64_t steps = m.phase == kPhaseAccel ? m.fh - m.speed : m.speed - m.fl;
    if (steps < 3) return false;
    uint64_t k = Min(steps - 1, (t - ax.tick) / m.stepTicks);
    // Keep stepTicks * k * (speed + k) below 2^62.
    k = Min(k, ((static_cast<uint64_t>(1) << 62) / m.stepTicks) / (m.speed + k + 1));
    if (k < 2) return false;
    uint64_t n = PulsesToEvent(board, a);
    if (PhaseAfterSteps(m, k) / kC >= n) {
        // The event comes within k steps: skip only the steps wholly before it.
        uint64_t lo = 0, hi = k;  // phase after lo steps is short of n pulses, after hi it is not
        while (hi - lo > 1) {
            uint64_t mid = lo + (hi - lo) / 2;
            if (PhaseAfterSteps(m, mid) / kC < n)
                lo = mid;
            else
                hi = mid;
        }
        k = lo;
        if (k == 0) return false;
    }
    uint64_t total = PhaseAfterSteps(m, k);
    m.acc = total % kC;
    ax.tick += k * m.stepTicks;
    m.stepStart = ax.tick;
    MovePulses(ax, total / kC);
    if (m.phase == kPhaseAccel)
        m.speed += static_cast<uint32_t>(k);
    else
        m.speed -= static_cast<uint32_t>(k);
    return true;
}

// Runs axis a up to tick t.
void AdvanceAxis(Board* board, uint32_t a, uint64_t t) {
    Axis& ax = board->axis[a];
    AxisMotion& m = ax.m;
    for (;;) {
        if (!m.active) break;
        if (m.phase != kPhaseConst && m.stepStart + m.stepTicks <= ax.tick) {
            StepSpeed(board, a);
            continue;
        }
        if (ax.tick >= t) break;
        if (m.phase != kPhaseConst && ax.tick == m.stepStart && SkipRampSteps(board, a, t)) continue;
        uint64_t limit = t;
        if (m.phase != kPhaseConst) limit = Min(limit, m.stepStart + m.stepTicks);
        limit = Min(limit, ax.tick + kMaxChunk);
        uint64_t v = m.speed;
        uint64_t total = m.acc + v * (limit - ax.tick);
        uint64_t pulses = total / kC;
        uint64_t n = PulsesToEvent(board, a);
        if (n <= pulses) {
            uint64_t dt = (n * kC - m.acc + v - 1) / v;
            m.acc = m.acc + v * dt - n * kC;
            ax.tick += dt;
            MovePulses(ax, n);
            Evaluate(board, a);
            continue;
        }
        m.acc = total % kC;
        ax.tick = limit;
        MovePulses(ax, pulses);
    }
    if (ax.tick < t) ax.tick = t;
}

Axis* AxisAt(Board* board, uint32_t a, uint64_t nowNs) {
    AdvanceAxis(board, a, NowTicks(board, nowNs));
    return &board->axis[a];
}

void ClearAxis(Axis& ax) {
    for (uint32_t r = 0; r < kRegisterCount; ++r) ax.reg[r] = 0;
    ax.data = 0;
    ax.mode = 0;
    ax.control = 0;
    ax.intStatus = 0;
    ax.cycleMode = 0;
    ax.servoOn = 0;
    ax.servoReset = 0;
    ax.lastMinus = 0;
    ax.endCause = 0;
    AxisMotion none = {};
    ax.m = none;
}

void Start(Board* board, uint32_t a, uint8_t command) {
    Axis& ax = board->axis[a];
    AxisMotion& m = ax.m;
    if (m.active) return;
    uint8_t kind;
    if ((ax.mode & 0x07) == 2)
        kind = (ax.reg[7] & 0x20) ? kKindOriginOlsZ : kKindOriginOls;
    else if (ax.mode & 0x20)
        kind = (ax.mode & 0x08) ? kKindPreset : kKindContinuous;
    else
        return;  // the mode byte names no operation
    AxisMotion fresh = {};
    m = fresh;
    m.active = 1;
    m.kind = kind;
    m.minus = (ax.mode & 0x10) ? 1 : 0;
    m.fl = ClampSpeed(ax.reg[1]);
    m.fh = ClampSpeed(ax.reg[2]);
    if (m.fh < m.fl) m.fh = m.fl;
    m.stepTicks = static_cast<uint64_t>(ax.reg[3]) + 1;
    m.stepStart = ax.tick;
    m.remaining = ax.reg[0];
    if (command == 0x13 && m.fh > m.fl) {
        m.ramped = 1;
        m.speed = m.fl;
        m.phase = kPhaseAccel;
    } else if (command == 0x11) {
        m.speed = m.fh;
    } else {
        m.speed = m.fl;
    }
    ax.lastMinus = m.minus;
    ax.endCause = 0;
    Evaluate(board, a);
}

void Command(Board* board, uint32_t a, uint8_t c) {
    Axis& ax = board->axis[a];
    if (c >= 0xC0 && c < 0xC0 + kRegisterCount) {
        uint32_t r = c - 0xC0u;
        if (r == 12 || r == 13 || r == 14) return;
        ax.reg[r] = ax.data;
        if (r == 6) Evaluate(board, a);
        return;
    }
    if (c >= 0x80 && c < 0xC0) {
        uint32_t r = c - 0x80u;
        uint32_t v = 0;
        if (r == 12) {
            v = ax.m.active ? ax.m.speed : 0;
        } else if (r == 13) {
            if (ax.m.active) {
                v |= 0x0001;
                if (ax.m.phase == kPhaseAccel) v |= 0x0002;
                if (ax.m.phase == kPhaseDecel) v |= 0x0004;
                if (ax.m.phase == kPhaseConst && ax.m.speed == ax.m.fh && ax.m.fh > ax.m.fl) v |= 0x0008;
            }
            v |= ax.endCause;
            if (ax.intStatus) v |= 0x1000;
        } else if (r == 14) {
            static const uint32_t kBits[kInputCount] = {0x01, 0x02, 0x04, 0x08, 0x80, 0x10, 0x20};
            for (uint32_t i = 0; i < kInputCount; ++i)
                if (Active(board, a, i)) v |= kBits[i];
        } else if (r < kRegisterCount) {
            v = ax.reg[r];
        }
        ax.data = v;
        return;
    }
    switch (c) {
        case 0x09:
            if (ax.m.active) EndMove(board, a, kEndStopCommand);
            break;
        case 0x0A:
            if (ax.m.active) {
                if (ax.m.speed <= ax.m.fl) {
                    EndMove(board, a, kEndStopCommand);
                } else {
                    ax.m.stopAtFl = 1;
                    SlowToFl(ax, ax.tick);
                }
            }
            break;
        case 0x10:
        case 0x11:
        case 0x13: Start(board, a, c); break;
        case 0x48: ax.servoOn = 0; break;
        case 0x58: ax.servoOn = 1; break;
        case 0x49: ax.servoReset = 0; break;
        case 0x59: ax.servoReset = 1; break;
        case 0x60: ClearAxis(ax); break;
        case 0x61: ax.intStatus = 0; break;
        case 0x62: ax.endCause = 0; break;
        case 0x66: ax.cycleMode = 1; break;
        case 0x67: ax.cycleMode = 0; break;
        default: break;
    }
}

uint8_t Status1(const Board* board, uint32_t a) {
    const Axis& ax = board->axis[a];
    uint8_t s = 0;
    if (ax.m.active) {
        s |= 0x04;
        if (ax.m.phase == kPhaseAccel) s |= 0x01;
        if (ax.m.phase == kPhaseDecel) s |= 0x02;
    }
    if (Active(board, a, kInputPlusEls)) s |= 0x08;
    if (Active(board, a, kInputMinusEls)) s |= 0x10;
    if (Active(board, a, kInputDls)) {
        s |= 0x20;
        if (ax.m.active && ax.m.dlsLatched) s |= 0x40;
    }
    if (Active(board, a, kInputOls)) s |= 0x80;
    return s;
}

uint8_t Status2(const Board* board, uint32_t a) {
    const Axis& ax = board->axis[a];
    uint8_t s = 0;
    if (Active(board, a, kInputZ)) s |= 0x01;
    if (Active(board, a, kInputSvalm)) s |= 0x02;
    if (ax.endCause & (kEndPlusEls | kEndMinusEls)) s |= 0x04;
    if (Active(board, a, kInputInpos)) s |= 0x08;
    if (ax.lastMinus) s |= 0x10;
    if (ax.servoOn) s |= 0x20;
    if (ax.servoReset) s |= 0x40;
    return s;
}

void EvaluateAll(Board* board) {
    for (uint32_t a = 0; a < board->config.axes && a < kMaxAxes; ++a) Evaluate(board, a);
}

}  // namespace

AxisSensors DefaultAxisSensors() {
    AxisSensors s = {};
    s.plusEls = {200000, INT32_MAX};
    s.minusEls = {INT32_MIN, -200000};
    s.dls[0] = {190000, INT32_MAX};
    s.dls[1] = {INT32_MIN, -190000};
    s.ols = {-3000, 500};
    s.zPeriod = 1000;
    s.zOffset = 0;
    s.zWidth = 1;
    s.normallyOpen = 0;
    return s;
}

BoardConfig DefaultBoardConfig(int32_t managementNumber) {
    BoardConfig c = {};
    c.info.BusNumber = 1;
    c.info.DeviceNumber = 8 + managementNumber;
    c.info.IoAddress = 0xD000 + 0x100 * managementNumber;
    c.info.IrqNumber = 11;
    c.info.ManagementNumber = managementNumber;
    c.info.BoardId = managementNumber & 0x0F;
    c.axes = 6;
    c.boardIdHigh = 0xA0;
    for (int i = 0; i < 8; ++i) c.idNumber[i] = static_cast<uint8_t>(0x30 + i + managementNumber);
    for (uint32_t a = 0; a < kMaxAxes; ++a) c.sensors[a] = DefaultAxisSensors();
    return c;
}

void BoardReset(Board* board, const BoardConfig* config, uint64_t nowNs) {
    board->config = *config;
    if (board->config.axes > kMaxAxes) board->config.axes = kMaxAxes;
    board->baseNs = nowNs;
    board->lastNs = nowNs;
    board->elsPolarity = 0;
    board->cmp = 0;
    board->cmpForced = 0;
    for (uint32_t a = 0; a < kMaxAxes; ++a) {
        Axis& ax = board->axis[a];
        ClearAxis(ax);
        for (uint32_t i = 0; i < kInputCount; ++i) ax.force[i] = kInputFollow;
        ax.machine = 0;
        ax.tick = 0;
    }
}

uint8_t BoardReadByte(Board* board, uint32_t port, uint64_t nowNs) {
    if (port >= kPortCount) return 0xFF;
    if (port < 0x80) {
        uint32_t a = port >> 4;
        if (!HasAxis(board, a)) return 0xFF;
        Axis* ax = AxisAt(board, a, nowNs);
        switch (port & 0x0F) {
            case 0: return Status1(board, a);
            case 1: return Status2(board, a);
            case 2: {
                uint8_t v = ax->intStatus;
                ax->intStatus = 0;
                return v;
            }
            case 4:
            case 5:
            case 6:
            case 7: return static_cast<uint8_t>(ax->data >> (8 * ((port & 0x0F) - 4)));
            default: return 0;
        }
    }
    if (port == 0x80) return board->elsPolarity;
    if (port == 0x88) return static_cast<uint8_t>((board->cmp & 0xFE) | (board->cmpForced ? 1 : 0));
    if (port == 0x9C)
        return static_cast<uint8_t>((board->config.boardIdHigh & 0xF0) | (board->config.info.BoardId & 0x0F));
    if (port == 0xBC) {
        BoardAdvance(board, nowNs);
        uint8_t v = 0;
        for (uint32_t a = 0; a < board->config.axes && a < kMaxAxes; ++a)
            if (board->axis[a].intStatus) v |= static_cast<uint8_t>(1u << a);
        return v;
    }
    if (port >= 0xC0 && port < 0xD0 && (port & 1) == 0) return board->config.idNumber[(port - 0xC0) / 2];
    return 0;
}

uint16_t BoardReadWord(Board* board, uint32_t port, uint64_t nowNs) {
    uint8_t lo = BoardReadByte(board, port, nowNs);
    uint8_t hi = BoardReadByte(board, port + 1, nowNs);
    return static_cast<uint16_t>(lo | (hi << 8));
}

void BoardWriteByte(Board* board, uint32_t port, uint8_t value, uint64_t nowNs) {
    if (port >= kPortCount) return;
    if (port < 0x80) {
        uint32_t a = port >> 4;
        if (!HasAxis(board, a)) return;
        Axis* ax = AxisAt(board, a, nowNs);
        switch (port & 0x0F) {
            case 0: Command(board, a, value); break;
            case 1: ax->mode = value; break;
            case 2: ax->control = value; break;
            case 4:
            case 5:
            case 6:
            case 7: {
                uint32_t shift = 8 * ((port & 0x0F) - 4);
                ax->data = (ax->data & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
                break;
            }
            default: break;
        }
        return;
    }
    if (port == 0x80) {
        BoardAdvance(board, nowNs);
        board->elsPolarity = value;
        EvaluateAll(board);
    } else if (port == 0x88) {
        board->cmp = value;
    } else if (port == 0xBE) {
        BoardAdvance(board, nowNs);
        for (uint32_t a = 0; a < board->config.axes && a < kMaxAxes; ++a)
            if ((value >> a) & 1) board->axis[a].intStatus = 0;
    }
}

void BoardWriteWord(Board* board, uint32_t port, uint16_t value, uint64_t nowNs) {
    BoardWriteByte(board, port, static_cast<uint8_t>(value), nowNs);
    BoardWriteByte(board, port + 1, static_cast<uint8_t>(value >> 8), nowNs);
}

void BoardAdvance(Board* board, uint64_t nowNs) {
    uint64_t t = NowTicks(board, nowNs);
    for (uint32_t a = 0; a < board->config.axes && a < kMaxAxes; ++a) AdvanceAxis(board, a, t);
}

bool BoardForceInput(Board* board, uint32_t axis, uint32_t input, uint8_t force, uint64_t nowNs) {
    if (!HasAxis(board, axis) || input >= kInputCount || force > kInputReleased) return false;
    AxisAt(board, axis, nowNs)->force[input] = force;
    Evaluate(board, axis);
    return true;
}

bool BoardSetSensors(Board* board, uint32_t axis, const AxisSensors* sensors, uint64_t nowNs) {
    if (!HasAxis(board, axis) || sensors == nullptr) return false;
    AxisAt(board, axis, nowNs);
    board->config.sensors[axis] = *sensors;
    Evaluate(board, axis);
    return true;
}

bool BoardSetMachinePosition(Board* board, uint32_t axis, int64_t position, uint64_t nowNs) {
    if (!HasAxis(board, axis)) return false;
    Axis* ax = AxisAt(board, axis, nowNs);
    if (ax->m.active) return false;
    const int64_t kFar = static_cast<int64_t>(1) << 53;  // far beyond any travel; keeps sums in range
    ax->machine = position > kFar ? kFar : position < -kFar ? -kFar : position;
    return true;
}

void BoardForceCmpStatus(Board* board, bool on, uint64_t nowNs) {
    NowTicks(board, nowNs);
    board->cmpForced = on ? 1 : 0;
}

int64_t BoardMachinePosition(Board* board, uint32_t axis, uint64_t nowNs) {
    if (!HasAxis(board, axis)) return 0;
    return AxisAt(board, axis, nowNs)->machine;
}

}  // namespace tlmsim
