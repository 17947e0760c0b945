// Simulated time on the native simulated library, through the motion library:
// 1. a session of ten moves of 100,000 pulses (FL 500, FH 5000, 0.2 s ramps), there and back
//    (the board's limits are nearer than a million), each waited for with tlmmotion_Wait, in
//    virtual time: its wall time against the simulated time it took;
// 2. how far a ramped move in scaled time departs from the same move stepped by hand, by the
//    position read at known simulated times (bracketed by a clock read before and after it).
//   virtual_time [moves]   (default 10)
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "motion_board.h"
#include "turns.h"

namespace {

constexpr WORD X = 0;
constexpr LONG kFl = 500, kFh = 5000;
constexpr double kRamp = 0.2;
constexpr LONG kSessionPulses = 100000;
constexpr LONG kRampPulses = 20000;

ULONGLONG SimNs() {
    ULONGLONG ns = 0;
    BOOL frozen = FALSE;
    tlmsim_ClockNow(&ns, &frozen);
    return ns;
}

LONG Position(TLMMOTION motion) {
    TLMMOTION_STATUS s = {};
    tlmmotion_GetStatus(motion, X, &s);
    return s.position;
}

bool Session(TLMMOTION motion, int moves) {
    tlmsim_ClockVirtual();
    ULONGLONG simStart = SimNs();
    double wallStart = bench::NowNs();
    for (int i = 0; i < moves; ++i) {
        LONG position = 0, reason = 0;
        LONG pulses = i % 2 ? -kSessionPulses : kSessionPulses;
        if (!tlmmotion_MoveBy(motion, X, pulses, TRUE) || !tlmmotion_Wait(motion, X, 120000, &position, &reason) ||
            reason != TLMMOTION_ARRIVED || position != (i % 2 ? 0 : kSessionPulses)) {
            printf("move %d: reason %ld, position %ld, error %u\n", i, (long)reason, (long)position,
                   (unsigned)GetLastError());
            return false;
        }
    }
    double wallS = (bench::NowNs() - wallStart) / 1e9;
    double simS = (SimNs() - simStart) / 1e9;
    tlmsim_ClockRun();
    printf("virtual time: %d moves of %ld pulses, %.1f s of motion in %.3f s: %.0f times as fast\n", moves,
           (long)kSessionPulses, simS, wallS, simS / wallS);
    return true;
}

// The position every millisecond of the move, on a clock stepped by hand.
std::vector<LONG> SteppedMove(TLMMOTION motion) {
    std::vector<LONG> at;
    tlmsim_ClockFreeze();
    LONG start = Position(motion);
    tlmmotion_MoveBy(motion, X, kRampPulses, TRUE);
    for (LONG p = 0; p < kRampPulses; tlmsim_ClockAdvance(1000000)) at.push_back(p = Position(motion) - start);
    at.push_back(kRampPulses);
    LONG position = 0, reason = 0;
    tlmmotion_Wait(motion, X, 1000, &position, &reason);
    tlmsim_ClockRun();
    return at;
}

// The largest distance, in pulses, of a position read in scaled time from the stepped move's
// positions between the clock reads around it.
void ScaledMove(TLMMOTION motion, double scale, const std::vector<LONG>& stepped) {
    tlmsim_ClockScale(scale);
    LONG start = Position(motion);
    // The start goes out somewhere inside MoveBy: the bracket of a read runs from its first
    // clock read less MoveBy's end to its second clock read less MoveBy's beginning.
    ULONGLONG callStart = SimNs();
    tlmmotion_MoveBy(motion, X, kRampPulses, TRUE);
    ULONGLONG callEnd = SimNs();
    LONG worst = 0, samples = 0;
    for (LONG p = 0; p < kRampPulses; ++samples) {
        ULONGLONG before = SimNs() - callEnd;
        p = Position(motion) - start;
        ULONGLONG after = SimNs() - callStart;
        size_t low = before / 1000000, high = after / 1000000 + 1;
        LONG lowest = stepped[low < stepped.size() ? low : stepped.size() - 1];
        LONG highest = stepped[high < stepped.size() ? high : stepped.size() - 1];
        LONG off = p < lowest ? lowest - p : p > highest ? p - highest : 0;
        if (off > worst) worst = off;
    }
    LONG position = 0, reason = 0;
    tlmmotion_Wait(motion, X, 10000, &position, &reason);
    tlmsim_ClockRun();
    printf("scale %g: %ld positions read during the move, at most %ld pulses from the stepped move (the start "
           "within %.2f ms)\n",
           scale, (long)samples, (long)worst, (callEnd - callStart) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    int moves = argc > 1 ? atoi(argv[1]) : 10;
    TLMIO_HANDLE board;
    TLMMOTION motion;
    if (moves < 1 || !bench::OpenMotionBoard(&board, &motion)) return 1;
    if (!tlmmotion_Init(motion, X) || !tlmmotion_SetSpeeds(motion, X, kFl, kFh, kRamp)) return 1;
    if (!Session(motion, moves)) return 1;
    std::vector<LONG> stepped = SteppedMove(motion);
    printf("the stepped move: %zu ms\n", stepped.size() - 1);
    for (double scale : {1.0, 10.0, 100.0, 1000.0}) ScaledMove(motion, scale, stepped);
    tlmmotion_Close(motion);
    tlmio_CloseDevice(board);
    return 0;
}
