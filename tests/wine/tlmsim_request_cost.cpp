// The cost of one request through tlmsim.sys: timed status reads through tellamio.dll
// (one IOCTL_READ_BYTE each), raw DeviceIoControl reads, and enumeration calls (open, one
// request, close). Prints microseconds per call; fails only when a call fails.
//   tlmsim_request_cost [count]   (default 10000)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "sim_client.h"
#include "tellamio.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER freq) {
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(freq.QuadPart);
}

void Report(const char* what, int n, double s) {
    printf("%-44s %6d calls  %8.3f s  %8.1f us/call  %9.0f calls/s\n", what, n, s, s * 1e6 / n, n / s);
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? atoi(argv[1]) : 10000;
    if (n <= 0) n = 10000;
    tlmwin::SimDriver sim;
    if (sim.Open() != 0 || sim.Reset() != 0) {
        printf("tlmsim.sys does not answer (error %lu)\n", sim.Open());
        return 1;
    }
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    TLMIO_HANDLE h = tlmio_OpenDevice(&d);
    if (h == TLMIO_INVALID_HANDLE) {
        printf("open failed, error %lu\n", GetLastError());
        return 1;
    }
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    int failures = 0;

    for (int round = 0; round < 2; ++round) {
        QueryPerformanceCounter(&t0);
        for (int i = 0; i < n; ++i) {
            BYTE status;
            if (!tlmio_status1Read(h, static_cast<WORD>(i % 6), &status)) ++failures;
        }
        QueryPerformanceCounter(&t1);
        Report("tlmio_status1Read (1 request)", n, Seconds(t0, t1, freq));
    }

    HANDLE raw = CreateFileA("\\\\.\\TLMDRV0", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    if (raw == INVALID_HANDLE_VALUE || !DeviceIoControl(raw, SELECT_BOARD, &d, sizeof d, nullptr, 0, &got, nullptr)) {
        printf("raw open or select failed, error %lu\n", GetLastError());
        return 1;
    }
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < n; ++i) {
        DWORD port = 0x80, got = 0;
        BYTE value;
        if (!DeviceIoControl(raw, READ_BYTE, &port, 4, &value, 1, &got, nullptr) || got != 1) ++failures;
    }
    QueryPerformanceCounter(&t1);
    Report("DeviceIoControl READ_BYTE", n, Seconds(t0, t1, freq));
    CloseHandle(raw);

    QueryPerformanceCounter(&t0);
    for (int i = 0; i < n; ++i) {
        DWORD value;
        if (!tlmio_regRead(h, static_cast<WORD>(i % 6), 0x89, &value)) ++failures;
    }
    QueryPerformanceCounter(&t1);
    Report("tlmio_regRead (3 requests)", n, Seconds(t0, t1, freq));

    int m = n / 10 > 0 ? n / 10 : 1;
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < m; ++i)
        if (tlmio_GetDeviceCount(1) != 1) ++failures;
    QueryPerformanceCounter(&t1);
    Report("tlmio_GetDeviceCount (open, 1 request, close)", m, Seconds(t0, t1, freq));

    tlmio_CloseDevice(h);
    printf("failed calls: %d\n", failures);
    return failures == 0 ? 0 : 1;
}
