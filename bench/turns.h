// Two ways of doing the same work, timed as a ratio that a busy machine does not move: short
// batches of each take turns in one process, and the medians over the turns are reported.
#ifndef TELLAM_BENCH_TURNS_H
#define TELLAM_BENCH_TURNS_H

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <vector>

namespace bench {

inline double NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e9 + ts.tv_nsec;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Medians {
    double baseNs;    // per call of the base batch
    double theirsNs;  // per call of the batch compared with it
    double ratio;     // of the per-turn ratios theirs / base
};

// base and theirs: bool(double* nsPerCall), false when a call failed. afterTurn runs after each
// turn (to empty a trace, say). False when a batch failed.
template <class Base, class Theirs, class AfterTurn>
bool TakeTurns(int turns, Base base, Theirs theirs, AfterTurn afterTurn, Medians* out) {
    std::vector<double> baseNs, theirsNs, ratios;
    double warm;
    base(&warm);
    theirs(&warm);
    for (int turn = 0; turn < turns; ++turn) {
        double b = 0, t = 0;
        // Which goes first changes every turn, so neither gains from the other's warm-up.
        bool ok = turn % 2 ? theirs(&t) && base(&b) : base(&b) && theirs(&t);
        if (!ok) return false;
        baseNs.push_back(b);
        theirsNs.push_back(t);
        ratios.push_back(t / b);
        afterTurn();
    }
    *out = {Median(baseNs), Median(theirsNs), Median(ratios)};
    return true;
}

// Argument i of the command line as a count, or `fallback` when it is missing or not one.
inline int CountArgument(int argc, char** argv, int i, int fallback) {
    int n = argc > i ? atoi(argv[i]) : 0;
    return n >= 1 ? n : fallback;
}

}  // namespace bench

#endif
