#include "simctl.h"

#include <cstdio>

namespace simctl {
namespace {

bool Check(DWORD result, const char* what, std::string* error) {
    if (result == 0) return true;
    if (error) *error = std::string(what) + " failed (error " + std::to_string(result) + ")";
    return false;
}

tlmwin::SimDriver& Driver() {
    static tlmwin::SimDriver driver;
    return driver;
}

}  // namespace

bool Reset(std::string* error) {
    if (!Check(Driver().Open(), "opening \\\\.\\TLMDRV", error)) return false;
    return Check(Driver().Reset(), "reset", error);
}

bool ForceCmp(int32_t managementNumber, bool on, std::string* error) {
    return Check(Driver().ForceCmp(managementNumber, on), "forcing the CMP status", error);
}

bool SetBoards(const std::vector<TlmSimBoardConfig>& boards, std::string* error) {
    return Check(Driver().SetBoards(boards), "setting the boards", error);
}

bool AddFault(const TlmSimFault& fault, std::string* error) {
    return Check(Driver().AddFault(fault), "adding a fault", error);
}

bool ClearFaults(std::string* error) { return Check(Driver().ClearFaults(), "clearing the faults", error); }

bool ResetTrace(std::string* error) { return Check(Driver().ResetTrace(), "resetting the trace", error); }

bool ReadTrace(std::vector<TlmSimTraceEntry>* entries, std::string* error) {
    return Check(Driver().Trace(entries), "reading the trace", error);
}

bool GetState(TlmSimState* state, std::string* error) {
    return Check(Driver().State(state), "reading the state", error);
}

BoardClient::BoardClient(int32_t managementNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\TLMDRV%d", static_cast<int>(managementNumber));
    device_ = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device_ == INVALID_HANDLE_VALUE) return;
    int32_t info[6] = {-1, -1, -1, -1, managementNumber, -1};
    DWORD got = 0;
    if (!DeviceIoControl(device_, SELECT_BOARD, info, sizeof info, nullptr, 0, &got, nullptr)) {
        CloseHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }
}

BoardClient::~BoardClient() {
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
}

bool BoardClient::WriteByte(uint32_t port, uint8_t value) {
    uint32_t in[2] = {port, value};
    DWORD got = 0;
    return device_ != INVALID_HANDLE_VALUE &&
           DeviceIoControl(device_, WRITE_BYTE, in, sizeof in, nullptr, 0, &got, nullptr);
}

bool BoardClient::ReadByte(uint32_t port, uint8_t* value) {
    DWORD got = 0;
    return device_ != INVALID_HANDLE_VALUE &&
           DeviceIoControl(device_, READ_BYTE, &port, sizeof port, value, 1, &got, nullptr) && got == 1;
}

std::string Call::ToString() const {
    char text[128];
    switch (kind) {
        case Count: return "count";
        case Info: return "info";
        case Select:
            std::snprintf(text, sizeof text, "select(boardId %d, management %d)", (int)code, (int)value);
            break;
        case Command:
            if (hasData)
                std::snprintf(text, sizeof text, "axis %u command 0x%02X data 0x%X", axis, code, value);
            else
                std::snprintf(text, sizeof text, "axis %u command 0x%02X", axis, code);
            break;
        case OperationMode: std::snprintf(text, sizeof text, "axis %u operation mode 0x%02X", axis, code); break;
        case ControlMode: std::snprintf(text, sizeof text, "axis %u control mode 0x%02X", axis, code); break;
        case RegisterRead: std::snprintf(text, sizeof text, "axis %u read 0x%02X -> 0x%X", axis, code, value); break;
        case ByteRead: std::snprintf(text, sizeof text, "read byte 0x%02X -> 0x%02X", code, value); break;
        case ByteWrite: std::snprintf(text, sizeof text, "write byte 0x%02X := 0x%02X", code, value); break;
        default: std::snprintf(text, sizeof text, "other request 0x%X port 0x%X", code, value); break;
    }
    return text;
}

uint32_t ProgramFile(const std::vector<TlmSimTraceEntry>& entries) {
    for (const TlmSimTraceEntry& e : entries)
        if (e.code == SELECT_BOARD && e.status == 0) return e.file;
    return ~0u;
}

std::vector<Call> Calls(const std::vector<TlmSimTraceEntry>& entries, uint32_t file) {
    std::vector<Call> calls;
    std::vector<TlmSimTraceEntry> mine;
    for (const TlmSimTraceEntry& e : entries)
        if (e.file == file || e.code == GET_DEVICE_COUNT || e.code == GET_DEVICE_INFO) mine.push_back(e);
    for (size_t i = 0; i < mine.size(); ++i) {
        const TlmSimTraceEntry& e = mine[i];
        Call c = {Call::Other, 0, e.code, e.port, false};
        uint32_t base = e.port & ~0x0Fu;
        uint32_t k = e.port & 0x0F;
        auto at = [&](size_t j, uint32_t code, uint32_t port) {
            return j < mine.size() && mine[j].code == code && mine[j].port == port;
        };
        if (e.code == GET_DEVICE_COUNT) {
            c = {Call::Count, 0, 0, e.value, false};
        } else if (e.code == GET_DEVICE_INFO) {
            c = {Call::Info, 0, e.port, e.value, false};
        } else if (e.code == SELECT_BOARD) {
            c = {Call::Select, 0, e.port, e.value, false};
        } else if (e.port >= 0x80 && e.code == READ_BYTE) {
            c = {Call::ByteRead, 0, e.port, e.value, false};
        } else if (e.port >= 0x80 && e.code == WRITE_BYTE) {
            c = {Call::ByteWrite, 0, e.port, e.value, false};
        } else if (e.code == WRITE_WORD && k == 4 && at(i + 1, WRITE_WORD, base + 6) && at(i + 2, WRITE_BYTE, base)) {
            c = {Call::Command, base / 16, mine[i + 2].value, (mine[i + 1].value << 16) | e.value, true};
            i += 2;
        } else if (e.code == WRITE_BYTE && k == 0 && at(i + 1, READ_WORD, base + 4) && at(i + 2, READ_WORD, base + 6)) {
            c = {Call::RegisterRead, base / 16, e.value, (mine[i + 2].value << 16) | mine[i + 1].value, false};
            i += 2;
        } else if (e.code == WRITE_BYTE && k == 0) {
            c = {Call::Command, base / 16, e.value, 0, false};
        } else if (e.code == WRITE_BYTE && k == 1) {
            c = {Call::OperationMode, base / 16, e.value, 0, false};
        } else if (e.code == WRITE_BYTE && k == 2) {
            c = {Call::ControlMode, base / 16, e.value, 0, false};
        } else if (e.code == READ_BYTE) {
            c = {Call::ByteRead, base / 16, e.port, e.value, false};
        }
        calls.push_back(c);
    }
    return calls;
}

bool AxisMover::Start(uint32_t axis) {
    uint8_t status = 0;
    return client_.WriteByte(axis * 16 + 1, 0x20) && client_.WriteByte(axis * 16, 0x10) &&
           client_.ReadByte(axis * 16, &status) && (status & 0x04);
}

bool AxisMover::Stop(uint32_t axis) {
    uint8_t status = 0xFF;
    return client_.WriteByte(axis * 16, 0x09) && client_.ReadByte(axis * 16, &status) && !(status & 0x04);
}

}  // namespace simctl
