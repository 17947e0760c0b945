#include "sim_control.h"

namespace tlmsim {

namespace {

void CopyBytes(void* to, const void* from, uint32_t n) { __builtin_memcpy(to, from, n); }

// The sensors of an axis between the control record and the model, either way: both name
// their fields alike.
template <typename From, typename To> void CopySensors(const From& from, To* to) {
    to->plusEls = {from.plusEls.from, from.plusEls.to};
    to->minusEls = {from.minusEls.from, from.minusEls.to};
    for (int i = 0; i < 2; ++i) to->dls[i] = {from.dls[i].from, from.dls[i].to};
    to->ols = {from.ols.from, from.ols.to};
    to->zPeriod = from.zPeriod;
    to->zOffset = from.zOffset;
    to->zWidth = from.zWidth;
    to->normallyOpen = from.normallyOpen;
}

bool ValidConfig(const TlmSimBoardConfig& c) {
    if (c.axes != 4 && c.axes != 6) return false;
    if (c.info.ManagementNumber < 0 || c.info.ManagementNumber > 9999) return false;
    return true;
}

BoardConfig ToModel(const TlmSimBoardConfig& c) {
    BoardConfig m = DefaultBoardConfig(c.info.ManagementNumber);
    m.info = c.info;
    m.axes = c.axes;
    m.boardIdHigh = c.boardIdHigh;
    for (int i = 0; i < 8; ++i) m.idNumber[i] = c.idNumber[i];
    return m;
}

TlmSimBoardConfig FromModel(const BoardConfig& m) {
    TlmSimBoardConfig c = {};
    c.info = m.info;
    c.axes = m.axes;
    c.boardIdHigh = m.boardIdHigh;
    for (int i = 0; i < 8; ++i) c.idNumber[i] = m.idNumber[i];
    return c;
}

// Decodes a record that starts with a management number; the board it names, or null when
// the record is malformed or no board has that number.
template <typename Record> Board* BoardOf(Driver* driver, const void* in, uint32_t inLength, Record* record) {
    if (in == nullptr || inLength != sizeof(Record)) return nullptr;
    CopyBytes(record, in, sizeof(Record));
    return DriverBoardByManagementNumber(driver, record->managementNumber);
}

int32_t SetBoards(Driver* driver, const void* in, uint32_t inLength, uint64_t nowNs) {
    if (in == nullptr || inLength < sizeof(TlmSimBoards)) return kStatusInvalidParameter;
    TlmSimBoards head;
    CopyBytes(&head, in, sizeof head);
    if (head.count > TLMSIM_MAX_BOARDS || head.count > kMaxBoards) return kStatusInvalidParameter;
    if (inLength != sizeof(TlmSimBoards) + head.count * sizeof(TlmSimBoardConfig)) return kStatusInvalidParameter;
    static BoardConfig configs[kMaxBoards];  // too large for a kernel stack; callers hold the lock
    const uint8_t* p = static_cast<const uint8_t*>(in) + sizeof(TlmSimBoards);
    for (uint32_t i = 0; i < head.count; ++i) {
        TlmSimBoardConfig c;
        CopyBytes(&c, p + i * sizeof c, sizeof c);
        if (!ValidConfig(c)) return kStatusInvalidParameter;
        for (uint32_t j = 0; j < i; ++j)
            if (configs[j].info.ManagementNumber == c.info.ManagementNumber) return kStatusInvalidParameter;
        configs[i] = ToModel(c);
    }
    DriverSetBoards(driver, configs, head.count, nowNs);
    return kStatusSuccess;
}

int32_t GetBoards(const Driver* driver, void* out, uint32_t outLength, uint32_t* returned) {
    uint32_t need = sizeof(TlmSimBoards) + driver->boardCount * sizeof(TlmSimBoardConfig);
    if (out == nullptr || outLength < need) return kStatusBufferTooSmall;
    uint8_t* p = static_cast<uint8_t*>(out);
    TlmSimBoards head = {driver->boardCount};
    CopyBytes(p, &head, sizeof head);
    for (uint32_t i = 0; i < driver->boardCount; ++i) {
        TlmSimBoardConfig c = FromModel(driver->boards[i].config);
        CopyBytes(p + sizeof head + i * sizeof c, &c, sizeof c);
    }
    *returned = need;
    return kStatusSuccess;
}

int32_t ReadTrace(const Driver* driver, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                  uint32_t* returned, bool withBoard) {
    if (in == nullptr || inLength != 4) return kStatusInvalidParameter;
    if (out == nullptr || outLength < sizeof(TlmSimTraceHeader)) return kStatusBufferTooSmall;
    uint32_t first;
    CopyBytes(&first, in, 4);
    uint32_t total = driver->requestCount;
    uint32_t oldest = total > kTraceCapacity ? total - kTraceCapacity + 1 : 1;
    if (first < oldest) first = oldest;
    uint32_t size = withBoard ? sizeof(TlmSimBoardTraceEntry) : sizeof(TlmSimTraceEntry);
    uint32_t room = (outLength - sizeof(TlmSimTraceHeader)) / size;
    uint32_t count = 0;
    uint8_t* p = static_cast<uint8_t*>(out) + sizeof(TlmSimTraceHeader);
    for (uint32_t seq = first; seq <= total && count < room; ++seq) {
        const TraceEntry* e = DriverTraceEntry(driver, seq);
        if (e == nullptr) break;
        TlmSimBoardTraceEntry t = {{e->seq, e->file, e->code, e->port, e->value, e->status, e->returned}, e->board};
        CopyBytes(p + count * size, &t, size);
        ++count;
    }
    TlmSimTraceHeader head = {total, first, count};
    CopyBytes(out, &head, sizeof head);
    *returned = sizeof head + count * size;
    return kStatusSuccess;
}

int32_t Clock(SimClock* clock, const void* in, uint32_t inLength, void* out, uint32_t outLength, uint32_t* returned,
              uint64_t realNs) {
    if (in == nullptr || inLength != sizeof(TlmSimClockRequest)) return kStatusInvalidParameter;
    if (out != nullptr && outLength != 0 && outLength < sizeof(TlmSimClockState)) return kStatusBufferTooSmall;
    TlmSimClockRequest r;
    CopyBytes(&r, in, sizeof r);
    int32_t status = SimClockApply(clock, r.op, r.ns, realNs);
    if (status != kStatusSuccess) return status;
    if (out != nullptr && outLength != 0) {
        TlmSimClockState s = {SimClockNow(clock, realNs), clock->mode, clock->scale};
        CopyBytes(out, &s, sizeof s);
        *returned = sizeof s;
    }
    return kStatusSuccess;
}

}  // namespace

void SimClockInit(SimClock* clock, uint64_t realNs, uint64_t modelNs) {
    clock->anchorNs = modelNs;
    clock->realAnchorNs = realNs;
    clock->mode = TLMSIM_CLOCK_RUNNING;
    clock->scale = TLMSIM_SCALE_ONE;
}

uint64_t SimClockNow(const SimClock* clock, uint64_t realNs) {
    if (clock->mode != TLMSIM_CLOCK_RUNNING || realNs < clock->realAnchorNs) return clock->anchorNs;
    // Split so that a day at 10000 times fits in 64 bits.
    uint64_t real = realNs - clock->realAnchorNs;
    return clock->anchorNs + real / TLMSIM_SCALE_ONE * clock->scale +
           real % TLMSIM_SCALE_ONE * clock->scale / TLMSIM_SCALE_ONE;
}

int32_t SimClockApply(SimClock* clock, uint32_t op, uint64_t value, uint64_t realNs) {
    uint64_t now = SimClockNow(clock, realNs);
    switch (op) {
        case TLMSIM_CLOCK_QUERY: return kStatusSuccess;
        case TLMSIM_CLOCK_ADVANCE: clock->anchorNs += value; return kStatusSuccess;
        case TLMSIM_CLOCK_FREEZE: clock->mode = TLMSIM_CLOCK_FROZEN; break;
        case TLMSIM_CLOCK_VIRTUAL: clock->mode = TLMSIM_CLOCK_STEPPED; break;
        case TLMSIM_CLOCK_RUN: value = TLMSIM_SCALE_ONE; [[fallthrough]];
        case TLMSIM_CLOCK_SCALE:
            if (value < TLMSIM_SCALE_MIN || value > TLMSIM_SCALE_MAX) return kStatusInvalidParameter;
            clock->mode = TLMSIM_CLOCK_RUNNING;
            clock->scale = static_cast<uint32_t>(value);
            break;
        default: return kStatusInvalidParameter;
    }
    clock->anchorNs = now;
    clock->realAnchorNs = realNs;
    return kStatusSuccess;
}

uint32_t Win32ErrorOfStatus(int32_t status) {
    switch (static_cast<uint32_t>(status)) {
        case 0x00000000: return 0;
        case 0xC0000001: return 31;    // STATUS_UNSUCCESSFUL
        case 0xC000000D: return 87;    // STATUS_INVALID_PARAMETER
        case 0xC000000E: return 433;   // STATUS_NO_SUCH_DEVICE
        case 0xC0000010: return 1;     // STATUS_INVALID_DEVICE_REQUEST
        case 0xC0000022: return 5;     // STATUS_ACCESS_DENIED
        case 0xC0000023: return 122;   // STATUS_BUFFER_TOO_SMALL
        case 0xC0000034: return 2;     // STATUS_OBJECT_NAME_NOT_FOUND
        case 0xC000009A: return 1450;  // STATUS_INSUFFICIENT_RESOURCES
        case 0xC00000A3: return 21;    // STATUS_DEVICE_NOT_READY
        case 0xC00000B5: return 121;   // STATUS_IO_TIMEOUT
        case 0xC0000185: return 1117;  // STATUS_IO_DEVICE_ERROR
    }
    // Codes with the customer bit pass through unchanged; others Windows does not know.
    return static_cast<uint32_t>(status) & 0x20000000u ? static_cast<uint32_t>(status) : 317;
}

bool IsSimControlCode(uint32_t code) {
    return code >= TLMSIM_IOCTL_FIRST && code <= TLMSIM_IOCTL_LAST && (code & 3) == 0;
}

void SimControlState(const Driver* driver, const SimClock* clock, uint64_t realNs, TlmSimState* state) {
    TlmSimState s = {};
    s.boardCount = driver->boardCount;
    for (uint32_t i = 0; i < driver->fileCapacity; ++i) {
        int32_t d = driver->files[i].device;
        if (d == kDeviceNone) continue;
        ++s.openFiles;
        if (d == kDeviceControl)
            ++s.openControl;
        else if (d == kDeviceVxd)
            ++s.openVxd;
        else
            ++s.openBoard;
    }
    s.requestCount = driver->requestCount;
    s.faultCount = driver->faultCount;
    s.clockFrozen = clock->mode != TLMSIM_CLOCK_RUNNING;
    s.nowNs = SimClockNow(clock, realNs);
    *state = s;
}

int32_t SimControlRequest(Driver* driver, SimClock* clock, uint32_t code, const void* in, uint32_t inLength, void* out,
                          uint32_t outLength, uint32_t* returned, uint64_t realNs, bool* boardsChanged) {
    *returned = 0;
    *boardsChanged = false;
    uint64_t now = SimClockNow(clock, realNs);
    switch (code) {
        case TLMSIM_IOCTL_RESET: {
            BoardConfig one = DefaultBoardConfig(0);
            SimClockInit(clock, realNs, now);  // the model's time never runs backwards
            DriverSetBoards(driver, &one, 1, now);
            DriverResetTrace(driver);
            DriverClearFaults(driver);
            *boardsChanged = true;
            return kStatusSuccess;
        }
        case TLMSIM_IOCTL_SET_BOARDS: {
            int32_t status = SetBoards(driver, in, inLength, now);
            *boardsChanged = status == kStatusSuccess;
            return status;
        }
        case TLMSIM_IOCTL_GET_BOARDS: return GetBoards(driver, out, outLength, returned);
        case TLMSIM_IOCTL_CLOCK: return Clock(clock, in, inLength, out, outLength, returned, realNs);
        case TLMSIM_IOCTL_ADD_FAULT: {
            if (in == nullptr || inLength != sizeof(TlmSimFault)) return kStatusInvalidParameter;
            TlmSimFault f;
            CopyBytes(&f, in, sizeof f);
            if (f.kind < TLMSIM_FAULT_FAIL || f.kind > TLMSIM_FAULT_REPLY) return kStatusInvalidParameter;
            Fault fault = {f.kind, f.request, f.code, f.status, f.value};
            return DriverAddFault(driver, fault) ? kStatusSuccess : kStatusInsufficientResources;
        }
        case TLMSIM_IOCTL_CLEAR_FAULTS: DriverClearFaults(driver); return kStatusSuccess;
        case TLMSIM_IOCTL_READ_TRACE: return ReadTrace(driver, in, inLength, out, outLength, returned, false);
        case TLMSIM_IOCTL_READ_BOARD_TRACE: return ReadTrace(driver, in, inLength, out, outLength, returned, true);
        case TLMSIM_IOCTL_RESET_TRACE: DriverResetTrace(driver); return kStatusSuccess;
        case TLMSIM_IOCTL_GET_STATE: {
            if (out == nullptr || outLength < sizeof(TlmSimState)) return kStatusBufferTooSmall;
            TlmSimState s;
            SimControlState(driver, clock, realNs, &s);
            CopyBytes(out, &s, sizeof s);
            *returned = sizeof s;
            return kStatusSuccess;
        }
        case TLMSIM_IOCTL_FORCE_INPUT: {
            TlmSimForceInput r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr || r.force > kInputReleased) return kStatusInvalidParameter;
            return BoardForceInput(board, r.axis, r.input, static_cast<uint8_t>(r.force), now)
                       ? kStatusSuccess
                       : kStatusInvalidParameter;
        }
        case TLMSIM_IOCTL_SET_SENSORS: {
            TlmSimSetSensors r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr) return kStatusInvalidParameter;
            AxisSensors a = {};
            CopySensors(r, &a);
            return BoardSetSensors(board, r.axis, &a, now) ? kStatusSuccess : kStatusInvalidParameter;
        }
        case TLMSIM_IOCTL_SET_MACHINE_POSITION: {
            TlmSimMachinePosition r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr) return kStatusInvalidParameter;
            return BoardSetMachinePosition(board, r.axis, r.position, now) ? kStatusSuccess : kStatusInvalidParameter;
        }
        case TLMSIM_IOCTL_GET_MACHINE_POSITION: {
            TlmSimAxisRef r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr || r.axis >= board->config.axes) return kStatusInvalidParameter;
            if (out == nullptr || outLength < sizeof(int64_t)) return kStatusBufferTooSmall;
            int64_t position = BoardMachinePosition(board, r.axis, now);
            CopyBytes(out, &position, sizeof position);
            *returned = sizeof position;
            return kStatusSuccess;
        }
        case TLMSIM_IOCTL_GET_SENSORS: {
            TlmSimAxisRef r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr || r.axis >= board->config.axes) return kStatusInvalidParameter;
            if (out == nullptr || outLength < sizeof(TlmSimSetSensors)) return kStatusBufferTooSmall;
            const AxisSensors& a = board->config.sensors[r.axis];
            TlmSimSetSensors s = {};
            s.managementNumber = r.managementNumber;
            s.axis = r.axis;
            CopySensors(a, &s);
            CopyBytes(out, &s, sizeof s);
            *returned = sizeof s;
            return kStatusSuccess;
        }
        case TLMSIM_IOCTL_FORCE_CMP: {
            TlmSimForceCmp r;
            Board* board = BoardOf(driver, in, inLength, &r);
            if (board == nullptr || r.on > 1) return kStatusInvalidParameter;
            BoardForceCmpStatus(board, r.on != 0, now);
            return kStatusSuccess;
        }
        default: return kStatusInvalidDeviceRequest;
    }
}

}  // namespace tlmsim
