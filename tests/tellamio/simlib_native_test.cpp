// The simulated library of the native build (lib/libtellamio.so) through its exports only:
// the boards a board file gives it, one message and no boards for a bad file, the trace file
// a program leaves, and the control functions moving what a program reads. The library
// reads its settings at its first use, so those cases run in a fresh child process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>
#include <sstream>
#include <string>

#include "request_codes.h"
#include "tellamio_sim.h"

namespace {

std::string TempFile(const char* name, const std::string& text) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

std::string Read(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

const char kGoodBoards[] = "[board 3]\nbus = 2\ndevice = 7\nio-address = 0xE300\nirq = 10\nboard-id = 5\naxes = 4\n"
                           "\n[board 4]\nbus = 2\ndevice = 8\nio-address = 0xE400\nirq = 10\nboard-id = 6\naxes = 6\n";

class SimLibraryDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SimLibraryDeathTest, ABoardFileGivesTheBoardsAndABadOneNoneWithOneMessage) {
    struct Case {
        const char* what;
        std::string text;
        int boards;            // what enumeration finds
        const char* stderrRe;  // all the program's error output
    } cases[] = {
        {"no file: one Tellam-6X", "", 1, "^$"},
        {"two boards", kGoodBoards, 2, "^$"},
        {"unknown key", "[board 0]\ncolour = red\n", 0,
         "^tellamio \\(simulated\\): TELLAMIO_SIM_BOARDS: [^\n]*boards.ini:2: unknown key 'colour'; no boards are "
         "simulated\n$"},
        {"five axes", "[board 0]\nbus=1\ndevice=1\nio-address=1\nirq=1\nboard-id=1\naxes=5\n", 0,
         "^tellamio \\(simulated\\): TELLAMIO_SIM_BOARDS: [^\n]*boards.ini:7: axes '5': not 4 or 6; no boards are "
         "simulated\n$"},
        {"missing file", "-", 0,
         "^tellamio \\(simulated\\): TELLAMIO_SIM_BOARDS: board file '/nonexistent/boards.ini': cannot be read; no "
         "boards are simulated\n$"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = c.text == "-" ? "/nonexistent/boards.ini" : TempFile("boards.ini", c.text);
        EXPECT_EXIT(
            {
                if (!c.text.empty()) setenv("TELLAMIO_SIM_BOARDS", path.c_str(), 1);
                exit(static_cast<int>(tlmio_GetDeviceCount(1)));
            },
            ::testing::ExitedWithCode(c.boards), c.stderrRe);
    }
}

// A program's requests, a failed one and a reset of the trace among them.
void SendTracedRequests(const std::string& path) {
    setenv("TELLAMIO_SIM_TRACE", path.c_str(), 1);
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    TLMIO_HANDLE h = tlmio_OpenDevice(&d);
    tlmio_DousaWrite(h, 1, 0x28);
    tlmio_CmdWrite(h, 1, 0xC0, 1, 0x12345);
    tlmsim_AddFault(TLMSIM_FAULT_FAIL, 0, WRITE_BYTE, static_cast<LONG>(0xC0000185), 0);
    tlmio_ElstWrite(h, 0x3F);
    tlmsim_ResetTrace();
    tlmio_INTRst(h);
    exit(0);
}

TEST_F(SimLibraryDeathTest, TheTraceFileShowsEachRequestAsTlmsimctlTraceDoes) {
    std::string path = ::testing::TempDir() + "trace.txt";
    EXPECT_EXIT(SendTracedRequests(path), ::testing::ExitedWithCode(0), "^$");
    const char* expected =
        "    seq  board  request           axis  port                   value                           result\n"
        "      1  0      SELECT_BOARD      -     -                      management number 0, board ID -  ok\n"
        "      2  0      WRITE_BYTE        Y     0x11 operation mode    0x28                            ok\n"
        "      3  0      WRITE_WORD        Y     0x14 data low          0x2345                          ok\n"
        "      4  0      WRITE_WORD        Y     0x16 data high         0x0001                          ok\n"
        "      5  0      WRITE_BYTE        Y     0x10 command           0xC0 write register 0           ok\n"
        "      6  0      WRITE_BYTE        -     0x80 Elst              -                               failed "
        "STATUS_IO_DEVICE_ERROR\n"
        "(trace reset)\n"
        "      1  0      WRITE_BYTE        -     0xBE INTRst            -                               failed "
        "STATUS_IO_DEVICE_ERROR\n";
    EXPECT_EQ(expected, Read(path));
}

// The control functions in one process, on the model a program's calls reach.
class SimLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, tlmsim_Reset());
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        board = tlmio_OpenDevice(&d);
        ASSERT_NE(TLMIO_INVALID_HANDLE, board);
    }
    void TearDown() override {
        tlmio_CloseDevice(board);
        tlmsim_ClearFaults();
        tlmsim_ClockRun();
    }
    TLMIO_HANDLE board = TLMIO_INVALID_HANDLE;
};

TEST_F(SimLibrary, AForcedLimitReadsActiveAndStopsAMoveTowardsIt) {
    BYTE status = 0;
    ASSERT_EQ(0u, tlmsim_SetInput(0, 2, TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_ASSERTED));
    ASSERT_TRUE(tlmio_status1Read(board, 2, &status));
    EXPECT_EQ(0x08, status & 0x08) << "+ELS in status 1";
    ASSERT_TRUE(tlmio_CmdWrite(board, 2, 0xC1, 1, 1000));
    ASSERT_TRUE(tlmio_DousaWrite(board, 2, 0x20));  // + continuous feed
    ASSERT_TRUE(tlmio_CmdWrite(board, 2, 0x10, 0, 0));
    ASSERT_TRUE(tlmio_status1Read(board, 2, &status));
    EXPECT_EQ(0, status & 0x04) << "the axis runs into an active limit";
    EXPECT_EQ(0u, tlmsim_SetInput(0, 2, TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_FOLLOW));
    EXPECT_EQ(87u, tlmsim_SetInput(0, 6, TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_ASSERTED)) << "axis 6 of a 6X";
    EXPECT_EQ(87u, tlmsim_SetInput(9, 0, TLMSIM_INPUT_PLUS_ELS, TLMSIM_FORCE_ASSERTED)) << "no board 9";
}

TEST_F(SimLibrary, AFrozenClockMovesOnlyWhenAdvanced) {
    ASSERT_EQ(0u, tlmsim_ClockFreeze());
    ASSERT_TRUE(tlmio_CmdWrite(board, 0, 0xC1, 1, 1000));  // FL 1000 pps
    ASSERT_TRUE(tlmio_CmdWrite(board, 0, 0xC0, 1, 5000));  // preset 5000 pulses
    ASSERT_TRUE(tlmio_DousaWrite(board, 0, 0x28));
    ASSERT_TRUE(tlmio_CmdWrite(board, 0, 0x10, 0, 0));
    DWORD position = 1;
    usleep(20000);
    ASSERT_TRUE(tlmio_regRead(board, 0, 0x89, &position));
    EXPECT_EQ(0u, position) << "moved on a frozen clock";
    ASSERT_EQ(0u, tlmsim_ClockAdvance(2000000000ull));
    ASSERT_TRUE(tlmio_regRead(board, 0, 0x89, &position));
    EXPECT_EQ(2000u, position);
    LONGLONG carriage = 0;
    ASSERT_EQ(0u, tlmsim_GetCarriage(0, 0, &carriage));
    EXPECT_EQ(2000, carriage);
    ULONGLONG now = 0;
    BOOL frozen = FALSE;
    ASSERT_EQ(0u, tlmsim_ClockNow(&now, &frozen));
    EXPECT_TRUE(frozen);
}

TEST_F(SimLibrary, FaultsTraceStateAndBoardFilesMirrorTlmsimctl) {
    ASSERT_EQ(0u, tlmsim_ResetTrace());
    ASSERT_EQ(0u, tlmsim_AddFault(TLMSIM_FAULT_FAIL, 0, READ_BYTE, static_cast<LONG>(0xC0000185), 0));
    BYTE value = 0x77;
    EXPECT_FALSE(tlmio_ElstRead(board, &value));
    EXPECT_EQ(1117u, GetLastError());
    ASSERT_EQ(0u, tlmsim_ClearFaults());
    EXPECT_TRUE(tlmio_ElstRead(board, &value));
    TlmSimBoardTraceEntry trace[4];
    DWORD count = 0;
    ASSERT_EQ(0u, tlmsim_ReadTrace(1, trace, 4, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(static_cast<int32_t>(0xC0000185), trace[0].entry.status);
    EXPECT_EQ(0x80u, trace[1].entry.port);
    char line[256];
    ASSERT_EQ(0u, tlmsim_FormatTraceLine(&trace[1], line, sizeof line));
    EXPECT_STREQ("      2  0      READ_BYTE         -     0x80 Elst              0x00                            ok",
                 line);

    TlmSimState state;
    ASSERT_EQ(0u, tlmsim_GetState(&state));
    EXPECT_EQ(1u, state.openBoard);
    EXPECT_EQ(1u, state.openControl) << "the control functions' own handle";

    std::string saved = ::testing::TempDir() + "saved.ini";
    ASSERT_EQ(0u, tlmsim_LoadBoards(TempFile("good.ini", kGoodBoards).c_str()));
    ASSERT_EQ(0u, tlmsim_SaveBoards(saved.c_str()));
    ASSERT_EQ(0u, tlmsim_LoadBoards(saved.c_str()));
    TlmSimBoardConfig boards[TLMSIM_MAX_BOARDS];
    ASSERT_EQ(0u, tlmsim_GetBoards(boards, TLMSIM_MAX_BOARDS, &count));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(4, boards[0].axes);
    EXPECT_EQ(0xE400, boards[1].info.IoAddress);
    EXPECT_EQ(11u, tlmsim_LoadBoards(TempFile("bad.ini", "[board x]\n").c_str()));
    ASSERT_EQ(0u, tlmsim_GetBoards(boards, TLMSIM_MAX_BOARDS, &count));
    EXPECT_EQ(2u, count) << "a bad file leaves the boards as they were";
}

TEST_F(SimLibrary, ThreadsOnTwoBoardsAreAnsweredOneRequestAtATime) {
    ASSERT_EQ(0u, tlmsim_LoadBoards(TempFile("two.ini", kGoodBoards).c_str()));
    ASSERT_EQ(0u, tlmsim_ResetTrace());
    const DWORD kRounds = 20000;
    int failures[2] = {0, 0};
    std::atomic<int> ready(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([t, &failures, &ready] {
            DeviceInfo d = {-1, -1, -1, -1, 3 + t, -1};
            TLMIO_HANDLE h = tlmio_OpenDevice(&d);
            for (++ready; ready < 2;) std::this_thread::yield();  // both at once
            for (DWORD i = 0; i < kRounds; ++i) {
                DWORD value = 0;  // register 2 written and read back through the shared data port
                if (!tlmio_CmdWrite(h, 1, 0xC2, 1, i * 2 + t) || !tlmio_regRead(h, 1, 0x82, &value) ||
                    value != i * 2 + t)
                    ++failures[t];
            }
            if (!tlmio_CloseDevice(h)) ++failures[t];
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, failures[0]);
    EXPECT_EQ(0, failures[1]);
    TlmSimState state;
    ASSERT_EQ(0u, tlmsim_GetState(&state));
    EXPECT_EQ(2 * (1 + kRounds * 6), state.requestCount) << "requests lost in the trace's count";
}

}  // namespace
