// tlmsim.sys under Wine, reached with CreateFileA and DeviceIoControl as any program would:
// its devices follow the simulated boards, every request completes at once with the model's
// answer, failures reach the caller as last-error values, and the private requests steer
// the model without showing in the request trace.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "sim_client.h"

using tlmwin::Sent;
using tlmwin::SimDriver;

namespace {

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    explicit Handle(const char* name, DWORD flags = 0) {
        h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) error = GetLastError();
    }
    ~Handle() { Close(); }
    void Close() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

// One request; 0 or the last-error value.
DWORD Ioctl(HANDLE h, uint32_t code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
    *returned = 0xDEADBEEF;
    return DeviceIoControl(h, code, const_cast<void*>(in), inLength, out, outLength, returned, nullptr)
               ? 0
               : GetLastError();
}

DWORD WriteByte(HANDLE h, uint32_t port, uint32_t value) {
    uint32_t in[2] = {port, value};
    DWORD got;
    return Ioctl(h, WRITE_BYTE, in, sizeof in, nullptr, 0, &got);
}

DWORD WriteWord(HANDLE h, uint32_t port, uint32_t value) {
    uint32_t in[2] = {port, value};
    DWORD got;
    return Ioctl(h, WRITE_WORD, in, sizeof in, nullptr, 0, &got);
}

DWORD ReadByte(HANDLE h, uint32_t port, uint8_t* value) {
    DWORD got;
    DWORD e = Ioctl(h, READ_BYTE, &port, sizeof port, value, 1, &got);
    if (e == 0 && got != 1) return 0xFFFF0000 | got;
    return e;
}

DWORD ReadWord(HANDLE h, uint32_t port, uint16_t* value) {
    DWORD got;
    DWORD e = Ioctl(h, READ_WORD, &port, sizeof port, value, 2, &got);
    if (e == 0 && got != 2) return 0xFFFF0000 | got;
    return e;
}

// Selects the board the device belongs to, with its enumeration record.
DWORD Select(HANDLE h, const TlmSimBoardConfig& c) {
    int32_t info[6] = {c.info.BusNumber, c.info.DeviceNumber,     c.info.IoAddress,
                       c.info.IrqNumber, c.info.ManagementNumber, c.info.BoardId};
    DWORD got;
    return Ioctl(h, SELECT_BOARD, info, sizeof info, nullptr, 0, &got);
}

// A 32-bit register through the axis' command port and data word.
DWORD WriteRegister(HANDLE h, uint32_t axis, uint32_t reg, uint32_t value) {
    uint32_t base = axis * 16;
    if (DWORD e = WriteWord(h, base + 4, value & 0xFFFF)) return e;
    if (DWORD e = WriteWord(h, base + 6, value >> 16)) return e;
    return WriteByte(h, base, 0xC0 + reg);
}

DWORD ReadRegister(HANDLE h, uint32_t axis, uint32_t reg, uint32_t* value) {
    uint32_t base = axis * 16;
    uint16_t lo = 0, hi = 0;
    if (DWORD e = WriteByte(h, base, 0x80 + reg)) return e;
    if (DWORD e = ReadWord(h, base + 4, &lo)) return e;
    if (DWORD e = ReadWord(h, base + 6, &hi)) return e;
    *value = (static_cast<uint32_t>(hi) << 16) | lo;
    return 0;
}

std::string DeviceName(int32_t managementNumber) { return "\\\\.\\TLMDRV" + std::to_string(managementNumber); }

class TlmsimDriver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, sim.Open()) << "control device \\\\.\\TLMDRV does not open: is tlmsim.sys running?";
        ASSERT_EQ(0u, sim.Reset());
    }
    void TearDown() override {
        sim.ClearFaults();
        sim.RunClock();
    }
    SimDriver sim;
};

// ---------------------------------------------------------------------------------------
// Devices

struct DeviceCase {
    const char* what;
    std::vector<int32_t> boards;   // management numbers configured
    std::vector<int32_t> present;  // TLMDRV<n> that must open
    std::vector<int32_t> absent;   // TLMDRV<n> that must fail with ERROR_FILE_NOT_FOUND
};

TEST_F(TlmsimDriver, PerBoardDevicesFollowTheConfiguredBoards) {
    const DeviceCase cases[] = {
        {"no configuration: one board 0", {}, {0}, {1}},
        {"boards 3 and 7", {3, 7}, {3, 7}, {0, 1, 4}},
        {"no board at all", {-1}, {}, {0, 3, 7}},
        {"board 0 again after its removal", {0, 12}, {0, 12}, {3, 7}},
    };
    for (const DeviceCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.boards.empty()) {
            std::vector<TlmSimBoardConfig> boards;
            for (int32_t n : c.boards)
                if (n >= 0) boards.push_back(TestBoard(n, n & 15));
            ASSERT_EQ(0u, sim.SetBoards(boards));
        }
        for (int32_t n : c.present) {
            Handle d(DeviceName(n).c_str());
            EXPECT_TRUE(d.ok()) << DeviceName(n) << " expected to open, got error " << d.error;
        }
        for (int32_t n : c.absent) {
            Handle d(DeviceName(n).c_str());
            EXPECT_FALSE(d.ok()) << DeviceName(n) << " expected not to exist, but it opened";
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), d.error) << DeviceName(n);
        }
        Handle control("\\\\.\\TLMDRV");
        EXPECT_TRUE(control.ok()) << "control device, error " << control.error;
        Handle vxd("\\\\.\\TELLAMIO.VXD");
        EXPECT_TRUE(vxd.ok()) << "Windows 9x device, error " << vxd.error;
    }
}

// The Windows 9x form of the open (access 0, no sharing, creation disposition 0,
// delete-on-close and overlapped) is how a dynamic VxD is loaded. An NT-family system, Wine
// included, refuses creation disposition 0 with ERROR_INVALID_PARAMETER before any driver
// sees the request; the device itself answers an ordinary open.
TEST_F(TlmsimDriver, TheWindows9xDeviceAnswersOrdinaryOpensOnly) {
    HANDLE h =
        CreateFileA("\\\\.\\TELLAMIO.VXD", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OVERLAPPED, nullptr);
    DWORD error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), error) << "the Windows 9x form of the open";
    TlmSimState s;
    ASSERT_EQ(0u, sim.State(&s));
    EXPECT_EQ(0u, s.openVxd);

    Handle vxd("\\\\.\\TELLAMIO.VXD", FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(vxd.ok()) << "error " << vxd.error;
    uint32_t count = 0;
    DWORD got;
    EXPECT_EQ(0u, Ioctl(vxd.h, GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got));
    EXPECT_EQ(1u, count);
    ASSERT_EQ(0u, sim.State(&s));
    EXPECT_EQ(1u, s.openVxd);
}

TEST_F(TlmsimDriver, AHandleOnARemovedBoardFailsItsRequestsAndStillCloses) {
    Handle board(DeviceName(0).c_str());
    ASSERT_TRUE(board.ok()) << board.error;
    std::vector<TlmSimBoardConfig> boards;
    ASSERT_EQ(0u, sim.GetBoards(&boards));
    ASSERT_EQ(1u, boards.size());
    ASSERT_EQ(0u, Select(board.h, boards[0]));

    ASSERT_EQ(0u, sim.SetBoards({TestBoard(5, 5)}));
    uint8_t value = 0x5A;
    DWORD e = ReadByte(board.h, 0x9C, &value);
    EXPECT_NE(0u, e) << "a read on the removed board's handle succeeded";
    EXPECT_EQ(0x5A, value) << "the failed read wrote its output";
    Handle again(DeviceName(0).c_str());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), again.error);

    board.Close();
    TlmSimState s;
    ASSERT_EQ(0u, sim.State(&s));
    EXPECT_EQ(0u, s.openBoard) << "handles on board devices after the close";

    ASSERT_EQ(0u, sim.SetBoards({TestBoard(0, 9)}));
    Handle back(DeviceName(0).c_str());
    EXPECT_TRUE(back.ok()) << "TLMDRV0 after board 0 came back, error " << back.error;
}

TEST_F(TlmsimDriver, CountsOpenHandlesByDevice) {
    struct Step {
        const char* what;
        int control, board, vxd;  // handles to hold open besides the client's own
    };
    const Step steps[] = {{"nothing", 0, 0, 0},
                          {"two board handles", 0, 2, 0},
                          {"one of each", 1, 1, 1},
                          {"three control handles", 3, 0, 0}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        std::vector<Handle*> held;
        for (int i = 0; i < step.control; ++i) held.push_back(new Handle("\\\\.\\TLMDRV"));
        for (int i = 0; i < step.board; ++i) held.push_back(new Handle("\\\\.\\TLMDRV0"));
        for (int i = 0; i < step.vxd; ++i) held.push_back(new Handle("\\\\.\\TELLAMIO.VXD"));
        for (Handle* h : held) EXPECT_TRUE(h->ok()) << h->error;
        TlmSimState s;
        ASSERT_EQ(0u, sim.State(&s));
        EXPECT_EQ(static_cast<uint32_t>(1 + step.control), s.openControl);
        EXPECT_EQ(static_cast<uint32_t>(step.board), s.openBoard);
        EXPECT_EQ(static_cast<uint32_t>(step.vxd), s.openVxd);
        EXPECT_EQ(s.openControl + s.openBoard + s.openVxd, s.openFiles);
        for (Handle* h : held) delete h;
        ASSERT_EQ(0u, sim.State(&s));
        EXPECT_EQ(1u, s.openFiles) << "after closing them only the client's handle is open";
    }
}

// ---------------------------------------------------------------------------------------
// Requests

TEST_F(TlmsimDriver, EnumerationRequestsAnswerTheConfiguredBoards) {
    std::vector<TlmSimBoardConfig> boards = {TestBoard(2, 7), TestBoard(0, 3, 4), TestBoard(9, 7)};
    ASSERT_EQ(0u, sim.SetBoards(boards));
    Handle control("\\\\.\\TLMDRV", FILE_FLAG_OVERLAPPED);  // as the library opens it
    ASSERT_TRUE(control.ok()) << control.error;

    uint32_t count = 0;
    DWORD got;
    ASSERT_EQ(0u, Ioctl(control.h, GET_DEVICE_COUNT, nullptr, 0, &count, 4, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(3u, count);

    uint32_t n = 3;
    uint8_t reply[4 + 24 * 3];
    memset(reply, 0xEE, sizeof reply);
    ASSERT_EQ(0u, Ioctl(control.h, GET_DEVICE_INFO, &n, 4, reply, sizeof reply, &got));
    EXPECT_EQ(sizeof reply, got);
    uint32_t listed;
    memcpy(&listed, reply, 4);
    ASSERT_EQ(3u, listed);
    for (size_t i = 0; i < boards.size(); ++i) {
        int32_t rec[6];
        memcpy(rec, reply + 4 + 24 * i, 24);
        const TlmSimBoardConfig& b = boards[i];
        const int32_t want[6] = {b.info.BusNumber, b.info.DeviceNumber,     b.info.IoAddress,
                                 b.info.IrqNumber, b.info.ManagementNumber, b.info.BoardId};
        for (int f = 0; f < 6; ++f) EXPECT_EQ(want[f], rec[f]) << "record " << i << " field " << f;
    }
}

TEST_F(TlmsimDriver, PrivateRequestsStayOutOfTheTraceAndBoardRequestsAreTraced) {
    std::vector<TlmSimBoardConfig> boards;
    ASSERT_EQ(0u, sim.GetBoards(&boards));
    Handle board(DeviceName(0).c_str(), FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(board.ok()) << board.error;
    ASSERT_EQ(0u, sim.ResetTrace());

    ASSERT_EQ(0u, Select(board.h, boards[0]));
    TlmSimState s;
    ASSERT_EQ(0u, sim.State(&s));  // private: not traced
    ASSERT_EQ(0u, WriteByte(board.h, 0x80, 0x3C));
    uint64_t now;
    ASSERT_EQ(0u, sim.Now(&now));  // private: not traced
    uint8_t elst = 0;
    ASSERT_EQ(0u, ReadByte(board.h, 0x80, &elst));
    EXPECT_EQ(0x3C, elst);
    uint16_t idWord = 0;
    ASSERT_EQ(0u, ReadWord(board.h, 0x9C, &idWord));

    std::vector<TlmSimTraceEntry> trace;
    ASSERT_EQ(0u, sim.Trace(&trace));
    const std::vector<Sent> want = {
        {SELECT_BOARD, 0, 0}, {WRITE_BYTE, 0x80, 0x3C}, {READ_BYTE, 0x80, 0x3C}, {READ_WORD, 0x9C, idWord}};
    std::vector<Sent> sent = tlmwin::SentRequests(trace);
    // The select request's port and value are the model's business; compare its code only.
    ASSERT_EQ(want.size(), sent.size()) << "trace:\n" << tlmwin::Describe(trace);
    EXPECT_EQ(want[0].code, sent[0].code);
    for (size_t i = 1; i < want.size(); ++i)
        EXPECT_TRUE(want[i] == sent[i]) << "request " << i + 1 << " expected\n"
                                        << tlmwin::Describe(std::vector<Sent>{want[i]}) << "got\n"
                                        << tlmwin::Describe(trace);
    for (size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(i + 1, trace[i].seq);
        EXPECT_EQ(0, trace[i].status) << tlmwin::Describe(trace[i]);
    }
    ASSERT_EQ(0u, sim.State(&s));
    EXPECT_EQ(4u, s.requestCount);
}

TEST_F(TlmsimDriver, PrivateRequestsAreRefusedOnBoardDevices) {
    Handle board(DeviceName(0).c_str());
    ASSERT_TRUE(board.ok()) << board.error;
    TlmSimState s;
    DWORD got;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
              Ioctl(board.h, TLMSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof s, &got));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION),
              Ioctl(board.h, TLMSIM_IOCTL_RESET, nullptr, 0, nullptr, 0, &got));
}

struct StatusCase {
    int32_t status;
    DWORD lastError;
};

TEST_F(TlmsimDriver, AnInjectedFailureReachesTheCallerAsItsLastErrorValue) {
    const StatusCase cases[] = {
        {static_cast<int32_t>(0xC0000185), ERROR_IO_DEVICE},            // 1117
        {static_cast<int32_t>(0xC000000D), ERROR_INVALID_PARAMETER},    // 87
        {static_cast<int32_t>(0xC0000010), ERROR_INVALID_FUNCTION},     // 1
        {static_cast<int32_t>(0xC0000023), ERROR_INSUFFICIENT_BUFFER},  // 122
        {static_cast<int32_t>(0xC00000A3), ERROR_NOT_READY},            // 21
        {static_cast<int32_t>(0xC0000001), ERROR_GEN_FAILURE},          // 31
        {static_cast<int32_t>(0xC00000B5), ERROR_SEM_TIMEOUT},          // 121
        {static_cast<int32_t>(0xE0000001), 0xE0000001},                 // customer code as it stands
    };
    std::vector<TlmSimBoardConfig> boards;
    ASSERT_EQ(0u, sim.GetBoards(&boards));
    Handle board(DeviceName(0).c_str(), FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(board.ok()) << board.error;
    ASSERT_EQ(0u, Select(board.h, boards[0]));
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << static_cast<uint32_t>(c.status));
        ASSERT_EQ(0u, sim.ClearFaults());
        ASSERT_EQ(0u, sim.FailRequests(READ_BYTE, c.status));
        uint8_t value = 0xA5;
        EXPECT_EQ(c.lastError, ReadByte(board.h, 0x9C, &value));
        EXPECT_EQ(0xA5, value) << "a failed read changed its output";
        EXPECT_EQ(0u, WriteByte(board.h, 0x88, 0x10)) << "a write, not hit by the fault";
    }
    ASSERT_EQ(0u, sim.ClearFaults());
    uint8_t value = 0;
    EXPECT_EQ(0u, ReadByte(board.h, 0x9C, &value)) << "after the faults were cleared";
}

// ---------------------------------------------------------------------------------------
// Clock

TEST_F(TlmsimDriver, AFrozenClockMovesAnAxisOnlyWhenAdvanced) {
    std::vector<TlmSimBoardConfig> boards;
    ASSERT_EQ(0u, sim.GetBoards(&boards));
    Handle board(DeviceName(0).c_str());
    ASSERT_TRUE(board.ok()) << board.error;
    ASSERT_EQ(0u, Select(board.h, boards[0]));
    ASSERT_EQ(0u, sim.FreezeClock());

    const uint32_t axis = 1;
    ASSERT_EQ(0u, WriteRegister(board.h, axis, 1, 1000));    // FL 1000 pps
    ASSERT_EQ(0u, WriteRegister(board.h, axis, 0, 500));     // preset 500 pulses
    ASSERT_EQ(0u, WriteByte(board.h, axis * 16 + 1, 0x28));  // + preset feed
    ASSERT_EQ(0u, WriteByte(board.h, axis * 16, 0x10));      // start at FL

    struct Check {
        uint64_t advanceMs;
        int32_t minPosition, maxPosition;
        bool operating;
    };
    const Check checks[] = {
        {0, 0, 1, true}, {100, 99, 101, true}, {0, 99, 101, true}, {150, 249, 251, true}, {1000, 500, 500, false}};
    uint64_t elapsed = 0;
    for (const Check& c : checks) {
        ASSERT_EQ(0u, sim.Advance(c.advanceMs * 1000000));
        elapsed += c.advanceMs;
        SCOPED_TRACE(testing::Message() << elapsed << " ms after the start");
        uint32_t position = 0;
        ASSERT_EQ(0u, ReadRegister(board.h, axis, 9, &position));
        EXPECT_GE(static_cast<int32_t>(position), c.minPosition);
        EXPECT_LE(static_cast<int32_t>(position), c.maxPosition);
        uint8_t status1 = 0;
        ASSERT_EQ(0u, ReadByte(board.h, axis * 16, &status1));
        EXPECT_EQ(c.operating, (status1 & 0x04) != 0) << "status 1 = 0x" << std::hex << int(status1);
    }
    int64_t machine = 0;
    ASSERT_EQ(0u, sim.MachinePosition(0, axis, &machine));
    EXPECT_EQ(500, machine);
}

TEST_F(TlmsimDriver, ClockRequestsReportTheModelsTime) {
    uint64_t t0 = 0, t1 = 0, t2 = 0;
    ASSERT_EQ(0u, sim.FreezeClock());
    ASSERT_EQ(0u, sim.Now(&t0));
    Sleep(30);
    ASSERT_EQ(0u, sim.Now(&t1));
    EXPECT_EQ(t0, t1) << "a frozen clock moved";
    ASSERT_EQ(0u, sim.Advance(123456789));
    ASSERT_EQ(0u, sim.Now(&t2));
    EXPECT_EQ(t0 + 123456789, t2);
    ASSERT_EQ(0u, sim.RunClock());
    Sleep(30);
    uint64_t t3 = 0;
    ASSERT_EQ(0u, sim.Now(&t3));
    EXPECT_GE(t3, t2 + 20000000) << "a running clock did not follow the real time";
    EXPECT_LT(t3, t2 + 5000000000ull) << "a running clock jumped";
}

}  // namespace
