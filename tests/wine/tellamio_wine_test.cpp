// The real 64-bit tellamio.dll against tlmsim.sys under Wine: enumeration, open and close,
// a move of an axis followed through its position register, and request failures made in
// the driver arriving at the caller as last-error values.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "sim_client.h"
#include "tellamio.h"

using tlmwin::Sent;
using tlmwin::SimDriver;

namespace {

DeviceInfo InfoOf(const TlmSimBoardConfig& c) {
    DeviceInfo d = {c.info.BusNumber, c.info.DeviceNumber,     c.info.IoAddress,
                    c.info.IrqNumber, c.info.ManagementNumber, c.info.BoardId};
    return d;
}

class TellamioWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, sim.Open()) << "control device \\\\.\\TLMDRV does not open: is tlmsim.sys running?";
        ASSERT_EQ(0u, sim.Reset());
        boards = {TestBoard(0, 5), TestBoard(1, 2, 4), TestBoard(4, 9)};
        ASSERT_EQ(0u, sim.SetBoards(boards));
    }
    void TearDown() override {
        for (TLMIO_HANDLE h : opened) tlmio_CloseDevice(h);
        sim.ClearFaults();
        sim.RunClock();
    }
    TLMIO_HANDLE Open(const TlmSimBoardConfig& c) {
        DeviceInfo d = InfoOf(c);
        TLMIO_HANDLE h = tlmio_OpenDevice(&d);
        if (h != TLMIO_INVALID_HANDLE) opened.push_back(h);
        return h;
    }
    void Close(TLMIO_HANDLE h) {
        for (size_t i = 0; i < opened.size(); ++i)
            if (opened[i] == h) opened.erase(opened.begin() + i);
        EXPECT_NE(0, tlmio_CloseDevice(h)) << "close, error " << GetLastError();
    }
    TlmSimState State() {
        TlmSimState s = {};
        EXPECT_EQ(0u, sim.State(&s));
        return s;
    }
    SimDriver sim;
    std::vector<TlmSimBoardConfig> boards;
    std::vector<TLMIO_HANDLE> opened;
};

TEST_F(TellamioWine, EnumeratesTheBoardsTheDriverHas) {
    EXPECT_EQ(3u, tlmio_GetDeviceCount(1));
    DeviceInfo info[4];
    memset(info, 0xCC, sizeof info);
    DWORD count = 4;
    ASSERT_NE(0, tlmio_GetDeviceInfo(&count, info)) << "error " << GetLastError();
    ASSERT_EQ(3u, count);
    for (size_t i = 0; i < boards.size(); ++i) {
        DeviceInfo want = InfoOf(boards[i]);
        EXPECT_EQ(0, memcmp(&want, &info[i], sizeof want))
            << "record " << i << ": management number " << info[i].ManagementNumber << ", board ID " << info[i].BoardId
            << "; expected " << want.ManagementNumber << ", " << want.BoardId;
    }
    TlmSimState s = State();
    EXPECT_EQ(1u, s.openFiles) << "the library left driver handles open after enumerating";
}

TEST_F(TellamioWine, OpensABoardByDescriptionAndByBoardIdAndClosesItsDriverHandle) {
    TLMIO_HANDLE byInfo = Open(boards[2]);
    ASSERT_NE(TLMIO_INVALID_HANDLE, byInfo) << "error " << GetLastError();
    EXPECT_EQ(0xFFFFu, byInfo >> 16);
    BYTE id = 0xEE;
    ASSERT_NE(0, tlmio_boardIDRead(byInfo, &id)) << "error " << GetLastError();
    EXPECT_EQ(9, id);

    DeviceInfo byId = {-1, -1, -1, -1, -1, 2};
    TLMIO_HANDLE h = tlmio_OpenDeviceID(&byId);
    ASSERT_NE(TLMIO_INVALID_HANDLE, h) << "error " << GetLastError();
    opened.push_back(h);
    EXPECT_EQ(2u, h >> 16);
    BYTE idNumber[8] = {};
    ASSERT_NE(0, tlmio_IDNumberRead(h, idNumber)) << "error " << GetLastError();
    EXPECT_EQ(0, memcmp(idNumber, boards[1].idNumber, 8)) << "ID number of board 1";

    TlmSimState s = State();
    EXPECT_EQ(2u, s.openBoard) << "driver handles of two open boards";
    Close(byInfo);
    Close(h);
    s = State();
    EXPECT_EQ(0u, s.openBoard) << "driver handles after both closes";
}

TEST_F(TellamioWine, MovesAnAxisAndFollowsItsPositionInRealTime) {
    TLMIO_HANDLE h = Open(boards[0]);
    ASSERT_NE(TLMIO_INVALID_HANDLE, h) << "error " << GetLastError();
    const WORD axis = 2;
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0xC1, 1, 2000));  // FL 2000 pps
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0xC0, 1, 800));   // preset 800 pulses: 0.4 s
    ASSERT_EQ(0u, sim.ResetTrace());
    ASSERT_NE(0, tlmio_DousaWrite(h, axis, 0x28));      // + preset feed
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0x10, 0, 0));  // start at FL

    std::vector<TlmSimTraceEntry> trace;
    ASSERT_EQ(0u, sim.Trace(&trace));
    const std::vector<Sent> want = {{WRITE_BYTE, 0x21, 0x28}, {WRITE_BYTE, 0x20, 0x10}};
    EXPECT_TRUE(want == tlmwin::SentRequests(trace)) << "expected\n"
                                                     << tlmwin::Describe(want) << "got\n"
                                                     << tlmwin::Describe(trace);

    BYTE status = 0;
    ASSERT_NE(0, tlmio_status1Read(h, axis, &status));
    EXPECT_NE(0, status & 0x04) << "status 1 right after the start: 0x" << std::hex << int(status);
    DWORD position = 0;
    std::vector<DWORD> seen;
    DWORD start = GetTickCount();
    while ((status & 0x04) && GetTickCount() - start < 5000) {
        ASSERT_NE(0, tlmio_regRead(h, axis, 0x89, &position)) << "error " << GetLastError();
        if (seen.empty() || seen.back() != position) seen.push_back(position);
        Sleep(10);
        ASSERT_NE(0, tlmio_status1Read(h, axis, &status)) << "error " << GetLastError();
    }
    EXPECT_EQ(0, status & 0x04) << "the axis still runs after 5 s";
    ASSERT_NE(0, tlmio_regRead(h, axis, 0x89, &position));
    EXPECT_EQ(800u, position);
    EXPECT_GE(seen.size(), 3u) << "positions seen on the way: the move was not gradual";
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]) << "position went back";
}

TEST_F(TellamioWine, MovesAnAxisOnAFrozenClockExactly) {
    TLMIO_HANDLE h = Open(boards[0]);
    ASSERT_NE(TLMIO_INVALID_HANDLE, h) << "error " << GetLastError();
    ASSERT_EQ(0u, sim.FreezeClock());
    const WORD axis = 5;
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0xC1, 1, 1000));
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0xC0, 1, 2000));
    ASSERT_NE(0, tlmio_DousaWrite(h, axis, 0x38));  // - preset feed
    ASSERT_NE(0, tlmio_CmdWrite(h, axis, 0x10, 0, 0));
    struct Step {
        uint64_t advanceMs;
        int32_t lo, hi;  // expected position
    };
    const Step steps[] = {{500, -501, -499}, {1000, -1501, -1499}, {1000, -2000, -2000}};
    for (const Step& st : steps) {
        ASSERT_EQ(0u, sim.Advance(st.advanceMs * 1000000));
        DWORD position = 0;
        ASSERT_NE(0, tlmio_regRead(h, axis, 0x89, &position));
        EXPECT_GE(static_cast<int32_t>(position), st.lo);
        EXPECT_LE(static_cast<int32_t>(position), st.hi);
    }
}

struct FailureCase {
    const char* what;
    uint32_t code;    // request that fails
    int32_t status;   // with this NTSTATUS
    DWORD lastError;  // seen by the caller
    int call;         // which export
};

TEST_F(TellamioWine, ADriverFailureReachesTheCallerAsTheRightLastError) {
    const FailureCase cases[] = {
        {"status1Read, device error", READ_BYTE, static_cast<int32_t>(0xC0000185), 1117, 0},
        {"status1Read, not ready", READ_BYTE, static_cast<int32_t>(0xC00000A3), 21, 0},
        {"DousaWrite, invalid parameter", WRITE_BYTE, static_cast<int32_t>(0xC000000D), 87, 1},
        {"regRead, device error on the word read", READ_WORD, static_cast<int32_t>(0xC0000185), 1117, 2},
        {"CmdWrite with data, customer code", WRITE_WORD, static_cast<int32_t>(0xE0000001), 0xE0000001, 3},
        {"ElstRead, unsuccessful", READ_BYTE, static_cast<int32_t>(0xC0000001), 31, 4},
    };
    TLMIO_HANDLE h = Open(boards[0]);
    ASSERT_NE(TLMIO_INVALID_HANDLE, h) << "error " << GetLastError();
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0u, sim.ClearFaults());
        ASSERT_EQ(0u, sim.FailRequests(c.code, c.status));
        SetLastError(0);
        BOOL ok = TRUE;
        BYTE byte = 0x77;
        DWORD word = 0x77777777;
        switch (c.call) {
            case 0: ok = tlmio_status1Read(h, 1, &byte); break;
            case 1: ok = tlmio_DousaWrite(h, 1, 0x28); break;
            case 2: ok = tlmio_regRead(h, 1, 0x89, &word); break;
            case 3: ok = tlmio_CmdWrite(h, 1, 0xC2, 1, 5000); break;
            case 4: ok = tlmio_ElstRead(h, &byte); break;
        }
        DWORD error = GetLastError();
        EXPECT_EQ(0, ok);
        EXPECT_EQ(c.lastError, error) << "last error 0x" << std::hex << error;
        EXPECT_EQ(0x77, byte) << "out-parameter written on failure";
        EXPECT_EQ(0x77777777u, word) << "out-parameter written on failure";
    }
}

TEST_F(TellamioWine, ARefusedSelectionFailsTheOpenAndLeavesNoDriverHandle) {
    ASSERT_EQ(0u, sim.FailRequests(SELECT_BOARD, static_cast<int32_t>(0xC0000185)));
    TLMIO_HANDLE h = Open(boards[1]);
    EXPECT_EQ(TLMIO_INVALID_HANDLE, h);
    EXPECT_EQ(static_cast<DWORD>(LIBERR_OPEN), GetLastError());
    TlmSimState s = State();
    EXPECT_EQ(0u, s.openBoard) << "driver handle left open by a failed open";
}

}  // namespace
