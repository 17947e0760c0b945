// Device names, CreateFileA arguments, enumeration and opening a described board.
#include <string.h>

#include "fixture.h"

namespace {

const char kControl[] = "\\\\.\\TLMDRV";
const char kVxd[] = "\\\\.\\TELLAMIO.VXD";

using DevicesTest = LibraryTest;

TEST_F(DevicesTest, CountOpensTheControlDeviceForReadingAndClosesIt) {
    EXPECT_EQ(tlmio_GetDeviceCount(1), 1u);
    ASSERT_EQ(standin::CreateFileCalls().size(), 1u);
    const standin::CreateFileCall& c = standin::CreateFileCalls()[0];
    EXPECT_EQ(c.name, kControl);
    EXPECT_EQ(c.access, GENERIC_READ);
    EXPECT_EQ(c.share, FILE_SHARE_READ);
    EXPECT_EQ(c.security, nullptr);
    EXPECT_EQ(c.disposition, OPEN_EXISTING);
    EXPECT_EQ(c.flags, FILE_FLAG_OVERLAPPED);
    EXPECT_EQ(c.templateFile, nullptr);
    EXPECT_EQ(Requests(), (std::vector<Request>{{GET_DEVICE_COUNT, 0, 1}}));
    EXPECT_EQ(standin::OpenHandles(), 0u) << "the control device must be closed again";
}

TEST_F(DevicesTest, Windows9xSendsEveryOpenToTheVxdDevice) {
    standin::SetWindows9x(true);
    SetBoards({Board(1, 8, 0xD000, 11, 0, 3), Board(1, 9, 0xD100, 10, 1, 4)});
    EXPECT_EQ(tlmio_GetDeviceCount(1), 2u);
    DWORD count = 2;
    DeviceInfo info[2];
    EXPECT_TRUE(tlmio_GetDeviceInfo(&count, info));
    DeviceInfo byManagement = {-1, -1, -1, -1, 1, -1};
    TLMIO_HANDLE a = tlmio_OpenDevice(&byManagement);
    DeviceInfo byId = {-1, -1, -1, -1, -1, 3};
    TLMIO_HANDLE b = tlmio_OpenDeviceID(&byId);
    EXPECT_EQ(a, 0xFFFF0001u);
    EXPECT_EQ(b, 0x00030002u);
    ASSERT_EQ(standin::CreateFileCalls().size(), 4u) << "no enumeration behind an open on Windows 9x";
    for (const auto& c : standin::CreateFileCalls()) {
        EXPECT_EQ(c.name, kVxd);
        EXPECT_EQ(c.access, 0u);
        EXPECT_EQ(c.share, 0u);
        EXPECT_EQ(c.disposition, 0u);
        EXPECT_EQ(c.flags, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OVERLAPPED);
    }
    // The selection alone tells the driver which board a handle means.
    BYTE id;
    ASSERT_TRUE(tlmio_boardIDRead(b, &id));
    EXPECT_EQ(id, 3);
    ASSERT_TRUE(tlmio_boardIDRead(a, &id));
    EXPECT_EQ(id, 4);
}

TEST_F(DevicesTest, CountIsZeroWhenTheReplyIsNotFourBytes) {
    ShortReplyToRequest(1, 2);
    SetLastError(0x1234);
    EXPECT_EQ(tlmio_GetDeviceCount(1), 0u);
    EXPECT_EQ(GetLastError(), 0x1234u) << "a short reply leaves the last error alone";
    EXPECT_EQ(standin::OpenHandles(), 0u);
}

TEST_F(DevicesTest, CountFailsWithTheSystemsReason) {
    FailRequest(1);
    EXPECT_EQ(tlmio_GetDeviceCount(1), 0u);
    EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
    EXPECT_EQ(standin::OpenHandles(), 0u);
}

TEST_F(DevicesTest, WithoutADriverCountAndInfoReportNothing) {
    standin::SetDriverLoaded(false);
    EXPECT_EQ(tlmio_GetDeviceCount(1), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    DWORD count = 4;
    DeviceInfo info[4];
    EXPECT_FALSE(tlmio_GetDeviceInfo(&count, info));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(DevicesTest, InfoCopiesTheRecordsInTheDriversOrder) {
    std::vector<tlmsim::BoardConfig> boards = {Board(2, 5, 0xE000, 9, 4, 7), Board(0, 3, 0xD000, 11, 0, 2),
                                               Board(1, 1, 0xC000, 5, 9, 15)};
    SetBoards(boards);
    DWORD count = 5;
    DeviceInfo info[5];
    memset(info, 0xEE, sizeof info);
    ASSERT_TRUE(tlmio_GetDeviceInfo(&count, info));
    ASSERT_EQ(count, 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(memcmp(&info[i], &boards[i].info, sizeof(DeviceInfo)), 0) << "record " << i;
    EXPECT_EQ(info[3].BusNumber, static_cast<LONG>(0xEEEEEEEE)) << "records past the count stay untouched";
    EXPECT_EQ(Requests(), (std::vector<Request>{{GET_DEVICE_INFO, 5, 3}})) << "the room n is sent";
    EXPECT_EQ(standin::OpenHandles(), 0u);
}

TEST_F(DevicesTest, InfoWithRoomForNoRecordStillAsks) {
    DWORD count = 0;
    EXPECT_TRUE(tlmio_GetDeviceInfo(&count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Requests(), (std::vector<Request>{{GET_DEVICE_INFO, 0, 0}}));
}

TEST_F(DevicesTest, InfoNeverStoresMoreRecordsThanTheCallerHasRoomFor) {
    SetBoards({Board(0, 1, 1, 1, 0, 0), Board(0, 2, 2, 2, 1, 1), Board(0, 3, 3, 3, 2, 2)});
    tlmsim::DriverAddFault(&standin::Driver(), tlmsim::Fault{tlmsim::kFaultExtraRecords, 1, 0, 0, 1000});
    DeviceInfo info[3];
    memset(info, 0xEE, sizeof info);
    DWORD count = 2;
    ASSERT_TRUE(tlmio_GetDeviceInfo(&count, info));
    EXPECT_EQ(count, 2u) << "the driver claimed 1002 records";
    EXPECT_EQ(info[1].DeviceNumber, 2);
    EXPECT_EQ(info[2].BusNumber, static_cast<LONG>(0xEEEEEEEE));
}

// A reply cut short hands on only the records that arrived whole.
TEST_F(DevicesTest, InfoStoresOnlyRecordsThatArrivedWhole) {
    struct Case {
        uint32_t returned;  // bytes the driver reports
        DWORD stored;
    } cases[] = {{0, 0}, {3, 0}, {4, 0}, {4 + 23, 0}, {4 + 24, 1}, {4 + 24 + 10, 1}, {4 + 72, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.returned << " bytes returned");
        SetUp();
        SetBoards({Board(0, 1, 1, 1, 0, 0), Board(0, 2, 2, 2, 1, 1), Board(0, 3, 3, 3, 2, 2)});
        ShortReplyToRequest(1, c.returned);
        DeviceInfo info[4];
        memset(info, 0xEE, sizeof info);
        DWORD count = 4;
        EXPECT_TRUE(tlmio_GetDeviceInfo(&count, info)) << "the request itself succeeded";
        EXPECT_EQ(count, c.stored);
        for (DWORD i = 0; i < 4; ++i)
            EXPECT_EQ(info[i].DeviceNumber, i < c.stored ? static_cast<LONG>(i + 1) : static_cast<LONG>(0xEEEEEEEE))
                << "record " << i;
    }
}

// A reply that carries more records than its count says: only the counted ones are handed on.
TEST_F(DevicesTest, InfoStoresNoMoreRecordsThanTheReplyCounts) {
    standin::SetHooks([](const char*, DWORD*) { return true; },
                      [](DWORD, const void*, DWORD, void* out, DWORD outSize, DWORD* returned, DWORD*) {
                          BYTE reply[4 + 3 * sizeof(DeviceInfo)];
                          memset(reply, 0x11, sizeof reply);
                          DWORD counted = 1;
                          memcpy(reply, &counted, sizeof counted);
                          *returned = outSize < sizeof reply ? outSize : sizeof reply;
                          memcpy(out, reply, *returned);
                          return true;
                      });
    DeviceInfo info[3];
    memset(info, 0xEE, sizeof info);
    DWORD count = 3;
    ASSERT_TRUE(tlmio_GetDeviceInfo(&count, info));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(info[0].BusNumber, 0x11111111);
    EXPECT_EQ(info[1].BusNumber, static_cast<LONG>(0xEEEEEEEE)) << "an uncounted record was copied";
}

TEST_F(DevicesTest, InfoFailuresStoreACountOfZeroAndLeaveTheArray) {
    struct Case {
        const char* what;
        bool failRequest;
        bool failMalloc;
        DWORD error;
        size_t expectedOpens;
    } cases[] = {
        {"request fails", true, false, ERROR_IO_DEVICE, 1},
        {"no memory for the reply", false, true, ERROR_NOT_ENOUGH_MEMORY, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.failRequest) FailRequest(1);
        if (c.failMalloc) FailMallocAfter(0);
        DeviceInfo info[2];
        memset(info, 0xEE, sizeof info);
        DWORD count = 2;
        EXPECT_FALSE(tlmio_GetDeviceInfo(&count, info));
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(info[0].BusNumber, static_cast<LONG>(0xEEEEEEEE));
        EXPECT_EQ(standin::CreateFileCalls().size(), c.expectedOpens);
        EXPECT_EQ(standin::OpenHandles(), 0u);
    }
}

// Which device an open picks, by the first rule that applies.
TEST_F(DevicesTest, OpenChoosesTheDeviceByTheFirstRuleThatApplies) {
    // Board 0 and board 2 share I/O address and IRQ; boards 1 and 2 share bus and device.
    const std::vector<tlmsim::BoardConfig> boards = {Board(0, 4, 0xD000, 11, 5, 2), Board(1, 7, 0xD100, 10, 6, 9),
                                                     Board(1, 7, 0xD000, 11, 7, 9)};
    struct Case {
        const char* what;
        DeviceInfo d;
        std::vector<std::string> opened;
    } cases[] = {
        {"management number names the device", {0, 4, 0xD000, 11, 7, 2}, {"\\\\.\\TLMDRV7"}},
        {"board id, first listed", {-1, -1, -1, -1, -1, 9}, {kControl, kControl, "\\\\.\\TLMDRV6"}},
        {"board id before the other fields", {1, 7, 0xD100, 10, -1, 2}, {kControl, kControl, "\\\\.\\TLMDRV5"}},
        {"io address and irq", {1, 7, 0xD000, 11, -1, -1}, {kControl, kControl, "\\\\.\\TLMDRV5"}},
        {"io address alone falls to bus and device",
         {1, 7, 0xD000, -1, -1, -1},
         {kControl, kControl, "\\\\.\\TLMDRV6"}},
        {"irq alone falls to bus and device", {0, 4, -1, 10, -1, -1}, {kControl, kControl, "\\\\.\\TLMDRV5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetBoards(boards);
        DeviceInfo d = c.d;
        TLMIO_HANDLE h = tlmio_OpenDeviceID(&d);
        EXPECT_NE(h, TLMIO_INVALID_HANDLE) << "last error " << GetLastError();
        EXPECT_EQ(OpenedNames(), c.opened);
        EXPECT_EQ(standin::OpenHandles(), 1u) << "only the board's device stays open";
        TearDown();
    }
}

TEST_F(DevicesTest, OpenFailsWhenNoEnumeratedBoardMatches) {
    struct Case {
        const char* what;
        std::vector<tlmsim::BoardConfig> boards;
        int failMallocAfter;  // -1: no failure
        DWORD error;
    } cases[] = {
        {"no board has the id", {Board(0, 4, 0xD000, 11, 0, 2)}, -1, ERROR_FILE_NOT_FOUND},
        {"no boards at all", {}, -1, ERROR_FILE_NOT_FOUND},
        {"no memory for the enumeration", {Board(0, 4, 0xD000, 11, 0, 5)}, 0, ERROR_NOT_ENOUGH_MEMORY},
        {"no memory for the reply", {Board(0, 4, 0xD000, 11, 0, 5)}, 1, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetBoards(c.boards);
        if (c.failMallocAfter >= 0) FailMallocAfter(c.failMallocAfter);
        DeviceInfo d = {-1, -1, -1, -1, -1, 5};
        EXPECT_EQ(tlmio_OpenDeviceID(&d), TLMIO_INVALID_HANDLE);
        EXPECT_EQ(GetLastError(), c.error);
        for (const auto& name : OpenedNames()) EXPECT_EQ(name, kControl) << "no board device may be opened";
        EXPECT_EQ(standin::OpenHandles(), 0u);
        TearDown();
    }
}

// A driver that claims billions of boards makes the open ask for the most PCI can hold, not
// for gigabytes.
DWORD g_roomAsked;
TEST_F(DevicesTest, OpenByEnumerationAsksForNoMoreBoardsThanPciHolds) {
    g_roomAsked = 0;
    standin::SetHooks(nullptr,
                      [](DWORD code, const void* in, DWORD, void* out, DWORD outSize, DWORD* returned, DWORD*) {
                          *returned = outSize;
                          if (code == GET_DEVICE_COUNT) {
                              *static_cast<DWORD*>(out) = 0xFFFFFFF0u;
                          } else if (code == GET_DEVICE_INFO) {
                              g_roomAsked = *static_cast<const DWORD*>(in);
                              DWORD reply[7] = {1, 0, 4, 0xD000, 11, 0, 5};  // one record: management 0, board ID 5
                              memcpy(out, reply, sizeof reply);
                          }
                          return true;
                      });
    DeviceInfo d = {-1, -1, -1, -1, -1, 5};
    EXPECT_EQ(tlmio_OpenDeviceID(&d), 0x00050001u) << "error " << GetLastError();
    EXPECT_EQ(g_roomAsked, 65536u);
}

TEST_F(DevicesTest, OpenDeviceSelectsWithoutBoardIdAndGivesTheDescriptionBack) {
    SetBoards({Board(0, 4, 0xD000, 11, 0, 6), Board(0, 5, 0xD100, 11, 1, 6)});
    DeviceInfo d = {0, 5, -1, -1, -1, 6};
    TLMIO_HANDLE h = tlmio_OpenDevice(&d);
    EXPECT_EQ(h, 0xFFFF0001u);
    EXPECT_EQ(d.BoardId, 6) << "the caller's BoardId is restored";
    EXPECT_EQ(OpenedNames().back(), "\\\\.\\TLMDRV1") << "chosen by bus and device, not by board id";
    EXPECT_EQ(Requests().back(), (Request{SELECT_BOARD, 0xFFFFFFFF, 0xFFFFFFFF})) << "BoardId -1 is selected";

    DeviceInfo missing = {3, 3, -1, -1, -1, 6};
    EXPECT_EQ(tlmio_OpenDevice(&missing), TLMIO_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(missing.BoardId, 6) << "restored after a failure too";
}

TEST_F(DevicesTest, OpenDeviceIdSelectsWithTheCallersDescription) {
    SetBoards({Board(0, 4, 0xD000, 11, 2, 6)});
    DeviceInfo d = {-1, -1, -1, -1, 2, 6};
    EXPECT_EQ(tlmio_OpenDeviceID(&d), 0x00060001u);
    EXPECT_EQ(Requests(), (std::vector<Request>{{SELECT_BOARD, 6, 2}}));
}

TEST_F(DevicesTest, RefusedSelectionClosesTheDevice) {
    FailRequest(1);
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    EXPECT_EQ(tlmio_OpenDevice(&d), TLMIO_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(LIBERR_OPEN));
    EXPECT_EQ(standin::OpenHandles(), 0u);
    EXPECT_EQ(tlmio_OpenDevice(&d), 0xFFFF0001u) << "the table is as before: index 1 is still free";
}

TEST_F(DevicesTest, NoMemoryForTheRecordClosesTheDevice) {
    FailMallocAfter(0);
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    EXPECT_EQ(tlmio_OpenDevice(&d), TLMIO_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(standin::OpenHandles(), 0u);
}

TEST_F(DevicesTest, DeviceThatCannotBeOpenedGivesTheSystemsReason) {
    DeviceInfo d = {-1, -1, -1, -1, 4, -1};  // no board has management number 4
    EXPECT_EQ(tlmio_OpenDevice(&d), TLMIO_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Requests().empty());
}

TEST_F(DevicesTest, NullArgumentsFailWithoutSendingAnything) {
    DWORD count = 1;
    struct Case {
        const char* what;
        bool result;
    } cases[] = {
        {"GetDeviceInfo count", tlmio_GetDeviceInfo(nullptr, nullptr) != FALSE},
        {"GetDeviceInfo array", tlmio_GetDeviceInfo(&count, nullptr) != FALSE},
        {"OpenDeviceID", tlmio_OpenDeviceID(nullptr) != TLMIO_INVALID_HANDLE},
        {"OpenDevice", tlmio_OpenDevice(nullptr) != TLMIO_INVALID_HANDLE},
    };
    for (const Case& c : cases) EXPECT_FALSE(c.result) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(count, 1u) << "the count is left alone";
    EXPECT_TRUE(standin::CreateFileCalls().empty());
    EXPECT_TRUE(Requests().empty());
}

}  // namespace
