// The private control requests of tlmsim.sys (records in tlmsim_control.h), decoded against the
// driver model, and the model's clock that tests may freeze and advance.
//
// Freestanding like driver.h: the kernel driver routes private codes here before the model's
// DriverIoctl, so they never reach the request trace; native tests call it directly.
#pragma once

#include "driver.h"
#include "tlmsim_control.h"

namespace tlmsim {

// The model's time: from an anchor, with the caller's real clock at `scale` thousandths of
// its speed while running, or standing (frozen, or virtual time moved on by ADVANCE only).
struct SimClock {
    uint64_t anchorNs;      // model time at realAnchorNs
    uint64_t realAnchorNs;  // the caller's real time when the mode or the scale last changed
    uint32_t mode;          // TLMSIM_CLOCK_RUNNING, _FROZEN or _STEPPED
    uint32_t scale;         // thousandths (TLMSIM_SCALE_ONE: real time)
};

// Starts the model's time at `modelNs` at real time `realNs`, running with the real time.
void SimClockInit(SimClock* clock, uint64_t realNs, uint64_t modelNs = 0);
uint64_t SimClockNow(const SimClock* clock, uint64_t realNs);
// Applies a clock operation (TLMSIM_CLOCK_*); kStatusInvalidParameter for an unknown one or a
// scale out of range, and the clock then unchanged.
int32_t SimClockApply(SimClock* clock, uint32_t op, uint64_t value, uint64_t realNs);

// True for the private codes (TLMSIM_IOCTL_FIRST..TLMSIM_IOCTL_LAST).
bool IsSimControlCode(uint32_t code);

// Answers one private request. *boardsChanged becomes true when the set of boards (and so of
// per-board devices) may have changed. Same conventions as DriverIoctl, without the trace.
int32_t SimControlRequest(Driver* driver, SimClock* clock, uint32_t code, const void* in, uint32_t inLength, void* out,
                          uint32_t outLength, uint32_t* returned, uint64_t realNs, bool* boardsChanged);

// The Win32 error value that Windows (and Wine) give a caller for an NTSTATUS the model
// answers: what a simulated library leaves in the last-error value.
uint32_t Win32ErrorOfStatus(int32_t status);

// Counts open files by device kind into a TlmSimState (clock and counters filled as well).
void SimControlState(const Driver* driver, const SimClock* clock, uint64_t realNs, TlmSimState* state);

}  // namespace tlmsim
