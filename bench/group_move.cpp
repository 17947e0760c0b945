// Coordinated moves on the native simulated library, on a clock stepped by hand in steps of
// 0.1 ms: for pairs of distances, how far apart in time the two axes come to stand (the
// arrival spread), and how far the second axis strays from the straight line between start
// and target, in pulses, at the worst point of the path (the speed registers hold whole
// pulses per second, so the ratio of the two axes' speeds is only approximated).
//   group_move
#include <math.h>
#include <stdio.h>

#include "motion_board.h"
#include "tellam_controller.h"

namespace {

constexpr WORD kAxes[] = {0, 1};
constexpr ULONGLONG kStepNs = 100000;

bool Moving(TLMIO_HANDLE board, WORD axis) {
    BYTE status1 = 0;
    tlmio_status1Read(board, axis, &status1);
    return (status1 & TLM_ST1_OPERATING) != 0;
}

LONG Position(TLMMOTION motion, WORD axis) {
    TLMMOTION_STATUS s = {};
    tlmmotion_GetStatus(motion, axis, &s);
    return s.position;
}

}  // namespace

int main() {
    TLMIO_HANDLE board;
    TLMMOTION motion;
    if (!bench::OpenMotionBoard(&board, &motion)) return 1;
    const struct {
        LONG x, y;
        LONG fl, fh;
        double ramp;
    } moves[] = {
        {10000, 3333, 500, 5000, 0.2},    {10000, 7000, 500, 5000, 0.2}, {20000, -1234, 500, 5000, 0.2},
        {50000, 49999, 500, 5000, 0.5},   {8000, 2000, 1000, 8000, 0.1}, {30000, 77, 500, 5000, 0.2},
        {100000, 33333, 500, 20000, 1.0},
    };
    printf("%8s %8s %5s %6s %5s   %9s %10s %12s\n", "X", "Y", "FL", "FH", "ramp", "move (s)", "spread (ms)",
           "path error");
    int failures = 0;
    for (const auto& m : moves) {
        for (WORD axis : kAxes) tlmmotion_Init(motion, axis);
        tlmmotion_SetSpeeds(motion, kAxes[0], m.fl, m.fh, m.ramp);
        tlmsim_ClockFreeze();
        const LONG targets[] = {m.x, m.y};
        if (!tlmmotion_MoveAxesTo(motion, 2, kAxes, targets, TRUE)) {
            printf("move refused: error %u\n", (unsigned)GetLastError());
            return 1;
        }
        double ended[2] = {-1, -1}, worst = 0;
        for (ULONGLONG t = kStepNs; (ended[0] < 0 || ended[1] < 0) && t < 600000000000ull; t += kStepNs) {
            tlmsim_ClockAdvance(kStepNs);
            double x = Position(motion, kAxes[0]), y = Position(motion, kAxes[1]);
            worst = fmax(worst, fabs(y - x * m.y / m.x));
            for (int i = 0; i < 2; ++i)
                if (ended[i] < 0 && !Moving(board, kAxes[i])) ended[i] = t / 1e6;
        }
        tlmsim_ClockRun();
        LONG positions[2], reasons[2];
        bool arrived = tlmmotion_WaitAxes(motion, 2, kAxes, 1000, positions, reasons) && positions[0] == m.x &&
                       positions[1] == m.y && reasons[0] == TLMMOTION_ARRIVED && reasons[1] == TLMMOTION_ARRIVED;
        failures += !arrived;
        printf("%8ld %8ld %5ld %6ld %5.2f   %9.3f %10.1f %12.1f%s\n", (long)m.x, (long)m.y, (long)m.fl, (long)m.fh,
               m.ramp, ended[0] / 1000.0, fabs(ended[0] - ended[1]), worst, arrived ? "" : "  NOT ARRIVED");
        // Back to 0 for the next pair, unmeasured.
        const LONG home[] = {0, 0};
        tlmsim_ClockVirtual();
        tlmmotion_MoveAxesTo(motion, 2, kAxes, home, TRUE);
        tlmmotion_WaitAxes(motion, 2, kAxes, 600000, positions, reasons);
        tlmsim_ClockRun();
    }
    tlmmotion_Close(motion);
    tlmio_CloseDevice(board);
    return failures == 0 ? 0 : 1;
}
