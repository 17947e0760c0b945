// The private control requests of tlmsim.sys, decoded by the model on the host: the records of
// tlmsim_control.h in, the driver model's state out. The kernel driver passes the same bytes
// to the same code, so this covers what the Windows tests rely on without Wine.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "sim_control.h"
#include "test_boards.h"

namespace tlmsim {
namespace {

constexpr uint64_t kStart = 5000000000ull;  // the caller's real clock when the driver loads

class SimControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        DriverInit(&driver, files, 16, 0);
        SimClockInit(&clock, kStart);
    }
    int32_t Call(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                 uint64_t real = kStart) {
        changed = false;
        returned = 0xDEAD;
        return SimControlRequest(&driver, &clock, code, in, inLength, out, outLength, &returned, real, &changed);
    }
    int32_t SetBoards(const std::vector<TlmSimBoardConfig>& boards, uint32_t extraBytes = 0) {
        std::vector<uint8_t> in(4 + boards.size() * sizeof(TlmSimBoardConfig) + extraBytes);
        uint32_t n = static_cast<uint32_t>(boards.size());
        memcpy(in.data(), &n, 4);
        if (n) memcpy(in.data() + 4, boards.data(), n * sizeof(TlmSimBoardConfig));
        return Call(TLMSIM_IOCTL_SET_BOARDS, in.data(), static_cast<uint32_t>(in.size()), nullptr, 0);
    }
    uint32_t Open(int32_t device) {
        uint32_t slot = 0;
        EXPECT_EQ(kStatusSuccess, DriverOpen(&driver, device, &slot));
        return slot;
    }
    int32_t Board(uint32_t file, uint32_t code, uint32_t port, uint32_t value, uint8_t* out = nullptr) {
        uint32_t in[2] = {port, value};
        uint8_t buffer[8] = {};
        uint32_t got = 0;
        int32_t s = DriverIoctl(&driver, file, code, in, 8, buffer, sizeof buffer, &got, SimClockNow(&clock, kStart));
        if (out) *out = buffer[0];
        return s;
    }

    Driver driver;
    File files[16];
    SimClock clock;
    uint32_t returned = 0;
    bool changed = false;
};

TEST_F(SimControlTest, OnlyTheDriversOwnFunctionRangeIsPrivate) {
    struct Case {
        uint32_t code;
        bool isPrivate;
    };
    const Case cases[] = {{0x222000, false}, {0x222018, false}, {0x2223FC, false}, {0x222400, true},
                          {0x22243C, true},  {0x222440, false}, {0x222401, false}, {0x226400, false}};
    for (const Case& c : cases) EXPECT_EQ(c.isPrivate, IsSimControlCode(c.code)) << std::hex << "code 0x" << c.code;
}

TEST_F(SimControlTest, BoardRecordsAreCheckedBeforeAnythingChanges) {
    struct Case {
        const char* what;
        std::vector<TlmSimBoardConfig> boards;
        uint32_t extraBytes;
        int32_t status;
    };
    TlmSimBoardConfig fiveAxes = TestBoard(1, 1, 5);
    TlmSimBoardConfig negative = TestBoard(-1, 1);
    TlmSimBoardConfig tooHigh = TestBoard(10000, 1);
    const Case cases[] = {
        {"two boards", {TestBoard(0, 1), TestBoard(3, 2, 4)}, 0, kStatusSuccess},
        {"no board", {}, 0, kStatusSuccess},
        {"five axes", {fiveAxes}, 0, kStatusInvalidParameter},
        {"negative management number", {negative}, 0, kStatusInvalidParameter},
        {"management number 10000", {tooHigh}, 0, kStatusInvalidParameter},
        {"same management number twice", {TestBoard(2, 1), TestBoard(2, 2)}, 0, kStatusInvalidParameter},
        {"record longer than its count", {TestBoard(0, 1)}, 4, kStatusInvalidParameter},
        {"33 boards", std::vector<TlmSimBoardConfig>(33, TestBoard(0, 0)), 0, kStatusInvalidParameter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(kStatusSuccess, SetBoards({TestBoard(7, 7)}));
        EXPECT_EQ(c.status, SetBoards(c.boards, c.extraBytes));
        EXPECT_EQ(c.status == kStatusSuccess, changed);
        uint8_t out[4 + 36 * 32];
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_BOARDS, nullptr, 0, out, sizeof out));
        uint32_t n;
        memcpy(&n, out, 4);
        const std::vector<TlmSimBoardConfig> want =
            c.status == kStatusSuccess ? c.boards : std::vector<TlmSimBoardConfig>{TestBoard(7, 7)};
        ASSERT_EQ(want.size(), n);
        EXPECT_EQ(4 + 36 * n, returned);
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(0, memcmp(&want[i], out + 4 + 36 * i, 36)) << "record " << i;
    }
}

TEST_F(SimControlTest, ConfiguredBoardsAnswerOnTheirPorts) {
    const TlmSimBoardConfig board = TestBoard(4, 0xB, 4);
    ASSERT_EQ(kStatusSuccess, SetBoards({board}));
    uint32_t file = Open(4);
    int32_t info[6] = {-1, -1, -1, -1, 4, -1};
    uint32_t got;
    ASSERT_EQ(kStatusSuccess, DriverIoctl(&driver, file, IOCTL_SELECT_BOARD, info, 24, nullptr, 0, &got, 0));
    uint8_t id = 0, idByte = 0;
    ASSERT_EQ(kStatusSuccess, Board(file, IOCTL_READ_BYTE, 0x9C, 0, &id));
    EXPECT_EQ(board.boardIdHigh | 0xB, id);
    ASSERT_EQ(kStatusSuccess, Board(file, IOCTL_READ_BYTE, 0xC6, 0, &idByte));
    EXPECT_EQ(board.idNumber[3], idByte);
    uint32_t none = 0;
    EXPECT_EQ(kStatusObjectNameNotFound, DriverOpen(&driver, 0, &none)) << "board 0 was replaced";
}

TEST_F(SimControlTest, TheClockFreezesScalesStepsAndRunsOnWithoutGoingBack) {
    struct Step {
        uint32_t op;
        uint64_t value;
        uint64_t realAfter;  // the caller's real clock at this step
        uint64_t wantNow;
        uint32_t wantMode;
        uint32_t wantScale;
    };
    const uint32_t run = TLMSIM_CLOCK_RUNNING, frozen = TLMSIM_CLOCK_FROZEN, stepped = TLMSIM_CLOCK_STEPPED;
    const Step steps[] = {
        {TLMSIM_CLOCK_QUERY, 0, kStart + 100, 100, run, 1000},
        {TLMSIM_CLOCK_FREEZE, 0, kStart + 200, 200, frozen, 1000},
        {TLMSIM_CLOCK_QUERY, 0, kStart + 900, 200, frozen, 1000},
        {TLMSIM_CLOCK_ADVANCE, 50, kStart + 1000, 250, frozen, 1000},
        {TLMSIM_CLOCK_RUN, 0, kStart + 2000, 250, run, 1000},
        {TLMSIM_CLOCK_QUERY, 0, kStart + 2010, 260, run, 1000},
        {TLMSIM_CLOCK_ADVANCE, 1000, kStart + 2020, 1270, run, 1000},
        {TLMSIM_CLOCK_SCALE, 10000, kStart + 2030, 1280, run, 10000},  // ten times as fast
        {TLMSIM_CLOCK_QUERY, 0, kStart + 2130, 2280, run, 10000},
        {TLMSIM_CLOCK_SCALE, 500, kStart + 2230, 3280, run, 500},  // half as fast
        {TLMSIM_CLOCK_QUERY, 0, kStart + 2430, 3380, run, 500},
        {TLMSIM_CLOCK_SCALE, 9, kStart + 2440, 3385, run, 500},  // below 0.01: refused, unchanged
        {TLMSIM_CLOCK_SCALE, 10000001, kStart + 2450, 3390, run, 500},
        {TLMSIM_CLOCK_VIRTUAL, 0, kStart + 2460, 3395, stepped, 500},
        {TLMSIM_CLOCK_QUERY, 0, kStart + 9000, 3395, stepped, 500},
        {TLMSIM_CLOCK_ADVANCE, 5, kStart + 9100, 3400, stepped, 500},
        {TLMSIM_CLOCK_RUN, 0, kStart + 9200, 3400, run, 1000},  // real time from every mode
        {TLMSIM_CLOCK_QUERY, 0, kStart + 9300, 3500, run, 1000},
    };
    int i = 0;
    for (const Step& st : steps) {
        SCOPED_TRACE(testing::Message() << "step " << i++);
        TlmSimClockRequest r = {st.op, 0, st.value};
        TlmSimClockState s = {};
        bool valid = st.op != TLMSIM_CLOCK_SCALE || (st.value >= TLMSIM_SCALE_MIN && st.value <= TLMSIM_SCALE_MAX);
        ASSERT_EQ(valid ? kStatusSuccess : kStatusInvalidParameter,
                  Call(TLMSIM_IOCTL_CLOCK, &r, sizeof r, &s, sizeof s, st.realAfter));
        r = {TLMSIM_CLOCK_QUERY, 0, 0};
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_CLOCK, &r, sizeof r, &s, sizeof s, st.realAfter));
        EXPECT_EQ(st.wantNow, s.nowNs);
        EXPECT_EQ(st.wantMode, s.mode);
        EXPECT_EQ(st.wantScale, s.scale);
    }
    TlmSimClockRequest bad = {9, 0, 0};
    EXPECT_EQ(kStatusInvalidParameter, Call(TLMSIM_IOCTL_CLOCK, &bad, sizeof bad, nullptr, 0));
}

// A day at ten thousand times does not overflow the clock's arithmetic.
TEST_F(SimControlTest, AScaledClockKeepsItsPrecisionOverLongRuns) {
    SimClock clock;
    SimClockInit(&clock, 0);
    ASSERT_EQ(kStatusSuccess, SimClockApply(&clock, TLMSIM_CLOCK_SCALE, TLMSIM_SCALE_MAX, 0));
    const uint64_t day = 86400ull * 1000000000ull;
    EXPECT_EQ(day * 10000, SimClockNow(&clock, day));
    EXPECT_EQ(70000u, SimClockNow(&clock, 7));
}

TEST_F(SimControlTest, TheTraceIsReadInPagesAndPrivateRequestsAreNotInIt) {
    uint32_t control = Open(kDeviceControl);
    for (int i = 0; i < 5; ++i) {
        uint32_t count = 0, got = 0;
        ASSERT_EQ(kStatusSuccess,
                  DriverIoctl(&driver, control, IOCTL_GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got, 0));
    }
    TlmSimState state;
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_STATE, nullptr, 0, &state, sizeof state));
    EXPECT_EQ(5u, state.requestCount) << "a private request was counted";

    struct Page {
        uint32_t first, room;  // room in entries
        uint32_t wantFirst, wantCount;
    };
    const Page pages[] = {{1, 2, 1, 2}, {3, 2, 3, 2}, {5, 2, 5, 1}, {6, 2, 6, 0}, {0, 10, 1, 5}};
    for (const Page& p : pages) {
        SCOPED_TRACE(testing::Message() << "from " << p.first << ", room " << p.room);
        std::vector<uint8_t> out(12 + 28 * p.room);
        ASSERT_EQ(kStatusSuccess,
                  Call(TLMSIM_IOCTL_READ_TRACE, &p.first, 4, out.data(), static_cast<uint32_t>(out.size())));
        TlmSimTraceHeader h;
        memcpy(&h, out.data(), sizeof h);
        EXPECT_EQ(5u, h.requestCount);
        EXPECT_EQ(p.wantFirst, h.first);
        ASSERT_EQ(p.wantCount, h.count);
        EXPECT_EQ(12 + 28 * h.count, returned);
        for (uint32_t i = 0; i < h.count; ++i) {
            TlmSimTraceEntry e;
            memcpy(&e, out.data() + 12 + 28 * i, sizeof e);
            EXPECT_EQ(p.wantFirst + i, e.seq);
            EXPECT_EQ(IOCTL_GET_DEVICE_COUNT, e.code);
            EXPECT_EQ(1u, e.value) << "the count answered";
        }
    }
    uint32_t first = 1;
    uint8_t small[8];
    EXPECT_EQ(kStatusBufferTooSmall, Call(TLMSIM_IOCTL_READ_TRACE, &first, 4, small, sizeof small));
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_RESET_TRACE, nullptr, 0, nullptr, 0));
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_STATE, nullptr, 0, &state, sizeof state));
    EXPECT_EQ(0u, state.requestCount);
}

TEST_F(SimControlTest, TheBoardTraceNamesTheBoardEachRequestAddressed) {
    ASSERT_EQ(kStatusSuccess, SetBoards({TestBoard(0, 1), TestBoard(7, 2)}));
    uint32_t control = Open(kDeviceControl), seven = Open(7), vxd = Open(kDeviceVxd);
    int32_t info[6] = {-1, -1, -1, -1, -1, 2};  // board ID 2: board 7
    uint32_t got = 0, count = 0;
    ASSERT_EQ(kStatusSuccess, DriverIoctl(&driver, control, IOCTL_GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got, 0));
    EXPECT_EQ(kStatusInvalidDeviceRequest, Board(seven, IOCTL_READ_BYTE, 0x9C, 0));
    ASSERT_EQ(kStatusSuccess, DriverIoctl(&driver, vxd, IOCTL_SELECT_BOARD, info, 24, nullptr, 0, &got, 0));
    ASSERT_EQ(kStatusSuccess, Board(vxd, IOCTL_READ_BYTE, 0x9C, 0));
    const int32_t want[] = {-1, 7, 7, 7};
    uint32_t first = 1;
    uint8_t out[12 + 32 * 4];
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_READ_BOARD_TRACE, &first, 4, out, sizeof out));
    ASSERT_EQ(sizeof out, returned);
    for (uint32_t i = 0; i < 4; ++i) {
        TlmSimBoardTraceEntry e;
        memcpy(&e, out + 12 + 32 * i, sizeof e);
        EXPECT_EQ(i + 1, e.entry.seq);
        EXPECT_EQ(want[i], e.board) << "request " << i + 1;
    }
}

TEST_F(SimControlTest, StateCountsOpenFilesByDeviceKind) {
    Open(kDeviceControl);
    Open(kDeviceVxd);
    uint32_t b1 = Open(0);
    Open(0);
    DriverClose(&driver, b1);
    TlmSimState s;
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof s));
    EXPECT_EQ(3u, s.openFiles);
    EXPECT_EQ(1u, s.openControl);
    EXPECT_EQ(1u, s.openVxd);
    EXPECT_EQ(1u, s.openBoard);
    EXPECT_EQ(1u, s.boardCount);
    uint8_t small[16];
    EXPECT_EQ(kStatusBufferTooSmall, Call(TLMSIM_IOCTL_GET_STATE, nullptr, 0, small, sizeof small));
}

TEST_F(SimControlTest, FaultsAreAddedUpToTheModelsLimitAndCleared) {
    TlmSimFault f = {TLMSIM_FAULT_FAIL, 0, IOCTL_GET_DEVICE_COUNT, static_cast<int32_t>(0xC0000185), 0};
    for (uint32_t i = 0; i < kMaxFaults; ++i)
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_ADD_FAULT, &f, sizeof f, nullptr, 0)) << i;
    EXPECT_EQ(kStatusInsufficientResources, Call(TLMSIM_IOCTL_ADD_FAULT, &f, sizeof f, nullptr, 0));
    TlmSimFault badKind = {7, 0, 0, 0, 0};
    EXPECT_EQ(kStatusInvalidParameter, Call(TLMSIM_IOCTL_ADD_FAULT, &badKind, sizeof badKind, nullptr, 0));

    uint32_t control = Open(kDeviceControl);
    uint32_t count = 0, got = 0;
    EXPECT_EQ(static_cast<int32_t>(0xC0000185),
              DriverIoctl(&driver, control, IOCTL_GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got, 0));
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_CLEAR_FAULTS, nullptr, 0, nullptr, 0));
    EXPECT_EQ(kStatusSuccess, DriverIoctl(&driver, control, IOCTL_GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got, 0));
}

TEST_F(SimControlTest, ForcedInputsShowInTheStatusPorts) {
    uint32_t file = Open(0);
    int32_t info[6] = {-1, -1, -1, -1, 0, -1};
    uint32_t got;
    ASSERT_EQ(kStatusSuccess, DriverIoctl(&driver, file, IOCTL_SELECT_BOARD, info, 24, nullptr, 0, &got, 0));
    struct Case {
        uint32_t input, force;
        uint32_t port;  // on axis 2
        uint8_t bit;
        bool active;
    };
    const Case cases[] = {
        {TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_ASSERTED, 0x20, 0x08, true},
        {TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_FOLLOW, 0x20, 0x08, false},
        {TLMSIM_INPUT_OLS, TLMSIM_FORCE_RELEASED, 0x20, 0x80, false},
        {TLMSIM_INPUT_OLS, TLMSIM_FORCE_FOLLOW, 0x20, 0x80, true},  // the carriage stands at 0, in OLS
        {TLMSIM_INPUT_SVALM, TLMSIM_FORCE_ASSERTED, 0x21, 0x02, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input << " force " << c.force);
        TlmSimForceInput r = {0, 2, c.input, c.force};
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_FORCE_INPUT, &r, sizeof r, nullptr, 0));
        uint8_t status = 0;
        ASSERT_EQ(kStatusSuccess, Board(file, IOCTL_READ_BYTE, c.port, 0, &status));
        EXPECT_EQ(c.active, (status & c.bit) != 0) << "status 0x" << std::hex << int(status);
    }
    TlmSimForceInput noBoard = {3, 0, 0, 1}, noAxis = {0, 6, 0, 1}, noInput = {0, 0, 7, 1}, badForce = {0, 0, 0, 3};
    for (const TlmSimForceInput& r : {noBoard, noAxis, noInput, badForce})
        EXPECT_EQ(kStatusInvalidParameter, Call(TLMSIM_IOCTL_FORCE_INPUT, &r, sizeof r, nullptr, 0));
}

TEST_F(SimControlTest, TheCarriageCanBeMovedAndReadBack) {
    TlmSimMachinePosition set = {0, 3, -12345};
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_SET_MACHINE_POSITION, &set, sizeof set, nullptr, 0));
    TlmSimAxisRef ref = {0, 3};
    int64_t position = 0;
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_MACHINE_POSITION, &ref, sizeof ref, &position, sizeof position));
    EXPECT_EQ(-12345, position);
    EXPECT_EQ(8u, returned);
    TlmSimAxisRef bad = {0, 6};
    EXPECT_EQ(kStatusInvalidParameter,
              Call(TLMSIM_IOCTL_GET_MACHINE_POSITION, &bad, sizeof bad, &position, sizeof position));
}

TEST_F(SimControlTest, SensorsAndTheComparatorFollowTheirRequests) {
    uint32_t file = Open(0);
    int32_t info[6] = {-1, -1, -1, -1, 0, -1};
    uint32_t got;
    ASSERT_EQ(kStatusSuccess, DriverIoctl(&driver, file, IOCTL_SELECT_BOARD, info, 24, nullptr, 0, &got, 0));
    TlmSimSetSensors sensors = {};
    sensors.managementNumber = 0;
    sensors.axis = 1;
    sensors.plusEls = {100, 2000000000};
    sensors.minusEls = {1, 0};  // never
    sensors.dls[0] = {1, 0};
    sensors.dls[1] = {1, 0};
    sensors.ols = {-50, -10};
    sensors.zPeriod = 0;
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_SET_SENSORS, &sensors, sizeof sensors, nullptr, 0));
    TlmSimAxisRef ref = {0, 1};
    TlmSimSetSensors back = {};
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_SENSORS, &ref, sizeof ref, &back, sizeof back));
    EXPECT_EQ(sizeof back, returned);
    EXPECT_EQ(0, memcmp(&sensors, &back, sizeof back)) << "the sensors read back differ from those set";
    struct Case {
        int64_t position;
        uint8_t status1;  // of the bits 0x08 +ELS, 0x10 -ELS, 0x80 OLS
    };
    const Case cases[] = {{0, 0x00}, {100, 0x08}, {99, 0x00}, {-20, 0x80}, {-5000000, 0x00}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "carriage at " << c.position);
        TlmSimMachinePosition m = {0, 1, c.position};
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_SET_MACHINE_POSITION, &m, sizeof m, nullptr, 0));
        uint8_t status = 0;
        ASSERT_EQ(kStatusSuccess, Board(file, IOCTL_READ_BYTE, 0x10, 0, &status));
        EXPECT_EQ(c.status1, status & 0x98) << "status 1 = 0x" << std::hex << int(status);
    }
    sensors.axis = 6;
    EXPECT_EQ(kStatusInvalidParameter, Call(TLMSIM_IOCTL_SET_SENSORS, &sensors, sizeof sensors, nullptr, 0));

    for (uint32_t on : {1u, 0u}) {
        TlmSimForceCmp r = {0, on};
        ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_FORCE_CMP, &r, sizeof r, nullptr, 0));
        uint8_t cmp = 0;
        ASSERT_EQ(kStatusSuccess, Board(file, IOCTL_READ_BYTE, 0x88, 0, &cmp));
        EXPECT_EQ(on, cmp & 0x01u) << "comparator forced " << on;
    }
}

TEST_F(SimControlTest, ResetBringsBackOneSixAxisBoardAndKeepsTheClockGoingForward) {
    ASSERT_EQ(kStatusSuccess, SetBoards({TestBoard(3, 1, 4), TestBoard(5, 2)}));
    TlmSimClockRequest adv = {TLMSIM_CLOCK_ADVANCE, 0, 7000};
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_CLOCK, &adv, sizeof adv, nullptr, 0));
    TlmSimClockRequest freeze = {TLMSIM_CLOCK_FREEZE, 0, 0};
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_CLOCK, &freeze, sizeof freeze, nullptr, 0));
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_RESET, nullptr, 0, nullptr, 0, kStart + 100));
    EXPECT_TRUE(changed);
    TlmSimState s;
    ASSERT_EQ(kStatusSuccess, Call(TLMSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof s, kStart + 100));
    EXPECT_EQ(1u, s.boardCount);
    EXPECT_EQ(0u, s.clockFrozen);
    EXPECT_EQ(7000u, s.nowNs);
    ASSERT_NE(nullptr, DriverBoardByManagementNumber(&driver, 0));
    EXPECT_EQ(6, DriverBoardByManagementNumber(&driver, 0)->config.axes);
}

}  // namespace
}  // namespace tlmsim
