#include "board.h"

// Interface stub: the controller model is being filled in.
namespace tlmsim {

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
    Board zero = {};
    *board = zero;
    board->config = *config;
    board->baseNs = nowNs;
    board->lastNs = nowNs;
}

uint8_t BoardReadByte(Board* board, uint32_t port, uint64_t) {
    if (port == 0x9C) return static_cast<uint8_t>((board->config.boardIdHigh & 0xF0) | (board->config.info.BoardId & 0x0F));
    if (port >= 0xC0 && port < 0xD0 && (port & 1) == 0) return board->config.idNumber[(port - 0xC0) / 2];
    return 0;
}

uint16_t BoardReadWord(Board* board, uint32_t port, uint64_t nowNs) {
    uint8_t lo = BoardReadByte(board, port, nowNs);
    uint8_t hi = port + 1 < kPortCount ? BoardReadByte(board, port + 1, nowNs) : 0xFF;
    return static_cast<uint16_t>(lo | (hi << 8));
}

void BoardWriteByte(Board*, uint32_t, uint8_t, uint64_t) {}

void BoardWriteWord(Board* board, uint32_t port, uint16_t value, uint64_t nowNs) {
    BoardWriteByte(board, port, static_cast<uint8_t>(value), nowNs);
    if (port + 1 < kPortCount) BoardWriteByte(board, port + 1, static_cast<uint8_t>(value >> 8), nowNs);
}

void BoardAdvance(Board*, uint64_t) {}
bool BoardForceInput(Board*, uint32_t, uint32_t, uint8_t, uint64_t) { return false; }
bool BoardSetSensors(Board*, uint32_t, const AxisSensors*, uint64_t) { return false; }
bool BoardSetMachinePosition(Board*, uint32_t, int64_t, uint64_t) { return false; }
void BoardForceCmpStatus(Board*, bool, uint64_t) {}
int64_t BoardMachinePosition(Board*, uint32_t, uint64_t) { return 0; }

}  // namespace tlmsim
