// The cost the library adds to a request: tlmio_status1Read and tlmio_regRead against the
// same requests sent straight through the kernel32 stand-in, with 1 and 16 boards open.
// The board used is the first one opened, so the table lookup walks the whole list.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <vector>

#include "standin.h"
#include "tellam_protocol.h"
#include "tellamio.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

struct OpenBoards {
    TLMIO_HANDLE first;
    HANDLE rawDevice;  // the first board's device, opened without the library

    explicit OpenBoards(int count) {
        standin::Reset();
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        std::vector<tlmsim::BoardConfig> configs;
        for (int i = 0; i < count; ++i) configs.push_back(tlmsim::DefaultBoardConfig(i));
        tlmsim::DriverSetBoards(&standin::Driver(), configs.data(), count, 0);
        first = TLMIO_INVALID_HANDLE;
        for (int i = 0; i < count; ++i) {
            DeviceInfo d = {-1, -1, -1, -1, i, -1};
            TLMIO_HANDLE h = tlmio_OpenDevice(&d);
            if (i == 0) first = h;
        }
        char name[32];
        snprintf(name, sizeof name, TLMDRV_BOARD_DEVICE, 0);
        rawDevice =
            CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        DWORD returned;
        DeviceIoControl(rawDevice, IOCTL_SELECT_BOARD, &d, sizeof d, nullptr, 0, &returned, nullptr);
    }
    ~OpenBoards() {
        CloseHandle(rawDevice);
        DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    }
};

void LibraryStatus1Read(benchmark::State& state) {
    OpenBoards boards(static_cast<int>(state.range(0)));
    BYTE status;
    for (auto _ : state) {
        tlmio_status1Read(boards.first, 1, &status);
        benchmark::DoNotOptimize(status);
    }
    tlmsim::DriverResetTrace(&standin::Driver());
}

void BareStatus1Read(benchmark::State& state) {
    OpenBoards boards(static_cast<int>(state.range(0)));
    BYTE status;
    DWORD port = 0x10, returned;
    for (auto _ : state) {
        DeviceIoControl(boards.rawDevice, IOCTL_READ_BYTE, &port, sizeof port, &status, 1, &returned, nullptr);
        benchmark::DoNotOptimize(status);
    }
}

void LibraryRegRead(benchmark::State& state) {
    OpenBoards boards(static_cast<int>(state.range(0)));
    DWORD value;
    for (auto _ : state) {
        tlmio_regRead(boards.first, 1, 0x89, &value);
        benchmark::DoNotOptimize(value);
    }
}

void BareRegRead(benchmark::State& state) {
    OpenBoards boards(static_cast<int>(state.range(0)));
    DWORD returned;
    for (auto _ : state) {
        DWORD command[2] = {0x10, 0x89};
        DWORD low = 0x14, high = 0x16;
        WORD lo = 0, hi = 0;
        DeviceIoControl(boards.rawDevice, IOCTL_WRITE_BYTE, command, sizeof command, nullptr, 0, &returned, nullptr);
        DeviceIoControl(boards.rawDevice, IOCTL_READ_WORD, &low, sizeof low, &lo, 2, &returned, nullptr);
        DeviceIoControl(boards.rawDevice, IOCTL_READ_WORD, &high, sizeof high, &hi, 2, &returned, nullptr);
        DWORD value = (DWORD(hi) << 16) | lo;
        benchmark::DoNotOptimize(value);
    }
}

BENCHMARK(BareStatus1Read)->Arg(1)->Arg(16);
BENCHMARK(LibraryStatus1Read)->Arg(1)->Arg(16);
BENCHMARK(BareRegRead)->Arg(1)->Arg(16);
BENCHMARK(LibraryRegRead)->Arg(1)->Arg(16);

}  // namespace

BENCHMARK_MAIN();
