// The control codes of the board requests, written down once for the tests and apart from
// the product's own header: what a suite expects to see on the driver protocol.
#pragma once

#include <stdint.h>

enum RequestCode : uint32_t {
    GET_DEVICE_COUNT = 0x222000,
    GET_DEVICE_INFO = 0x222004,
    SELECT_BOARD = 0x222008,
    READ_BYTE = 0x22200C,
    READ_WORD = 0x222010,
    WRITE_BYTE = 0x222014,
    WRITE_WORD = 0x222018,
};
