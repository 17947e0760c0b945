#include "tellam_rate.h"

#include <math.h>

#include "tellam_controller.h"

DWORD ComputeRateValue(double seconds, DWORD fl, DWORD fh) {
    LONG d = (LONG)fh - (LONG)fl;
    if (d < 0) d = -d;
    if (d == 0) return 0;
    // Each step rounded to double precision, also where the FPU computes wider.
    volatile double x = seconds / (double)d;
    x = x * (double)TLM_CLOCK_HZ;
    x = x - 1.0;
    double value = x;
    if (value - trunc(value) > 0.5) value += 1.0;
    // The register holds 32 bits: a ramp too slow for it takes the slowest it holds, a
    // negative one none.
    if (value < 0.0) return 0;
    if (value >= 4294967296.0) return 0xFFFFFFFFUL;
    return (DWORD)(unsigned long long)value;
}
