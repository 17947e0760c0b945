#include "sim_client.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace tlmwin {

SimDriver::SimDriver() : handle_(INVALID_HANDLE_VALUE), library_(nullptr), openError_(0) {
    const char* control = getenv("TLM_SIM_CONTROL");
    if (control != nullptr && strcmp(control, "library") == 0) {
        HMODULE dll = GetModuleHandleA("tellamio.dll");
        library_ = dll ? (LibraryRequest)(void*)GetProcAddress(dll, "tlmsim_Request") : nullptr;
        if (library_ == nullptr) openError_ = ERROR_PROC_NOT_FOUND;
        return;
    }
    handle_ = CreateFileA("\\\\.\\TLMDRV", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) openError_ = GetLastError();
}

SimDriver::~SimDriver() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

DWORD SimDriver::Request(uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                         DWORD* returned) {
    if (library_ != nullptr) {
        DWORD got = 0;
        DWORD error = library_(code, in, inLength, out, outLength, &got);
        if (returned != nullptr) *returned = got;
        return error;
    }
    if (handle_ == INVALID_HANDLE_VALUE) return openError_ ? openError_ : ERROR_INVALID_HANDLE;
    DWORD got = 0;
    BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), inLength, out, outLength, &got, nullptr);
    if (returned != nullptr) *returned = got;
    return ok ? 0 : GetLastError();
}

DWORD SimDriver::Reset() { return Request(TLMSIM_IOCTL_RESET, nullptr, 0, nullptr, 0); }

DWORD SimDriver::SetBoards(const std::vector<TlmSimBoardConfig>& boards) {
    std::vector<uint8_t> in(sizeof(TlmSimBoards) + boards.size() * sizeof(TlmSimBoardConfig));
    TlmSimBoards head = {static_cast<uint32_t>(boards.size())};
    memcpy(in.data(), &head, sizeof head);
    if (!boards.empty()) memcpy(in.data() + sizeof head, boards.data(), boards.size() * sizeof(TlmSimBoardConfig));
    return Request(TLMSIM_IOCTL_SET_BOARDS, in.data(), static_cast<uint32_t>(in.size()), nullptr, 0);
}

DWORD SimDriver::GetBoards(std::vector<TlmSimBoardConfig>* boards) {
    std::vector<uint8_t> out(sizeof(TlmSimBoards) + TLMSIM_MAX_BOARDS * sizeof(TlmSimBoardConfig));
    DWORD got = 0;
    DWORD e = Request(TLMSIM_IOCTL_GET_BOARDS, nullptr, 0, out.data(), static_cast<uint32_t>(out.size()), &got);
    if (e != 0) return e;
    TlmSimBoards head;
    memcpy(&head, out.data(), sizeof head);
    boards->resize(head.count);
    if (head.count) memcpy(boards->data(), out.data() + sizeof head, head.count * sizeof(TlmSimBoardConfig));
    return 0;
}

namespace {
DWORD ClockOp(SimDriver* sim, uint32_t op, uint64_t ns, uint64_t* now) {
    TlmSimClockRequest r = {op, 0, ns};
    TlmSimClockState s = {};
    DWORD e = sim->Request(TLMSIM_IOCTL_CLOCK, &r, sizeof r, &s, sizeof s);
    if (e == 0 && now != nullptr) *now = s.nowNs;
    return e;
}
}  // namespace

DWORD SimDriver::FreezeClock() { return ClockOp(this, TLMSIM_CLOCK_FREEZE, 0, nullptr); }
DWORD SimDriver::RunClock() { return ClockOp(this, TLMSIM_CLOCK_RUN, 0, nullptr); }
DWORD SimDriver::Advance(uint64_t ns) { return ClockOp(this, TLMSIM_CLOCK_ADVANCE, ns, nullptr); }
DWORD SimDriver::Now(uint64_t* ns) { return ClockOp(this, TLMSIM_CLOCK_QUERY, 0, ns); }

DWORD SimDriver::AddFault(const TlmSimFault& fault) {
    return Request(TLMSIM_IOCTL_ADD_FAULT, &fault, sizeof fault, nullptr, 0);
}

DWORD SimDriver::FailRequests(uint32_t code, int32_t status) {
    TlmSimFault f = {TLMSIM_FAULT_FAIL, 0, code, status, 0};
    return AddFault(f);
}

DWORD SimDriver::FailRequest(uint32_t seq, int32_t status) {
    TlmSimFault f = {TLMSIM_FAULT_FAIL, seq, 0, status, 0};
    return AddFault(f);
}

DWORD SimDriver::ClearFaults() { return Request(TLMSIM_IOCTL_CLEAR_FAULTS, nullptr, 0, nullptr, 0); }

DWORD SimDriver::ResetTrace() { return Request(TLMSIM_IOCTL_RESET_TRACE, nullptr, 0, nullptr, 0); }

DWORD SimDriver::Trace(std::vector<TlmSimTraceEntry>* entries, uint32_t first) {
    entries->clear();
    std::vector<uint8_t> out(sizeof(TlmSimTraceHeader) + 1024 * sizeof(TlmSimTraceEntry));
    for (;;) {
        DWORD got = 0;
        DWORD e =
            Request(TLMSIM_IOCTL_READ_TRACE, &first, sizeof first, out.data(), static_cast<uint32_t>(out.size()), &got);
        if (e != 0) return e;
        TlmSimTraceHeader head;
        memcpy(&head, out.data(), sizeof head);
        for (uint32_t i = 0; i < head.count; ++i) {
            TlmSimTraceEntry t;
            memcpy(&t, out.data() + sizeof head + i * sizeof t, sizeof t);
            entries->push_back(t);
        }
        if (head.count == 0 || head.first + head.count > head.requestCount) return 0;
        first = head.first + head.count;
    }
}

DWORD SimDriver::State(TlmSimState* state) { return Request(TLMSIM_IOCTL_GET_STATE, nullptr, 0, state, sizeof *state); }

DWORD SimDriver::ForceInput(int32_t managementNumber, uint32_t axis, uint32_t input, uint32_t force) {
    TlmSimForceInput r = {managementNumber, axis, input, force};
    return Request(TLMSIM_IOCTL_FORCE_INPUT, &r, sizeof r, nullptr, 0);
}

DWORD SimDriver::SetSensors(const TlmSimSetSensors& sensors) {
    return Request(TLMSIM_IOCTL_SET_SENSORS, &sensors, sizeof sensors, nullptr, 0);
}

DWORD SimDriver::SetMachinePosition(int32_t managementNumber, uint32_t axis, int64_t position) {
    TlmSimMachinePosition r = {managementNumber, axis, position};
    return Request(TLMSIM_IOCTL_SET_MACHINE_POSITION, &r, sizeof r, nullptr, 0);
}

DWORD SimDriver::MachinePosition(int32_t managementNumber, uint32_t axis, int64_t* position) {
    TlmSimAxisRef r = {managementNumber, axis};
    return Request(TLMSIM_IOCTL_GET_MACHINE_POSITION, &r, sizeof r, position, sizeof *position);
}

DWORD SimDriver::ForceCmp(int32_t managementNumber, bool on) {
    TlmSimForceCmp r = {managementNumber, on ? 1u : 0u};
    return Request(TLMSIM_IOCTL_FORCE_CMP, &r, sizeof r, nullptr, 0);
}

std::string CodeName(uint32_t code) {
    switch (code) {
        case GET_DEVICE_COUNT: return "GET_DEVICE_COUNT";
        case GET_DEVICE_INFO: return "GET_DEVICE_INFO";
        case SELECT_BOARD: return "SELECT_BOARD";
        case READ_BYTE: return "READ_BYTE";
        case READ_WORD: return "READ_WORD";
        case WRITE_BYTE: return "WRITE_BYTE";
        case WRITE_WORD: return "WRITE_WORD";
    }
    char buf[16];
    snprintf(buf, sizeof buf, "0x%06X", code);
    return buf;
}

std::string Describe(const TlmSimTraceEntry& e) {
    char buf[160];
    snprintf(buf, sizeof buf, "#%u file %u %s port 0x%02X value 0x%X -> status 0x%08X, %u bytes", e.seq, e.file,
             CodeName(e.code).c_str(), e.port, e.value, static_cast<uint32_t>(e.status), e.returned);
    return buf;
}

std::string Describe(const std::vector<TlmSimTraceEntry>& entries) {
    std::string s;
    for (const TlmSimTraceEntry& e : entries) s += "  " + Describe(e) + "\n";
    return s.empty() ? "  (no requests)\n" : s;
}

std::vector<Sent> SentRequests(const std::vector<TlmSimTraceEntry>& entries) {
    std::vector<Sent> sent;
    for (const TlmSimTraceEntry& e : entries) sent.push_back({e.code, e.port, e.value});
    return sent;
}

std::string Describe(const std::vector<Sent>& sent) {
    std::string s;
    for (const Sent& r : sent) {
        char buf[80];
        snprintf(buf, sizeof buf, "  %s port 0x%02X value 0x%X\n", CodeName(r.code).c_str(), r.port, r.value);
        s += buf;
    }
    return s.empty() ? "  (no requests)\n" : s;
}

}  // namespace tlmwin
