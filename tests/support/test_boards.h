// The one maker of simulated boards for the tests, native and under Wine.
#pragma once

#include <stdint.h>

#include "tlmsim_control.h"

// A plausible board to start from: six axes unless told, the description and ID numbers
// following from the management number, the board ID its low nibble unless given.
// Out of line on purpose: inlined, i686 g++ 12 at -O2 (tree FRE) dropped most stores of a
// second braced list of boards built in the stack slot of the first, so that list kept the
// first one's boards.
__attribute__((noinline)) inline TlmSimBoardConfig TestBoard(int32_t managementNumber, int32_t boardId = -1,
                                                             uint8_t axes = 6) {
    TlmSimBoardConfig c = {};
    c.info.BusNumber = 1;
    c.info.DeviceNumber = 8 + managementNumber;
    c.info.IoAddress = 0xD000 + 0x100 * managementNumber;
    c.info.IrqNumber = 11;
    c.info.ManagementNumber = managementNumber;
    c.info.BoardId = boardId >= 0 ? boardId : (managementNumber & 0x0F);
    c.axes = axes;
    c.boardIdHigh = 0xA0;
    for (int i = 0; i < 8; ++i) c.idNumber[i] = static_cast<uint8_t>(0x30 + i + managementNumber);
    return c;
}
