// A test's handle on tlmsim.sys: the private control requests of tlmsim_control.h over the
// control device "\\.\TLMDRV", for Windows tests run under Wine (tools/wine-session).
//
// Every call returns 0 on success or the last-error value of the failed request, so a test
// writes EXPECT_EQ(0u, sim.Reset()). The driver keeps its state for the whole Wine session:
// begin each test with Reset().
//
// With TLM_SIM_CONTROL=library in the environment the same requests go to the simulated
// tellamio.dll that the test program loaded (its export tlmsim_Request), so that a suite of
// the library runs unchanged over either transport; without that export the client does not
// open (ERROR_PROC_NOT_FOUND), and a run meant for the simulated library fails.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "request_codes.h"
#include "test_boards.h"
#include "tlmsim_control.h"

namespace tlmwin {

class SimDriver {
public:
    SimDriver();  // opens the control device; Open() tells whether that worked
    ~SimDriver();
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;

    // 0 when the control device is open, else the error of CreateFileA (2: driver not loaded).
    DWORD Open() const { return openError_; }

    // One board, empty trace, no faults, nothing forced, real clock.
    DWORD Reset();

    // Boards (see TlmSimBoardConfig; TestBoard() makes one to start from).
    DWORD SetBoards(const std::vector<TlmSimBoardConfig>& boards);
    DWORD GetBoards(std::vector<TlmSimBoardConfig>* boards);

    // The model's clock, in nanoseconds.
    DWORD FreezeClock();
    DWORD RunClock();
    DWORD Advance(uint64_t ns);
    DWORD Now(uint64_t* ns);

    // Request failures.
    DWORD AddFault(const TlmSimFault& fault);
    DWORD FailRequests(uint32_t code, int32_t status);  // every request with that code
    DWORD FailRequest(uint32_t seq, int32_t status);    // the request with that number
    DWORD ClearFaults();

    // The board requests answered since the last ResetTrace, from request number `first` on.
    DWORD ResetTrace();
    DWORD Trace(std::vector<TlmSimTraceEntry>* entries, uint32_t first = 1);

    // Counters: open handles by device kind (this client's own handle counts as one
    // control-device handle), requests, faults, clock.
    DWORD State(TlmSimState* state);

    // Inputs and carriage (board named by its ManagementNumber).
    DWORD ForceInput(int32_t managementNumber, uint32_t axis, uint32_t input, uint32_t force);
    DWORD SetSensors(const TlmSimSetSensors& sensors);
    DWORD SetMachinePosition(int32_t managementNumber, uint32_t axis, int64_t position);
    DWORD MachinePosition(int32_t managementNumber, uint32_t axis, int64_t* position);
    DWORD ForceCmp(int32_t managementNumber, bool on);

    // Any request on the control device; *returned gets the byte count.
    DWORD Request(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                  DWORD* returned = nullptr);

private:
    typedef DWORD(WINAPI* LibraryRequest)(DWORD, const void*, DWORD, void*, DWORD, DWORD*);
    HANDLE handle_;
    LibraryRequest library_;
    DWORD openError_;
};

// Readable forms for failure messages.
std::string CodeName(uint32_t code);
std::string Describe(const TlmSimTraceEntry& entry);
std::string Describe(const std::vector<TlmSimTraceEntry>& entries);

// The board requests of a trace, without their sequence numbers and file slots, so that a
// test can compare what was sent with what it expects.
struct Sent {
    uint32_t code;
    uint32_t port;
    uint32_t value;
    bool operator==(const Sent& o) const { return code == o.code && port == o.port && value == o.value; }
};
std::vector<Sent> SentRequests(const std::vector<TlmSimTraceEntry>& entries);
std::string Describe(const std::vector<Sent>& sent);

}  // namespace tlmwin
