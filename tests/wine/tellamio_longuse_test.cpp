// Long use of the real 64-bit tellamio.dll against tlmsim.sys under Wine: many open/close
// cycles, and sixteen boards open at once, leave no handle open in the driver and let
// neither the process' handle count nor its private memory grow.
//   tellamio_longuse_test [--cycles=N]   (default 5000)
#include <windows.h>

#include <gtest/gtest.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "sim_client.h"
#include "tellamio.h"

using tlmwin::SimDriver;

namespace {

int g_cycles = 5000;

// Private memory may move by a few pages as Wine's and the C runtime's heaps settle; a leak
// of one record or buffer per cycle would grow it by hundreds of kilobytes.
constexpr SIZE_T kMemoryTolerance = 64 * 1024;

struct Usage {
    DWORD handles;
    uintptr_t nextHandle;
    SIZE_T privateBytes;
};

// Wine 8 reports a handle count and private usage of 0 (GetProcessHandleCount,
// PrivateUsage), so handles are also watched through the value the next new handle gets
// (the lowest free slot, which climbs when handles leak), and memory through the commit
// charge (PagefileUsage, the same figure on Windows).
Usage ProcessUsage() {
    Usage u = {0, 0, 0};
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    HANDLE probe = CreateEventA(NULL, FALSE, FALSE, NULL);
    u.nextHandle = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    u.privateBytes = counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage : counters.PagefileUsage;
    return u;
}

class LongUse : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, sim.Open()) << "control device \\\\.\\TLMDRV does not open: is tlmsim.sys running?";
        ASSERT_EQ(0u, sim.Reset());
    }
    void TearDown() override { sim.Reset(); }
    // Driver handles besides this client's own control-device handle.
    uint32_t DriverHandles() {
        TlmSimState s = {};
        EXPECT_EQ(0u, sim.State(&s));
        return s.openFiles - 1;
    }
    // The driver keeps no handle, and the process neither handles nor memory, beyond `before`.
    void ExpectNoGrowth(const Usage& before, const char* after) {
        EXPECT_EQ(0u, DriverHandles()) << "driver handles left open after " << after;
        Usage now = ProcessUsage();
        printf("after %s: process handles %lu -> %lu, next handle 0x%zx -> 0x%zx, private bytes %zu -> %zu\n", after,
               before.handles, now.handles, (size_t)before.nextHandle, (size_t)now.nextHandle, before.privateBytes,
               now.privateBytes);
        EXPECT_NE(0u, before.privateBytes) << "no memory figure to compare";
        EXPECT_LE(now.handles, before.handles) << "process handle count after " << after;
        EXPECT_LE(now.nextHandle, before.nextHandle) << "the next handle's value after " << after;
        EXPECT_LE(now.privateBytes, before.privateBytes + kMemoryTolerance) << "private bytes after " << after;
    }
    SimDriver sim;
};

TEST_F(LongUse, OpenCloseCyclesLeaveNothingBehind) {
    ASSERT_EQ(0u, sim.SetBoards({TestBoard(0, 5)}));
    struct Opener {
        const char* name;
        DeviceInfo d;
        bool byId;
        TLMIO_HANDLE handle;  // index 1 every time: a closed board's index is given again
    } openers[] = {
        {"tlmio_OpenDevice by management number", {-1, -1, -1, -1, 0, -1}, false, 0xFFFF0001u},
        {"tlmio_OpenDeviceID by board ID (with enumeration)", {-1, -1, -1, -1, -1, 5}, true, 0x00050001u},
    };
    for (const Opener& o : openers) {
        SCOPED_TRACE(o.name);
        auto cycle = [&o](int* failures) {
            DeviceInfo d = o.d;
            TLMIO_HANDLE h = o.byId ? tlmio_OpenDeviceID(&d) : tlmio_OpenDevice(&d);
            BYTE status;
            if (h != o.handle || !tlmio_status1Read(h, 0, &status) || !tlmio_CloseDevice(h)) {
                if (++*failures <= 3)
                    ADD_FAILURE() << "handle 0x" << std::hex << h << ", expected 0x" << o.handle << ", error 0x"
                                  << GetLastError();
            }
        };
        int failures = 0;
        for (int i = 0; i < 50; ++i) cycle(&failures);  // warm-up: heaps and caches settle
        // and the process' own start-up under Wine, which goes on committing memory for a
        // moment (the simulated library's cycles take microseconds).
        Sleep(500);
        Usage before = ProcessUsage();
        int cycles = o.byId ? g_cycles / 5 : g_cycles;
        for (int i = 0; i < cycles && failures == 0; ++i) cycle(&failures);
        EXPECT_EQ(0, failures);
        ExpectNoGrowth(before, "the cycles");
    }
}

TEST_F(LongUse, SixteenBoardsOpenAtOnceThenClosed) {
    std::vector<TlmSimBoardConfig> boards;
    for (int i = 0; i < 16; ++i) boards.push_back(TestBoard(i, i));
    ASSERT_EQ(0u, sim.SetBoards(boards));
    const int kRounds = g_cycles / 50;
    Usage before = {0, 0};
    for (int round = 0; round <= kRounds; ++round) {
        if (round == 1) before = ProcessUsage();  // after one round as warm-up
        TLMIO_HANDLE handles[16];
        for (int i = 0; i < 16; ++i) {
            DeviceInfo d = {-1, -1, -1, -1, i, i};
            handles[i] = tlmio_OpenDeviceID(&d);
            ASSERT_EQ(static_cast<TLMIO_HANDLE>(i) << 16 | (i + 1), handles[i])
                << "round " << round << ", board " << i << ": error 0x" << std::hex << GetLastError();
        }
        ASSERT_EQ(16u, DriverHandles()) << "round " << round;
        for (int i = 0; i < 16; ++i) {
            BYTE id = 0xEE;
            ASSERT_TRUE(tlmio_boardIDRead(handles[i] & 0xFFFF0000u, &id) && id == i)
                << "round " << round << ": the key of board " << i << " reached board " << int(id);
        }
        for (int i = 15; i >= 0; --i)
            ASSERT_TRUE(tlmio_CloseDevice(handles[i])) << "round " << round << ", board " << i;
    }
    ExpectNoGrowth(before, "the rounds");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        if (strncmp(argv[i], "--cycles=", 9) == 0) g_cycles = atoi(argv[i] + 9);
    return RUN_ALL_TESTS();
}
