// What the library costs on top of the bare request, as a ratio that a busy machine does not
// move: short batches of tlmio_status1Read and of the same IOCTL_READ_BYTE sent straight
// through the kernel32 stand-in take turns in one process, and the median of the per-turn
// ratios is reported. Cases: 1 board; 16 boards, calls on the first opened; calls
// alternating between 16 boards (full handles, and board-ID keys as the test program uses).
//   tellamio_ratio [turns] [calls per batch]   (default 41, 4000)
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "standin.h"
#include "tellam_protocol.h"
#include "tellamio.h"
#include "turns.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);

namespace {

constexpr int kMaxBoards = 16;

struct Case {
    const char* name;
    int boards;   // boards open
    int cycle;    // boards the calls go round (1: the first opened only)
    bool idKeys;  // address boards by their ID half (index 0)
};

struct Boards {
    TLMIO_HANDLE keys[kMaxBoards];
    HANDLE raw[kMaxBoards];  // the same boards' devices, opened without the library
    int count;
};

bool OpenBoards(const Case& c, Boards* b) {
    standin::Reset();
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    std::vector<tlmsim::BoardConfig> configs;
    for (int i = 0; i < c.boards; ++i) configs.push_back(tlmsim::DefaultBoardConfig(i));
    tlmsim::DriverSetBoards(&standin::Driver(), configs.data(), c.boards, 0);
    b->count = c.boards;
    for (int i = 0; i < c.boards; ++i) {
        DeviceInfo d = {-1, -1, -1, -1, i, i};
        TLMIO_HANDLE h = tlmio_OpenDeviceID(&d);
        if (h == TLMIO_INVALID_HANDLE) return false;
        b->keys[i] = c.idKeys ? (h & 0xFFFF0000u) : h;
        char name[32];
        snprintf(name, sizeof name, TLMDRV_BOARD_DEVICE, i);
        b->raw[i] =
            CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        DWORD returned;
        if (b->raw[i] == INVALID_HANDLE_VALUE ||
            !DeviceIoControl(b->raw[i], IOCTL_SELECT_BOARD, &d, sizeof d, nullptr, 0, &returned, nullptr))
            return false;
    }
    return true;
}

void CloseBoards(Boards* b) {
    for (int i = 0; i < b->count; ++i) CloseHandle(b->raw[i]);
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
}

// Nanoseconds per call of one batch; false when a call failed.
bool LibraryBatch(const Boards& b, int cycle, int calls, double* ns) {
    BYTE status;
    bool ok = true;
    double t0 = bench::NowNs();
    for (int i = 0, board = 0; i < calls; ++i) {
        ok &= tlmio_status1Read(b.keys[board], 1, &status) != 0;
        if (++board == cycle) board = 0;
    }
    *ns = (bench::NowNs() - t0) / calls;
    return ok;
}

bool BareBatch(const Boards& b, int cycle, int calls, double* ns) {
    BYTE status;
    DWORD port = 0x10, returned;
    bool ok = true;
    double t0 = bench::NowNs();
    for (int i = 0, board = 0; i < calls; ++i) {
        ok &= DeviceIoControl(b.raw[board], IOCTL_READ_BYTE, &port, sizeof port, &status, 1, &returned, nullptr) &&
              returned == 1;
        if (++board == cycle) board = 0;
    }
    *ns = (bench::NowNs() - t0) / calls;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int turns = bench::CountArgument(argc, argv, 1, 41);
    int calls = bench::CountArgument(argc, argv, 2, 4000);
    const Case cases[] = {
        {"1 board", 1, 1, false},
        {"16 boards, the first opened", 16, 1, false},
        {"16 boards, alternating", 16, 16, false},
        {"16 boards, alternating, board-ID keys", 16, 16, true},
    };
    printf("%-40s %9s %9s %7s  (median of %d turns of %d calls)\n", "case", "bare ns", "lib ns", "ratio", turns, calls);
    for (const Case& c : cases) {
        Boards boards;
        if (!OpenBoards(c, &boards)) {
            printf("%s: open failed, error %u\n", c.name, GetLastError());
            return 1;
        }
        bench::Medians m;
        bool ok = bench::TakeTurns(
            turns, [&](double* ns) { return BareBatch(boards, c.cycle, calls, ns); },
            [&](double* ns) { return LibraryBatch(boards, c.cycle, calls, ns); },
            [] { tlmsim::DriverResetTrace(&standin::Driver()); }, &m);
        if (!ok) {
            printf("%s: a request failed\n", c.name);
            return 1;
        }
        printf("%-40s %9.1f %9.1f %7.3f\n", c.name, m.baseNs, m.theirsNs, m.ratio);
        CloseBoards(&boards);
    }
    return 0;
}
