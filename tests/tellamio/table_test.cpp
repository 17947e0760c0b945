// Board handles: their form, index reuse, lookup keys, double opens, close and detach.
#include <atomic>
#include <thread>

#include "fixture.h"

namespace {

using TableTest = LibraryTest;

TLMIO_HANDLE OpenByManagement(LONG management) {
    DeviceInfo d = {-1, -1, -1, -1, management, -1};
    return tlmio_OpenDevice(&d);
}

TLMIO_HANDLE OpenById(LONG management, LONG boardId) {
    DeviceInfo d = {-1, -1, -1, -1, management, boardId};
    return tlmio_OpenDeviceID(&d);
}

// The management number of the board a handle reaches, read through its board ID port.
int BoardReachedBy(TLMIO_HANDLE h) {
    BYTE id = 0xEE;
    if (!tlmio_boardIDRead(h, &id)) return -1;
    return id;
}

TEST_F(TableTest, FirstHandlesOfAProcess) {
    SetBoards({Board(0, 1, 1, 1, 0, 3), Board(0, 2, 2, 2, 1, 3)});
    EXPECT_EQ(OpenById(0, 3), 0x00030001u);
    DllMain(nullptr, DLL_PROCESS_DETACH, nullptr);
    DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(OpenByManagement(1), 0xFFFF0001u);
}

TEST_F(TableTest, AClosedBoardsIndexGoesToTheNextBoardOpened) {
    SetBoards({Board(0, 1, 1, 1, 0, 0), Board(0, 2, 2, 2, 1, 1), Board(0, 3, 3, 3, 2, 2)});
    TLMIO_HANDLE first = OpenByManagement(0);
    TLMIO_HANDLE second = OpenByManagement(1);
    EXPECT_EQ(first, 0xFFFF0001u);
    EXPECT_EQ(second, 0xFFFF0002u);
    ASSERT_TRUE(tlmio_CloseDevice(first));
    EXPECT_EQ(OpenById(2, 2), 0x00020001u);
    // The stale handle is not detected: it now reaches the new board.
    EXPECT_EQ(BoardReachedBy(first), 2);
}

TEST_F(TableTest, LookupKeys) {
    SetBoards({Board(0, 1, 1, 1, 0, 0), Board(0, 2, 2, 2, 1, 1), Board(0, 3, 3, 3, 2, 3), Board(0, 4, 4, 4, 3, 3)});
    ASSERT_EQ(OpenById(1, 1), 0x00010001u);  // board with ID 1 at index 1
    ASSERT_EQ(OpenById(2, 3), 0x00030002u);  // first board with ID 3 at index 2
    struct Case {
        TLMIO_HANDLE key;
        int reached;  // board ID read through the key, -1: refused
    } cases[] = {
        {0x00010000, 1},                    // index 0: by board ID half
        {0x00030000, 3},  {0x12340001, 1},  // an index answers whatever the high half
        {0x00030003, -1},                   // no board of index 3
        {0x00050000, -1},                   // no board with ID half 5
        {0x00000000, -1},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(BoardReachedBy(c.key), c.reached) << std::hex << "key 0x" << c.key;
        if (c.reached < 0) EXPECT_EQ(GetLastError(), static_cast<DWORD>(LIBERR_HANDLE)) << std::hex << c.key;
    }
}

TEST_F(TableTest, IndexZeroKeyFindsTheNewestBoardWithThatIdHalf) {
    SetBoards({Board(0, 1, 1, 1, 0, 3), Board(0, 2, 2, 2, 1, 3)});
    auto boardReached = [this](TLMIO_HANDLE key) {
        ForgetRequests();
        BYTE status;
        EXPECT_TRUE(tlmio_status1Read(key, 0, &status));
        const tlmsim::TraceEntry* t = tlmsim::DriverTraceEntry(&standin::Driver(), 1);
        return t ? standin::Driver().files[t->file].board : -1;
    };
    ASSERT_EQ(OpenById(0, 3), 0x00030001u);
    EXPECT_EQ(boardReached(0x00030000), 0);
    ASSERT_EQ(OpenById(1, 3), 0x00030002u);
    EXPECT_EQ(boardReached(0x00030000), 1) << "the same key now means the board opened since";
    ASSERT_TRUE(tlmio_CloseDevice(0x00030002));
    EXPECT_EQ(boardReached(0x00030000), 0) << "and the older one again once that is closed";
}

TEST_F(TableTest, ABoardOpenTwiceIsRefused) {
    SetBoards({Board(0, 1, 0x300, 5, 0, 3), Board(0, 2, 0x400, 5, 1, 4)});
    struct Case {
        const char* what;
        bool windows9x;
        DeviceInfo first, second;
        bool refused;
    } cases[] = {
        {"same management number", false, {-1, -1, -1, -1, 0, -1}, {-1, -1, -1, -1, 0, 3}, true},
        {"same board id", false, {-1, -1, -1, -1, -1, 3}, {-1, -1, -1, -1, -1, 3}, true},
        {"same io address and irq", false, {-1, -1, 0x300, 5, -1, -1}, {0, 1, 0x300, 5, -1, -1}, true},
        {"same bus and device", false, {0, 2, -1, -1, -1, -1}, {0, 2, -1, -1, -1, -1}, true},
        {"other management number", false, {-1, -1, -1, -1, 0, 3}, {-1, -1, -1, -1, 1, 3}, false},
        // On Windows 9x the management number names no device, so it is no key either.
        {"9x: same management number, other bus", true, {0, 1, -1, -1, 0, -1}, {0, 9, -1, -1, 0, -1}, false},
        {"9x: same board id", true, {-1, -1, -1, -1, 0, 3}, {-1, -1, -1, -1, 0, 3}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
        standin::SetWindows9x(c.windows9x);
        DeviceInfo first = c.first, second = c.second;
        TLMIO_HANDLE h = tlmio_OpenDeviceID(&first);
        ASSERT_NE(h, TLMIO_INVALID_HANDLE) << GetLastError();
        ForgetRequests();
        size_t opensBefore = standin::CreateFileCalls().size();
        TLMIO_HANDLE again = tlmio_OpenDeviceID(&second);
        if (c.refused) {
            EXPECT_EQ(again, TLMIO_INVALID_HANDLE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(LIBERR_OPEN));
            EXPECT_EQ(standin::CreateFileCalls().size(), opensBefore) << "nothing is opened";
            EXPECT_TRUE(Requests().empty());
            BYTE status;
            EXPECT_TRUE(tlmio_status1Read(h, 0, &status)) << "the first handle keeps working";
        } else {
            EXPECT_NE(again, TLMIO_INVALID_HANDLE) << GetLastError();
        }
    }
}

TEST_F(TableTest, CloseReleasesTheDeviceOnce) {
    TLMIO_HANDLE h = OpenByManagement(0);
    ASSERT_EQ(standin::OpenHandles(), 1u);
    ForgetRequests();
    EXPECT_TRUE(tlmio_CloseDevice(h));
    EXPECT_EQ(standin::OpenHandles(), 0u);
    EXPECT_FALSE(tlmio_CloseDevice(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(LIBERR_HANDLE));
    EXPECT_TRUE(Requests().empty()) << "closing sends no request";
}

TEST_F(TableTest, ProcessDetachClosesEveryOpenBoard) {
    SetBoards({Board(0, 1, 1, 1, 0, 0), Board(0, 2, 2, 2, 1, 1), Board(0, 3, 3, 3, 2, 2)});
    OpenByManagement(0);
    OpenById(1, 1);
    OpenByManagement(2);
    ASSERT_EQ(standin::OpenHandles(), 3u);
    EXPECT_TRUE(DllMain(nullptr, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(standin::OpenHandles(), 0u);
    EXPECT_TRUE(DllMain(nullptr, 2 /* thread attach */, nullptr));
    EXPECT_TRUE(DllMain(nullptr, 3 /* thread detach */, nullptr));
}

// 65535 open boards use every index; the next open fails cleanly and index 0 is never given.
// Index 65535 under the board ID half 0xFFFF would form the failure value, so that pair is
// never given out either.
TEST_F(TableTest, AFullTableRefusesTheNextOpen) {
    standin::SetWindows9x(true);  // one device serves every description
    const DWORD kIndexes = 65534;
    DWORD lastIndex = 0;
    bool allGood = true;
    for (DWORD k = 1; k <= kIndexes && allGood; ++k) {
        DeviceInfo d = {static_cast<LONG>(k), static_cast<LONG>(k), -1, -1, 0, -1};
        TLMIO_HANDLE h = tlmio_OpenDevice(&d);
        allGood = h == (0xFFFF0000u | k);
        lastIndex = h & 0xFFFF;
    }
    ASSERT_TRUE(allGood) << "open stopped at index " << lastIndex;
    struct Case {
        const char* what;
        bool byId;
        LONG boardId;
        TLMIO_HANDLE expected;
    } cases[] = {
        {"OpenDevice: half 0xFFFF", false, -1, TLMIO_INVALID_HANDLE},
        {"OpenDeviceID: board ID 0xFFFF", true, 0xFFFF, TLMIO_INVALID_HANDLE},
        {"OpenDeviceID: board ID -65537, half 0xFFFF", true, -65537, TLMIO_INVALID_HANDLE},
        {"OpenDeviceID: board ID 3 takes the last index", true, 3, 0x0003FFFFu},
        {"OpenDeviceID: no index left", true, 4, TLMIO_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t openBefore = standin::OpenHandles();
        DeviceInfo d = {0, 0, -1, -1, 0, c.boardId};
        SetLastError(0);
        TLMIO_HANDLE h = c.byId ? tlmio_OpenDeviceID(&d) : tlmio_OpenDevice(&d);
        EXPECT_EQ(h, c.expected) << std::hex << "got 0x" << h;
        if (c.expected == TLMIO_INVALID_HANDLE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
            EXPECT_EQ(standin::OpenHandles(), openBefore) << "the refused open's device is closed";
        }
    }
    DeviceInfo extra = {70000, 0, -1, -1, 0, -1};
    ASSERT_TRUE(tlmio_CloseDevice(500));
    EXPECT_EQ(tlmio_OpenDevice(&extra), 0xFFFF0000u | 500);
}

// Port calls of several threads, each on boards of its own, never reach another board:
// through full handles and through index-0 keys (whose ID halves share lookup slots in
// pairs), while every thread switches between its boards call by call, and while one more
// thread opens and closes a board of its own over and over.
TEST_F(TableTest, ConcurrentCallsReachTheirOwnBoards) {
    const int kBoards = 16, kThreads = 8, kRounds = 3000;
    std::vector<tlmsim::BoardConfig> configs;
    for (int i = 0; i < kBoards; ++i) configs.push_back(Board(0, i, 0x100 * i, 5, i, (i % 8) | (i / 8) << 4));
    configs.push_back(Board(0, 16, 0x1000, 5, 16, 0x100));  // the board opened and closed
    SetBoards(configs);
    TLMIO_HANDLE keys[kBoards];
    for (int i = 0; i < kBoards; ++i) {
        TLMIO_HANDLE h = OpenById(i, configs[i].info.BoardId);
        ASSERT_NE(h, TLMIO_INVALID_HANDLE) << "board " << i << ": error " << GetLastError();
        keys[i] = i % 2 ? h : h & 0xFFFF0000u;
    }
    standin::SetSerialized(true);
    ForgetRequests();
    int wrongReads[kThreads] = {};
    std::atomic<int> running(kThreads);
    int churnFailures = 0, churns = 0;
    // The churn ends with the first caller, so that the trace's last requests are the callers'.
    std::thread churn([&] {
        while (running == kThreads) {
            TLMIO_HANDLE h = OpenById(16, 0x100);
            BYTE status;
            if (h != 0x01000011u || !tlmio_status1Read(0x01000000u, 0, &status) || !tlmio_CloseDevice(h))
                ++churnFailures;
            ++churns;
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                int board = round % 2 ? t : t + kThreads;  // boards t and t + 8
                BYTE token = static_cast<BYTE>(board << 4 | (round & 15)), back = 0;
                if (!tlmio_ElstWrite(keys[board], token) || !tlmio_ElstRead(keys[board], &back) || back != token)
                    ++wrongReads[t];
            }
            --running;
        });
    }
    for (std::thread& thread : threads) thread.join();
    churn.join();
    EXPECT_EQ(churnFailures, 0) << "of " << churns << " opens and closes of board 16";
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrongReads[t], 0) << "thread " << t << " read back another value";
    // The trace still holds the last requests: each write went to the board named in its value.
    const tlmsim::Driver& driver = standin::Driver();
    uint32_t first =
        driver.requestCount > tlmsim::kTraceCapacity ? driver.requestCount - tlmsim::kTraceCapacity + 1 : 1;
    int wrongBoard = 0, writes = 0;
    for (uint32_t seq = first; seq <= driver.requestCount; ++seq) {
        const tlmsim::TraceEntry* e = tlmsim::DriverTraceEntry(&driver, seq);
        if (e == nullptr || e->code != WRITE_BYTE) continue;
        ++writes;
        int reached = driver.files[e->file].board;
        if (reached != static_cast<int>(e->value >> 4)) {
            if (wrongBoard++ < 5)
                ADD_FAILURE() << "write of 0x" << std::hex << e->value << " reached board " << reached;
        }
    }
    EXPECT_EQ(wrongBoard, 0) << "of " << writes << " writes in the trace";
    EXPECT_GT(writes, 1000);
}

}  // namespace

namespace {

// A port call racing a close of its board finishes on that board or finds no board. Callers
// address boards 0-3 by their board ID half alone, while one thread per board closes it,
// opens a board of 4-7 (which the system may give the closed device's handle value) and
// opens the first board again. The boards 4-7 are never written by anyone but a stray
// call, so their limit-switch registers must still read 0 at the end.
TEST_F(TableTest, CallsRacingACloseNeverReachAnotherBoard) {
    const int kPairs = 4, kCycles = 3000;
    std::vector<tlmsim::BoardConfig> configs;
    for (int i = 0; i < 2 * kPairs; ++i) configs.push_back(Board(0, i, 0x100 * i, 5, i, 0x10 + i));
    SetBoards(configs);
    standin::SetSerialized(true);
    std::atomic<int> churning(kPairs);
    int wrongErrors[kPairs] = {}, completed[kPairs] = {}, churnFailures[kPairs] = {};
    TLMIO_HANDLE firstOpen[kPairs];
    for (int i = 0; i < kPairs; ++i) ASSERT_NE(firstOpen[i] = OpenById(i, 0x10 + i), TLMIO_INVALID_HANDLE);
    std::vector<std::thread> threads;
    for (int i = 0; i < kPairs; ++i) {
        threads.emplace_back([&, i] {
            const TLMIO_HANDLE key = static_cast<TLMIO_HANDLE>(0x10 + i) << 16;
            for (int round = 0; churning > 0; ++round) {
                if (tlmio_ElstWrite(key, static_cast<BYTE>(0x80 | i << 4 | (round & 15))))
                    ++completed[i];
                else if (GetLastError() != static_cast<DWORD>(LIBERR_HANDLE) && GetLastError() != ERROR_INVALID_HANDLE)
                    ++wrongErrors[i];
            }
        });
        threads.emplace_back([&, i] {
            TLMIO_HANDLE mine = firstOpen[i];
            for (int cycle = 0; cycle < kCycles; ++cycle) {
                TLMIO_HANDLE other;
                if (!tlmio_CloseDevice(mine) ||
                    (other = OpenById(kPairs + i, 0x10 + kPairs + i)) == TLMIO_INVALID_HANDLE ||
                    (mine = OpenById(i, 0x10 + i)) == TLMIO_INVALID_HANDLE || !tlmio_CloseDevice(other))
                    ++churnFailures[i];
                std::this_thread::yield();  // the callers' turn on an open board
            }
            --churning;
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kPairs; ++i) {
        EXPECT_EQ(wrongErrors[i], 0) << "caller " << i << ": failures other than a missing board";
        EXPECT_GT(completed[i], 0) << "caller " << i << " never reached its board";
        EXPECT_EQ(churnFailures[i], 0) << "board " << i;
        TLMIO_HANDLE other = OpenById(kPairs + i, 0x10 + kPairs + i);
        BYTE elst = 0xEE;
        ASSERT_TRUE(tlmio_ElstRead(other, &elst));
        EXPECT_EQ(elst, 0) << "a caller of board " << i << " wrote to board " << kPairs + i;
    }
}

// Two threads opening one board at once: one gets the handle, the other LIBERR_OPEN.
TEST_F(TableTest, TwoOpensOfOneBoardAtOnceGiveOneHandle) {
    standin::SetSerialized(true);
    const int kRounds = 1000;
    int bothOpened = 0, wrongError = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<int> ready(0);
        TLMIO_HANDLE handles[2];
        DWORD errors[2];
        auto open = [&](int t) {
            ++ready;
            while (ready < 2) {
            }
            handles[t] = OpenByManagement(0);
            errors[t] = GetLastError();
        };
        std::thread first(open, 0), second(open, 1);
        first.join();
        second.join();
        int opened = (handles[0] != TLMIO_INVALID_HANDLE) + (handles[1] != TLMIO_INVALID_HANDLE);
        if (opened == 2) ++bothOpened;
        for (int t = 0; t < 2; ++t) {
            if (handles[t] == TLMIO_INVALID_HANDLE && errors[t] != static_cast<DWORD>(LIBERR_OPEN)) ++wrongError;
            if (handles[t] != TLMIO_INVALID_HANDLE) tlmio_CloseDevice(handles[t]);
        }
    }
    EXPECT_EQ(bothOpened, 0) << "of " << kRounds << " rounds";
    EXPECT_EQ(wrongError, 0);
    EXPECT_EQ(standin::OpenHandles(), 0u);
}

}  // namespace
