// tlmsimctl.exe under Wine against tlmsim.sys: each command's effect seen through the library
// or the driver's own requests, the board file round trip, the decoded trace of a known call
// sequence, and bad arguments that leave the driver untouched.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim_client.h"
#include "tellamio.h"

using tlmwin::SimDriver;

namespace {

struct Result {
    DWORD exit;
    std::string out, err;
};

// Files of the tests go to a folder of their own under the temporary folder.
std::string Temp(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir) + "tlmsimctl-test";
    CreateDirectoryA(path.c_str(), nullptr);
    return path + "\\" + name;
}

std::string Quoted(const char* name) { return "\"" + Temp(name) + "\""; }

std::string ReadText(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return text;
    for (int c; (c = fgetc(f)) != EOF;)
        if (c != '\r') text += static_cast<char>(c);
    fclose(f);
    return text;
}

HANDLE OutputFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0,
                       nullptr);
}

// Starts tlmsimctl.exe (beside this program) with stdout and stderr going to files.
PROCESS_INFORMATION Start(const std::string& args, const std::string& outPath, const std::string& errPath) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = OutputFile(outPath);
    si.hStdError = OutputFile(errPath);
    PROCESS_INFORMATION pi = {};
    std::string line = "tlmsimctl.exe " + args;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        ADD_FAILURE() << "cannot start tlmsimctl.exe: error " << GetLastError();
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    return pi;
}

Result RunCtl(const std::string& args) {
    PROCESS_INFORMATION pi = Start(args, Temp("tlmsimctl.out"), Temp("tlmsimctl.err"));
    Result r = {~0u, "", ""};
    if (pi.hProcess == nullptr) return r;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 30000)) << "tlmsimctl " << args << " did not end";
    GetExitCodeProcess(pi.hProcess, &r.exit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    r.out = ReadText(Temp("tlmsimctl.out"));
    r.err = ReadText(Temp("tlmsimctl.err"));
    return r;
}

// Runs of blanks as one space, so that lines compare without the column widths.
std::string Squeeze(const std::string& text) {
    std::string s;
    for (char c : text)
        if (c != ' ' || (!s.empty() && s.back() != ' ' && s.back() != '\n')) s += c;
    return s;
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fputs(text.c_str(), f);
    fclose(f);
}

class Tlmsimctl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0u, sim.Open()) << "control device \\\\.\\TLMDRV does not open: is tlmsim.sys running?";
        ASSERT_EQ(0u, sim.Reset());
        DeviceInfo d = {-1, -1, -1, -1, 0, -1};
        board = tlmio_OpenDevice(&d);
        ASSERT_NE(TLMIO_INVALID_HANDLE, board) << "error " << GetLastError();
    }
    void TearDown() override {
        tlmio_CloseDevice(board);
        sim.Reset();
    }
    std::string Byte(BOOL(WINAPI* read)(TLMIO_HANDLE, WORD, BYTE*), WORD axis, BYTE mask) {
        BYTE v = 0;
        if (!read(board, axis, &v)) return "fails with " + std::to_string(GetLastError());
        char text[8];
        snprintf(text, sizeof text, "0x%02X", v & mask);
        return text;
    }
    TlmSimState State() {
        TlmSimState s = {};
        EXPECT_EQ(0u, sim.State(&s));
        return s;
    }
    SimDriver sim;
    TLMIO_HANDLE board = TLMIO_INVALID_HANDLE;
};

TEST_F(Tlmsimctl, EachCommandShowsThroughTheLibraryOrTheDriver) {
    uint64_t frozenAt = 0;
    struct Case {
        const char* args;
        const char* wantOut;
        std::function<std::string()> observe;  // what a second path sees afterwards
        std::string want;
    };
    auto frozen = [&] {
        TlmSimState s = State();
        frozenAt = s.nowNs;
        return std::to_string(s.clockFrozen);
    };
    const Case cases[] = {
        {"status", "open handles: 2 (control device 1, board devices 1, TELLAMIO.VXD 0)", nullptr, ""},
        {"input 0 X +ELS on", "board 0 axis X: +ELS forced on", [&] { return Byte(tlmio_status1Read, 0, 0x08); },
         "0x08"},
        {"input 0 x +els follow", "+ELS follows its sensor", [&] { return Byte(tlmio_status1Read, 0, 0x08); }, "0x00"},
        {"input 0 1 SVALM on", "axis Y: SVALM forced on", [&] { return Byte(tlmio_status2Read, 1, 0x02); }, "0x02"},
        {"input 0 Y SVALM off", "SVALM forced off", [&] { return Byte(tlmio_status2Read, 1, 0x02); }, "0x00"},
        {"cmp 0 on", "comparator status on",
         [&] { return Byte([](TLMIO_HANDLE h, WORD, BYTE* v) WINAPI { return tlmio_CmpcRead(h, v); }, 0, 1); }, "0x01"},
        {"carriage 0 Z 200000", "axis Z: carriage at 200000", [&] { return Byte(tlmio_status1Read, 2, 0x08); }, "0x08"},
        {"sensors 0 Z +ELS=300000..", "+ELS=300000..", [&] { return Byte(tlmio_status1Read, 2, 0x08); }, "0x00"},
        {"sensors 0 U OLS=none DLS=1..2", "OLS=none", [&] { return Byte(tlmio_status1Read, 3, 0x80); }, "0x00"},
        {"clock freeze", "frozen", frozen, "1"},
        {"clock advance 1.5s", "frozen", [&] { return std::to_string(State().nowNs - frozenAt); }, "1500000000"},
        {"clock advance 0.5min", "frozen", [&] { return std::to_string(State().nowNs - frozenAt); }, "31500000000"},
        {"clock run", "running", [&] { return std::to_string(State().clockFrozen); }, "0"},
        {"fault add fail READ_BYTE", "fault added", [&] { return Byte(tlmio_status1Read, 0, 0); }, "fails with 1117"},
        {"fault clear", "faults cleared", [&] { return Byte(tlmio_status1Read, 0, 0); }, "0x00"},
        {"fault add reply #4 0x1FF", "request #4", [&] { return std::to_string(State().faultCount); }, "1"},
        {"reset", "simulator reset",
         [&] {
             TlmSimState s = State();
             return std::to_string(s.boardCount) + " board, " + std::to_string(s.faultCount) + " faults, " +
                    std::to_string(s.requestCount) + " requests";
         },
         "1 board, 0 faults, 0 requests"},
    };
    for (const Case& c : cases) {
        Result r = RunCtl(c.args);
        EXPECT_EQ(0u, r.exit) << "tlmsimctl " << c.args << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.out.find(c.wantOut)) << "tlmsimctl " << c.args << " printed\n" << r.out;
        if (c.observe) EXPECT_EQ(c.want, c.observe()) << "after tlmsimctl " << c.args;
    }
}

TEST_F(Tlmsimctl, ABoardFileLoadsAndSavesAsTheSameText) {
    const std::string text = "# Simulated Tellam boards (tlmsimctl boards save)\n"
                             "\n[board 3]\nbus = 2\ndevice = 7\nio-address = 0xE800\nirq = 10\nboard-id = 5\n"
                             "board-id-high = 0x50\naxes = 6\nid-number = 01 02 03 04 05 06 07 08\n"
                             "\n[board 12]\nbus = 2\ndevice = 9\nio-address = 0xEC00\nirq = 11\nboard-id = 6\n"
                             "board-id-high = 0x00\naxes = 4\nid-number = A0 A1 A2 A3 A4 A5 A6 FF\n";
    WriteText(Temp("boards-in.txt"), text);
    Result r = RunCtl("boards load " + Quoted("boards-in.txt"));
    ASSERT_EQ(0u, r.exit) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("1 board handle of running programs lost its board selection")) << r.out;
    DeviceInfo info[4] = {};
    DWORD count = 4;
    ASSERT_TRUE(tlmio_GetDeviceInfo(&count, info));
    ASSERT_EQ(2u, count);
    const DeviceInfo want[] = {{2, 7, 0xE800, 10, 3, 5}, {2, 9, 0xEC00, 11, 12, 6}};
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(0, memcmp(&want[i], &info[i], sizeof info[i])) << "board " << i << " as the library lists it";
    r = RunCtl("boards save " + Quoted("boards-out.txt"));
    ASSERT_EQ(0u, r.exit) << r.err;
    EXPECT_EQ(text, ReadText(Temp("boards-out.txt")));
    r = RunCtl("status");
    EXPECT_NE(std::string::npos, r.out.find("board 12: Tellam-4X, bus 2, device 9, I/O 0xEC00, IRQ 11, board ID 6"))
        << r.out;
}

TEST_F(Tlmsimctl, TheTraceDecodesAKnownCallSequence) {
    ASSERT_EQ(0u, sim.ResetTrace());
    EXPECT_EQ(1u, tlmio_GetDeviceCount(1));
    EXPECT_TRUE(tlmio_DousaWrite(board, 1, 0x28));
    EXPECT_TRUE(tlmio_CmdWrite(board, 1, 0xC0, 1, 0x12345));
    BYTE v = 0;
    EXPECT_TRUE(tlmio_status1Read(board, 1, &v));
    EXPECT_TRUE(tlmio_boardIDRead(board, &v));
    ASSERT_EQ(0u, sim.FailRequest(8, static_cast<int32_t>(0xC0000185)));
    EXPECT_FALSE(tlmio_ElstWrite(board, 0x3F));
    const std::string want = "seq board request axis port value result\n"
                             "1 - GET_DEVICE_COUNT - - 1 boards ok\n"
                             "2 0 WRITE_BYTE Y 0x11 operation mode 0x28 ok\n"
                             "3 0 WRITE_WORD Y 0x14 data low 0x2345 ok\n"
                             "4 0 WRITE_WORD Y 0x16 data high 0x0001 ok\n"
                             "5 0 WRITE_BYTE Y 0x10 command 0xC0 write register 0 ok\n"
                             "6 0 READ_BYTE Y 0x10 status 1 0x80 ok\n"
                             "7 0 READ_BYTE - 0x9C board ID 0xA0 ok\n"
                             "8 0 WRITE_BYTE - 0x80 Elst - failed STATUS_IO_DEVICE_ERROR\n";
    Result r = RunCtl("trace");
    EXPECT_EQ(0u, r.exit) << r.err;
    EXPECT_EQ(want, Squeeze(r.out));
    r = RunCtl("trace --from 7 --csv");
    EXPECT_EQ(0u, r.exit) << r.err;
    std::string csv = r.out;
    size_t file = csv.find("\n7,") + 3;  // the file slot depends on the handles open before
    csv.erase(file, csv.find(',', file) - file);
    EXPECT_EQ("seq,file,board,request,axis,port,port_name,value,status,bytes\n"
              "7,,0,READ_BYTE,,0x9C,board ID,0xA0,0x00000000,1\n"
              "8,",
              csv.substr(0, csv.find("\n8,") + 3));

    // --follow prints what comes later, until it is stopped.
    PROCESS_INFORMATION pi = Start("trace --follow --from 9", Temp("follow.out"), Temp("follow.err"));
    ASSERT_NE(nullptr, pi.hProcess);
    EXPECT_TRUE(tlmio_CmpcWrite(board, 0x01));
    const std::string line = "9 0 WRITE_BYTE - 0x88 Cmpc 0x01 ok\n";
    std::string seen;
    for (int i = 0; i < 100 && Squeeze(seen).find(line) == std::string::npos; ++i) {
        Sleep(100);
        seen = ReadText(Temp("follow.out"));
    }
    EXPECT_NE(std::string::npos, Squeeze(seen).find(line)) << seen;
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 0)) << "--follow ended by itself";
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

TEST_F(Tlmsimctl, WhatTheDriverRefusesEndsWithExitCode1AndTheReason) {
    ASSERT_TRUE(tlmio_DousaWrite(board, 0, 0x20));  // + continuous feed of axis X
    ASSERT_TRUE(tlmio_CmdWrite(board, 0, 0x10, 0, 0));
    struct Case {
        const char* args;
        DWORD exit;
        const char* says;
    };
    const Case cases[] = {
        {"carriage 0 X 5", 1, "board 0 axis X is moving"},
        {"carriage 0 Y 5", 0, "axis Y: carriage at 5"},
    };
    for (const Case& c : cases) {
        Result r = RunCtl(c.args);
        EXPECT_EQ(c.exit, r.exit) << "tlmsimctl " << c.args;
        EXPECT_NE(std::string::npos, (r.out + r.err).find(c.says)) << "tlmsimctl " << c.args << "\n" << r.out << r.err;
    }
    EXPECT_TRUE(tlmio_CmdWrite(board, 0, 0x09, 0, 0));
    for (int i = 1; i <= 9; ++i) {
        Result r = RunCtl("fault add fail #" + std::to_string(1000 + i));
        EXPECT_EQ(i <= 8 ? 0u : 1u, r.exit) << "fault " << i << ": " << r.err;
        if (i == 9) EXPECT_NE(std::string::npos, r.err.find("8 faults at most")) << r.err;
    }
    EXPECT_EQ(8u, State().faultCount);
}

TEST_F(Tlmsimctl, BadArgumentsAreNamedAndTheDriverIsLeftAlone) {
    ASSERT_EQ(0u, sim.SetBoards({TestBoard(0, 1), TestBoard(1, 2, 4)}));
    tlmio_CloseDevice(board);  // new boards: open board 0 again
    DeviceInfo d = {-1, -1, -1, -1, 0, -1};
    board = tlmio_OpenDevice(&d);
    ASSERT_NE(TLMIO_INVALID_HANDLE, board) << "error " << GetLastError();
    WriteText(Temp("bad-boards.txt"),
              "[board 1]\nbus = 1\ndevice = 1\nio-address = 0x100\nirq = 5\nboard-id = 1\naxes = 5\n");
    // Everything the commands could change. The status read at its end is traced: the count
    // leaves out the snapshots' own reads.
    uint32_t ownReads = 0;
    auto snapshot = [&] {
        std::string s;
        TlmSimState st = State();
        s += std::to_string(st.requestCount - ownReads++) + " requests, " + std::to_string(st.faultCount) +
             " faults, frozen " + std::to_string(st.clockFrozen);
        std::vector<TlmSimBoardConfig> boards;
        EXPECT_EQ(0u, sim.GetBoards(&boards));
        s += ", " + std::to_string(boards.size()) + " boards";
        for (int32_t mn : {0, 1}) {
            TlmSimAxisRef ref = {mn, 0};
            TlmSimSetSensors sensors = {};
            EXPECT_EQ(0u, sim.Request(TLMSIM_IOCTL_GET_SENSORS, &ref, sizeof ref, &sensors, sizeof sensors));
            int64_t position = 0;
            EXPECT_EQ(0u, sim.MachinePosition(mn, 0, &position));
            s += ", +ELS from " + std::to_string(sensors.plusEls.from) + " carriage " + std::to_string(position);
        }
        return s + ", status 1 of X " + Byte(tlmio_status1Read, 0, 0xFF);
    };
    struct Case {
        const char* args;
        const char* named;  // the argument the one-line error must name
    };
    const Case cases[] = {
        {"", "usage"},
        {"frobnicate", "'frobnicate'"},
        {"status now", "'now'"},
        {"reset 0", "'0'"},
        {"input 0 Q +ELS on", "axis 'Q'"},
        {"input 0 X FOO on", "input 'FOO'"},
        {"input 0 X +ELS maybe", "state 'maybe'"},
        {"input 10000 X +ELS on", "board '10000'"},
        {"input 7 X +ELS on", "board '7'"},
        {"input 1 V -ELS on", "axis 'V'"},
        {"input 0 X +ELS", "missing"},
        {"input 0 X +ELS on off", "'off'"},
        {"sensors 0 X +ELS=5..1", "'+ELS=5..1'"},
        {"sensors 0 X DLS=abc", "'DLS=abc'"},
        {"sensors 0 X Z=0", "'Z=0'"},
        {"sensors 0 W +ELS=..", "'+ELS=..'"},
        {"carriage 0 X 1e5", "position '1e5'"},
        {"carriage 0 X 99999999999999999999", "position '99999999999999999999'"},
        {"cmp 0 maybe", "state 'maybe'"},
        {"cmp 2 on", "board '2'"},
        {"clock stop", "clock 'stop'"},
        {"clock advance 5", "duration '5'"},
        {"clock advance -1s", "duration '-1s'"},
        {"clock advance", "DURATION"},
        {"fault add fail READ_BYTE 0", "status '0'"},
        {"fault add bogus READ_BYTE", "kind 'bogus'"},
        {"fault add fail WRITE_TWICE", "request 'WRITE_TWICE'"},
        {"fault add reply WRITE_BYTE 1", "request 'WRITE_BYTE'"},
        {"fault add bytes READ_WORD", "missing value"},
        {"fault remove", "fault 'remove'"},
        {"trace --from 0", "--from '0'"},
        {"trace --from", "--from"},
        {"trace --bogus", "'--bogus'"},
        {"boards frob", "boards 'frob'"},
        {"boards load", "missing FILE"},
        {"boards load no-such-file.txt", "'no-such-file.txt'"},
        {"boards load %TEMP%bad-boards.txt", "bad-boards.txt:7: axes '5'"},
        {"install now", "'now'"},
        {"uninstall now", "'now'"},
        {"--process x status", "--process 'x'"},
        {"--process 1 install", "install: with --process"},
    };
    const std::string before = snapshot();
    for (const Case& c : cases) {
        std::string args = c.args;
        if (args.find("%TEMP%") != std::string::npos) args.replace(args.find("%TEMP%"), 6, Temp(""));
        Result r = RunCtl(args);
        EXPECT_EQ(2u, r.exit) << "tlmsimctl " << c.args << "\n" << r.err;
        if (c.args[0] != 0) {
            EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << "tlmsimctl " << c.args << "\n" << r.err;
            EXPECT_EQ("", r.out) << "tlmsimctl " << c.args;
        }
        EXPECT_NE(std::string::npos, r.err.find(c.named)) << "tlmsimctl " << c.args << "\n" << r.err;
        EXPECT_EQ(before, snapshot()) << "after tlmsimctl " << c.args;
    }
}

}  // namespace
