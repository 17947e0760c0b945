// Board handles: their form, index reuse, lookup keys, double opens, close and detach.
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
TEST_F(TableTest, AFullTableRefusesTheNextOpen) {
    standin::SetWindows9x(true);  // one device serves every description
    const DWORD kIndexes = 65535;
    DWORD lastIndex = 0;
    bool allGood = true;
    for (DWORD k = 1; k <= kIndexes && allGood; ++k) {
        DeviceInfo d = {static_cast<LONG>(k), static_cast<LONG>(k), -1, -1, 0, -1};
        TLMIO_HANDLE h = tlmio_OpenDevice(&d);
        allGood = h == (0xFFFF0000u | k);
        lastIndex = h & 0xFFFF;
    }
    ASSERT_TRUE(allGood) << "open stopped at index " << lastIndex;
    ASSERT_EQ(standin::OpenHandles(), kIndexes);
    DeviceInfo extra = {0, 0, -1, -1, 0, -1};
    EXPECT_EQ(tlmio_OpenDevice(&extra), TLMIO_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(standin::OpenHandles(), kIndexes) << "the refused open's device is closed";
    ASSERT_TRUE(tlmio_CloseDevice(500));
    EXPECT_EQ(tlmio_OpenDevice(&extra), 0xFFFF0000u | 500);
}

}  // namespace
