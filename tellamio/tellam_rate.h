// The acceleration rate register from a ramp time: shared by the test program and the motion
// library, so that both write the same value for the same entries.
#pragma once

#include <windows.h>

// The rate register (3) for ramps of `seconds` between FL and FH pulses per second: one pps
// of speed change per (rate + 1) ticks of the 2457600 Hz reference clock. 0 when FL equals
// FH or the time is too short for the difference.
DWORD ComputeRateValue(double seconds, DWORD fl, DWORD fh);
