// The programs on the simulated tellamio.dll: tlmtest6.exe, tlmtest4.exe and the examples lie
// beside bin/sim/tellamio.dll, in a Wine prefix where no board driver was ever installed, and
// run as on a board; tlmsimctl --process drives a running tlmtest6.exe through its library.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "page_test.h"
#include "ui.h"

namespace {

using pagetest::CloseAndExit;
using pagetest::kTimeout;

std::string Folder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') --n;
    return std::string(path, n);
}

// Runs a console program of this folder to its end: its exit code, and its output.
DWORD RunProgram(const std::string& commandLine, std::string* output) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 9999;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    std::string line = Folder() + commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    output->clear();
    char buffer[4096];
    DWORD got;
    while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output->append(buffer, got);
    CloseHandle(readEnd);
    if (!started) return 9999;
    DWORD code = 9999;
    WaitForSingleObject(pi.hProcess, kTimeout);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

std::string ReadFileText(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

class SimPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        HANDLE driver = CreateFileA("\\\\.\\TLMDRV", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_EQ(INVALID_HANDLE_VALUE, driver) << "a board driver answers: this prefix is not without one";
        EXPECT_EQ(2u, GetLastError());
        SetEnvironmentVariableA("TELLAMIO_SIM_BOARDS", nullptr);
        SetEnvironmentVariableA("TELLAMIO_SIM_TRACE", nullptr);
    }
    // The image a lamp of the operation page shows (one of the three lamp bitmaps).
    static uintptr_t Lamp(HWND page, int axis, int k) {
        return (uintptr_t)SendMessageW(GetDlgItem(page, pagetest::Id(axis, k)), STM_GETIMAGE, IMAGE_BITMAP, 0);
    }
};

TEST_F(SimPrograms, Tlmtest6RunsAndAPlusLimitForcedByTlmsimctlLightsItsLamp) {
    std::string trace = Folder() + "tlmtest6-trace.txt";
    SetEnvironmentVariableA("TELLAMIO_SIM_TRACE", trace.c_str());
    ui::Program program(L"tlmtest6.exe");
    std::string error;
    ASSERT_TRUE(program.Start(&error)) << error;
    ASSERT_TRUE(program.WaitForPage(0, kTimeout)) << "page 0 not shown";
    EXPECT_TRUE(program.MessageBoxes().empty()) << "a message box on the simulated boards";
    HWND page = program.VisiblePage();
    DWORD start = GetTickCount();
    while (Lamp(page, 0, 24) == 0 && GetTickCount() - start < 3000) Sleep(50);
    const uintptr_t off = Lamp(page, 0, 24);
    ASSERT_NE(0u, off) << "the lamps show no image";

    std::string output, pid = " --process " + std::to_string(program.pid());
    ASSERT_EQ(0u, RunProgram("tlmsimctl.exe" + pid + " input 0 X +ELS on", &output)) << output;
    EXPECT_EQ("board 0 axis X: +ELS forced on (source asserted)\r\n", output);
    start = GetTickCount();
    while (Lamp(page, 0, 24) == off && GetTickCount() - start < 3000) Sleep(50);
    EXPECT_NE(off, Lamp(page, 0, 24)) << "the +ELS lamp of X did not light";
    EXPECT_EQ(off, Lamp(page, 1, 24)) << "the +ELS lamp of Y lit";
    ASSERT_EQ(0u, RunProgram("tlmsimctl.exe" + pid + " status", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("board devices 1,")) << output;
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
    EXPECT_EQ(3u, RunProgram("tlmsimctl.exe" + pid + " status", &output)) << "the program has ended: " << output;

    // The trace file shows the program's requests as tlmsimctl trace does.
    std::string lines = ReadFileText(trace);
    EXPECT_EQ(0u, lines.find("    seq  board  request")) << lines.substr(0, 400);
    EXPECT_NE(std::string::npos, lines.find("  -      GET_DEVICE_COUNT  -     -                      1 boards"))
        << lines.substr(0, 400);
    EXPECT_NE(std::string::npos, lines.find("WRITE_BYTE        W     0x50 command           0x60 axis reset"));
}

TEST_F(SimPrograms, Tlmtest4RunsOnTheFourAxisBoardOfABoardFile) {
    std::string boards = Folder() + "four-axis.ini";
    std::ofstream(boards) << "[board 0]\nbus = 1\ndevice = 8\nio-address = 0xD000\nirq = 11\nboard-id = 0\naxes = 4\n";
    SetEnvironmentVariableA("TELLAMIO_SIM_BOARDS", boards.c_str());
    ui::Program program(L"tlmtest4.exe");
    std::string error;
    ASSERT_TRUE(program.Start(&error)) << error;
    ASSERT_TRUE(program.WaitForPage(0, kTimeout)) << "page 0 not shown";
    EXPECT_TRUE(program.MessageBoxes().empty()) << "a message box on the simulated boards";
    std::string output;
    ASSERT_EQ(0u, RunProgram("tlmsimctl.exe --process " + std::to_string(program.pid()) + " status", &output))
        << output;
    EXPECT_NE(std::string::npos, output.find("board 0: Tellam-4X, bus 1, device 8, I/O 0xD000")) << output;
    ASSERT_NO_FATAL_FAILURE(CloseAndExit(&program));
}

TEST_F(SimPrograms, TheExamplesListTheBoardAndMoveAnAxis) {
    std::string output;
    ASSERT_EQ(0u, RunProgram("list_boards.exe", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("    0    1       8  0xD000   11       0         0  3031323334353637"))
        << output;
    ASSERT_EQ(0u, RunProgram("move_axis.exe", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("axis X at 5000 (target 5000)")) << output;
    // In virtual time the motion library waits through the simulator: a 20-second feed ends
    // well within the run's timeout.
    SetEnvironmentVariableA("TELLAMIO_SIM_CLOCK", "virtual");
    DWORD exitCode = RunProgram("move_axis.exe X 100000", &output);
    SetEnvironmentVariableA("TELLAMIO_SIM_CLOCK", nullptr);
    ASSERT_EQ(0u, exitCode) << output;
    EXPECT_NE(std::string::npos, output.find("axis X at 100000 (target 100000)")) << output;
}

// examples/limits.c jogs until a limit stops it: here +ELS, forced on through the library of
// the running program.
TEST_F(SimPrograms, TheLimitsExampleStopsOnALimitForcedByTlmsimctl) {
    std::string outputPath = Folder() + "limits-output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output =
        CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = output;
    PROCESS_INFORMATION pi = {};
    std::string line = Folder() + "limits.exe X +";
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(output);
    Sleep(1000);  // the axis runs
    std::string said;
    EXPECT_EQ(0u, RunProgram("tlmsimctl.exe --process " + std::to_string(pi.dwProcessId) + " input 0 X +ELS on", &said))
        << said;
    DWORD code = 1234;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, kTimeout));
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    std::string text = ReadFileText(outputPath);
    EXPECT_EQ(0u, code) << text;
    EXPECT_NE(std::string::npos, text.find("axis X stopped by +ELS at ")) << text;
}

// From its first call on the library answers tlmsimctl; FreeLibrary then leaves it loaded
// (its pipe thread runs in it), and the process still ends cleanly.
TEST_F(SimPrograms, OnceCalledTheLibraryAnswersTlmsimctlAndStaysLoaded) {
    HMODULE dll = LoadLibraryA((Folder() + "tellamio.dll").c_str());
    ASSERT_NE(nullptr, dll);
    typedef DWORD(WINAPI * CountFn)(DWORD);
    CountFn count = (CountFn)(void*)GetProcAddress(dll, MAKEINTRESOURCEA(1));
    ASSERT_NE(nullptr, count);
    EXPECT_EQ(1u, count(1));
    std::string output, status = "tlmsimctl.exe --process " + std::to_string(GetCurrentProcessId()) + " status";
    EXPECT_EQ(0u, RunProgram(status, &output)) << output;
    EXPECT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(dll, GetModuleHandleA("tellamio.dll"));
    EXPECT_EQ(0u, RunProgram(status, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("boards: 1")) << output;
}

}  // namespace
