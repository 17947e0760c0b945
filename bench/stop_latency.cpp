// How long a stop takes to reach the board while other threads use the same axis: axis X jogs
// at FL, one thread waits on it (tlmmotion_Wait, a poll every 10 ms) and another polls it with
// tlmmotion_GetStatus as fast as it can; then tlmmotion_Stop(immediate) is timed, on the native
// simulated library. A stop waits for the axis lock, so its latency is the requests of the
// calls that hold the axis before it.
//
// The stop's byte goes out before tlmmotion_Stop returns, so its entry-to-return time is an
// upper bound of the time to the driver; the trace gives the other measure: how many requests
// the driver answered between the last one before the stop's entry and the stop byte. Each
// round also times a stop with the other threads parked, for comparison.
//   stop_latency [rounds]   (default 2000; about 12 ms a round)
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tellam_controller.h"
#include "tellam_protocol.h"
#include "tellamio_motion.h"
#include "tellamio_sim.h"
#include "motion_board.h"
#include "turns.h"

namespace {

constexpr DWORD kWaitTimeoutMs = 5000;
// The requests of one tlmmotion_GetStatus: status 1, status 2, and three register reads of a
// command byte and two data words each. A stop behind more than these waited for more than
// the one call in flight.
constexpr double kStatusRequests = 11;

// The two other threads, started by the main thread round by round: both run from the round's
// start until the axis stands (the waiter's wait ends, the poller sees it), or the poller is
// told to stop.
struct Workers {
    TLMMOTION motion;
    std::mutex mu;
    std::condition_variable cv;
    int round = 0;  // the round the threads may run in
    bool quit = false;
    std::atomic<bool> polling{false};
    std::atomic<bool> pollerBusy{false};  // the poller is polling the round's move
    std::atomic<int> waiterIn{0};         // the round whose wait the waiter is about to call
    int pollerParked = 0;                 // the last round the poller finished
    int waiterDone = 0;                   // the last round whose wait ended
    BOOL waitOk = FALSE;
    LONG waitReason = 0;
    bool pollFailed = false;

    // The round the threads may run in next, or 0 to end.
    int NextRound(int seen) {
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return quit || round > seen; });
        return quit ? 0 : round;
    }

    void Poller() {
        for (int r = 0; (r = NextRound(r)) != 0;) {
            // Until the axis stands: a poll or two after the stop byte, however late the
            // main thread is told, so that the trace still holds that byte.
            bool failed = false, moving = true;
            pollerBusy.store(true, std::memory_order_release);
            while (moving && !failed && polling.load(std::memory_order_acquire)) {
                TLMMOTION_STATUS status;
                failed = !tlmmotion_GetStatus(motion, 0, &status);
                moving = !failed && status.moving;
            }
            pollerBusy.store(false, std::memory_order_release);
            std::lock_guard<std::mutex> lock(mu);
            pollFailed |= failed;
            pollerParked = r;
            cv.notify_all();
        }
    }

    void Waiter() {
        for (int r = 0; (r = NextRound(r)) != 0;) {
            LONG position = 0, reason = 0;
            waiterIn.store(r, std::memory_order_release);
            BOOL ok = tlmmotion_Wait(motion, 0, kWaitTimeoutMs, &position, &reason);
            std::lock_guard<std::mutex> lock(mu);
            waitOk = ok;
            waitReason = reason;
            waiterDone = r;
            cv.notify_all();
        }
    }

    void Start(int r) {
        std::lock_guard<std::mutex> lock(mu);
        polling.store(true, std::memory_order_release);
        round = r;
        cv.notify_all();
    }

    // Parks the poller and waits for the waiter's wait to end; false when either failed.
    bool Finish(int r) {
        polling.store(false, std::memory_order_release);
        std::unique_lock<std::mutex> lock(mu);
        cv.wait(lock, [&] { return pollerParked == r && waiterDone == r; });
        return !pollFailed && waitOk && waitReason == TLMMOTION_STOPPED;
    }

    void End() {
        std::lock_guard<std::mutex> lock(mu);
        quit = true;
        cv.notify_all();
    }
};

DWORD RequestCount() {
    TlmSimState state;
    return tlmsim_GetState(&state) == 0 ? state.requestCount : 0;
}

// The request number of the stop byte of axis X after request `after`, or 0.
DWORD StopByteSeq(DWORD after) {
    static std::vector<TlmSimBoardTraceEntry> entries(4096);
    for (DWORD first = after + 1;;) {
        DWORD count = 0;
        // The trace keeps the newest requests only, from the oldest it holds if that is later.
        if (tlmsim_ReadTrace(first, entries.data(), (DWORD)entries.size(), &count) != 0 || count == 0) return 0;
        for (DWORD i = 0; i < count; ++i) {
            const TlmSimTraceEntry& e = entries[i].entry;
            if (e.code == IOCTL_WRITE_BYTE && e.port == TLM_AXIS_PORT(0, TLM_PORT_COMMAND) &&
                e.value == TLM_CMD_IMMEDIATE_STOP && entries[i].board == 0)
                return e.seq;
        }
        first = entries[count - 1].entry.seq + 1;
    }
}

struct Sample {
    double us;        // tlmmotion_Stop, entry to return
    DWORD before;     // the last request number before its entry
    double requests;  // the requests between that one and the stop byte
};

// One timed stop of the jogging axis.
bool TimedStop(TLMMOTION motion, Sample* out) {
    DWORD before = RequestCount();
    double t0 = bench::NowNs();
    BOOL ok = tlmmotion_Stop(motion, 0, TRUE);
    double t1 = bench::NowNs();
    if (!ok) return false;
    out->us = (t1 - t0) / 1000.0;
    out->before = before;
    return true;
}

// Read once the other threads are parked.
bool CountRequestsAhead(Sample* s) {
    DWORD stop = StopByteSeq(s->before);
    if (stop == 0) return false;
    s->requests = stop - s->before - 1;
    return true;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    size_t rank = (size_t)ceil(p * v.size());
    return v[rank > 0 ? rank - 1 : 0];
}

double Max(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

void Row(const char* what, const std::vector<double>& v, const char* format) {
    char median[32], p99[32], worst[32];
    snprintf(median, sizeof median, format, bench::Median(v));
    snprintf(p99, sizeof p99, format, Percentile(v, 0.99));
    snprintf(worst, sizeof worst, format, Max(v));
    printf("%-44s %9s %9s %9s\n", what, median, p99, worst);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = bench::CountArgument(argc, argv, 1, 2000);
    TLMIO_HANDLE board;
    TLMMOTION motion;
    if (!bench::OpenMotionBoard(&board, &motion)) return 1;
    if (!tlmmotion_Init(motion, 0) || !tlmmotion_SetSpeeds(motion, 0, 1000, 5000, 0.1)) {
        printf("axis X setup failed, error %u\n", GetLastError());
        return 1;
    }
    Workers workers;
    workers.motion = motion;
    std::thread poller([&] { workers.Poller(); });
    std::thread waiter([&] { workers.Waiter(); });
    srand(1);

    std::vector<double> aloneUs, aloneRequests, busyUs, busyRequests;
    const char* failure = NULL;
    for (int r = 1; r <= rounds && failure == NULL; ++r) {
        // Back and forth, a few pulses each, far from the limits.
        LONG direction = r % 2 ? 1 : -1;
        tlmsim_ResetTrace();

        // The stop with nobody else on the axis.
        Sample alone;
        LONG position, reason;
        if (!tlmmotion_Jog(motion, 0, direction, FALSE))
            failure = "jog";
        else if (!TimedStop(motion, &alone) || !CountRequestsAhead(&alone))
            failure = "stop alone";
        else if (!tlmmotion_Wait(motion, 0, kWaitTimeoutMs, &position, &reason) || reason != TLMMOTION_STOPPED)
            failure = "wait after the stop alone";
        if (failure != NULL) break;

        // The stop while the waiter and the poller use the axis: somewhere in the waiter's
        // 10 ms between polls, a different place each round.
        Sample busy;
        if (!tlmmotion_Jog(motion, 0, -direction, FALSE)) {
            failure = "jog";
            break;
        }
        workers.Start(r);
        while (workers.waiterIn.load(std::memory_order_acquire) != r) std::this_thread::yield();
        timespec pause = {0, 1000000L + (rand() % 10000) * 1000L};
        nanosleep(&pause, NULL);
        bool polled = workers.pollerBusy.load(std::memory_order_acquire);
        bool stopped = TimedStop(motion, &busy);
        if (!workers.Finish(r))
            failure = "the waiter or the poller";
        else if (!polled)
            failure = "the poller (done before the stop)";
        else if (!stopped || !CountRequestsAhead(&busy))
            failure = "stop";
        if (failure != NULL) break;

        aloneUs.push_back(alone.us);
        aloneRequests.push_back(alone.requests);
        busyUs.push_back(busy.us);
        busyRequests.push_back(busy.requests);
    }
    workers.End();
    poller.join();
    waiter.join();
    if (failure != NULL) {
        printf("round %zu: %s failed, error %u\n", busyUs.size() + 1, failure, GetLastError());
        return 1;
    }

    printf("tlmmotion_Stop(X, immediate), %d rounds: axis X jogging at FL\n", rounds);
    printf("%-44s %9s %9s %9s\n", "", "median", "p99", "max");
    Row("waiter + poller: entry to return (us)", busyUs, "%.1f");
    Row("waiter + poller: requests ahead of the stop", busyRequests, "%.0f");
    Row("alone: entry to return (us)", aloneUs, "%.1f");
    Row("alone: requests ahead of the stop", aloneRequests, "%.0f");
    size_t behindMore =
        std::count_if(busyRequests.begin(), busyRequests.end(), [](double n) { return n > kStatusRequests; });
    printf("stops behind more than one status call's %.0f requests: %zu of %zu (%.1f%%)\n", kStatusRequests, behindMore,
           busyRequests.size(), 100.0 * behindMore / busyRequests.size());
    tlmmotion_Close(motion);
    tlmio_CloseDevice(board);
    return 0;
}
