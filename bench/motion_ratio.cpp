// What the motion library costs on top of tellamio's exports: a status poll
// (tlmmotion_GetStatus) against the same five exports called directly, in alternating
// batches on the native simulated library, as the median of the per-turn ratios.
//   motion_ratio [turns] [polls per batch]   (default 41, 2000)
#include <stdio.h>
#include <stdlib.h>

#include "tellamio_motion.h"
#include "tellamio_sim.h"
#include "motion_board.h"
#include "turns.h"

namespace {

bool RawBatch(TLMIO_HANDLE board, int polls, double* ns) {
    bool ok = true;
    double t0 = bench::NowNs();
    for (int i = 0; i < polls; ++i) {
        BYTE status1, status2;
        DWORD position, speed, inputs;
        ok &= tlmio_status1Read(board, 0, &status1) && tlmio_status2Read(board, 0, &status2) &&
              tlmio_regRead(board, 0, 0x89, &position) && tlmio_regRead(board, 0, 0x8C, &speed) &&
              tlmio_regRead(board, 0, 0x8E, &inputs);
    }
    *ns = (bench::NowNs() - t0) / polls;
    return ok;
}

bool MotionBatch(TLMMOTION motion, int polls, double* ns) {
    bool ok = true;
    double t0 = bench::NowNs();
    for (int i = 0; i < polls; ++i) {
        TLMMOTION_STATUS status;
        ok &= tlmmotion_GetStatus(motion, 0, &status) != 0;
    }
    *ns = (bench::NowNs() - t0) / polls;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int turns = bench::CountArgument(argc, argv, 1, 41);
    int polls = bench::CountArgument(argc, argv, 2, 2000);
    TLMIO_HANDLE board;
    TLMMOTION motion;
    if (!bench::OpenMotionBoard(&board, &motion)) return 1;
    bench::Medians m;
    if (!bench::TakeTurns(
            turns, [&](double* ns) { return RawBatch(board, polls, ns); },
            [&](double* ns) { return MotionBatch(motion, polls, ns); }, [] { tlmsim_ResetTrace(); }, &m)) {
        printf("a call failed\n");
        return 1;
    }
    printf("%-34s %9s %9s %7s  (median of %d turns of %d polls)\n", "case", "exports", "motion", "ratio", turns, polls);
    printf("%-34s %9.1f %9.1f %7.3f\n", "status poll of one axis (ns)", m.baseNs, m.theirsNs, m.ratio);
    tlmmotion_Close(motion);
    tlmio_CloseDevice(board);
    return 0;
}
