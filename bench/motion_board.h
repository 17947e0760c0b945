// Board 0 of the native simulated library, fresh, opened with tellamio and the motion library
// for the motion benchmarks.
#ifndef TELLAM_BENCH_MOTION_BOARD_H
#define TELLAM_BENCH_MOTION_BOARD_H

#include <stdio.h>

#include "tellamio_motion.h"
#include "tellamio_sim.h"

namespace bench {

// False, with the error printed, when the board or the motion handle does not open.
inline bool OpenMotionBoard(TLMIO_HANDLE* board, TLMMOTION* motion) {
    tlmsim_Reset();
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    *board = tlmio_OpenDevice(&d);
    if (*board != TLMIO_INVALID_HANDLE && tlmmotion_Open(*board, motion)) return true;
    printf("open failed, error %u\n", (unsigned)GetLastError());
    return false;
}

}  // namespace bench

#endif
