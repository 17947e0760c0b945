// The simulated driver as a test sees it: boards, faults and the request trace through the
// private control requests of tlmsim.sys, and a second client that moves an axis by itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim_client.h"
#include "test_boards.h"
#include "tlmsim_control.h"

namespace simctl {

constexpr int32_t STATUS_IO_DEVICE_ERROR_CODE = static_cast<int32_t>(0xC0000185);
constexpr DWORD ERROR_IO_DEVICE_CODE = 1117;  // what a program sees for STATUS_IO_DEVICE_ERROR

// All of these return false (and fill *error) when the driver does not answer.
bool Reset(std::string* error);
bool ForceCmp(int32_t managementNumber, bool on, std::string* error);
bool SetBoards(const std::vector<TlmSimBoardConfig>& boards, std::string* error);
bool AddFault(const TlmSimFault& fault, std::string* error);
bool ClearFaults(std::string* error);
bool ResetTrace(std::string* error);
bool ReadTrace(std::vector<TlmSimTraceEntry>* entries, std::string* error);
bool GetState(TlmSimState* state, std::string* error);

// A second client of one board: opens "\\.\TLMDRV<n>", selects the board and writes bytes.
class BoardClient {
public:
    explicit BoardClient(int32_t managementNumber);
    ~BoardClient();
    bool ok() const { return device_ != INVALID_HANDLE_VALUE; }
    bool WriteByte(uint32_t port, uint8_t value);
    bool ReadByte(uint32_t port, uint8_t* value);

private:
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

// Moves or stops an axis of board 0 through a second client, as another program would.
// Each call is true when the axis' operating bit then reads as asked.
class AxisMover {
public:
    AxisMover() : client_(0) {}
    bool Start(uint32_t axis);  // + continuous feed at FL
    bool Stop(uint32_t axis);   // immediate stop

private:
    BoardClient client_;
};

// One program call as the driver saw it, rebuilt from the trace of one file slot.
struct Call {
    enum Kind { Count, Info, Select, Command, OperationMode, ControlMode, RegisterRead, ByteRead, ByteWrite, Other };
    Kind kind;
    uint32_t axis;   // per-axis calls
    uint32_t code;   // command byte, mode byte, register-read command; port for board-wide bytes
    uint32_t value;  // command data (hasData), value read, byte written
    bool hasData;
    std::string ToString() const;
};

// Groups the requests of `file` into calls: a command with data is two word writes followed
// by a byte write at the axis' command port; a register read is the command byte and two
// word reads; byte requests at 0x80 and above are board-wide.
std::vector<Call> Calls(const std::vector<TlmSimTraceEntry>& entries, uint32_t file);

// The first file slot that sent a board request (a per-board device), or ~0u.
uint32_t ProgramFile(const std::vector<TlmSimTraceEntry>& entries);

}  // namespace simctl
