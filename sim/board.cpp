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
    kEndPreset = TLM_OP_END_PRESET,
    kEndStopCommand = TLM_OP_END_STOP,
    kEndPlusEls = TLM_OP_END_PLUS_ELS,
    kEndMinusEls = TLM_OP_END_MINUS_ELS,
    kEndOrigin = TLM_OP_END_ORIGIN,
};

constexpr uint8_t kIntPresetEnd = TLM_INT_FEED_END;

// Contact-setting bit of register 6 for an input (ELS uses the polarity port, Z has none).
uint32_t ContactBit(uint32_t input) {
    switch (input) {
        case kInputInpos: return TLM_SIG_INPOS_A;
        case kInputDls: return TLM_SIG_DLS_A;
        case kInputOls: return TLM_SIG_OLS_A;
        case kInputSvalm: return TLM_SIG_SVALM_A;
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
        aContact = (board->axis[a].reg[TLM_REG_SIGNAL] & ContactBit(input)) != 0;
    return aContact ? closed : !closed;
}

void EndMove(Board* board, uint32_t a, uint16_t cause) {
    Axis& ax = board->axis[a];
    ax.m.active = 0;
    ax.m.speed = 0;
    ax.m.phase = kPhaseConst;
    ax.endCause = cause;
    if (cause == kEndOrigin) ax.reg[TLM_REG_POSITION] = 0;
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
        ax.reg[TLM_REG_POSITION] -= static_cast<uint32_t>(n);
    } else {
        ax.machine += static_cast<int64_t>(n);
        ax.reg[TLM_REG_POSITION] += static_cast<uint32_t>(n);
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
    if ((ax.mode & TLM_MODE_KIND_MASK) == TLM_MODE_ORIGIN)
        kind = (ax.reg[TLM_REG_ORIGIN] & TLM_ORIGIN_Z) ? kKindOriginOlsZ : kKindOriginOls;
    else if (ax.mode & TLM_MODE_FEED)
        kind = (ax.mode & TLM_MODE_PRESET) ? kKindPreset : kKindContinuous;
    else
        return;  // the mode byte names no operation
    AxisMotion fresh = {};
    m = fresh;
    m.active = 1;
    m.kind = kind;
    m.minus = (ax.mode & TLM_MODE_MINUS) ? 1 : 0;
    m.fl = ClampSpeed(ax.reg[TLM_REG_FL]);
    m.fh = ClampSpeed(ax.reg[TLM_REG_FH]);
    if (m.fh < m.fl) m.fh = m.fl;
    m.stepTicks = static_cast<uint64_t>(ax.reg[TLM_REG_RATE]) + 1;
    m.stepStart = ax.tick;
    m.remaining = ax.reg[TLM_REG_PRESET];
    if (command == TLM_CMD_START_RAMPED && m.fh > m.fl) {
        m.ramped = 1;
        m.speed = m.fl;
        m.phase = kPhaseAccel;
    } else if (command == TLM_CMD_START_FH) {
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
    if (c >= TLM_CMD_WRITE_REG && c < TLM_CMD_WRITE_REG + kRegisterCount) {
        uint32_t r = c - TLM_CMD_WRITE_REG;
        if (r == TLM_REG_SPEED || r == TLM_REG_OPERATION || r == TLM_REG_INPUTS) return;
        ax.reg[r] = ax.data;
        if (r == TLM_REG_SIGNAL) Evaluate(board, a);
        return;
    }
    if (c >= TLM_CMD_READ_REG && c < TLM_CMD_WRITE_REG) {
        uint32_t r = c - TLM_CMD_READ_REG;
        uint32_t v = 0;
        if (r == TLM_REG_SPEED) {
            v = ax.m.active ? ax.m.speed : 0;
        } else if (r == TLM_REG_OPERATION) {
            if (ax.m.active) {
                v |= TLM_OP_OPERATING;
                if (ax.m.phase == kPhaseAccel) v |= TLM_OP_ACCEL;
                if (ax.m.phase == kPhaseDecel) v |= TLM_OP_DECEL;
                if (ax.m.phase == kPhaseConst && ax.m.speed == ax.m.fh && ax.m.fh > ax.m.fl) v |= TLM_OP_AT_FH;
            }
            v |= ax.endCause;
            if (ax.intStatus) v |= TLM_OP_INT_LATCHED;
        } else if (r == TLM_REG_INPUTS) {
            static const uint32_t kBits[kInputCount] = {TLM_IN_PLUS_ELS, TLM_IN_MINUS_ELS, TLM_IN_DLS,  TLM_IN_OLS,
                                                        TLM_IN_Z,        TLM_IN_INPOS,     TLM_IN_SVALM};
            for (uint32_t i = 0; i < kInputCount; ++i)
                if (Active(board, a, i)) v |= kBits[i];
        } else if (r < kRegisterCount) {
            v = ax.reg[r];
        }
        ax.data = v;
        return;
    }
    switch (c) {
        case TLM_CMD_IMMEDIATE_STOP:
            if (ax.m.active) EndMove(board, a, kEndStopCommand);
            break;
        case TLM_CMD_DECEL_STOP:
            if (ax.m.active) {
                if (ax.m.speed <= ax.m.fl) {
                    EndMove(board, a, kEndStopCommand);
                } else {
                    ax.m.stopAtFl = 1;
                    SlowToFl(ax, ax.tick);
                }
            }
            break;
        case TLM_CMD_START_FL:
        case TLM_CMD_START_FH:
        case TLM_CMD_START_RAMPED: Start(board, a, c); break;
        case TLM_CMD_SVON_OFF: ax.servoOn = 0; break;
        case TLM_CMD_SVON_ON: ax.servoOn = 1; break;
        case TLM_CMD_SVRST_OFF: ax.servoReset = 0; break;
        case TLM_CMD_SVRST_ON: ax.servoReset = 1; break;
        case TLM_CMD_AXIS_RESET: ClearAxis(ax); break;
        case TLM_CMD_CLEAR_INT: ax.intStatus = 0; break;
        case TLM_CMD_CLEAR_END: ax.endCause = 0; break;
        case TLM_CMD_CYCLE_ON: ax.cycleMode = 1; break;
        case TLM_CMD_CYCLE_OFF: ax.cycleMode = 0; break;
        default: break;
    }
}

uint8_t Status1(const Board* board, uint32_t a) {
    const Axis& ax = board->axis[a];
    uint8_t s = 0;
    if (ax.m.active) {
        s |= TLM_ST1_OPERATING;
        if (ax.m.phase == kPhaseAccel) s |= TLM_ST1_ACCEL;
        if (ax.m.phase == kPhaseDecel) s |= TLM_ST1_DECEL;
    }
    if (Active(board, a, kInputPlusEls)) s |= TLM_ST1_PLUS_ELS;
    if (Active(board, a, kInputMinusEls)) s |= TLM_ST1_MINUS_ELS;
    if (Active(board, a, kInputDls)) {
        s |= TLM_ST1_DLS;
        if (ax.m.active && ax.m.dlsLatched) s |= TLM_ST1_DLS_HOLD;
    }
    if (Active(board, a, kInputOls)) s |= TLM_ST1_OLS;
    return s;
}

uint8_t Status2(const Board* board, uint32_t a) {
    const Axis& ax = board->axis[a];
    uint8_t s = 0;
    if (Active(board, a, kInputZ)) s |= TLM_ST2_Z;
    if (Active(board, a, kInputSvalm)) s |= TLM_ST2_SVALM;
    if (ax.endCause & (kEndPlusEls | kEndMinusEls)) s |= TLM_ST2_LIMIT_END;
    if (Active(board, a, kInputInpos)) s |= TLM_ST2_INPOS;
    if (ax.lastMinus) s |= TLM_ST2_MINUS;
    if (ax.servoOn) s |= TLM_ST2_SVON;
    if (ax.servoReset) s |= TLM_ST2_SVRST;
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
    c.info.BoardId = managementNumber & TLM_BOARD_ID_MASK;
    c.axes = 6;
    c.boardIdHigh = 0xA0;
    for (int i = 0; i < TLM_ID_NUMBER_BYTES; ++i) c.idNumber[i] = static_cast<uint8_t>(0x30 + i + managementNumber);
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
    if (port < TLM_PORT_ELS) {
        uint32_t a = port / TLM_AXIS_PORTS;
        if (!HasAxis(board, a)) return 0xFF;
        Axis* ax = AxisAt(board, a, nowNs);
        switch (port % TLM_AXIS_PORTS) {
            case TLM_PORT_STATUS1: return Status1(board, a);
            case TLM_PORT_STATUS2: return Status2(board, a);
            case TLM_PORT_INT_STATUS: {
                uint8_t v = ax->intStatus;
                ax->intStatus = 0;
                return v;
            }
            case TLM_PORT_DATA_LOW:
            case TLM_PORT_DATA_LOW + 1:
            case TLM_PORT_DATA_HIGH:
            case TLM_PORT_DATA_HIGH + 1:
                return static_cast<uint8_t>(ax->data >> (8 * (port % TLM_AXIS_PORTS - TLM_PORT_DATA_LOW)));
            default: return 0;
        }
    }
    if (port == TLM_PORT_ELS) return board->elsPolarity;
    if (port == TLM_PORT_CMP)
        return static_cast<uint8_t>((board->cmp & ~TLM_CMP_STATUS) | (board->cmpForced ? TLM_CMP_STATUS : 0));
    if (port == TLM_PORT_BOARD_ID)
        return static_cast<uint8_t>((board->config.boardIdHigh & ~TLM_BOARD_ID_MASK) |
                                    (board->config.info.BoardId & TLM_BOARD_ID_MASK));
    if (port == TLM_PORT_INTRD) {
        BoardAdvance(board, nowNs);
        uint8_t v = 0;
        for (uint32_t a = 0; a < board->config.axes && a < kMaxAxes; ++a)
            if (board->axis[a].intStatus) v |= static_cast<uint8_t>(1u << a);
        return v;
    }
    if (port >= TLM_PORT_ID_NUMBER && port < TLM_PORT_ID_NUMBER + 2 * TLM_ID_NUMBER_BYTES && (port & 1) == 0)
        return board->config.idNumber[(port - TLM_PORT_ID_NUMBER) / 2];
    return 0;
}

uint16_t BoardReadWord(Board* board, uint32_t port, uint64_t nowNs) {
    uint8_t lo = BoardReadByte(board, port, nowNs);
    uint8_t hi = BoardReadByte(board, port + 1, nowNs);
    return static_cast<uint16_t>(lo | (hi << 8));
}

void BoardWriteByte(Board* board, uint32_t port, uint8_t value, uint64_t nowNs) {
    if (port >= kPortCount) return;
    if (port < TLM_PORT_ELS) {
        uint32_t a = port / TLM_AXIS_PORTS;
        if (!HasAxis(board, a)) return;
        Axis* ax = AxisAt(board, a, nowNs);
        switch (port % TLM_AXIS_PORTS) {
            case TLM_PORT_COMMAND: Command(board, a, value); break;
            case TLM_PORT_MODE: ax->mode = value; break;
            case TLM_PORT_CONTROL: ax->control = value; break;
            case TLM_PORT_DATA_LOW:
            case TLM_PORT_DATA_LOW + 1:
            case TLM_PORT_DATA_HIGH:
            case TLM_PORT_DATA_HIGH + 1: {
                uint32_t shift = 8 * (port % TLM_AXIS_PORTS - TLM_PORT_DATA_LOW);
                ax->data = (ax->data & ~(0xFFu << shift)) | (static_cast<uint32_t>(value) << shift);
                break;
            }
            default: break;
        }
        return;
    }
    if (port == TLM_PORT_ELS) {
        BoardAdvance(board, nowNs);
        board->elsPolarity = value;
        EvaluateAll(board);
    } else if (port == TLM_PORT_CMP) {
        board->cmp = value;
    } else if (port == TLM_PORT_INTRST) {
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
